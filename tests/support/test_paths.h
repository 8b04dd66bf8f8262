// Where tests find the build's programs and the source tree.
#pragma once

#include <QString>
#include <QTemporaryDir>

#include <cstdlib>

namespace TestPaths {
inline QString buildDir()
{
    const char *dir = std::getenv("TESSEL_BUILD_DIR");
    if (dir)
        return QString::fromLocal8Bit(dir);
#ifdef TESSEL_BUILD_DIR_DEFAULT
    return QStringLiteral(TESSEL_BUILD_DIR_DEFAULT);
#else
    return QString();
#endif
}
inline QString binDir() { return buildDir() + QStringLiteral("/bin"); }
inline QString runtimeDir() { return buildDir() + QStringLiteral("/runtime"); }
inline QString sourceDir()
{
    const char *dir = std::getenv("TESSEL_SOURCE_DIR");
    if (dir)
        return QString::fromLocal8Bit(dir);
#ifdef TESSEL_SOURCE_DIR_DEFAULT
    return QStringLiteral(TESSEL_SOURCE_DIR_DEFAULT);
#else
    return QString();
#endif
}
} // namespace TestPaths

#include "common/utils.h"

#include "common/platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdarg>
#include <cstdio>

std::string formatString(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (length > 0) {
        out.resize(size_t(length) + 1);
        std::vsnprintf(&out[0], out.size(), format, args);
        out.resize(size_t(length));
    }
    va_end(args);
    return out;
}

std::string timestamp(bool withMillis)
{
    return formatTimestamp(Platform::localTime(), withMillis);
}

std::string formatTimestamp(const Platform::LocalTime &t, bool withMillis)
{
    if (withMillis)
        return formatString("%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                            t.minute, t.second, t.millisecond);
    return formatString("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                        t.second);
}

std::string currentDirectory()
{
    std::string dir = Platform::currentDirectory();
    if (dir.size() > 259)
        dir.resize(259);
    return dir;
}

bool readFile(const QString &path, QByteArray &out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    out = file.readAll();
    return true;
}

bool makePath(const QString &folder)
{
    if (folder.isEmpty())
        return true;
    return QDir().mkpath(folder);
}

bool writeFile(const QString &path, const std::function<QByteArray()> &content)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return false; // never replace a folder, a FIFO or a device
    if (!makePath(info.absolutePath()))
        return false;
    // A temporary file beside the target, renamed over it only when every byte reached the
    // disk: a failed write leaves the old file as it was.
    // Unbuffered, so that a short write shows in write()'s count instead of being lost in a
    // buffer flush.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (content) {
        const QByteArray bytes = content();
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            return false;
        }
    }
    return file.commit();
}

bool walkDir(const QString &folder, const WalkVisitor &visitor, bool recursive,
             const QStringList &nameFilters)
{
    QDir dir(folder);
    if (!dir.exists())
        return false;
    const QFileInfoList entries =
        dir.entryInfoList(nameFilters, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                          QDir::DirsFirst | QDir::Name);
    for (const QFileInfo &entry : entries) {
        const bool isFolder = entry.isDir();
        if (!visitor(entry.absoluteFilePath(), isFolder))
            return false;
        if (isFolder && recursive)
            walkDir(entry.absoluteFilePath(), visitor, recursive, nameFilters);
    }
    return true;
}

bool alreadyRunning(const std::string &name)
{
    return Platform::acquireInstanceLock(name) == Platform::InstanceLock::HeldElsewhere;
}

QStringList splitOptions(const std::string &options)
{
    return QString::fromLocal8Bit(options.c_str()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

namespace {
const char kRelaunchVariable[] = "TESSEL_RELAUNCH_FD";
} // namespace

bool relaunch(const std::string &options, int timeoutMs)
{
    const std::string exe = Platform::executablePath();
    if (exe.empty())
        return false;
    std::fflush(nullptr);
    return Platform::startDetachedAndWait(QString::fromLocal8Bit(exe.c_str()), splitOptions(options),
                                          QDir::currentPath(), kRelaunchVariable, timeoutMs)
           != Platform::StartResult::Ended;
}

void relaunchStarted()
{
    Platform::reportStarted(kRelaunchVariable);
}

bool isRelaunched()
{
    return Platform::startedWithNotify(kRelaunchVariable);
}

// The real Deltamaker plug-in and its language files, laid into a PluginFixture's folder.
#pragma once

#include "tests/host/plugin_fixture.h"

// Copies the built plug-in to plugins/Deltamaker/ and its shipped languages to lang/Deltamaker/.
inline void installDeltamaker(const ScopedWorkDir &wd)
{
    const QString lib = TestPaths::runtimeDir() + QStringLiteral("/plugins/Deltamaker/Deltamaker.so");
    ASSERT_TRUE(QDir().mkpath(wd.file(QStringLiteral("plugins/Deltamaker"))));
    ASSERT_TRUE(QFile::copy(lib, wd.file(QStringLiteral("plugins/Deltamaker/Deltamaker.so"))))
        << lib.toStdString();
    const QString src = TestPaths::sourceDir() + QStringLiteral("/runtime/lang/Deltamaker/");
    ASSERT_TRUE(QDir().mkpath(wd.file(QStringLiteral("lang/Deltamaker"))));
    for (const char *name : {"zh.lang", "en.lang", "index.config"}) {
        ASSERT_TRUE(QFile::copy(src + QLatin1String(name),
                                wd.file(QStringLiteral("lang/Deltamaker/") + QLatin1String(name))))
            << name;
    }
}

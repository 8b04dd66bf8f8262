// A temporary working folder laid out like the host's, with test plug-ins copied in and a
// host language whose texts are "[key]" (printf-style keys carry their conversions).
#pragma once

#include "host/main_window.h"
#include "host/plugin_info.h"
#include "tests/host/host_test_util.h"
#include "tests/support/recording_presenter.h"
#include "tests/support/test_paths.h"

#include "widgetkit/sys_list.h"

#include <QListWidget>

#include <gtest/gtest.h>

inline QString testPlugin(const QString &variantFile)
{
    return TestPaths::buildDir() + QStringLiteral("/test-plugins/") + variantFile;
}

// True while the library file is mapped into this process.
inline bool isMapped(const QString &path)
{
    return readBytes(QStringLiteral("/proc/self/maps")).contains(path.toUtf8());
}

class PluginFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testPresenter().clear();
        const QString texts = QStringLiteral(
            "<lang name=\"Test\"><main>"
            "<menu><genPkg name=\"[genPkg]\"/><installPkg name=\"[installPkg]\"/><langManager name=\"[langManager]\"/></menu>"
            "<plugin><loading name=\"[loading]\"/><canNotFindFmt name=\"[canNotFind %s]\"/>"
            "<inUseAndCanNotUnload name=\"[inUse]\"/><reloadFail name=\"[reloadFail]\"/>"
            "<removeDllFailed name=\"[removeDllFailed]\"/><rightMenu><createSetting name=\"[createSetting]\"/>"
            "<unloadPlugin name=\"[unloadPlugin]\"/><updateHistory name=\"[updateHistory]\"/>"
            "<updateSetting name=\"[updateSetting]\"/><userManual name=\"[userManual]\"/></rightMenu></plugin>"
            "<slashScreen><hereShowContent name=\"[here]\"/>"
            "<noPluginsFmt name=\"[noPlugins %s]\"/></slashScreen>"
            "<openFileFailedFmt name=\"[openFailed %s]\"/></main>"
            "<setting><createSuccess name=\"[createSuccess]\"/><createFailed name=\"[createFailed]\"/></setting>"
            "<langMgr><switchLang><failedFmt name=\"[switch failed %s %s]\"/></switchLang></langMgr></lang>");
        ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/test.lang"), texts));
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "test"));
    }

    // Copies a built test plug-in to plugins/<rel>.
    void install(const QString &variantFile, const QString &rel)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(wd.file("plugins/" + rel)).absolutePath()));
        ASSERT_TRUE(QFile::copy(testPlugin(variantFile), wd.file("plugins/" + rel)))
            << variantFile.toStdString();
    }

    // A window built with the given options; relaunches are recorded, not run.
    std::unique_ptr<MainWindow> makeWindow(std::vector<const char *> argv = {"Tessel"})
    {
        auto w = std::make_unique<MainWindow>();
        w->setRelaunch([this](const std::string &options) {
            relaunches.push_back(options);
            return false;
        });
        w->init(AppArgs(int(argv.size()), argv.data(), true));
        return w;
    }

    static QStringList rows(MainWindow &w)
    {
        QStringList out;
        for (int i = 0; i < w.pluginList()->count(); ++i)
            out << w.pluginList()->item(i)->whatsThis();
        return out;
    }

    QVector<ShownMessage> &messages() { return testPresenter().messages; }

    ScopedWorkDir wd;
    std::vector<std::string> relaunches;
};

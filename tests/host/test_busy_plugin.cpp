// A busy plug-in (a build running) is never unloaded, replaced or closed under the user's feet:
// the host asks, and waits for the work to end when told to.
#include "host/languages/fixed_texts.h"
#include "tests/host/plugin_fixture.h"

#include "widgetkit/sys_menu.h"

#include <QAction>
#include <QCloseEvent>
#include <QTimer>

namespace {

using BusyPluginTest = PluginFixture;

// Ends the plug-in's work a moment after the host has started to wait for it.
void endWorkSoon(PluginUIBase *window)
{
    QTimer::singleShot(100, window, [window] { window->setBusy(false); });
}

TEST_F(BusyPluginTest, UnloadAsksAndLeavesTheBusyPluginLoadedOnNo)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    PluginUIBase *window = w->plugin("Other")->window();
    window->setBusy(true);
    testPresenter().questionAnswer = false;
    EXPECT_FALSE(w->unloadPlugin("Other", true));
    testPresenter().questionAnswer = true;
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Question);
    EXPECT_NE(w->plugin("Other"), nullptr);
    EXPECT_EQ(w->shownPlugin(), window);
    EXPECT_TRUE(QFileInfo::exists(wd.file("plugins/o/Other.so")));
    window->setBusy(false);
}

TEST_F(BusyPluginTest, UnloadWaitsForTheWorkToEndOnYesThenRemovesTheEmptiedFolder)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    PluginUIBase *window = w->plugin("Other")->window();
    window->setBusy(true);
    endWorkSoon(window);
    EXPECT_TRUE(w->unloadPlugin("Other", true));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Question);
    EXPECT_EQ(w->plugin("Other"), nullptr);
    EXPECT_FALSE(QFileInfo::exists(wd.file("plugins/o")));
    EXPECT_TRUE(QFileInfo::exists(wd.file("plugins")));
}

TEST_F(BusyPluginTest, ReplacingKeepsTheFoldersAndShowsThePluginAgainOnceReloaded)
{
    install("other/Other.so", "o/Other.so");
    install("third/Third.so", "t/Third.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    EXPECT_TRUE(w->unloadPlugin("Other", false));
    EXPECT_TRUE(QFileInfo::exists(wd.file("plugins/o")));
    install("other/Other.so", "o/Other.so");
    w->loadPlugins();
    ASSERT_NE(w->plugin("Other"), nullptr);
    EXPECT_EQ(w->shownPlugin(), w->plugin("Other")->window());
}

TEST_F(BusyPluginTest, CloseAsksWhileBusyAndClosesOnceTheWorkHasEnded)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    w->show();
    PluginUIBase *window = w->plugin("Other")->window();
    window->setBusy(true);
    testPresenter().questionAnswer = false;
    EXPECT_FALSE(w->close());
    testPresenter().questionAnswer = true;
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(messages().size(), 1);

    endWorkSoon(window);
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(window->isBusy());
    EXPECT_EQ(messages().size(), 2);

    // Idle: closing asks nothing.
    w->show();
    EXPECT_TRUE(w->close());
    EXPECT_EQ(messages().size(), 2);
}

TEST_F(BusyPluginTest, SettingsSavedDuringWorkApplyWhenItHasEnded)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    PluginInfo *info = w->plugin("Other");
    ASSERT_TRUE(writeBytes(info->configFilePath(), "<Root type=\"0\"/>"));
    PluginUIBase *window = info->window();
    window->setProperty("reloadOk", false);
    window->setBusy(true);
    onNextModal([](QDialog *dialog) { dialog->accept(); });
    EXPECT_TRUE(w->editSettings(info));
    EXPECT_TRUE(messages().isEmpty());   // nothing reloaded yet
    window->setBusy(false);
    ASSERT_EQ(messages().size(), 1);     // the reload ran, and failed as told
    EXPECT_EQ(messages()[0].text, "[reloadFail]");
    window->setBusy(true);
    window->setBusy(false);
    EXPECT_EQ(messages().size(), 1);     // once only
}

TEST_F(BusyPluginTest, APluginWithoutATitleIsListedAndTitledByItsBaseName)
{
    install("nameless/Nameless.so", "n/Nameless.so");
    auto w = makeWindow({"Tessel", "-c", "Nameless"});
    ASSERT_EQ(w->pluginList()->count(), 1);
    EXPECT_EQ(w->pluginList()->item(0)->text(), "Nameless");
    EXPECT_TRUE(w->windowTitle().startsWith("Tessel V1.0.21 - Nameless")) << w->windowTitle().toStdString();
}

TEST_F(BusyPluginTest, AManualThatCannotBeOpenedIsReported)
{
    install("other/Other.so", "o/Other.so");
    ASSERT_TRUE(writeBytes(wd.file("docs/Other.doc"), "manual"));
    auto w = makeWindow({"Tessel", "-c", "Other"});
    SysMenu *menu = w->buildPluginMenu(w->plugin("Other"));
    QAction *manual = nullptr;
    for (QAction *a : menu->actions())
        if (a->text() == "[userManual]")
            manual = a;
    ASSERT_NE(manual, nullptr);
    // The offscreen platform has no program to open anything, like a system without xdg-utils.
    manual->trigger();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_TRUE(messages()[0].text.contains(QDir::toNativeSeparators(wd.file("docs/Other.doc"))))
        << messages()[0].text.toStdString();
    delete menu;
}

TEST_F(BusyPluginTest, FixedChineseTextsStayForChineseAndComeFromTheFileOtherwise)
{
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/en.lang"),
                            "<lang name=\"English\"><dialog><button><ok name=\"OK\"/><yes name=\"Yes\"/>"
                            "<no name=\"No\"/></button></dialog><main><alreadyRunning>"
                            "<text name=\"Already running\"/></alreadyRunning></main></lang>"));
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/zh.lang"), QString::fromUtf8("<lang name=\"中文\"/>")));
    LangStore langs;
    for (const char *zh : {"zh", "zh_CN"}) {
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), zh));
        applyDialogButtonTexts(langs);
        EXPECT_EQ(qApp->property("tessel.dialogOk").toString(), QString::fromUtf8("确定"));
        EXPECT_EQ(qApp->property("tessel.dialogNo").toString(), QString::fromUtf8("否"));
        EXPECT_EQ(fixedText(langs, "main/alreadyRunning/text", "程序已在运行中"),
                  QString::fromUtf8("程序已在运行中"));
    }
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "en"));
    applyDialogButtonTexts(langs);
    EXPECT_EQ(qApp->property("tessel.dialogOk").toString(), "OK");
    EXPECT_EQ(qApp->property("tessel.dialogYes").toString(), "Yes");
    EXPECT_EQ(qApp->property("tessel.dialogNo").toString(), "No");
    EXPECT_EQ(fixedText(langs, "main/alreadyRunning/text", "程序已在运行中"), "Already running");
    setDialogButtonTexts(QString(), QString(), QString());
    EXPECT_FALSE(qApp->property("tessel.dialogOk").isValid());
}

} // namespace

#include "host/settings/setting_window.h"
#include "tests/host/plugin_fixture.h"

#include "widgetkit/sys_button.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_menu.h"

#include <QAction>
#include <QCoreApplication>
#include <QStatusBar>

using MainWindowTest = PluginFixture;

namespace {
QStringList actionTexts(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << a->text();
    return out;
}

QString history(const QString &body) { return body; }
} // namespace

TEST_F(MainWindowTest, WithoutAPluginsFolderThePlaceholderSaysWhereItLooked)
{
    auto w = makeWindow();
    const QString text = w->placeholder()->text();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(wd.file("plugins")))) << text.toStdString();
    EXPECT_TRUE(w->placeholder()->wordWrap());
    EXPECT_TRUE(w->placeholderShown());
}

TEST_F(MainWindowTest, BuildsTheWindowWithItsTextsAndPlaceholder)
{
    ASSERT_TRUE(QDir().mkpath(wd.file("plugins")));
    auto w = makeWindow();
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21");
    EXPECT_EQ(w->installButton()->toolTip(), "[installPkg]");
    EXPECT_EQ(w->languageButton()->toolTip(), "[langManager]");
    EXPECT_EQ(w->generatorButton()->toolTip(), "[genPkg]");
    EXPECT_EQ(w->installButton()->iconSize(), QSize(36, 36));
    EXPECT_TRUE(w->installButton()->text().isEmpty());
    EXPECT_EQ(w->placeholder()->text(), "[here]");
    EXPECT_EQ(w->placeholder()->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(w->placeholderShown());
    EXPECT_EQ(w->pluginList()->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(w->shownPlugin(), nullptr);
}

TEST_F(MainWindowTest, StartOptionSelectsAndShowsThePlugin)
{
    install("other/Other.so", "o/Other.so");
    install("third/Third.so", "t/Third.so");
    auto w = makeWindow({"Tessel", "-c", "Third"});
    PluginInfo *third = w->plugin("Third");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(w->shownPlugin(), third->window());
    EXPECT_EQ(w->pluginList()->currentRow(), w->indexOfPlugin("Third"));
    EXPECT_TRUE(third->window()->initialised);
    EXPECT_EQ(third->window()->property("initCount").toInt(), 1);
    EXPECT_EQ(third->window()->property("toolsAtInit").value<void *>(), static_cast<ITestTools *>(third));
    EXPECT_TRUE(w->isAncestorOf(third->window()));
    EXPECT_FALSE(w->placeholderShown());
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21 - Third Tool V1.13");
    EXPECT_TRUE(w->statusBar()->currentMessage().isEmpty());
    EXPECT_TRUE(messages().isEmpty());

    // Showing another plug-in hides this one; showing it again runs no second initUi.
    w->showPluginByName("Other");
    EXPECT_EQ(w->shownPlugin(), w->plugin("Other")->window());
    EXPECT_TRUE(third->window()->isHidden());
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21 - Other Tool V1.13");
    w->showPluginByName("Third");
    EXPECT_EQ(third->window()->property("initCount").toInt(), 1);
    EXPECT_EQ(w->shownPlugin(), third->window());
}

TEST_F(MainWindowTest, UnknownStartOptionKeepsThePlaceholderSilently)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Nope"});
    EXPECT_TRUE(w->placeholderShown());
    EXPECT_EQ(w->shownPlugin(), nullptr);
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21");
    EXPECT_TRUE(messages().isEmpty());

    // A name without a record, asked for directly, gets the information box.
    w->showPluginByName("Nope");
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(messages()[0].title, "Tessel V1.0.21");
    EXPECT_EQ(messages()[0].text, "[canNotFind Nope]");
}

TEST_F(MainWindowTest, TitleTakesTheVersionOfTheLastHistoryBlock)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow();
    PluginInfo *info = w->plugin("Other");
    QWidget *win = info->window();
    const QString block = "<p class=\"versionLog\"><span class=\"versionTitle\">%1</span><ol class=\"versionLogContent\"></ol></p>";
    win->setProperty("history", block.arg("V1.9") + block.arg("V1.10") + block.arg("V1.13"));
    w->updateTitle(info);
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21 - Other Tool V1.13");
    // The last block is not closed by "</span><ol": no version, although earlier ones are.
    win->setProperty("history", block.arg("V1.9") + "<span class=\"versionTitle\">V2.0</span><ul>");
    w->updateTitle(info);
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21 - Other Tool");
    win->setProperty("history", history(""));
    w->updateTitle(info);
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21 - Other Tool");
    // A marker at the very end must not read past the text.
    win->setProperty("history", "versionTitle");
    w->updateTitle(info);
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21 - Other Tool");
}

TEST_F(MainWindowTest, MenuEntriesFollowTheFlags)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow();
    PluginInfo *info = w->plugin("Other");
    auto menuOf = [&] {
        SysMenu *m = w->buildPluginMenu(info);
        const QStringList t = actionTexts(m);
        delete m;
        return t;
    };
    EXPECT_EQ(menuOf(), (QStringList{"[updateHistory]", "[createSetting]", "[unloadPlugin]"}));
    ASSERT_TRUE(writeBytes(info->configFilePath(), "<Root/>"));
    EXPECT_EQ(menuOf(), (QStringList{"[updateHistory]", "[updateSetting]", "[unloadPlugin]"}));
    ASSERT_TRUE(writeBytes(wd.file("docs/Other.doc"), "manual"));
    EXPECT_EQ(menuOf(), (QStringList{"[updateHistory]", "[userManual]", "[updateSetting]", "[unloadPlugin]"}));
    info->setUnloadable(false);
    EXPECT_EQ(menuOf(), (QStringList{"[updateHistory]", "[userManual]"}));
}

TEST_F(MainWindowTest, RightClickActsOnTheCurrentRowOnly)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow();
    w->pluginList()->setCurrentRow(-1);
    emit w->pluginList()->customContextMenuRequested(QPoint(1, 1));
    EXPECT_EQ(w->shownPlugin(), nullptr);
    EXPECT_TRUE(w->findChildren<SysMenu *>().isEmpty());

    w->pluginList()->setCurrentRow(0);
    emit w->pluginList()->customContextMenuRequested(QPoint(1, 1));
    EXPECT_EQ(w->shownPlugin(), w->plugin("Other")->window());
    const QList<SysMenu *> menus = w->findChildren<SysMenu *>();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(actionTexts(menus[0]).size(), 3);
    menus[0]->close();
}

TEST_F(MainWindowTest, ManualPrefersTheCurrentLanguage)
{
    auto w = makeWindow();
    QString path;
    EXPECT_FALSE(w->findManual("Deltamaker", path));
    ASSERT_TRUE(writeBytes(wd.file("docs/Deltamaker.doc"), "general"));
    ASSERT_TRUE(writeBytes(wd.file("docs/Deltamaker/en.doc"), "english"));
    ASSERT_TRUE(w->findManual("Deltamaker", path));
    EXPECT_EQ(path, wd.file("docs/Deltamaker.doc")); // no language index
    ASSERT_TRUE(writeBytes(wd.file("lang/Deltamaker/index.config"), "en"));
    ASSERT_TRUE(w->findManual("Deltamaker", path));
    EXPECT_EQ(path, wd.file("docs/Deltamaker/en.doc"));
    ASSERT_TRUE(QFile::remove(wd.file("docs/Deltamaker/en.doc")));
    ASSERT_TRUE(w->findManual("Deltamaker", path));
    EXPECT_EQ(path, wd.file("docs/Deltamaker.doc"));
}

TEST_F(MainWindowTest, UnloadingMovesToTheNextRowWrappingToTheFirst)
{
    install("other/Other.so", "o/Other.so");
    install("third/Third.so", "t/Third.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    const QStringList before = rows(*w);
    ASSERT_EQ(before.size(), 2);
    const QString last = before[1];
    const QString first = before[0];
    w->selectPluginByName(last);
    ASSERT_TRUE(w->unloadPlugin(last, true));
    EXPECT_EQ(rows(*w), QStringList{first});
    EXPECT_EQ(w->shownPlugin(), w->plugin(first)->window());
    EXPECT_EQ(w->pluginList()->currentRow(), 0);

    ASSERT_TRUE(w->unloadPlugin(first, true));
    EXPECT_TRUE(rows(*w).isEmpty());
    EXPECT_EQ(w->shownPlugin(), nullptr);
    EXPECT_TRUE(w->placeholderShown());
    EXPECT_TRUE(w->placeholder()->isVisibleTo(w.get()));
    // No plug-in is shown, so the title names none.
    EXPECT_EQ(w->windowTitle(), "Tessel V1.0.21");
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(MainWindowTest, UnloadRemovesTheFoldersOnlyWhenAsked)
{
    install("other/Other.so", "o/Other.so");
    install("third/Third.so", "t/Third.so");
    for (const char *base : {"Other", "Third"}) {
        for (const char *dir : {"config", "logs", "docs", "lang"})
            ASSERT_TRUE(writeBytes(wd.file(QString("%1/%2/f.txt").arg(dir, base)), "x"));
    }
    ASSERT_TRUE(writeBytes(wd.file("docs/Other.doc"), "manual next to the folder"));
    auto w = makeWindow();

    ASSERT_TRUE(w->unloadPlugin("Other", true));
    EXPECT_FALSE(QFileInfo::exists(wd.file("plugins/o/Other.so")));
    for (const char *dir : {"config", "logs", "docs", "lang"})
        EXPECT_FALSE(QFileInfo::exists(wd.file(QString("%1/Other").arg(dir)))) << dir;
    EXPECT_TRUE(QFileInfo::exists(wd.file("docs/Other.doc")));

    // The installer's mode keeps every folder.
    ASSERT_TRUE(w->unloadPlugin("Third", false));
    EXPECT_FALSE(QFileInfo::exists(wd.file("plugins/t/Third.so")));
    for (const char *dir : {"config", "logs", "docs", "lang"})
        EXPECT_TRUE(QFileInfo::exists(wd.file(QString("%1/Third/f.txt").arg(dir)))) << dir;
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(MainWindowTest, MenuUnloadAsksFirst)
{
    QByteArray texts = readBytes(wd.file("lang/Tessel/test.lang"));
    texts.replace("<rightMenu>", "<unloadConfirmFmt name=\"[unload %s?]\"/><rightMenu>");
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/test.lang"), texts));
    install("other/Other.so", "o/Other.so");
    ASSERT_TRUE(writeBytes(wd.file("config/Other/f.txt"), "x"));
    auto w = makeWindow();
    auto unloadEntry = [&] {
        SysMenu *m = w->buildPluginMenu(w->plugin("Other"));
        m->actions().last()->trigger();
        delete m;
    };

    testPresenter().questionAnswer = false;
    unloadEntry();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Question);
    EXPECT_EQ(messages()[0].title, w->windowTitle());
    EXPECT_EQ(messages()[0].text, "[unload " + w->plugin("Other")->pluginName() + "?]");
    EXPECT_TRUE(w->plugin("Other"));
    EXPECT_EQ(rows(*w), QStringList{"Other"});
    EXPECT_TRUE(QFileInfo::exists(wd.file("plugins/o/Other.so")));
    EXPECT_TRUE(QFileInfo::exists(wd.file("config/Other/f.txt")));

    testPresenter().questionAnswer = true;
    unloadEntry();
    EXPECT_EQ(messages().size(), 2);
    EXPECT_EQ(w->plugin("Other"), nullptr);
    EXPECT_TRUE(rows(*w).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(wd.file("plugins/o/Other.so")));
    EXPECT_FALSE(QFileInfo::exists(wd.file("config/Other")));

    // The left panel's buttons carry their texts as tooltips.
    EXPECT_GE(w->pluginList()->minimumWidth(), 0);
    EXPECT_EQ(w->installButton()->toolTip(), "[installPkg]");
    EXPECT_EQ(w->languageButton()->toolTip(), "[langManager]");
    EXPECT_EQ(w->generatorButton()->toolTip(), "[genPkg]");
}

TEST_F(MainWindowTest, QtsOwnTextsFollowTheHostLanguage)
{
    const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "zh"));
    {
        auto w = makeWindow();
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("取消"));
    }
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "en"));
    auto w = makeWindow();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

TEST_F(MainWindowTest, UnloadRefusals)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    EXPECT_FALSE(w->unloadPlugin("Missing", true));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].text, "[canNotFind Missing]");

    w->plugin("Other")->setUnloadable(false);
    EXPECT_FALSE(w->unloadPlugin("Other", true));
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[1].text, "[inUse]");
    EXPECT_EQ(messages()[1].title, "Tessel V1.0.21 - Other Tool V1.13");
    EXPECT_NE(w->plugin("Other"), nullptr);
    EXPECT_EQ(w->shownPlugin(), w->plugin("Other")->window());
    EXPECT_TRUE(QFileInfo::exists(wd.file("plugins/o/Other.so")));
}

TEST_F(MainWindowTest, LibraryThatCannotBeDeletedLeavesItsRow)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow();
    // A non-empty folder now stands where the loaded library was: it cannot be removed as a file.
    const QString lib = wd.file("plugins/o/Other.so");
    ASSERT_TRUE(QFile::remove(lib));
    ASSERT_TRUE(writeBytes(lib + "/keep", "x"));
    EXPECT_FALSE(w->unloadPlugin("Other", true));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].text, "[removeDllFailed]");
    EXPECT_EQ(w->plugin("Other"), nullptr);
    EXPECT_EQ(rows(*w), QStringList{"Other"});
    w->showPluginByName("Other");
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[1].text, "[canNotFind Other]");
    // The leftover row cannot be unloaded either, and nothing is shown.
    EXPECT_FALSE(w->unloadPlugin("Other", true));
    EXPECT_EQ(w->shownPlugin(), nullptr);
}

TEST_F(MainWindowTest, CreateSettingFileMakesTheFolder)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow();
    PluginInfo *info = w->plugin("Other");
    ASSERT_FALSE(QFileInfo::exists(info->configDir()));
    ASSERT_TRUE(w->createSettingFile(info));
    EXPECT_EQ(readBytes(info->configFilePath()),
              QByteArray("<?xml version = \"1.0\" encoding = \"GBK\"?>\n<Root type=\"0\"/>\n"));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Information);
    EXPECT_EQ(messages()[0].text, "[createSuccess]");
    EXPECT_TRUE(info->hasConfigFile());
    ASSERT_NE(info->config(false), nullptr);

    // A folder in the file's place cannot be written.
    ASSERT_TRUE(QFile::remove(info->configFilePath()));
    ASSERT_TRUE(QDir().mkpath(info->configFilePath()));
    EXPECT_FALSE(w->createSettingFile(info));
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[1].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[1].text, "[createFailed]");
}

TEST_F(MainWindowTest, UpdateSettingRunsTheEditorAndReloadsOnSave)
{
    install("other/Other.so", "o/Other.so");
    auto w = makeWindow();
    PluginInfo *info = w->plugin("Other");
    const QByteArray file("<?xml version = \"1.0\" encoding = \"GBK\"?>\n<Root type=\"0\"/>\n");
    ASSERT_TRUE(writeBytes(info->configFilePath(), file));
    auto choose = [&] {
        std::unique_ptr<SysMenu> m(w->buildPluginMenu(info));
        for (QAction *a : m->actions()) {
            if (a->text() == "[updateSetting]")
                a->trigger();
        }
    };
    auto press = [](const char *button) {
        return [button](QDialog *d) {
            auto *editor = qobject_cast<SettingWindow *>(d);
            ASSERT_TRUE(editor);
            (QLatin1String(button) == QLatin1String("save") ? editor->saveButton() : editor->cancelButton())->click();
        };
    };

    // Cancel: no reload, no message.
    onNextModal(press("cancel"));
    choose();
    EXPECT_TRUE(messages().isEmpty());

    // Save with a plug-in that keeps the base class's reload: reported.
    onNextModal(press("save"));
    choose();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].text, "[reloadFail]");
    EXPECT_EQ(readBytes(info->configFilePath()), file);

    info->window()->setProperty("reloadOk", true);
    onNextModal(press("save"));
    EXPECT_TRUE(w->editSettings(info));
    EXPECT_EQ(messages().size(), 1);
}

TEST_F(MainWindowTest, SwitchLanguageStopsAtAFailingPluginContext)
{
    install("other/Other.so", "o/Other.so");
    install("third/Third.so", "t/Third.so");
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Other/en.lang"), "<lang name=\"English\"/>"));
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Third/en.lang"), "<lang name=\"English\"/>"));
    ASSERT_TRUE(QDir().mkpath(wd.file("lang/Other/index.config"))); // cannot be written
    auto w = makeWindow({"Tessel", "-c", "Third", "-x", "5"});
    LANG_INFO en;
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/en.lang"), "<lang name=\"English\"/>"));
    ASSERT_TRUE(readLangInfo(wd.file("lang/Tessel/en.lang"), en));

    EXPECT_FALSE(w->switchLanguage(en));
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].text, "[switch failed Tessel en]");
    EXPECT_TRUE(relaunches.empty());
    EXPECT_FALSE(QFileInfo::exists(wd.file("lang/Third/index.config"))); // never reached

    // Once every context can be switched, the host relaunches on the shown plug-in.
    ASSERT_TRUE(QDir(wd.file("lang/Other/index.config")).removeRecursively());
    EXPECT_TRUE(w->switchLanguage(en));
    EXPECT_EQ(readBytes(wd.file("lang/Other/index.config")), QByteArray("en"));
    EXPECT_EQ(readBytes(wd.file("lang/Third/index.config")), QByteArray("en"));
    ASSERT_EQ(relaunches.size(), 1u);
    EXPECT_EQ(relaunches[0], "-c Third -mutex 0 -x 5");
    std::string mutex;
    ASSERT_TRUE(w->args().getString("mutex", mutex));
    EXPECT_EQ(mutex, "0");
}

TEST_F(MainWindowTest, RestartWithoutAShownPluginKeepsTheOptions)
{
    auto w = makeWindow({"Tessel", "-mutex", "1"});
    w->restart();
    ASSERT_EQ(relaunches.size(), 1u);
    EXPECT_EQ(relaunches[0], "-mutex 0");
}

// A language without any texts never blanks the host: every visible widget of the main window,
// the language manager and the plug-in menu still shows a text (or an icon with a tool tip).
#include "tests/host/deltamaker_fixture.h"

#include "host/languages/lang_mgr_window.h"
#include "widgetkit/sys_menu.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>

namespace {

// The visible widgets below `root` (itself included) that show nothing to read.
QStringList blankWidgets(QWidget *root)
{
    QStringList blank;
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *w : widgets) {
        if (!w->isVisibleTo(root))
            continue;
        const QString name = QString::fromLatin1(w->metaObject()->className());
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (label->pixmap() == nullptr && label->text().remove(':').trimmed().isEmpty())
                blank << name;
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            if (button->text().trimmed().isEmpty() && (button->icon().isNull() || button->toolTip().isEmpty()))
                blank << name;
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                if (combo->itemText(i).trimmed().isEmpty())
                    blank << name + " item";
        }
    }
    if (root->isWindow() && root->windowTitle().trimmed().isEmpty())
        blank << "window title";
    return blank;
}

TEST(EmptyLanguage, NoHostWidgetShowsAnEmptyText)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(copyTreeFiles(TestPaths::runtimeDir() + "/lang/Tessel", wd.file("lang/Tessel")));
    ASSERT_TRUE(copyTreeFiles(TestPaths::runtimeDir() + "/images", wd.file("images")));
    installDeltamaker(wd);
    // The language as an older version created it: a name and nothing else.
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/fr.lang"), "<lang name=\"Francais\"/>"));
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "fr"));

    MainWindow w;
    w.setRelaunch([](const std::string &) { return false; });
    std::vector<const char *> argv{"Tessel", "-c", "Deltamaker"};
    w.init(AppArgs(int(argv.size()), argv.data(), true));
    w.show();
    settleWindows();
    EXPECT_EQ(blankWidgets(&w), QStringList());
    EXPECT_EQ(w.pluginList()->item(0)->text().trimmed().isEmpty(), false);

    auto manager = w.makeLangManager();
    manager->show();
    settleWindows();
    EXPECT_EQ(blankWidgets(manager.get()), QStringList());
    EXPECT_FALSE(manager->windowTitle().contains("%1"));

    SysMenu *menu = w.buildPluginMenu(w.plugin("Deltamaker"));
    for (QAction *action : menu->actions())
        EXPECT_FALSE(action->text().trimmed().isEmpty());
    delete menu;
}

} // namespace

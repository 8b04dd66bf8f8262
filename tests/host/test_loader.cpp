#include "tests/host/plugin_fixture.h"

#include <QLibrary>

using LoaderTest = PluginFixture;

TEST_F(LoaderTest, ScansRecursivelyIgnoringCaseAndFirstBaseNameWins)
{
    install("a/Tool.so", "a/Tool.so");
    install("b/Tool.so", "b/Tool.so");
    install("beta/Tool.beta.so", "c/d/Tool.beta.so");
    install("other/Other.so", "Other.so");
    install("third/Third.so", "x/Third.SO");
    ASSERT_TRUE(writeBytes(wd.file("plugins/x/readme.txt"), "not a library"));

    MainWindow w;
    w.init(AppArgs());
    const QStringList scanned = w.scanPluginFiles();
    ASSERT_EQ(scanned.size(), 5) << scanned.join(", ").toStdString();
    for (const QString &p : scanned)
        EXPECT_TRUE(QFileInfo(p).isAbsolute());

    // Rows follow the scan; of the three "Tool" libraries only the first met is loaded.
    QString firstTool;
    QStringList expected;
    for (const QString &p : scanned) {
        const QString base = QFileInfo(p).baseName();
        if (firstTool.isEmpty() && base == "Tool")
            firstTool = p;
        if (!expected.contains(base))
            expected << base;
    }
    EXPECT_EQ(rows(w), expected);
    ASSERT_NE(w.plugin("Tool"), nullptr);
    EXPECT_EQ(w.plugin("Tool")->libraryPath(), firstTool);
    for (const QString &p : scanned) {
        if (QFileInfo(p).baseName() == "Tool") {
            EXPECT_EQ(isMapped(p), p == firstTool) << p.toStdString();
        }
    }
    ASSERT_NE(w.plugin("Third"), nullptr);

    const int toolRow = w.indexOfPlugin("Tool");
    QListWidgetItem *item = w.pluginList()->item(toolRow);
    EXPECT_EQ(item->text(), w.plugin("Tool")->pluginName());
    EXPECT_EQ(item->textAlignment(), int(Qt::AlignCenter));
    PluginUIBase *window = w.plugin("Tool")->window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->tools, w.plugin("Tool"));
    EXPECT_FALSE(window->initialised);
    EXPECT_EQ(w.plugin("Tool")->mainWindow(), &w);

    // A second scan loads nothing new.
    w.loadPlugins();
    EXPECT_EQ(rows(w), expected);
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(LoaderTest, DottedFileNameGivesTheShortBaseName)
{
    install("beta/Tool.beta.so", "beta/Tool.beta.so");
    MainWindow w;
    w.init(AppArgs());
    ASSERT_EQ(rows(w), QStringList{"Tool"});
    EXPECT_EQ(w.plugin("Tool")->pluginName(), "Tool Beta");
    EXPECT_EQ(w.plugin("Tool")->configDir(), wd.path() + "/config/Tool");
}

TEST_F(LoaderTest, BrokenAndIncompleteLibrariesAreUnloadedAndSkipped)
{
    install("norelease/NoRelease.so", "n/NoRelease.so");
    install("nullcreate/NullCreate.so", "z/NullCreate.so");
    install("other/Other.so", "o/Other.so");
    ASSERT_TRUE(writeBytes(wd.file("plugins/Broken.so"), "this is no ELF file"));
    MainWindow w;
    w.init(AppArgs());
    EXPECT_EQ(rows(w), QStringList{"Other"});
    EXPECT_EQ(w.plugins().size(), 1u);
    EXPECT_FALSE(isMapped(wd.file("plugins/n/NoRelease.so")));
    EXPECT_FALSE(isMapped(wd.file("plugins/z/NullCreate.so")));
    EXPECT_TRUE(isMapped(wd.file("plugins/o/Other.so")));
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(LoaderTest, LoadUnloadAndLoadAgain)
{
    install("other/Other.so", "o/Other.so");
    const QString path = wd.file("plugins/o/Other.so");
    auto w = makeWindow({"Tessel", "-c", "Other"});
    PluginUIBase *first = w->plugin("Other")->window();
    EXPECT_EQ(first->property("initCount").toInt(), 1);

    ASSERT_TRUE(w->unloadPlugin("Other", false));
    EXPECT_EQ(w->plugin("Other"), nullptr);
    EXPECT_TRUE(rows(*w).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(isMapped(path));
    EXPECT_TRUE(w->placeholderShown());

    install("other/Other.so", "o/Other.so");
    w->loadPlugins();
    ASSERT_NE(w->plugin("Other"), nullptr);
    PluginUIBase *second = w->plugin("Other")->window();
    ASSERT_NE(second, nullptr);
    // A new Create, a new window, shown again where the one replaced was.
    EXPECT_EQ(second->property("initCount").toInt(), 1);
    EXPECT_EQ(w->shownPlugin(), second);
    w->showPluginByName("Other");
    EXPECT_EQ(second->property("initCount").toInt(), 1);
    EXPECT_EQ(w->shownPlugin(), second);
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(LoaderTest, TeardownReleasesEveryPlugin)
{
    install("other/Other.so", "o/Other.so");
    install("third/Third.so", "t/Third.so");
    {
        auto w = makeWindow({"Tessel", "-c", "Third"});
        EXPECT_TRUE(isMapped(wd.file("plugins/t/Third.so")));
    }
    EXPECT_FALSE(isMapped(wd.file("plugins/o/Other.so")));
    EXPECT_FALSE(isMapped(wd.file("plugins/t/Third.so")));
}

TEST_F(LoaderTest, PluginTextsComeFromItsOwnContext)
{
    install("other/Other.so", "Other/Other.so");
    auto w = makeWindow();
    PluginInfo *info = w->plugin("Other");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->text("main/title"), QString()); // no index yet
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Other/en.lang"), "<lang name=\"English\"><main><title name=\"Other EN\"/></main></lang>"));
    ASSERT_TRUE(writeBytes(wd.file("lang/Other/index.config"), "en"));
    EXPECT_EQ(info->text("main/title"), "Other EN");
    EXPECT_EQ(info->text("main/loading"), QString()); // the host's keys are not the plug-in's
    EXPECT_EQ(w->tr_("main/plugin/loading"), "[loading]");
}

// Pictures of the language manager, its creation dialog and the history dialog, in both
// languages, for a look by eye. Run by scripts/screenshots.sh with $TESSEL_SCREENSHOT_DIR set.
#include "host/history_window.h"
#include "host/languages/lang_create_window.h"
#include "host/languages/lang_mgr_window.h"
#include "host/main_window.h"
#include "host/plugin_info.h"
#include "tests/host/host_test_util.h"
#include "tests/support/test_paths.h"

#include "widgetkit/sys_line_edit.h"

#include <QApplication>
#include <QPixmap>

#include <gtest/gtest.h>

namespace {
void settle()
{
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
}

bool save(QWidget *w, const QString &dir, const QString &name)
{
    w->show();
    w->raise();
    settle();
    return w->grab().save(dir + "/" + name);
}
} // namespace

TEST(LangHistoryScreenshot, DISABLED_LanguageManagerCreateDialogAndHistoryInBothLanguages)
{
    const QString dir = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (dir.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(dir));
    for (const char *lang : {"zh", "en"}) {
        // A copy of the runtime folder, so that the real one keeps its language.
        ScopedWorkDir wd;
        for (const char *sub : {"lang", "images", "plugins", "config", "docs"})
            ASSERT_TRUE(copyTreeFiles(TestPaths::runtimeDir() + "/" + sub, wd.file(sub)));
        ASSERT_TRUE(QFileInfo::exists(wd.file("lang/Tessel/" + QString::fromLatin1(lang) + ".lang")))
            << "build the runtime folder first";
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), lang));
        ASSERT_TRUE(writeBytes(wd.file("lang/Deltamaker/index.config"), lang));
        const QString l = QString::fromLatin1(lang);

        MainWindow w;
        w.setRelaunch([](const std::string &) { return false; });
        std::vector<const char *> argv{"Tessel", "-c", "Deltamaker"};
        w.init(AppArgs(int(argv.size()), argv.data(), true));
        w.show();
        settle();

        auto manager = w.makeLangManager();
        EXPECT_TRUE(save(manager.get(), dir, "lang-manager-" + l + ".png"));

        LangCreateWindow create(w.langStore(), manager->windowTitle(), manager.get());
        create.nameEdit()->setText(l == "zh" ? "ja" : "fr");
        create.dispNameEdit()->setText(l == "zh" ? QString::fromUtf8("日本語") : QString::fromUtf8("Français"));
        EXPECT_TRUE(save(&create, dir, "lang-create-" + l + ".png"));
        create.hide();
        manager->hide();

        PluginInfo *dm = w.plugin("Deltamaker");
        ASSERT_NE(dm, nullptr) << "Deltamaker is not built into the runtime folder";
        auto history = w.makeHistoryWindow(dm);
        EXPECT_TRUE(save(history.get(), dir, "history-" + l + ".png"));
        history->hide();
        w.hide();
    }
}

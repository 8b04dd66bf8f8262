// Pictures of the host with the Deltamaker window shown, before and after a delta build, for a
// look by eye (scripts/screenshots.sh runs this):
//   QT_QPA_PLATFORM=offscreen bin/test_deltamaker_window --gtest_also_run_disabled_tests
//     --gtest_filter='*Screenshot*'
// TESSEL_SCREENSHOT_DIR names the folder (default: the build folder's "screenshots"). The
// build's runtime folder is copied to a temporary working folder first, so the pictures never
// leave packages or logs behind in it.
#include "host/main_window.h"
#include "host/plugin_info.h"
#include "tests/host/host_test_util.h"
#include "tests/support/test_paths.h"

#include <QApplication>
#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(file, target))
            return false;
    }
    return true;
}

void settle()
{
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
}

} // namespace

TEST(DeltamakerScreenshot, DISABLED_BeforeAndAfterABuild)
{
    QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (out.isEmpty())
        out = TestPaths::buildDir() + QStringLiteral("/screenshots");
    ASSERT_TRUE(QDir().mkpath(out));

    ScopedWorkDir wd;
    ASSERT_TRUE(copyTree(TestPaths::runtimeDir(), wd.path()));
    MainWindow host;
    host.setRelaunch([](const std::string &) { return false; });
    std::vector<const char *> argv{"Tessel", "-c", "Deltamaker"};
    host.init(AppArgs(int(argv.size()), argv.data(), true));
    host.resize(1280, 900);
    host.show();
    settle();
    PluginInfo *info = host.plugin(QStringLiteral("Deltamaker"));
    ASSERT_TRUE(info && info->window());
    PluginUIBase *w = info->window();

    const char *rows[][2] = {{"bootRow", "samples/klm4410/boot.bin"},
                             {"partitionRow", "samples/klm4410/partition.bin"},
                             {"oldRow", "samples/klm4410/diff_old.bin"},
                             {"newRow", "samples/klm4410/diff_new.bin"},
                             {"outputRow", "klm4410_delta.pkg"}};
    for (const auto &row : rows) {
        QWidget *select = w->findChild<QWidget *>(QLatin1String(row[0]));
        ASSERT_TRUE(select) << row[0];
        select->findChild<QLineEdit *>()->setText(wd.file(QLatin1String(row[1])));
    }
    settle();
    EXPECT_TRUE(host.grab().save(out + QStringLiteral("/deltamaker-before.png")));

    auto *diff = w->findChild<QPushButton *>(QStringLiteral("diffButton"));
    ASSERT_TRUE(diff);
    QTest::mouseClick(diff, Qt::LeftButton);
    settle();
    EXPECT_TRUE(QFileInfo::exists(wd.file("klm4410_delta.pkg")));
    EXPECT_TRUE(host.grab().save(out + QStringLiteral("/deltamaker-after.png")));
    host.hide();
}

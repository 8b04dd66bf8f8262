// Renders the real main window from build/runtime into a PNG, for a look by eye:
//   QT_QPA_PLATFORM=offscreen bin/test_host --gtest_also_run_disabled_tests
//     --gtest_filter='*Screenshot*'
// TESSEL_SCREENSHOT names the file (default /tmp/tessel-main.png); TESSEL_SCREENSHOT_PLUGIN
// is passed as option "c".
#include "host/main_window.h"
#include "tests/support/test_paths.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(MainWindowScreenshot, DISABLED_RendersTheWindowFromTheRuntimeFolder)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(TestPaths::runtimeDir()));
    {
        MainWindow w;
        w.setRelaunch([](const std::string &) { return false; });
        const QByteArray start = qgetenv("TESSEL_SCREENSHOT_PLUGIN");
        std::vector<const char *> argv{"Tessel"};
        if (!start.isEmpty()) {
            argv.push_back("-c");
            argv.push_back(start.constData());
        }
        w.init(AppArgs(int(argv.size()), argv.data(), true));
        w.show();
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        QString out = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT"));
        if (out.isEmpty())
            out = QStringLiteral("/tmp/tessel-main.png");
        EXPECT_TRUE(w.grab().save(out));
        w.hide();
    }
    QDir::setCurrent(previous);
}

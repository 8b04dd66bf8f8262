#include "host/host_main.h"
#include "host/main_window.h"
#include "common/utils.h"
#include "tests/support/recording_presenter.h"

#include <QApplication>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <vector>

namespace {
std::string uniqueName()
{
    return "tessel-startup-" + QUuid::createUuid().toString(QUuid::Id128).toStdString();
}
AppArgs args(std::vector<const char *> argv)
{
    return AppArgs(int(argv.size()), argv.data(), true);
}
} // namespace

// Both cases share the process-wide main window, so they run in this order in one test.
TEST(Startup, SecondCopyIsRefusedAndMutexZeroStartsAnyway)
{
    RecordingPresenter rec;
    ScopedPresenter scope(&rec);
    const std::string name = uniqueName();
    ASSERT_FALSE(alreadyRunning(name)); // this process now holds the name

    // -mutex 1 (the default) with the name taken: the box, exit code 0, no window.
    EXPECT_EQ(runHost(args({"Tessel"}), name), 0);
    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_EQ(rec.messages[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(rec.messages[0].title, QString::fromUtf8("提醒"));
    EXPECT_EQ(rec.messages[0].text, QString::fromUtf8("程序已在运行中"));
    EXPECT_FALSE(MainWindow::exists());

    // Any value other than exactly 1 skips the test: start-up goes on to the event loop.
    rec.clear();
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(runHost(args({"Tessel", "-mutex", "0"}), name), 7);
    EXPECT_TRUE(rec.messages.isEmpty());
    ASSERT_TRUE(MainWindow::exists());
    EXPECT_TRUE(MainWindow::instance()->isVisible());
    std::string mutex;
    EXPECT_TRUE(MainWindow::instance()->args().getString("mutex", mutex));
    EXPECT_EQ(mutex, "0");
    MainWindow::instance()->hide();
}

#include "host/main_window.h"

#include "common/critical_lock.h"
#include "common/utils.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace {
MainWindow *g_instance = nullptr;

CriticalLock &instanceLock()
{
    static CriticalLock lock;
    return lock;
}
} // namespace

MainWindow *MainWindow::instance()
{
    CriticalLocker guard(instanceLock());
    if (!g_instance)
        g_instance = new MainWindow;
    return g_instance;
}

bool MainWindow::exists()
{
    CriticalLocker guard(instanceLock());
    return g_instance != nullptr;
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent) {}

bool MainWindow::init(const AppArgs &args)
{
    m_args = args;
    setWindowTitle(QStringLiteral("Tessel V1.0.21"));
    setCentralWidget(new QLabel(this));
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize avail = screen->availableSize();
        resize(int(avail.width() * 0.75), int(avail.height() * 0.75));
    }
    return true;
}

void MainWindow::restart()
{
    m_args.setInt("mutex", 0);
    relaunch(m_args.toCommandLine());
}

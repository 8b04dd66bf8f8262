#include "host/host_main.h"

#include "common/dialogs.h"
#include "common/utils.h"
#include "host/main_window.h"
#include "host/packages/import_pkg_window.h"
#include "host/plugin_info.h"
#include "widgetkit/sys_app.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

int runHost(const AppArgs &args, const std::string &mutexName)
{
    int mutex = 1;
    args.getInt("mutex", mutex);
    if (mutex == 1 && alreadyRunning(mutexName)) {
        showErrorText(QStringLiteral("提醒"), QStringLiteral("程序已在运行中"));
        return 0;
    }
    ImportPkgWindow::recoverInterruptedInstall();
    MainWindow *window = MainWindow::instance();
    window->init(args);
    window->show();
    // Unattended start, for checks of an installation: name the loaded plug-ins, then end
    // after the first turn of the event loop.
    if (qEnvironmentVariableIsSet("TESSEL_QUIT_AFTER_LOAD")) {
        for (const auto &entry : window->plugins())
            std::printf("loaded %s %s\n", qPrintable(entry.first),
                        qPrintable(entry.second->libraryPath()));
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
    return QCoreApplication::exec();
}

int hostMain(int argc, char **argv)
{
    auto app = std::make_unique<SysApp>(argc, argv);
    auto args = std::make_unique<AppArgs>(argc, argv, true);
    const int code = runHost(*args);
    args.reset();
    // The main window is deliberately not torn down: plug-ins are released only on unload.
    app.reset();
    return code;
}

#include "host/host_main.h"

#include "common/dialogs.h"
#include "common/platform/platform.h"
#include "common/utils.h"
#include "host/languages/fixed_texts.h"
#include "host/languages/lang_store.h"
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
        LangStore langs;
        applyDialogButtonTexts(langs);
        showErrorText(fixedText(langs, "main/alreadyRunning/title", "提醒"),
                      fixedText(langs, "main/alreadyRunning/text", "程序已在运行中"));
        return 0;
    }
    // A copy that replaces this host (language switch) starts while the old one still holds
    // the single-instance lock: it takes the lock the moment the old one has ended, so that a
    // plain second start is refused again.
    if (mutex != 1 && isRelaunched())
        Platform::acquireInstanceLockWhenFree(mutexName);
    ImportPkgWindow::recoverInterruptedInstall();
    MainWindow *window = MainWindow::instance();
    window->init(args);
    window->show();
    // The copy that started this one waits for this word before it ends.
    QTimer::singleShot(0, qApp, [] { relaunchStarted(); });
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

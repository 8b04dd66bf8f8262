// The plug-in's only two exports.
#include "common/critical_lock.h"
#include "deltamaker/window/main_window.h"

namespace {
Deltamaker::MainWindow *g_window = nullptr;

CriticalLock &createLock()
{
    static CriticalLock lock;
    return lock;
}

CriticalLock &releaseLock()
{
    static CriticalLock lock;
    return lock;
}
} // namespace

extern "C" __attribute__((visibility("default"))) PluginUIBase *Create()
{
    CriticalLocker guard(createLock());
    if (!g_window)
        g_window = new Deltamaker::MainWindow;
    return g_window;
}

extern "C" __attribute__((visibility("default"))) void Release()
{
    CriticalLocker guard(releaseLock());
    delete g_window;
    g_window = nullptr;
}

// Base of every plug-in window. Host and plug-ins compile this one definition; the host reads
// and writes `tools` and `initialised` directly, and listens to busyChanged.
#pragma once

#include "widgetkit/sys_main_window.h"
#include "widgetkit/sys_progress_bar.h"

#include <QStatusBar>

class ITestTools;

class PluginUIBase : public SysMainWindow
{
    Q_OBJECT
public:
    // The status bar carries one progress bar across its whole width, text hidden; a plug-in
    // drives it or leaves it empty.
    explicit PluginUIBase(QWidget *parent = nullptr);

    // Row text in the host's list, and part of the window title.
    virtual QString pluginName() = 0;
    // Version history as HTML blocks, oldest first.
    virtual QString historyHtml() = 0;
    // Builds the window's contents; called once, on the first show.
    virtual void initUi() = 0;
    // Called after the user saved the plug-in's settings; false makes the host report a failure.
    virtual bool reloadConfig() { return false; }

    // True while the plug-in does work that unloading, replacing or restarting it would lose
    // (a build). The host asks the user or waits before any of these while it is set.
    bool isBusy() const { return m_busy; }
    // The plug-in sets it when such work starts and clears it when the work has ended.
    void setBusy(bool busy);

    ITestTools *tools = nullptr;   // not owned: the host's record of this plug-in
    bool initialised = false;
    SysProgressBar *progressBar;   // owned by the status bar

signals:
    void busyChanged(bool busy);

private:
    bool m_busy = false;
};

// The two exports every plug-in library provides.
extern "C" {
typedef PluginUIBase *(*PluginCreateFn)();
typedef void (*PluginReleaseFn)();
}

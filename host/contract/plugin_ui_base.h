// Base of every plug-in window. Host and plug-ins compile this one definition; the host reads
// and writes `tools` and `initialised` directly.
#pragma once

#include "widgetkit/sys_main_window.h"

class ITestTools;

class PluginUIBase : public SysMainWindow
{
public:
    explicit PluginUIBase(QWidget *parent = nullptr) : SysMainWindow(parent) {}

    // Row text in the host's list, and part of the window title.
    virtual QString pluginName() = 0;
    // Version history as HTML blocks, oldest first.
    virtual QString historyHtml() = 0;
    // Builds the window's contents; called once, on the first show.
    virtual void initUi() = 0;
    // Called after the user saved the plug-in's settings; false makes the host report a failure.
    virtual bool reloadConfig() { return false; }

    ITestTools *tools = nullptr;   // not owned: the host's record of this plug-in
    bool initialised = false;
};

// The two exports every plug-in library provides.
extern "C" {
typedef PluginUIBase *(*PluginCreateFn)();
typedef void (*PluginReleaseFn)();
}

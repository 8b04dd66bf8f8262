// The update history of one plug-in, as its historyHtml() describes it.
#pragma once

#include "widgetkit/sys_dialog.h"

class ITestTools;
class LangStore;
class SysTextBrowser;

class HistoryWindow : public SysDialog
{
    Q_OBJECT
public:
    // Reads the plug-in's history once; `tools` (not owned) must outlive the dialog, and its
    // main window is the reference for the size. Texts come from `langs` (not owned).
    HistoryWindow(ITestTools *tools, LangStore &langs, QWidget *parent = nullptr);

    SysTextBrowser *browser() const { return m_browser; }

    // The style sheet and the page the history fragment is shown in.
    static const QString &styleSheetText();
    static QString page(const QString &historyHtml);

private:
    ITestTools *m_tools; // not owned
    SysTextBrowser *m_browser = nullptr;
};

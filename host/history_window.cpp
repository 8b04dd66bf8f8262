#include "host/history_window.h"

#include "host/contract/i_test_tools.h"
#include "host/languages/lang_store.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_text_edit.h"

#include <QMainWindow>

const QString &HistoryWindow::styleSheetText()
{
    static const QString css = QStringLiteral(
        "body{overflow-y:hidden;font-family: \"微软雅黑\";}.versionLog{display: block;}"
        ".versionTitle{font-size: 30px; font-weight: bold; color: #000;}"
        ".versionLogContent{background-color: #f00;}"
        ".versionLogContentItem{margin-left: 60px;font-size: 20px; color: #000;}");
    return css;
}

QString HistoryWindow::page(const QString &historyHtml)
{
    // Both filled in one pass: a "%1" or "%2" inside the history stays as written.
    return QStringLiteral("<html><head><style type=\"text/css\">%1</style></head><body>%2</body></html>")
        .arg(styleSheetText(), historyHtml);
}

HistoryWindow::HistoryWindow(ITestTools *tools, LangStore &langs, QWidget *parent)
    : SysDialog(parent), m_tools(tools)
{
    setWindowTitle(langs.text(QStringLiteral("Tessel"), QStringLiteral("history/titleFmt"))
                       .arg(m_tools->pluginName()));
    resizeRatio(0.6, m_tools->mainWindow());
    auto *layout = new SysVLayout(this);
    setBackgroundColor(QStringLiteral("#409eff"));
    m_browser = new SysTextBrowser(this);
    m_browser->setThemeColor(QStringLiteral("#409eff"));
    m_browser->setBorderColor(QStringLiteral("#FFF"));
    layout->addWidget(m_browser);
    m_browser->setHtml(page(m_tools->historyHtml()));
}

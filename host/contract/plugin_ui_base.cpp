#include "host/contract/plugin_ui_base.h"

#include <QStatusBar>

PluginUIBase::PluginUIBase(QWidget *parent)
    : SysMainWindow(parent), progressBar(new SysProgressBar(this))
{
    progressBar->setTextVisible(false);
    statusBar()->insertPermanentWidget(0, progressBar, 1);
}

void PluginUIBase::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    emit busyChanged(busy);
}

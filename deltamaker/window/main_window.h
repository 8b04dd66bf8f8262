// The Deltamaker plug-in window: file rows, method buttons and the process log.
#pragma once

#include "host/contract/plugin_ui_base.h"

namespace Deltamaker {

class MainWindow : public PluginUIBase
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    QString pluginName() override;
    QString historyHtml() override;
    void initUi() override;
};

} // namespace Deltamaker

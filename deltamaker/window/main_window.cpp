#include "deltamaker/window/main_window.h"

#include "host/contract/i_test_tools.h"

#include <QLabel>

namespace Deltamaker {

MainWindow::MainWindow(QWidget *parent) : PluginUIBase(parent) {}

QString MainWindow::pluginName()
{
    return tools ? tools->text(QStringLiteral("main/title")) : QString();
}

QString MainWindow::historyHtml()
{
    return QString();
}

void MainWindow::initUi()
{
    setCentralWidget(new QLabel(QStringLiteral("Deltamaker"), this));
}

} // namespace Deltamaker

#include "widgetkit/sys_main_window.h"

#include "common/dialogs.h"
#include "widgetkit/sys_style.h"

#include <QStatusBar>

#include <cstdarg>

SysMainWindow::SysMainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    Internal::appendStyle(this, QString::asprintf(
        "\tQMainWindow{\t\tfont-size: %dpx;\t\tbackground-color: %s;\t\tpadding: 0px;\t}", 18, "#fff"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->hide();
}

void SysMainWindow::setFontSize(int px)
{
    Internal::appendStyle(this, QString::asprintf("\tQMainWindow{\t\tfont-size: %dpx;\t}", px));
}

void SysMainWindow::setBackgroundColor(const QString &colour)
{
    Internal::appendStyle(this, QString::asprintf("\tQMainWindow{\t\tbackground-color: %s;\t}",
                                                  Internal::c8(colour).constData()));
}

void SysMainWindow::setPadding(double em)
{
    Internal::appendStyle(this, QString::asprintf("\tQMainWindow{\t\tpadding: %.2fem;\t}", em));
}

void SysMainWindow::setPadding(double horizontalEm, double verticalEm)
{
    Internal::appendStyle(this, QString::asprintf("\tQMainWindow{\t\tpadding: %.2fem %.2fem;\t}",
                                                  verticalEm, horizontalEm));
}

void SysMainWindow::setStatusItemBorder(int px)
{
    Internal::appendStyle(this, QString::asprintf("QMainWindow QStatusBar::item{ border: %dpx }", px));
}

void SysMainWindow::resizeRatio(double ratio, const QWidget *reference)
{
    ::resizeRatio(this, ratio, reference);
}

void SysMainWindow::showError(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = QString::vasprintf(format, args);
    va_end(args);
    showErrorText(windowTitle(), text);
}

void SysMainWindow::showInfo(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const QString text = QString::vasprintf(format, args);
    va_end(args);
    showInfoText(windowTitle(), text);
}

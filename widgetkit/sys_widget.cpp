#include "widgetkit/sys_widget.h"

#include "widgetkit/sys_style.h"

#include <QGuiApplication>
#include <QScreen>

SysWidget::SysWidget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral("\tQWidget{\t\tpadding: 0px;\t\tmargin: 0px;\t}"));
    setBackgroundColor(QStringLiteral("transparent"));
    setFontSize(18);
}

void SysWidget::setFontSize(int px)
{
    Internal::appendStyle(this, QString::asprintf("\tQWidget{\t\tfont-size: %dpx;\t}", px));
}

void SysWidget::setBackgroundColor(const QString &colour)
{
    Internal::appendStyle(this, QString::asprintf("\tQWidget{\t\tbackground-color: %s;\t}",
                                                  Internal::c8(colour).constData()));
}

void SysWidget::setMinimumSizeRatio(double ratio)
{
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QSize desk = screen->geometry().size();
        setMinimumSize(static_cast<int>(desk.width() * ratio), static_cast<int>(desk.height() * ratio));
    }
}

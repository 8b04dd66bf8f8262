#include "widgetkit/sys_label.h"

#include "widgetkit/sys_style.h"

#include <QMouseEvent>

using Internal::appendStyle;
using Internal::c8;

SysLabel::SysLabel(QWidget *parent, const QString &text) : QLabel(text, parent)
{
    setStyleSheet(QStringLiteral("\tQLabel {\t\tfont-family: '微软雅黑';\t\tmin-height: 1em;"
                                 "\t\tline-height: 1em;\t}\tQLabel:disabled{\t}"));
    setTextColor(QStringLiteral("#000"));
    setFontSize(18);
    setBackgroundColor(QStringLiteral("transparent"));
    setAlignment(Qt::AlignCenter);
}

void SysLabel::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQLabel{\t\tfont-size: %dpx;\t}", px));
}

void SysLabel::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf("\tQLabel{\t\tfont-weight: %d;\t}", weight));
}

void SysLabel::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQLabel{\t\tborder-radius: %.2fem;\t}", em));
}

void SysLabel::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQLabel{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysLabel::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQLabel{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysLabel::setTransparent()
{
    appendStyle(this, QStringLiteral("\tQLabel {\t   background-color: transparent;\t   border: none;\t}"));
}

void SysLabel::mousePressEvent(QMouseEvent *event)
{
    emit clicked();
    event->accept();
}

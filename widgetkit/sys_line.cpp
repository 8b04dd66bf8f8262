#include "widgetkit/sys_line.h"

#include "widgetkit/sys_style.h"

SysLine::SysLine(QWidget *parent, bool horizontal) : QFrame(parent), m_horizontal(horizontal)
{
    setFrameShape(horizontal ? QFrame::HLine : QFrame::VLine);
    setFrameShadow(QFrame::Sunken);
    setLineColor(QStringLiteral("#f0f0f0"));
}

void SysLine::setLineColor(const QString &colour)
{
    const QByteArray c = Internal::c8(colour);
    setStyleSheet(m_horizontal ? QString::asprintf("border-top: 1px solid %s;", c.constData())
                               : QString::asprintf("border-left: 1px solid %s;", c.constData()));
}

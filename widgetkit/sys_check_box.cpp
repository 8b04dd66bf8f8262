#include "widgetkit/sys_check_box.h"

#include "widgetkit/sys_style.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

using Internal::appendStyle;
using Internal::c8;

namespace {
QString base(const char *s)
{
    return QString::asprintf("\t\t%s {\t\t\tfont-family: '微软雅黑';\t\t\tcolor: #000;\t\t}"
                             "\t\t%s:disabled{\t\t\tcolor: #c0c0c0;\t\t}", s, s);
}
// The indicator is drawn by the sheet too: an inherited transparent background (containers
// of the kit set one) would otherwise leave the style's own box invisible.
QString indicator(const char *s, const char *radius, const QString &colour)
{
    const QByteArray c = c8(colour);
    const bool radio = qstrcmp(s, "QRadioButton") == 0;
    const QByteArray checked = radio
        ? QByteArray("qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.5, fy:0.5, stop:0 ") + c
              + ", stop:0.5 " + c + ", stop:0.6 #fff, stop:1 #fff)"
        : c;
    return QString::asprintf("\t%s::indicator{\t\twidth: .75em;\t\theight: .75em;\t\tborder: 1px solid #c0c0c0;"
                             "\t\tborder-radius: %s;\t\tbackground-color: #fff;\t}"
                             "\t%s::indicator:hover{\t\tborder-color: %s;\t}"
                             "\t%s::indicator:checked{\t\tborder-color: %s;\t\tbackground-color: %s;\t}"
                             "\t%s::indicator:disabled{\t\tborder-color: #e0e0e0;\t\tbackground-color: #fafafa;\t}",
                             s, radius, s, c.constData(), s, c.constData(), checked.constData(), s);
}

} // namespace

SysCheckBox::SysCheckBox(QWidget *parent, const QString &text) : QCheckBox(text, parent)
{
    setStyleSheet(base("QCheckBox"));
    setFontSize(18);
    setThemeColor(QStringLiteral("#409eff"));
}

void SysCheckBox::paintEvent(QPaintEvent *event)
{
    QCheckBox::paintEvent(event);
    if (checkState() != Qt::Checked)
        return;
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRectF box = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(isEnabled() ? QColor(Qt::white) : QColor(QStringLiteral("#c0c0c0")));
    pen.setWidthF(qMax(1.5, box.width() / 7.0));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    const QPointF tick[] = {QPointF(box.left() + box.width() * 0.22, box.top() + box.height() * 0.52),
                         QPointF(box.left() + box.width() * 0.42, box.top() + box.height() * 0.72),
                         QPointF(box.left() + box.width() * 0.78, box.top() + box.height() * 0.30)};
    painter.drawPolyline(tick, 3);
}

void SysCheckBox::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQCheckBox{\t\tfont-size: %dpx;\t}", px));
}

void SysCheckBox::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf("\tQCheckBox{\t\tfont-weight: %d;\t}", weight));
}

void SysCheckBox::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQCheckBox{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysCheckBox::setThemeColor(const QString &colour)
{
    appendStyle(this, indicator("QCheckBox", ".15em", colour));
}

void SysCheckBox::onChecked(const std::function<void(bool)> &callback)
{
    if (!callback)
        return;
    connect(this, &QCheckBox::stateChanged, this, [this, callback](int) { callback(isChecked()); });
}

SysRadioButton::SysRadioButton(QWidget *parent, const QString &text) : QRadioButton(text, parent)
{
    setStyleSheet(base("QRadioButton"));
    setFontSize(18);
    setThemeColor(QStringLiteral("#409eff"));
}

void SysRadioButton::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQRadioButton{\t\tfont-size: %dpx;\t}", px));
}

void SysRadioButton::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf("\tQRadioButton{\t\tfont-weight: %d;\t}", weight));
}

void SysRadioButton::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQRadioButton{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysRadioButton::setThemeColor(const QString &colour)
{
    appendStyle(this, indicator("QRadioButton", ".375em", colour));
}

#include "widgetkit/sys_check_box.h"

#include "widgetkit/sys_style.h"

using Internal::appendStyle;
using Internal::c8;

namespace {
QString base(const char *s)
{
    return QString::asprintf("\t\t%s {\t\t\tfont-family: '微软雅黑';\t\t\tcolor: #000;\t\t}"
                             "\t\t%s:disabled{\t\t\tcolor: #c0c0c0;\t\t}", s, s);
}
} // namespace

SysCheckBox::SysCheckBox(QWidget *parent, const QString &text) : QCheckBox(text, parent)
{
    setStyleSheet(base("QCheckBox"));
    setFontSize(18);
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

#include "widgetkit/sys_line_edit.h"

#include "widgetkit/sys_edit_style_p.h"

using Internal::appendStyle;
using Internal::c8;

SysLineEdit::SysLineEdit(QWidget *parent) : QLineEdit(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQLineEdit{\t\tbackground-color: #fff;\t\tborder: 1px solid transparent;\t\tborder-radius: .75em;"
        "\t\tpadding: .125em .5em;\t\tmin-width: 6.5em;\t\tlineedit-password-character: 9679;\t}"
        "\tQLineEdit:read-only{\t\tcolor: #A0A0A0;\t}"
        "\tQLineEdit:disabled{\t\tcolor: #c0c0c0;\t\tbackground-color: #fafafa;\t}"
        "\tQLineEdit QMenu{\t\tbackground-color: #fff;\t}"
        "\tQLineEdit QMenu::item:selected{\t\tcolor: #fff;\t}"));
    setThemeColor(QStringLiteral("#409eff"));
    setFontSize(18);
    setBorderRadius(0.625);
}

void SysLineEdit::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tfont-size: %dpx;\t}", px));
}

void SysLineEdit::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tfont-weight: %d;\t}", weight));
}

void SysLineEdit::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysLineEdit::setTextAlign(const QString &align)
{
    const char *flags = nullptr;
    if (align == QLatin1String("left"))
        flags = "AlignLeft | AlignVCenter";
    else if (align == QLatin1String("right"))
        flags = "AlignRight | AlignVCenter";
    else if (align == QLatin1String("center"))
        flags = "AlignCenter";
    if (flags)
        appendStyle(this, QString::asprintf("\tQLineEdit{\t\tqproperty-alignment: '%s';\t}", flags));
}

void SysLineEdit::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tborder-radius: %.2fem;\t}", em));
}

void SysLineEdit::setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight)
{
    appendStyle(this, Internal::cornerRadiiFragment(QStringLiteral("QLineEdit"), topLeft, topRight,
                                                    bottomLeft, bottomRight));
}

void SysLineEdit::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tborder-width: %dpx;\t}", px));
}

void SysLineEdit::setBorderWidth(int top, int right, int bottom, int left)
{
    appendStyle(this, Internal::fourWidthsFragment(QStringLiteral("QLineEdit"), top, right, bottom, left));
}

void SysLineEdit::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysLineEdit::setMinWidth(double em)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tmin-width: %.2fem;\t}", em));
}

void SysLineEdit::setMaxWidth(double em)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tmax-width: %.2fem;\t}", em));
}

void SysLineEdit::setWidthEm(double em)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\twidth: %.2fem;\t}", em));
}

void SysLineEdit::setFullWidth()
{
    appendStyle(this, QStringLiteral("\tQLineEdit{\t\twidth: 100%;\t}"));
}

void SysLineEdit::setThemeColor(const QString &colour)
{
    appendStyle(this, Internal::editThemeFragment(QStringLiteral("QLineEdit"), colour));
}

void SysLineEdit::setSelectionBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQLineEdit{\t\tselection-background-color: %s;\t}",
                                        c8(colour).constData()));
}

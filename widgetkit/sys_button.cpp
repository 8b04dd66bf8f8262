#include "widgetkit/sys_button.h"

#include "widgetkit/sys_edit_style_p.h"

using Internal::appendStyle;
using Internal::c8;

SysButton::SysButton(QWidget *parent, const QString &text) : QPushButton(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQPushButton{\t\tcolor: #fff;\t\tborder: 1px solid transparent;\t\tpadding: .25em 1em;\t}"
        "\tQPushButton:disabled{\t\tcolor: #fafafa;\t\tbackground-color: #c0c0c0;\t}"
        "\tQToolTip{\t\tcolor: #FFF;\t}"));
    setFontSize(18);
    setThemeColor(QStringLiteral("#409eff"));
    setBorderRadius(0.75);
    setText(text);
}

void SysButton::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tfont-size: %dpx;\t}", px));
}

void SysButton::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tfont-weight: %d;\t}", weight));
}

void SysButton::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysButton::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tborder-radius: %.2fem;\t}", em));
}

void SysButton::setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight)
{
    appendStyle(this, Internal::cornerRadiiFragment(QStringLiteral("QPushButton"), topLeft, topRight,
                                                    bottomLeft, bottomRight));
}

void SysButton::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tborder-width: %dpx;\t}", px));
}

void SysButton::setBorderWidth(int top, int right, int bottom, int left)
{
    appendStyle(this, Internal::fourWidthsFragment(QStringLiteral("QPushButton"), top, right, bottom, left));
}

void SysButton::setPadding(double em)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tpadding: %.2fem;\t}", em));
}

void SysButton::setPadding(double horizontalEm, double verticalEm)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tpadding: %.2fem %.2fem;\t}", verticalEm, horizontalEm));
}

void SysButton::setThemeColor(const QString &colour)
{
    appendStyle(this, QString::asprintf(
        "\tQPushButton{\t\tbackground-color: %s;\t\tborder-color: %s;\t}"
        "\tQPushButton:hover{\t\tbackground-color: %s;\t}"
        "\tQPushButton:pressed{\t\tbackground-color: %s;\t}"
        "\tQToolTip{\t\tbackground-color: %s;\t\tborder: 1px solid %s;\t}",
        c8(colour).constData(), c8(lightenColor(colour, 0.75)).constData(),
        c8(lightenColor(colour, 0.125)).constData(), c8(lightenColor(colour, 0.25)).constData(),
        c8(lightenColor(colour, 0.25)).constData(), c8(lightenColor(colour, 0.25)).constData()));
}

void SysButton::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setHoverBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:hover{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setPressedBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:pressed{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setDisabledBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:disabled{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysButton::setDisabledTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQPushButton:disabled{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysButton::setFlatLook()
{
    appendStyle(this, QStringLiteral(
        "QPushButton, QPushButton::hover, QPushButton::pressed{background: transparent;padding: 0px;border: none;}"));
}

#include "widgetkit/sys_number_edit.h"

#include "widgetkit/sys_style.h"

using Internal::appendStyle;
using Internal::c8;

SysNumberEdit::SysNumberEdit(QWidget *parent, int value) : QSpinBox(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQSpinBox{\t\tbackground-color: #fff;\t\tborder: 1px solid transparent;\t\tpadding: .125em .5em;"
        "\t\tpadding-right: 1.75em;\t}"
        "\tQSpinBox:read-only{\t\tcolor: lightgray;\t}"
        "\tQSpinBox:disabled{\t\tcolor: #c0c0c0;\t\tbackground-color: #fafafa;\t}"
        "\tQSpinBox::up-button, QSpinBox::down-button{\t\tsubcontrol-origin: border;\t\twidth: 1.5em;"
        "\t\tborder: none;\t\tbackground: transparent;\t}"
        "\tQSpinBox::up-button{\t\tsubcontrol-position: top right;\t}"
        "\tQSpinBox::down-button{\t\tsubcontrol-position: bottom right;\t}"
        "\tQSpinBox::up-arrow, QSpinBox::down-arrow{\t\twidth: 10px;\t\theight: 7px;\t\tborder: none;\t}"
        "\tQSpinBox QMenu{\t\tbackground-color: #fff;\t}"
        "\tQSpinBox QMenu::item:selected{\t\tcolor: #fff;\t}"));
    setThemeColor(QStringLiteral("#409eff"));
    setFontSize(18);
    setBorderRadius(0.625);
    setBorderWidth(1);
    setValue(value);
    connect(this, QOverload<int>::of(&QSpinBox::valueChanged), this, &SysNumberEdit::valueChangedPriv);
}

void SysNumberEdit::setMinWidth(double em)
{
    appendStyle(this, QString::asprintf("\tQSpinBox{\t\tmin-width: %.2fem;\t}", em));
}

void SysNumberEdit::setMaxWidth(double em)
{
    appendStyle(this, QString::asprintf("\tQSpinBox{\t\tmax-width: %.2fem;\t}", em));
}

void SysNumberEdit::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQSpinBox{\t\tborder-radius: %.2fem;\t}", em));
}

void SysNumberEdit::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQSpinBox{\t\tborder-width: %dpx;\t}", px));
}

void SysNumberEdit::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQSpinBox{\t\tfont-size: %dpx;\t}", px));
}

void SysNumberEdit::setThemeColor(const QString &colour)
{
    const QString fragment = QStringLiteral(
        "\tQSpinBox{\t\tcolor: #000;\t\tborder-color: %1;\t\tselection-background-color: %1;\t}"
        "\tQSpinBox:focus{\t\tborder-color: %1;\t}"
        "\tQSpinBox::up-arrow{\t\timage: url(%2);\t}"
        "\tQSpinBox::down-arrow{\t\timage: url(%3);\t}"
        "\tQSpinBox::up-arrow:hover{\t\timage: url(%4);\t}"
        "\tQSpinBox::down-arrow:hover{\t\timage: url(%5);\t}"
        "\tQSpinBox QMenu{\t\tborder: 1px solid %1;\t}"
        "\tQSpinBox QMenu::item:selected{\t\tbackground-color: %1;\t}")
        .arg(colour, Internal::arrowImage(colour, true), Internal::arrowImage(colour, false),
             Internal::arrowImage(darkenColor(colour, 0.25), true), Internal::arrowImage(darkenColor(colour, 0.25), false));
    appendStyle(this, fragment);
}

void SysNumberEdit::valueChangedPriv(int value)
{
    emit valueChangedPrivPriv(value);
}

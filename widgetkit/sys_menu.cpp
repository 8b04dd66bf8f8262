#include "widgetkit/sys_menu.h"

#include "widgetkit/sys_style.h"

using Internal::appendStyle;
using Internal::c8;

SysMenu::SysMenu(QWidget *parent) : QMenu(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQMenu{\t\tbackground-color: #fff;\t\tborder: none;\t\tpadding: 0px;\t}"
        "\tQMenu::item{\t\tcolor: #000;\t\tbackground-color: transparent;\t\tpadding: .25em .75em;\t}"
        "\tQMenu::item:selected{\t\tcolor: #fff;\t}"
        "\tQMenu::item:disabled{\t\tcolor: #c0c0c0;\t}"
        "\tQMenu::separator{\t\theight: 1px;\t\tbackground-color: #f0f0f0;\t}"));
    setThemeColor(QStringLiteral("#409eff"));
    setFontSize(18);
    setItemPadding(0.75, 0.25);
}

void SysMenu::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQMenu{\t\tfont-size: %dpx;\t}\tQMenu::item{\t\tfont-size: %dpx;\t}", px, px));
}

void SysMenu::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf(
        "\tQMenu{\t\tborder-radius: %.2fem;\t}"
        "\tQMenu::item:first{\t\tborder-top-left-radius: %.2fem;\t\tborder-top-right-radius: %.2fem;\t}"
        "\tQMenu::item:last{\t\tborder-bottom-left-radius: %.2fem;\t\tborder-bottom-right-radius: %.2fem;\t}",
        em, em, em, em, em));
}

void SysMenu::setItemPadding(double horizontalEm, double verticalEm)
{
    appendStyle(this, QString::asprintf("\tQMenu::item{\t\tpadding: %.2fem %.2fem;\t}", verticalEm, horizontalEm));
}

void SysMenu::setThemeColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    appendStyle(this, QString::asprintf(
        "\tQMenu{\t\tborder: 1px solid %s;\t}\tQMenu::item:selected{\t\tbackground-color: %s;\t}",
        c.constData(), c.constData()));
}

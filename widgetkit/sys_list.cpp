#include "widgetkit/sys_list.h"

#include "widgetkit/sys_style.h"

using Internal::appendStyle;
using Internal::c8;

SysList::SysList(QWidget *parent) : QListWidget(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQListWidget{\t\tbackground-color: #fff;\t\toutline: 0px;\t\tborder: 1px solid transparent;"
        "\t\tborder-radius: .25em;\t}"
        "\tQListWidget::item{\t\ttext-align: center;\t\tborder-bottom-width: 1px;\t}"));
    setFontSize(18);
    setItemColor(QStringLiteral("#000"));
    setSelectedColor(QStringLiteral("#fff"));
    setThemeColor(QStringLiteral("#409eff"));
    setScrollBarColor(QStringLiteral("#ddd"));
    setItemBottomBorderStyle(QStringLiteral("solid"));
    setItemBottomBorderColor(QStringLiteral("#f0f0f0"));
}

void SysList::setScrollBarColor(const QString &colour)
{
    appendStyle(this, Internal::scrollBarFragment(QStringLiteral("QListWidget"), colour));
}

void SysList::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQListWidget{\t\tfont-size: %dpx;\t}\tQListWidget::item{\t\tfont-size: %dpx;\t}", px, px));
}

void SysList::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf(
        "\tQListWidget{\t\tfont-weight: %d;\t}\tQListWidget::item{\t\tfont-weight: %d;\t}", weight, weight));
}

void SysList::setItemColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQListWidget::item{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysList::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQListWidget{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysList::setSelectedColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQListWidget::item:selected{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysList::setThemeColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    appendStyle(this, QString::asprintf(
        "\tQListWidget{\t\tborder-color: %s;\t}"
        "\tQListWidget::item:hover{\t\tbackground-color: %s;\t}"
        "\tQListWidget::item:selected{\t\tbackground-color: %s;\t}"
        "\tQListWidget::item:selected:!active{\t\tbackground-color: %s;\t}",
        c.constData(), c8(lightenColor(colour, 0.25)).constData(), c.constData(), c.constData()));
}

void SysList::setItemPadding(double horizontalEm, double verticalEm)
{
    appendStyle(this, QString::asprintf("\tQListWidget::item{\t\tpadding: %.2fem %.2fem;\t}", verticalEm, horizontalEm));
}

void SysList::setItemRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQListWidget::item{\t\tborder-radius: %.2fem;\t}", em));
}

void SysList::setItemBottomBorderStyle(const QString &style)
{
    appendStyle(this, QString::asprintf("\tQListWidget::item{\t\tborder-bottom-style: %s;\t}", c8(style).constData()));
}

void SysList::setItemBottomBorderColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQListWidget::item{\t\tborder-bottom-color: %s;\t}", c8(colour).constData()));
}

void SysList::setBorderless()
{
    appendStyle(this, QStringLiteral("\tQListWidget{\t\tborder: none;\t\tborder-radius: 0px;\t}"));
}

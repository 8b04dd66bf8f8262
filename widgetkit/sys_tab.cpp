#include "widgetkit/sys_tab.h"

#include "widgetkit/sys_style.h"

using Internal::appendStyle;
using Internal::c8;

SysTab::SysTab(QWidget *parent) : QTabWidget(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQTabWidget::pane{\t\tborder: 1px solid transparent;\t\tborder-radius: .75em;\t\tpadding: .75em;"
        "\t\tbackground-color: #fff;\t}"
        "\tQTabWidget::tab-bar{\t\tleft: 1em;\t}"
        "\tQTabBar::tab{\t\tcolor: #000;\t\tbackground-color: #fff;\t\tborder: 1px solid transparent;"
        "\t\tpadding: .25em 1em;\t}"
        "\tQTabBar::tab:selected{\t\tcolor: #fff;\t}"));
    setThemeColor(QStringLiteral("#409eff"));
    setBorderRadius(0.5);
    setFontSize(18);
}

void SysTab::setFontSize(int px)
{
    appendStyle(this, QString::asprintf(
        "\tQTabWidget{\t\tfont-size: %dpx;\t}\tQTabBar{\t\tfont-size: %dpx;\t}\tQTabBar::tab{\t\tfont-size: %dpx;\t}",
        px, px, px));
}

void SysTab::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf(
        "\tQTabWidget::pane{\t\tborder-radius: %.2fem;\t}\tQTabBar::tab{\t\tborder-radius: %.2fem;\t}", em, em));
}

void SysTab::setPaneBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQTabWidget::pane{\t\tborder-width: %dpx;\t}", px));
}

void SysTab::setPaneBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQTabWidget::pane{\t\tborder-radius: %.2fem;\t}", em));
}

void SysTab::setPaneBorderColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTabWidget::pane{\t\tborder-color: %s;\t}", c8(colour).constData()));
}

void SysTab::setPanePadding(double em)
{
    appendStyle(this, QString::asprintf("\tQTabWidget::pane{\t\tpadding: %.2fem;\t}", em));
}

void SysTab::setPaneBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTabWidget::pane{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysTab::setTabColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTabBar::tab{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysTab::setTabBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTabBar::tab{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysTab::setTabHoverColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTabBar::tab:hover{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysTab::setSelectedTabColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTabBar::tab:selected{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysTab::setThemeColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    const QByteArray light = c8(lightenColor(colour, 0.75));
    appendStyle(this, QString::asprintf(
        "\tQTabWidget::pane{\t\tborder-color: %s;\t}"
        "\tQTabBar::tab:hover{\t\tbackground-color: %s;\t}"
        "\tQTabBar::tab:selected{\t\tbackground-color: %s;\t\tborder-color: %s;\t}",
        light.constData(), light.constData(), c.constData(), c.constData()));
}

void SysTab::setTabCornerRadius(double em)
{
    const char *first = "top-left";
    const char *second = "top-right";
    switch (tabPosition()) {
    case QTabWidget::North: break;
    case QTabWidget::South: first = "bottom-left"; second = "bottom-right"; break;
    case QTabWidget::West: first = "top-left"; second = "bottom-left"; break;
    case QTabWidget::East: first = "top-right"; second = "bottom-right"; break;
    }
    appendStyle(this, QString::asprintf(
        "\tQTabBar::tab{\t\tborder-radius: 0px;\t\tborder-%s-radius: %.2fem;\t\tborder-%s-radius: %.2fem;\t}",
        first, em, second, em));
}

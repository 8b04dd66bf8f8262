#include "widgetkit/sys_group_box.h"

#include "widgetkit/sys_style.h"

using Internal::appendStyle;
using Internal::c8;

SysGroupBox::SysGroupBox(QWidget *parent, const QString &title)
    : QGroupBox(title.trimmed(), parent)
{
    setStyleSheet(QStringLiteral(
        "\tQGroupBox{\t\tborder: 1px solid;\t\tmargin-top: .5em;\t}"
        "\tQGroupBox::title{\t\tsubcontrol-origin: border;\t\tsubcontrol-position: top left;"
        "\t\ttop: -0.5em;\t\tleft: 1em;\t\tpadding: 0px .25em;\t\tcolor: #000;\t}"));
    setBorderColor(QStringLiteral("#409eff"));
    setFontSize(18);
    setTitleBackgroundColor(QStringLiteral("transparent"));
    setBorderRadius(0.5);
    if (this->title().isEmpty()) {
        appendStyle(this, QStringLiteral("\tQGroupBox{\t\tmargin-top: 0px;\t}"));
    } else {
        // The frame's top line runs through the title: the title covers it with the box's own
        // background, and the contents start below the title rather than against it.
        appendStyle(this, QStringLiteral("\tQGroupBox{\t\tpadding-top: .6em;\t}"
                                         "\tQGroupBox::title{\t\tbackground-color: palette(base);\t}"));
    }
}

void SysGroupBox::setFontSize(int px)
{
    appendStyle(this, QString::asprintf(
        "\tQGroupBox{\t\tfont-size: %dpx;\t}\tQGroupBox::title{\t\tfont-size: %dpx;\t}", px, px));
}

void SysGroupBox::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf(
        "\tQGroupBox{\t\tfont-weight: %d;\t}\tQGroupBox::title{\t\tfont-weight: %d;\t}", weight, weight));
}

void SysGroupBox::setTitleColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQGroupBox::title{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysGroupBox::setTitleBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQGroupBox::title{\t\tbackground-color: %s;\t}",
                                        c8(colour).constData()));
}

void SysGroupBox::setTitlePadding(double horizontalEm, double verticalEm)
{
    appendStyle(this, QString::asprintf("\tQGroupBox::title{\t\tpadding: %.2fem %.2fem;\t}",
                                        verticalEm, horizontalEm));
}

void SysGroupBox::setTitleRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQGroupBox::title{\t\tborder-radius: %.2fem;\t}", em));
}

void SysGroupBox::setTitleOffset(double em)
{
    appendStyle(this, QString::asprintf(
        "\tQGroupBox{\t\tmargin-top: %.2fem;\t}\tQGroupBox::title{\t\ttop: -%.2fem;\t}", em, em));
}

void SysGroupBox::setTitleFontWeight(int weight)
{
    appendStyle(this, QString::asprintf("\tQGroupBox::title{\t\tfont-weight: %d;\t}", weight));
}

void SysGroupBox::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQGroupBox{\t\tborder-radius: %.2fem;\t}", em));
}

void SysGroupBox::setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight)
{
    appendStyle(this, QString::asprintf(
        "\tQGroupBox{\t\tborder-top-left-radius: %.2fem;\t\tborder-top-right-radius: %.2fem;"
        "\t\tborder-bottom-left-radius: %.2fem;\t\tborder-bottom-right-radius: %.2fem;\t}",
        topLeft, topRight, bottomLeft, bottomRight));
}

void SysGroupBox::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQGroupBox{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysGroupBox::setBorderColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQGroupBox{\t\tborder-color: %s;\t}",
                                        c8(lightenColor(colour, 0.75)).constData()));
}

void SysGroupBox::setPadding(double em)
{
    appendStyle(this, QString::asprintf("\tQGroupBox{\t\tpadding: %.2fem;\t}", em));
}

void SysGroupBox::setPadding(double horizontalEm, double verticalEm)
{
    appendStyle(this, QString::asprintf("\tQGroupBox{\t\tpadding: %.2fem %.2fem;\t}", verticalEm, horizontalEm));
}

void SysGroupBox::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQGroupBox{\t\tborder-width: %dpx;\t}", px));
}

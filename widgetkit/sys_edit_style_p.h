// Fragments shared by the kit's text inputs (line edit, text edit, text browser).
#pragma once

#include "widgetkit/sys_style.h"

namespace Internal {
// Border, selection, focus border, context-menu border and selected menu item all = colour.
inline QString editThemeFragment(const QString &s, const QString &colour)
{
    return QStringLiteral("\t%1{\t\tborder-color: %2;\t\tselection-background-color: %2;\t}"
                          "\t%1:focus{\t\tborder-color: %2;\t}"
                          "\t%1 QMenu{\t\tborder: 1px solid %2;\t}"
                          "\t%1 QMenu::item:selected{\t\tbackground-color: %2;\t\tcolor: #fff;\t}")
        .arg(s, colour);
}
inline QString cornerRadiiFragment(const QString &s, double tl, double tr, double bl, double br)
{
    return QLatin1Char('\t') + s + QString::asprintf(
        "{\t\tborder-top-left-radius: %.2fem;\t\tborder-top-right-radius: %.2fem;"
        "\t\tborder-bottom-left-radius: %.2fem;\t\tborder-bottom-right-radius: %.2fem;\t}",
        tl, tr, bl, br);
}
inline QString fourWidthsFragment(const QString &s, int top, int right, int bottom, int left)
{
    return QLatin1Char('\t') + s
        + QString::asprintf("{\t\tborder-width: %dpx %dpx %dpx %dpx;\t}", top, right, bottom, left);
}
} // namespace Internal

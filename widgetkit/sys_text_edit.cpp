#include "widgetkit/sys_text_edit.h"

#include "widgetkit/sys_edit_style_p.h"

using Internal::appendStyle;
using Internal::c8;

namespace {

const QString kEdit = QStringLiteral("QTextEdit");
const QString kBrowser = QStringLiteral("QTextBrowser");

QString baseSheet(const QString &s, bool minSizes)
{
    return QStringLiteral(
               "\t%1{\t\tbackground-color: #fff;\t\tborder: 1px solid transparent;\t\tborder-radius: .75em;"
               "\t\tpadding: .25em .5em;%2\t}"
               "\t%1:read-only{\t\tcolor: lightgray;\t}"
               "\t%1:disabled{\t\tcolor: #c0c0c0;\t\tbackground-color: #fafafa;\t}"
               "\t%1 QMenu{\t\tbackground-color: #fff;\t}"
               "\t%1 QMenu::item:selected{\t\tcolor: #fff;\t}")
        .arg(s, minSizes ? QStringLiteral("\t\tmin-height: 3em;\t\tmin-width: 10.5em;") : QString());
}

QString one(const QString &s, const char *property, const QString &value)
{
    return Internal::rule(s, QString::fromLatin1(property) + QLatin1String(": ") + value + QLatin1Char(';'));
}

QString fontSize(const QString &s, int px) { return one(s, "font-size", QString::number(px) + QLatin1String("px")); }
QString radius(const QString &s, double em) { return one(s, "border-radius", QString::asprintf("%.2fem", em)); }
QString borderColour(const QString &s, const QString &c)
{
    return one(s, "border-color", c) + Internal::rule(s + QLatin1String(":focus"), QStringLiteral("border-color: %1;").arg(c));
}

} // namespace

SysTextEdit::SysTextEdit(QWidget *parent) : QTextEdit(parent)
{
    setStyleSheet(baseSheet(kEdit, true));
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere); // long words break anywhere
    setThemeColor(QStringLiteral("#409eff"));
    setScrollBarColor(QStringLiteral("#ddd"));
    setFontSize(18);
    setBorderRadius(0.75);
}

void SysTextEdit::setFontSize(int px) { appendStyle(this, fontSize(kEdit, px)); }
void SysTextEdit::setFontWeight(int weight) { appendStyle(this, one(kEdit, "font-weight", QString::number(weight))); }
void SysTextEdit::setTextColor(const QString &colour) { appendStyle(this, one(kEdit, "color", colour)); }
void SysTextEdit::setDisabledTextColor(const QString &colour)
{
    appendStyle(this, one(kEdit + QLatin1String(":disabled"), "color", colour));
}
void SysTextEdit::setBorderRadius(double em) { appendStyle(this, radius(kEdit, em)); }
void SysTextEdit::setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight)
{
    appendStyle(this, Internal::cornerRadiiFragment(kEdit, topLeft, topRight, bottomLeft, bottomRight));
}
void SysTextEdit::setBorderWidth(int px) { appendStyle(this, one(kEdit, "border-width", QString::number(px) + QLatin1String("px"))); }
void SysTextEdit::setBorderWidth(int top, int right, int bottom, int left)
{
    appendStyle(this, Internal::fourWidthsFragment(kEdit, top, right, bottom, left));
}
void SysTextEdit::setBorderColor(const QString &colour) { appendStyle(this, borderColour(kEdit, colour)); }
void SysTextEdit::setMaxWidth(int em) { appendStyle(this, one(kEdit, "max-width", QString::number(em) + QLatin1String("em"))); }
void SysTextEdit::setThemeColor(const QString &colour) { appendStyle(this, Internal::editThemeFragment(kEdit, colour)); }
void SysTextEdit::setSelectionBackgroundColor(const QString &colour)
{
    appendStyle(this, one(kEdit, "selection-background-color", colour));
}
void SysTextEdit::setBackgroundColor(const QString &colour) { appendStyle(this, one(kEdit, "background-color", colour)); }
void SysTextEdit::setDisabledBackgroundColor(const QString &colour)
{
    appendStyle(this, one(kEdit + QLatin1String(":disabled"), "background-color", colour));
}
void SysTextEdit::setScrollBarColor(const QString &colour) { appendStyle(this, Internal::scrollBarFragment(kEdit, colour)); }

SysTextBrowser::SysTextBrowser(QWidget *parent) : QTextBrowser(parent)
{
    setStyleSheet(baseSheet(kBrowser, false));
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setThemeColor(QStringLiteral("#409eff"));
    setScrollBarColor(QStringLiteral("#ddd"));
    setFontSize(18);
    setBorderRadius(0.75);
}

void SysTextBrowser::setFontSize(int px) { appendStyle(this, fontSize(kBrowser, px)); }
void SysTextBrowser::setTextColor(const QString &colour) { appendStyle(this, one(kBrowser, "color", colour)); }
void SysTextBrowser::setBorderRadius(double em) { appendStyle(this, radius(kBrowser, em)); }
void SysTextBrowser::setBorderColor(const QString &colour) { appendStyle(this, borderColour(kBrowser, colour)); }
void SysTextBrowser::setThemeColor(const QString &colour) { appendStyle(this, Internal::editThemeFragment(kBrowser, colour)); }
void SysTextBrowser::setBackgroundColor(const QString &colour) { appendStyle(this, one(kBrowser, "background-color", colour)); }
void SysTextBrowser::setScrollBarColor(const QString &colour)
{
    appendStyle(this, Internal::scrollBarFragment(kBrowser, colour));
}

#include "widgetkit/sys_progress_bar.h"

#include "widgetkit/sys_style.h"

using Internal::appendStyle;
using Internal::c8;

SysProgressBar::SysProgressBar(QWidget *parent) : QProgressBar(parent)
{
    setStyleSheet(QStringLiteral("\tQProgressBar{\t\tcolor: #fff;\t\ttext-align: center;"
                                 "\t\tbackground-color: #FFFFFF;\t\tmin-width: 4em;\t}"));
    setBorderRadius(0.625);
    setFontSize(18);
    setTextColor(QStringLiteral("#fff"));
    setThemeColor(QStringLiteral("#409eff"));
}

void SysProgressBar::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf(
        "\tQProgressBar{\t\tborder-radius: %fem;\t}\tQProgressBar::chunk{\t\tborder-radius: %fem;\t}", em, em));
}

void SysProgressBar::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQProgressBar{\t\tborder-width: %dpx;\t}", px));
}

void SysProgressBar::setBorderColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQProgressBar{\t\tborder-color: %s;\t}", c8(colour).constData()));
}

void SysProgressBar::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQProgressBar{\t\tfont-size: %dpx;\t}", px));
}

void SysProgressBar::setTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQProgressBar{\t\tcolor: %s;\t}", c8(colour).constData()));
}

void SysProgressBar::setNoBorder()
{
    appendStyle(this, QStringLiteral("\tQProgressBar{\t\tborder: none;\t}"));
}

void SysProgressBar::setGradient(const QStringList &colours)
{
    const int n = colours.size();
    if (n == 0)
        return;
    QStringList stops;
    for (int i = 0; i < n; ++i)
        stops << QString::asprintf("stop: %.2f %s", static_cast<double>(i) / n, c8(colours[i]).constData());
    appendStyle(this, QStringLiteral("QProgressBar::chunk{background:qlineargradient(spread:pad,x1:0,y1:0,x2:1,y2:0,")
                          + stops.join(QLatin1Char(',')) + QStringLiteral(");}"));
}

void SysProgressBar::setThemeColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    appendStyle(this, QString::asprintf(
        "\tQProgressBar{\t\tborder: 1px solid %s;\t}\tQProgressBar::chunk{\t\tbackground-color: %s;\t}",
        c.constData(), c.constData()));
}

void SysProgressBar::setHeight(int px)
{
    appendStyle(this, QString::asprintf("\tQProgressBar{\t\tmin-height: %dpx;\t\tmax-height: %dpx;\t}", px, px));
}

void SysProgressBar::setTextFormat(const QString &text, int mode)
{
    QString format = text;
    if (mode == 0)
        format.replace(QLatin1String("{}"), QLatin1String("%p%"));
    else if (mode == 1)
        format.replace(QLatin1String("{}"), QLatin1String("%v/%m"));
    else
        return;
    setFormat(format);
}

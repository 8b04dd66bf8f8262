// Progress bar with theme, gradient and format operations.
#pragma once

#include <QProgressBar>
#include <QStringList>

class SysProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit SysProgressBar(QWidget *parent = nullptr);

    // Bar and chunk radius.
    void setBorderRadius(double em);
    void setBorderWidth(int px);
    void setBorderColor(const QString &colour);
    void setFontSize(int px);
    void setTextColor(const QString &colour);
    void setNoBorder();
    // Horizontal gradient over the chunk; stop i of n sits at i / n. No-op for no colours.
    void setGradient(const QStringList &colours);
    // Bar border and chunk = colour.
    void setThemeColor(const QString &colour);
    void setHeight(int px);
    // `text` holds the placeholder "{}": mode 0 shows the percentage ("%p%"), mode 1 value and
    // maximum ("%v/%m"). Other modes leave the format unchanged.
    void setTextFormat(const QString &text, int mode);
};

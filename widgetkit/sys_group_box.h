// Titled frame with a rounded border in the theme's light shade.
#pragma once

#include <QGroupBox>

class SysGroupBox : public QGroupBox
{
    Q_OBJECT
public:
    // The title is trimmed; an empty title drops the room kept above the frame.
    explicit SysGroupBox(QWidget *parent = nullptr, const QString &title = QString());

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setTitleColor(const QString &colour);
    void setTitleBackgroundColor(const QString &colour);
    void setTitlePadding(double horizontalEm, double verticalEm);
    void setTitleRadius(double em);
    // Room above the frame and how far the title sits above it.
    void setTitleOffset(double em);
    void setTitleFontWeight(int weight);
    void setBorderRadius(double em);
    void setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight);
    void setBackgroundColor(const QString &colour);
    // Writes lightenColor(colour, 0.75), the frame's soft shade of the theme colour.
    void setBorderColor(const QString &colour);
    void setPadding(double em);
    void setPadding(double horizontalEm, double verticalEm);
    void setBorderWidth(int px);
};

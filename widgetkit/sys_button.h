// Filled push button in the theme colour. Enter and Return press it when it has the focus,
// and the focus shows as a ring in a dark shade of its theme colour.
#pragma once

#include <QPushButton>

class SysButton : public QPushButton
{
    Q_OBJECT
public:
    explicit SysButton(QWidget *parent = nullptr, const QString &text = QString());

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setTextColor(const QString &colour);
    void setBorderRadius(double em);
    void setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight);
    void setBorderWidth(int px);
    void setBorderWidth(int top, int right, int bottom, int left);
    void setPadding(double em);
    void setPadding(double horizontalEm, double verticalEm);
    // Background = colour, border = lighten 0.75, hover = lighten 0.125, pressed and tool tip
    // = lighten 0.25.
    void setThemeColor(const QString &colour);
    void setBackgroundColor(const QString &colour);
    void setHoverBackgroundColor(const QString &colour);
    void setPressedBackgroundColor(const QString &colour);
    void setDisabledBackgroundColor(const QString &colour);
    void setDisabledTextColor(const QString &colour);
    // No background, padding or border in any state (icon buttons).
    void setFlatLook();

    // The colour of the focus ring: darken 0.35 of the last theme colour.
    QString focusRingColor() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_theme;
    double m_radiiEm[4] = {0, 0, 0, 0};   // top-left, top-right, bottom-left, bottom-right
    int m_fontPx = 18;
};

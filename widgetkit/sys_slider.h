// Horizontal slider that shows its value in a small label while it is dragged.
#pragma once

#include <QSlider>

class QLabel;

class SysSlider : public QSlider
{
    Q_OBJECT
public:
    explicit SysSlider(QWidget *parent = nullptr);

    void setThemeColor(const QString &colour);
    void setValueFontSize(int px);
    // The value bubble (child of the slider, hidden unless the handle is held).
    QLabel *valueLabel() const { return m_valueLabel; }

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void placeValueLabel();

    QLabel *m_valueLabel; // owned by this slider
};

// Label with a clicked() signal.
#pragma once

#include <QLabel>

class SysLabel : public QLabel
{
    Q_OBJECT
public:
    explicit SysLabel(QWidget *parent = nullptr, const QString &text = QString());

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setBorderRadius(double em);
    void setTextColor(const QString &colour);
    void setBackgroundColor(const QString &colour);
    // No background and no border.
    void setTransparent();

signals:
    void clicked();

protected:
    // Any press emits clicked() and stops there.
    void mousePressEvent(QMouseEvent *event) override;
};

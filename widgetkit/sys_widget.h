// Plain themed container.
#pragma once

#include <QWidget>

class SysWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SysWidget(QWidget *parent = nullptr);

    void setFontSize(int px);
    void setBackgroundColor(const QString &colour);
    // Minimum size = desktop width x ratio by desktop height x ratio.
    void setMinimumSizeRatio(double ratio);
};

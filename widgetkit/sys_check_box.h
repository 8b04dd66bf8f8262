// Check box with a callback hook, and the matching radio button.
#pragma once

#include <QCheckBox>
#include <QRadioButton>

#include <functional>

class SysCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit SysCheckBox(QWidget *parent = nullptr, const QString &text = QString());

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setTextColor(const QString &colour);
    // Indicator border on hover and fill when checked.
    void setThemeColor(const QString &colour);
    // Every later state change calls callback(isChecked()).
    void onChecked(const std::function<void(bool)> &callback);

protected:
    // The sheet fills a checked indicator; the tick on it is drawn here.
    void paintEvent(QPaintEvent *event) override;
};

class SysRadioButton : public QRadioButton
{
    Q_OBJECT
public:
    explicit SysRadioButton(QWidget *parent = nullptr, const QString &text = QString());

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setTextColor(const QString &colour);
    // Indicator border on hover and dot when checked.
    void setThemeColor(const QString &colour);
};

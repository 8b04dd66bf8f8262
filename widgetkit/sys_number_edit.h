// Integer input with the kit's look; relays its value changes as valueChangedPrivPriv.
#pragma once

#include <QSpinBox>

class SysNumberEdit : public QSpinBox
{
    Q_OBJECT
public:
    explicit SysNumberEdit(QWidget *parent = nullptr, int value = 0);

    void setMinWidth(double em);
    void setMaxWidth(double em);
    void setBorderRadius(double em);
    void setBorderWidth(int px);
    void setFontSize(int px);
    void setThemeColor(const QString &colour);

signals:
    void valueChangedPrivPriv(int value);

private slots:
    void valueChangedPriv(int value);
};

// List with centred, separated rows.
#pragma once

#include <QListWidget>

class SysList : public QListWidget
{
    Q_OBJECT
public:
    explicit SysList(QWidget *parent = nullptr);

    void setScrollBarColor(const QString &colour);
    void setFontSize(int px);
    void setFontWeight(int weight);
    void setItemColor(const QString &colour);
    void setBackgroundColor(const QString &colour);
    // Text colour of the selected item.
    void setSelectedColor(const QString &colour);
    // Hover = lighten 0.25; selected item (active or not) and list border = colour.
    void setThemeColor(const QString &colour);
    void setItemPadding(double horizontalEm, double verticalEm);
    void setItemRadius(double em);
    void setItemBottomBorderStyle(const QString &style);
    void setItemBottomBorderColor(const QString &colour);
    void setBorderless();
};

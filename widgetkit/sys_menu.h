// Pop-up menu.
#pragma once

#include <QMenu>

class SysMenu : public QMenu
{
    Q_OBJECT
public:
    explicit SysMenu(QWidget *parent = nullptr);

    // Menu and items.
    void setFontSize(int px);
    // Menu and the outer corners of its first and last item.
    void setBorderRadius(double em);
    void setItemPadding(double horizontalEm, double verticalEm);
    // Border and selected item background.
    void setThemeColor(const QString &colour);
};

// Tab widget.
#pragma once

#include <QTabWidget>

class SysTab : public QTabWidget
{
    Q_OBJECT
public:
    explicit SysTab(QWidget *parent = nullptr);

    // Widget, tab bar and tabs.
    void setFontSize(int px);
    // Pane and tab radius.
    void setBorderRadius(double em);
    void setPaneBorderWidth(int px);
    void setPaneBorderRadius(double em);
    void setPaneBorderColor(const QString &colour);
    void setPanePadding(double em);
    void setPaneBackgroundColor(const QString &colour);
    void setTabColor(const QString &colour);
    void setTabBackgroundColor(const QString &colour);
    void setTabHoverColor(const QString &colour);
    void setSelectedTabColor(const QString &colour);
    // Pane border and hover = lighten 0.75; selected tab = colour.
    void setThemeColor(const QString &colour);
    // Rounds the two corners of each tab that face away from the pane.
    void setTabCornerRadius(double em);
};

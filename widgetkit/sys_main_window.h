// Themed main window; base of the host's main window and of every plug-in window.
#pragma once

#include <QMainWindow>

class SysMainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit SysMainWindow(QWidget *parent = nullptr);

    void setFontSize(int px);
    void setBackgroundColor(const QString &colour);
    void setPadding(double em);
    void setPadding(double horizontalEm, double verticalEm);
    // Border width of the status bar's items.
    void setStatusItemBorder(int px);
    // Resizes to ratio x the reference's size, or ratio x the screen's available size.
    void resizeRatio(double ratio, const QWidget *reference = nullptr);

    // printf-style message boxes titled with this window's title, button "确定".
    void showError(const char *format, ...) __attribute__((format(printf, 2, 3)));
    void showInfo(const char *format, ...) __attribute__((format(printf, 2, 3)));
};

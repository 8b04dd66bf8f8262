// Themed dialog; base of every host dialog.
#pragma once

#include <QDialog>

class SysDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SysDialog(QWidget *parent = nullptr);

    void setFontSize(int px);
    void setBackgroundColor(const QString &colour);
    void setPadding(double em);
    void setPadding(double horizontalEm, double verticalEm);
    // Resizes to ratio x the reference's size, or ratio x the screen's available size.
    void resizeRatio(double ratio, const QWidget *reference = nullptr);
};

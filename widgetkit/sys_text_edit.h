// Multi-line input and read-only rich text view.
#pragma once

#include <QTextBrowser>
#include <QTextEdit>

class SysTextEdit : public QTextEdit
{
    Q_OBJECT
public:
    explicit SysTextEdit(QWidget *parent = nullptr);

    void setFontSize(int px);
    void setFontWeight(int weight);
    void setTextColor(const QString &colour);
    void setDisabledTextColor(const QString &colour);
    void setBorderRadius(double em);
    void setCornerRadii(double topLeft, double topRight, double bottomLeft, double bottomRight);
    void setBorderWidth(int px);
    void setBorderWidth(int top, int right, int bottom, int left);
    // Border and focus border.
    void setBorderColor(const QString &colour);
    void setMaxWidth(int em);
    void setThemeColor(const QString &colour);
    void setSelectionBackgroundColor(const QString &colour);
    void setBackgroundColor(const QString &colour);
    void setDisabledBackgroundColor(const QString &colour);
    void setScrollBarColor(const QString &colour);
};

class SysTextBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit SysTextBrowser(QWidget *parent = nullptr);

    void setFontSize(int px);
    void setTextColor(const QString &colour);
    void setBorderRadius(double em);
    // Border and focus border.
    void setBorderColor(const QString &colour);
    void setThemeColor(const QString &colour);
    void setBackgroundColor(const QString &colour);
    void setScrollBarColor(const QString &colour);
};

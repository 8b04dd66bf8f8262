// Themed splitter.
#pragma once

#include <QSplitter>

class SysSplitter : public QSplitter
{
    Q_OBJECT
public:
    explicit SysSplitter(QWidget *parent = nullptr);

    void setBackgroundColor(const QString &colour);
    void setPadding(double em);
    void setHandleWidth(int px);
    void setBorderRadius(double em);
    // true = children side by side, false = stacked.
    void setHorizontal(bool horizontal);
    // Detaches and deletes every child widget.
    void clearWidgets();

    // The splitter's base sheet, shared with the file selector.
    static QString baseStyle();
};

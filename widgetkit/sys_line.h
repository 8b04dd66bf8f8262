// 1 px separator line, horizontal or vertical.
#pragma once

#include <QFrame>

class SysLine : public QFrame
{
    Q_OBJECT
public:
    explicit SysLine(QWidget *parent = nullptr, bool horizontal = true);

    // Replaces the whole style sheet with a 1 px solid line of that colour.
    void setLineColor(const QString &colour);

private:
    bool m_horizontal;
};

// Two-column name/value list without header that can grow with its rows.
#pragma once

#include "widgetkit/sys_table.h"

class SysAttrList : public SysTable
{
    Q_OBJECT
public:
    explicit SysAttrList(QWidget *parent = nullptr);

    // Each call appends one row: text names go right-aligned into column 0, text values into
    // column 1, widgets become cell widgets.
    void addRow(const QString &name, const QString &value);
    void addRow(const QString &name, QWidget *value);
    void addRow(QWidget *name, QWidget *value);

    // With auto-grow, every added row adds its height to the widget's fixed height.
    void setAutoGrow(bool on) { m_autoGrow = on; }
    bool autoGrow() const { return m_autoGrow; }

private:
    int appendRow();
    void grow(int row);

    bool m_autoGrow = true;
};

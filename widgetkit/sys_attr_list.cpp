#include "widgetkit/sys_attr_list.h"

#include <QHeaderView>

SysAttrList::SysAttrList(QWidget *parent) : SysTable(parent)
{
    horizontalHeader()->hide();
    setColumnCount(2);
    setEditable(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setColumnAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    m_autoGrow = true;
    // Start from the frame alone, so that the rows added later make up the whole height.
    setFixedHeight(2 * frameWidth());
}

int SysAttrList::appendRow()
{
    const int row = rowCount();
    ensureRow(row);
    return row;
}

void SysAttrList::grow(int row)
{
    if (m_autoGrow)
        setFixedHeight(height() + rowHeight(row));
}

void SysAttrList::addRow(const QString &name, const QString &value)
{
    const int row = appendRow();
    setCellText(row, 0, name);
    setCellText(row, 1, value);
    grow(row);
}

void SysAttrList::addRow(const QString &name, QWidget *value)
{
    const int row = appendRow();
    setCellText(row, 0, name);
    setCellWidget(row, 1, value);
    grow(row);
}

void SysAttrList::addRow(QWidget *name, QWidget *value)
{
    const int row = appendRow();
    setCellWidget(row, 0, name);
    setCellWidget(row, 1, value);
    grow(row);
}

#include "widgetkit/sys_form_layout.h"

#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_table.h"

SysFormLayout::SysFormLayout(QWidget *parent) : QFormLayout(parent)
{
    setLabelAlignment(Qt::AlignRight);
}

void SysFormLayout::addRow(const QString &label, QWidget *widget)
{
    auto *text = new SysLabel(parentWidget(), label);
    text->setTextColor(m_labelColor);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFormLayout::addRow(text, widget);
}

SysLineEdit *SysFormLayout::addLineEdit(const QString &label, int maxLength, const QString &text)
{
    auto *edit = new SysLineEdit(parentWidget());
    edit->setMaxLength(maxLength);
    edit->setText(text);
    addRow(label, edit);
    return edit;
}

SysComboBox *SysFormLayout::addComboBox(const QString &label, const QStringList &items)
{
    auto *box = new SysComboBox(parentWidget(), items);
    addRow(label, box);
    return box;
}

SysTable *SysFormLayout::addTable(const QString &label, const QStringList &headers)
{
    auto *table = new SysTable(parentWidget(), headers);
    addRow(label, table);
    return table;
}

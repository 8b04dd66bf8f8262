// The attribute rows of one setting node, with an editor per row. Every edit rebuilds the
// record from the rows and emits it; filling the rows from a record emits nothing.
#pragma once

#include "host/settings/setting_data.h"

#include "widgetkit/sys_attr_list.h"

#include <functional>

class QLineEdit;
class SysComboBox;
class SysLineEdit;
class SysTextEdit;

class TestNodeAttrList : public SysAttrList
{
    Q_OBJECT
public:
    using TextFn = std::function<QString(const QString &key)>;

    enum Row {
        NodeTypeRow = 0,
        NameRow,
        ParamNameRow,
        ParamTypeRow,
        ValueRow,
        BoolValueRow,
        UpLimitRow,
        DownLimitRow,
        DescRow,
        RowCount
    };

    // `text` looks up the host's texts; names and descriptions are shown and edited in the
    // language `langCode` ("zh" if empty).
    explicit TestNodeAttrList(TextFn text, const QString &langCode = QString(), QWidget *parent = nullptr);

    // Fills the rows from `record`. The type, value and limit rows are shown for items, and for
    // folders when `settingKind` is 1. The root's rows are shown but cannot be edited.
    void showRecord(const TEST_NODE_DATA &record, int settingKind);
    // Shows the rows of a data type and sets their validators and number formats.
    void showTypeRows(int type);

    const TEST_NODE_DATA &record() const { return m_record; }
    QWidget *editor(Row row) const { return m_editors[row]; }
    SysComboBox *nodeTypeBox() const { return m_nodeType; }
    SysComboBox *typeBox() const { return m_type; }
    SysComboBox *boolBox() const { return m_bool; }
    SysLineEdit *nameEdit() const { return m_name; }
    SysLineEdit *paramNameEdit() const { return m_paramName; }
    SysLineEdit *valueEdit() const { return m_value; }
    SysLineEdit *upEdit() const { return m_up; }
    SysLineEdit *downEdit() const { return m_down; }
    // The description: several lines, wrapped, so that a long text reads from its start.
    SysTextEdit *descEdit() const { return m_desc; }

signals:
    void nodeDataChanged(const TEST_NODE_DATA &record);

private:
    SysComboBox *makeCombo(const QStringList &items);
    SysLineEdit *makeEdit();
    // The fixed height of the rows shown, so that hidden rows leave no gap.
    void fitHeight();
    // The label column as wide as the widest label, hidden rows included, so that no label
    // is cut in any language and the column does not change from node to node.
    void fitLabelColumn();
    // The description row tall enough for a few wrapped lines.
    void fitDescRow();
    // The value validator from the current limit texts, for number and float.
    void rebuildValueValidator();
    void setValidator(QLineEdit *edit, QValidator *validator);
    void onTypeChanged();
    void onEdited(QLineEdit *edit);
    void rebuildAndEmit();

    TextFn m_text;
    QString m_langCode;
    TEST_NODE_DATA m_record;
    bool m_typeRowsShown = false;
    QWidget *m_editors[RowCount] = {};
    SysComboBox *m_nodeType, *m_type, *m_bool;
    SysLineEdit *m_name, *m_paramName, *m_value, *m_up, *m_down;
    SysTextEdit *m_desc;
};

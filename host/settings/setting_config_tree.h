// The tree of one setting file as the setting editor shows it. Every item carries its
// TEST_NODE_DATA as item data (user role, column 0); the single top-level item is the root.
#pragma once

#include "host/settings/setting_file.h"

#include "widgetkit/sys_tree.h"

#include <functional>

class SettingConfigTree : public SysTree
{
    Q_OBJECT
public:
    using TextFn = std::function<QString(const QString &key)>;

    // `text` looks up the host's texts; `langCode` picks the shown entry of names ("zh" if empty).
    explicit SettingConfigTree(TextFn text, const QString &langCode = QString(),
                               QWidget *parent = nullptr);

    // Replaces the items below the root with the file's nodes and expands the root. On failure
    // the tree is left as it was.
    bool loadFile(const QString &path);
    // Writes the items below the root; reports a failure in a critical box and returns false.
    bool saveFile(const QString &path);

    // The items below the root as a plain tree; false when an item carries no record.
    bool toSettingTree(SettingTree &tree) const;
    // Replaces the items below the root.
    void fromSettingTree(const SettingTree &tree);

    QTreeWidgetItem *rootItem() const { return m_root; }
    int settingKind() const { return m_kind; }
    void setSettingKind(int kind) { m_kind = kind; }
    const QString &langCode() const { return m_langCode; }

    // Creates an item for a record (icon and text by node type) below `parent`.
    QTreeWidgetItem *addNodeItem(QTreeWidgetItem *parent, const TEST_NODE_DATA &data);

    static TEST_NODE_DATA itemData(const QTreeWidgetItem *item, bool *ok = nullptr);
    static void setItemData(QTreeWidgetItem *item, const TEST_NODE_DATA &data);

    // Clipboard of the editor: 0 copied, 1 cut, 2 nothing to paste.
    int clipboardState = 2;
    QTreeWidgetItem *clipboardSource = nullptr; // not owned

private:
    void addNodes(QTreeWidgetItem *parent, const std::vector<SettingNode> &nodes);
    bool collect(const QTreeWidgetItem *parent, std::vector<SettingNode> &out) const;

    TextFn m_text;
    QString m_langCode;
    int m_kind = KindNormal;
    QTreeWidgetItem *m_root = nullptr; // owned by the tree
};

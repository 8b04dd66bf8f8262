// The tree of one setting file as the setting editor shows it. Every item carries its
// TEST_NODE_DATA as item data (user role, column 0); the single top-level item is the root.
#pragma once

#include "host/settings/setting_file.h"

#include "widgetkit/sys_tree.h"

#include <functional>

class QKeyEvent;
class SysMenu;

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
    static int nodeType(const QTreeWidgetItem *item) { return itemData(item).nodeType; }

    // Editing. Each acts on the given item; none of them changes the tree when refused.
    enum ClipboardState { Copied = 0, Cut = 1, Empty = 2 };
    // A new folder (NodeFolder) or item (NodeItem): as last child of `at` when `sub`, else right
    // after `at` among its siblings (nothing then when `at` has no parent). Becomes current.
    QTreeWidgetItem *addNode(QTreeWidgetItem *at, int type, bool sub);
    // Removes the item and everything below it; the root stays.
    void removeNode(QTreeWidgetItem *item);
    // Puts the item on the clipboard (not the root, which cannot be copied or moved).
    void copyNode(QTreeWidgetItem *item);
    void cutNode(QTreeWidgetItem *item);
    void clearClipboard();
    int clipboardState() const { return m_clipState; }
    QTreeWidgetItem *clipboardSource() const { return m_clipSource; }
    // Pastes the clipboard onto `target` by the placement rule; the clipboard stays.
    // Returns the placed item, or null when nothing was pasted.
    QTreeWidgetItem *pasteOnto(QTreeWidgetItem *target);
    // Moves `node` to `target` by the placement rule. Refused (false, nothing changes) when
    // `target` is `node` or lies below it, or `node` is the root.
    bool moveNode(QTreeWidgetItem *node, QTreeWidgetItem *target);
    // Expands the item and every item below it / collapses it leaving those below expanded.
    void expandAllBelow(QTreeWidgetItem *item);
    void collapseAllBelow(QTreeWidgetItem *item);
    // Asks whether to switch the setting kind and switches it on "是".
    void askSettingKind();

    // The context menu of an item (deleted when closed), not yet shown.
    SysMenu *createContextMenu(QTreeWidgetItem *item);
    // The editor's keys: Copy, Cut, Paste and Delete sequences, Escape.
    void handleKey(QKeyEvent *event);
    // The drag policy: anything but the root may be dragged, every item accepts the hover,
    // a drop moves the dragged item by the placement rule.
    bool dragRule(QTreeWidgetItem *item, SYS_DRAG_STATE state);

signals:
    void settingKindChanged(int kind);

protected:
    // Passes Escape on to the window after the clipboard is emptied.
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Inserts `node` (not in the tree) relative to `target`, then selects only it.
    void place(QTreeWidgetItem *node, QTreeWidgetItem *target);
    QString text(const char *key) const;

    void addNodes(QTreeWidgetItem *parent, const std::vector<SettingNode> &nodes);
    bool collect(const QTreeWidgetItem *parent, std::vector<SettingNode> &out) const;

    TextFn m_text;
    QString m_langCode;
    int m_kind = KindNormal;
    QTreeWidgetItem *m_root = nullptr; // owned by the tree
    int m_clipState = Empty;
    QTreeWidgetItem *m_clipSource = nullptr; // not owned; cleared before it can be deleted
};

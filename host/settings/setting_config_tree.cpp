#include "host/settings/setting_config_tree.h"

#include "common/dialogs.h"
#include "widgetkit/sys_menu.h"

#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>

namespace {
const char *const kRootIcon = "./images/script/nodeEdit.png";
const char *const kFolderIcon = "./images/script/folder.png";
const char *const kItemIcon = "./images/script/case.png";
} // namespace

SettingConfigTree::SettingConfigTree(TextFn text, const QString &langCode, QWidget *parent)
    : SysTree(parent), m_text(std::move(text)), m_langCode(langCode)
{
    registerTestNodeDataType();
    setDragCallback([this](QTreeWidgetItem *item, SYS_DRAG_STATE state) { return dragRule(item, state); });
    setHeaderHidden(true);
    setColumnCount(1);
    m_root = new QTreeWidgetItem(this);
    m_root->setIcon(0, QIcon(QString::fromLatin1(kRootIcon)));
    m_root->setText(0, m_text ? m_text(QStringLiteral("setting/settingList")) : QString());
    TEST_NODE_DATA rootData;
    rootData.nodeType = NodeRoot;
    setItemData(m_root, rootData);
}

TEST_NODE_DATA SettingConfigTree::itemData(const QTreeWidgetItem *item, bool *ok)
{
    const QVariant v = item->data(0, Qt::UserRole);
    const bool valid = v.canConvert<TEST_NODE_DATA>();
    if (ok)
        *ok = valid;
    return valid ? v.value<TEST_NODE_DATA>() : TEST_NODE_DATA();
}

void SettingConfigTree::setItemData(QTreeWidgetItem *item, const TEST_NODE_DATA &data)
{
    item->setData(0, Qt::UserRole, QVariant::fromValue(data));
}

QTreeWidgetItem *SettingConfigTree::addNodeItem(QTreeWidgetItem *parent, const TEST_NODE_DATA &data)
{
    auto *item = new QTreeWidgetItem(parent);
    item->setIcon(0, QIcon(QString::fromLatin1(data.nodeType == NodeFolder ? kFolderIcon : kItemIcon)));
    item->setText(0, data.name.display(m_langCode));
    setItemData(item, data);
    return item;
}

void SettingConfigTree::addNodes(QTreeWidgetItem *parent, const std::vector<SettingNode> &nodes)
{
    for (const SettingNode &node : nodes) {
        QTreeWidgetItem *item = addNodeItem(parent, node.data);
        if (node.data.nodeType == NodeFolder)
            addNodes(item, node.children);
    }
}

void SettingConfigTree::fromSettingTree(const SettingTree &tree)
{
    clearClipboard();
    qDeleteAll(m_root->takeChildren());
    m_kind = tree.kind;
    addNodes(m_root, tree.nodes);
}

bool SettingConfigTree::loadFile(const QString &path)
{
    SettingTree tree;
    if (!loadSettingFile(path, tree))
        return false;
    fromSettingTree(tree);
    m_root->setExpanded(true);
    return true;
}

bool SettingConfigTree::collect(const QTreeWidgetItem *parent, std::vector<SettingNode> &out) const
{
    for (int i = 0; i < parent->childCount(); ++i) {
        const QTreeWidgetItem *child = parent->child(i);
        bool ok = false;
        SettingNode node;
        node.data = itemData(child, &ok);
        if (!ok)
            return false;
        if (node.data.nodeType == NodeFolder && !collect(child, node.children))
            return false;
        out.push_back(std::move(node));
    }
    return true;
}

bool SettingConfigTree::toSettingTree(SettingTree &tree) const
{
    SettingTree out;
    out.kind = m_kind;
    if (!collect(m_root, out.nodes))
        return false;
    tree = std::move(out);
    return true;
}

bool SettingConfigTree::saveFile(const QString &path)
{
    const QString title = window()->windowTitle();
    SettingTree tree;
    if (!toSettingTree(tree)) {
        showErrorText(title, m_text ? m_text(QStringLiteral("setting/saveTreeDataFailed")) : QString());
        return false;
    }
    if (!saveSettingFile(path, tree)) {
        showErrorText(title, m_text ? m_text(QStringLiteral("setting/saveXmlFailed")) : QString());
        return false;
    }
    return true;
}

QString SettingConfigTree::text(const char *key) const
{
    return m_text ? m_text(QLatin1String(key)) : QString();
}

namespace {
// True when `item` is `ancestor` or lies below it.
bool isWithin(const QTreeWidgetItem *item, const QTreeWidgetItem *ancestor)
{
    for (; item; item = item->parent()) {
        if (item == ancestor)
            return true;
    }
    return false;
}
} // namespace

QTreeWidgetItem *SettingConfigTree::addNode(QTreeWidgetItem *at, int type, bool sub)
{
    if (!at || (!sub && !at->parent()))
        return nullptr;
    const bool folder = type == NodeFolder;
    TEST_NODE_DATA data;
    data.nodeType = folder ? NodeFolder : NodeItem;
    const char *key = sub ? (folder ? "setting/createSetting/subFolder" : "setting/createSetting/subItem")
                          : (folder ? "setting/createSetting/folder" : "setting/createSetting/item");
    data.name.set(m_langCode, text(key));
    data.paramName = folder ? QStringLiteral("folder") : QStringLiteral("parameter");
    QTreeWidgetItem *item = addNodeItem(nullptr, data);
    if (sub) {
        at->addChild(item);
        at->setExpanded(true);
    } else {
        QTreeWidgetItem *parent = at->parent();
        parent->insertChild(parent->indexOfChild(at) + 1, item);
    }
    setCurrentItem(item);
    return item;
}

void SettingConfigTree::removeNode(QTreeWidgetItem *item)
{
    if (!item || !item->parent())
        return;
    if (isWithin(m_clipSource, item))
        clearClipboard();
    delete item->parent()->takeChild(item->parent()->indexOfChild(item));
}

void SettingConfigTree::copyNode(QTreeWidgetItem *item)
{
    if (item && item->parent()) {
        m_clipSource = item;
        m_clipState = Copied;
    }
}

void SettingConfigTree::cutNode(QTreeWidgetItem *item)
{
    if (item && item->parent()) {
        m_clipSource = item;
        m_clipState = Cut;
    }
}

void SettingConfigTree::clearClipboard()
{
    m_clipState = Empty;
    m_clipSource = nullptr;
}

void SettingConfigTree::place(QTreeWidgetItem *node, QTreeWidgetItem *target)
{
    const int type = nodeType(target);
    if (!target->parent() || (type == NodeFolder && (target->isExpanded() || target->childCount() == 0))) {
        target->insertChild(0, node);
        target->setExpanded(true);
    } else {
        QTreeWidgetItem *parent = target->parent();
        parent->insertChild(parent->indexOfChild(target) + 1, node);
    }
    selectOnly(node);
    setCurrentItem(node);
}

bool SettingConfigTree::moveNode(QTreeWidgetItem *node, QTreeWidgetItem *target)
{
    // A node cannot go into its own subtree: taking it out would take the target with it.
    if (!node || !target || !node->parent() || isWithin(target, node))
        return false;
    QTreeWidgetItem *parent = node->parent();
    parent->takeChild(parent->indexOfChild(node));
    place(node, target);
    return true;
}

QTreeWidgetItem *SettingConfigTree::pasteOnto(QTreeWidgetItem *target)
{
    if (!target || !m_clipSource)
        return nullptr;
    if (m_clipState == Copied) {
        QTreeWidgetItem *copy = m_clipSource->clone(); // records included
        place(copy, target);
        return copy;
    }
    if (m_clipState == Cut && moveNode(m_clipSource, target))
        return m_clipSource;
    return nullptr;
}

void SettingConfigTree::expandAllBelow(QTreeWidgetItem *item)
{
    expandRecursively(item, true);
}

void SettingConfigTree::collapseAllBelow(QTreeWidgetItem *item)
{
    expandRecursively(item, false);
}

void SettingConfigTree::askSettingKind()
{
    const char *key = m_kind == KindNormal ? "setting/settingType/folderType" : "setting/settingType/normalType";
    if (!askQuestionText(window()->windowTitle(), text(key)))
        return;
    m_kind = m_kind == KindNormal ? KindFolderType : KindNormal;
    emit settingKindChanged(m_kind);
}

SysMenu *SettingConfigTree::createContextMenu(QTreeWidgetItem *item)
{
    auto *menu = new SysMenu(this);
    menu->setThemeColor(QStringLiteral("#FF0000"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (!item)
        return menu;
    // The item may go away while the menu is open (a drop, a key); actions check it is there.
    const QPersistentModelIndex at = indexFromItem(item);
    auto add = [&](const char *key, std::function<void(QTreeWidgetItem *)> act) {
        connect(menu->addAction(text(key)), &QAction::triggered, this, [this, at, act] {
            if (QTreeWidgetItem *it = at.isValid() ? itemFromIndex(at) : nullptr)
                act(it);
        });
    };
    auto addSub = [&] {
        add("setting/rightMenu/addSubFolder", [this](QTreeWidgetItem *it) { addNode(it, NodeFolder, true); });
        add("setting/rightMenu/addSubItem", [this](QTreeWidgetItem *it) { addNode(it, NodeItem, true); });
    };
    auto addSibling = [&] {
        add("setting/rightMenu/addFolder", [this](QTreeWidgetItem *it) { addNode(it, NodeFolder, false); });
        add("setting/rightMenu/addItem", [this](QTreeWidgetItem *it) { addNode(it, NodeItem, false); });
    };
    auto addPaste = [&] {
        add("setting/rightMenu/paste", [this](QTreeWidgetItem *it) {
            pasteOnto(it);
            clearClipboard();
        });
    };
    auto clipboardEntries = [&] {
        if (m_clipState != Empty)
            addPaste();
        add("setting/rightMenu/cut", [this](QTreeWidgetItem *it) { cutNode(it); });
        add("setting/rightMenu/copy", [this](QTreeWidgetItem *it) { copyNode(it); });
    };
    auto remove = [this](QTreeWidgetItem *it) { removeNode(it); };

    switch (item->parent() ? nodeType(item) : NodeRoot) {
    case NodeRoot:
        add("setting/rightMenu/setSettingType", [this](QTreeWidgetItem *) { askSettingKind(); });
        addSub();
        // A node cut from the top level can go back there; pasted onto the root it becomes
        // its first child.
        if (m_clipState != Empty)
            addPaste();
        break;
    case NodeFolder:
        addSibling();
        addSub();
        add("setting/rightMenu/removeThisFolder", remove);
        clipboardEntries();
        add("setting/rightMenu/expandAll", [this](QTreeWidgetItem *it) { expandAllBelow(it); });
        if (item->isExpanded())
            add("setting/rightMenu/collapseAll", [this](QTreeWidgetItem *it) { collapseAllBelow(it); });
        break;
    default:
        addSibling();
        add("setting/rightMenu/removeThisItem", remove);
        clipboardEntries();
        break;
    }
    return menu;
}

void SettingConfigTree::handleKey(QKeyEvent *event)
{
    QTreeWidgetItem *item = currentItem();
    if (!event || !item)
        return;
    if (event->matches(QKeySequence::Copy))
        copyNode(item);
    else if (event->matches(QKeySequence::Cut))
        cutNode(item);
    else if (event->matches(QKeySequence::Paste))
        pasteOnto(item);
    else if (event->matches(QKeySequence::Delete))
        removeNode(item);
    else if (event->key() == Qt::Key_Escape)
        clearClipboard();
}

void SettingConfigTree::keyPressEvent(QKeyEvent *event)
{
    SysTree::keyPressEvent(event);
    // The tree handles Escape only to empty the clipboard; the dialog still gets it.
    if (event->key() == Qt::Key_Escape)
        event->ignore();
}

bool SettingConfigTree::dragRule(QTreeWidgetItem *item, SYS_DRAG_STATE state)
{
    switch (state) {
    case SYS_DRAG_START:
        return item && item->parent();
    case SYS_DRAG_HOVER:
        return item != nullptr;
    case SYS_DRAG_DROP:
        return moveNode(draggedItem(), item);
    }
    return false;
}

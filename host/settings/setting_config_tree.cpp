#include "host/settings/setting_config_tree.h"

#include "common/dialogs.h"

#include <QIcon>

namespace {
const char *const kRootIcon = "./images/script/nodeEdit.png";
const char *const kFolderIcon = "./images/script/folder.png";
const char *const kItemIcon = "./images/script/case.png";
} // namespace

SettingConfigTree::SettingConfigTree(TextFn text, const QString &langCode, QWidget *parent)
    : SysTree(parent), m_text(std::move(text)), m_langCode(langCode)
{
    registerTestNodeDataType();
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
    clipboardState = 2;
    clipboardSource = nullptr;
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

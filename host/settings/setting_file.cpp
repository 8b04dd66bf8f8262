#include "host/settings/setting_file.h"

namespace {
const QString kName = QStringLiteral("name");
const QString kParamName = QStringLiteral("paramName");
const QString kDesc = QStringLiteral("desc");
const QString kParamType = QStringLiteral("paramType");
const QString kParamValue = QStringLiteral("paramValue");
const QString kUpLimit = QStringLiteral("paramUpLimit");
const QString kDownLimit = QStringLiteral("paramDownLimit");
const QString kFolder = QStringLiteral("Folder");
const QString kNode = QStringLiteral("Node");

bool readParams(const QDomElement &e, TEST_NODE_DATA &d)
{
    if (!e.hasAttribute(kParamType) || !e.hasAttribute(kParamValue) || !e.hasAttribute(kUpLimit)
        || !e.hasAttribute(kDownLimit))
        return false;
    d.paramType = e.attribute(kParamType).toInt(nullptr, 10);
    d.paramValue = e.attribute(kParamValue);
    d.paramUpLimit = e.attribute(kUpLimit);
    d.paramDownLimit = e.attribute(kDownLimit);
    return true;
}

// `depth` is the parent's level below "Root"; a document built in memory is bounded by the
// same limit as a loaded file, so the recursion stays shallow.
bool readChildren(const QDomElement &parent, int kind, std::vector<SettingNode> &out, int depth)
{
    if (depth >= SysXmlDocument::kMaxDepth)
        return false;
    for (QDomElement e = parent.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!e.hasAttribute(kName) || !e.hasAttribute(kParamName) || !e.hasAttribute(kDesc))
            return false;
        SettingNode node;
        node.data.name = LangText::fromStored(e.attribute(kName));
        node.data.paramName = e.attribute(kParamName);
        node.data.desc = LangText::fromStored(e.attribute(kDesc));
        if (e.tagName() == kFolder) {
            node.data.nodeType = NodeFolder;
            if (kind == KindFolderType && !readParams(e, node.data))
                return false;
            if (!readChildren(e, kind, node.children, depth + 1))
                return false;
        } else if (e.tagName() == kNode) {
            node.data.nodeType = NodeItem;
            if (!readParams(e, node.data))
                return false;
            // An item is a leaf: anything inside it is ignored.
        } else {
            return false;
        }
        out.push_back(std::move(node));
    }
    return true;
}

void writeParams(QDomElement &e, const TEST_NODE_DATA &d)
{
    e.setAttribute(kParamType, QString::number(d.paramType));
    e.setAttribute(kParamValue, d.paramValue);
    e.setAttribute(kUpLimit, d.paramUpLimit);
    e.setAttribute(kDownLimit, d.paramDownLimit);
}

void writeChildren(SysXmlDocument &doc, QDomElement &parent, int kind,
                   const std::vector<SettingNode> &nodes)
{
    for (const SettingNode &node : nodes) {
        const TEST_NODE_DATA &d = node.data;
        if (d.nodeType != NodeFolder && d.nodeType != NodeItem)
            continue;
        QDomElement e = doc.createElement(d.nodeType == NodeFolder ? kFolder : kNode);
        e.setAttribute(kName, d.name.toStored());
        e.setAttribute(kParamName, d.paramName);
        e.setAttribute(kDesc, d.desc.toStored());
        if (d.nodeType == NodeItem || kind == KindFolderType)
            writeParams(e, d);
        if (d.nodeType == NodeFolder)
            writeChildren(doc, e, kind, node.children);
        parent.appendChild(e);
    }
}
} // namespace

bool readSettingDocument(const SysXmlDocument &doc, SettingTree &tree)
{
    const QDomElement root = doc.documentElement();
    if (root.isNull())
        return false;
    SettingTree loaded;
    loaded.kind = root.attribute(QStringLiteral("type")).toInt(nullptr, 10);
    if (!readChildren(root, loaded.kind, loaded.nodes, 0))
        return false;
    tree = std::move(loaded);
    return true;
}

bool loadSettingFile(const QString &path, SettingTree &tree)
{
    SysXmlDocument doc;
    return doc.load(path) && readSettingDocument(doc, tree);
}

void buildSettingDocument(const SettingTree &tree, SysXmlDocument &doc)
{
    doc.clear();
    doc.addDeclaration(QStringLiteral("GBK"));
    QDomElement root = doc.createElement(QStringLiteral("Root"));
    root.setAttribute(QStringLiteral("type"), QString::number(tree.kind));
    doc.appendChild(root);
    writeChildren(doc, root, tree.kind, tree.nodes);
}

bool saveSettingFile(const QString &path, const SettingTree &tree)
{
    SysXmlDocument doc;
    buildSettingDocument(tree, doc);
    return doc.save(path);
}

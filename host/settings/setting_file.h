// The setting file (index.config of a plug-in) as a plain tree, apart from any widget.
#pragma once

#include "host/settings/setting_data.h"
#include "widgetkit/sys_xml_document.h"

#include <vector>

struct SettingNode {
    TEST_NODE_DATA data;
    std::vector<SettingNode> children; // folders only

    bool operator==(const SettingNode &o) const { return data == o.data && children == o.children; }
};

struct SettingTree {
    int kind = KindNormal;
    std::vector<SettingNode> nodes; // children of "Root", in file order

    bool operator==(const SettingTree &o) const { return kind == o.kind && nodes == o.nodes; }
    bool operator!=(const SettingTree &o) const { return !(*this == o); }
};

// Loads a setting file, all or nothing: any missing mandatory attribute or unknown element, or
// folders nested deeper than SysXmlDocument::kMaxDepth, fail the whole load and leave `tree`
// untouched.
bool loadSettingFile(const QString &path, SettingTree &tree);
// The same from a loaded document.
bool readSettingDocument(const SysXmlDocument &doc, SettingTree &tree);
// Builds the file's document: declaration, "Root" with "type", folders and items in order.
// Nodes of other types are skipped.
void buildSettingDocument(const SettingTree &tree, SysXmlDocument &doc);
// Writes the tree; false when the file cannot be opened for writing.
bool saveSettingFile(const QString &path, const SettingTree &tree);

// The dialog in which the user edits one plug-in's setting tree: the tree over the attributes
// of the selected node, Save and Cancel. The file is written only by Save.
#pragma once

#include "host/settings/setting_file.h"

#include "widgetkit/sys_dialog.h"

#include <functional>

class ITestTools;
class QTreeWidgetItem;
class SettingConfigTree;
class SysButton;
class SysLabel;
class SysSplitter;
class TestNodeAttrList;

class SettingWindow : public SysDialog
{
    Q_OBJECT
public:
    using TextFn = std::function<QString(const QString &key)>;

    // Builds the window for the plug-in and loads its setting file. `text` looks up the host's
    // texts, `langCode` is the host's current language. A file that does not load is reported
    // and the dialog is rejected (exec() then returns at once).
    SettingWindow(ITestTools *plugin, TextFn text, const QString &langCode, QWidget *parent = nullptr);

    // Rejected at once when the file did not load; otherwise runs the dialog.
    int exec() override;
    bool loaded() const { return m_loaded; }

    // Writes the tree to the plug-in's setting file; accepts the dialog on success, otherwise
    // reports it and stays open.
    bool save();
    // Cancel, Escape and closing the window: with edits not yet saved, asks whether to drop
    // them and stays open on "否".
    void reject() override;
    // The tree differs from the file as loaded or last saved.
    bool hasUnsavedChanges() const;

    SettingConfigTree *tree() const { return m_tree; }
    TestNodeAttrList *attrList() const { return m_attrs; }
    SysLabel *emptyLabel() const { return m_empty; }
    SysButton *saveButton() const { return m_save; }
    SysButton *cancelButton() const { return m_cancel; }
    SysSplitter *splitter() const { return m_splitter; }

private:
    void onCurrentItemChanged(QTreeWidgetItem *current);
    void onNodeDataChanged(const TEST_NODE_DATA &record);
    void onContextMenu(const QPoint &pos);
    QString text(const char *key) const;

    ITestTools *m_plugin; // not owned
    TextFn m_text;
    QString m_langCode;
    QString m_path;
    bool m_loaded = false;
    SettingTree m_saved; // the tree as the file holds it
    SysSplitter *m_splitter = nullptr;
    SettingConfigTree *m_tree = nullptr;
    TestNodeAttrList *m_attrs = nullptr;
    SysLabel *m_empty = nullptr;
    SysButton *m_save = nullptr;
    SysButton *m_cancel = nullptr;
};

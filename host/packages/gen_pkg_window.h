// The dialog that assembles a list of files below the working folder, keeps it as a template
// (*.tpl) and packs it into a plug-in package (*.plug).
#pragma once

#include "widgetkit/sys_dialog.h"

#include <QSet>
#include <QStringList>

class MainWindow;
class SysButton;
class SysFileSelect;
class SysMenu;
class SysTable;

class GenPkgWindow : public SysDialog
{
    Q_OBJECT
public:
    // `main` gives the texts; not owned.
    explicit GenPkgWindow(MainWindow *main);

    // Lists the file (once). A file outside the working folder is refused with a box.
    bool addFile(const QString &path);
    // Adds in order and stops at the first refusal.
    void addFiles(const QStringList &paths);
    // The add button: asks for files and adds them.
    void chooseFiles();
    // The clear button: empties the cells and the list; the rows stay.
    void clearList();
    // Replaces the list by the template's files; a template that cannot be read changes nothing.
    bool openTemplate(const QString &templatePath);
    // The save-template and pack buttons.
    void saveTemplateAs();
    void packAs();
    // The row's menu with its remove entry, or null for a row that lists no file.
    SysMenu *buildRowMenu(int row);
    void removeRow(int row);

    const QStringList &packList() const { return m_packList; }
    SysFileSelect *templateSelect() const { return m_template; }
    SysButton *saveTemplateButton() const { return m_saveTemplate; }
    SysButton *packButton() const { return m_pack; }
    SysButton *addButton() const { return m_add; }
    SysButton *clearButton() const { return m_clear; }
    SysTable *fileTable() const { return m_table; }

private:
    QString text(const char *key) const;
    bool listIsEmpty();

    MainWindow *m_main;
    QStringList m_packList;
    QSet<QString> m_listed;  // the paths of m_packList, for a quick test of a new one
    QString m_groupTitle;
    SysFileSelect *m_template = nullptr;
    SysButton *m_saveTemplate = nullptr;
    SysButton *m_pack = nullptr;
    SysButton *m_add = nullptr;
    SysButton *m_clear = nullptr;
    SysTable *m_table = nullptr;
};

// The dialog that installs a plug-in package into the working folder, with a process log.
#pragma once

#include "widgetkit/sys_dialog.h"

class MainWindow;
class SysButton;
class SysFileSelect;
class SysTable;

class ImportPkgWindow : public SysDialog
{
    Q_OBJECT
public:
    // `main` gives the texts and the plug-in services; not owned.
    explicit ImportPkgWindow(MainWindow *main);

    // The install button: installs the chosen package, logs every step and ends with a box.
    void startInstall();
    // Installs the package; on failure the working folder is as it was and the plug-ins that
    // were unloaded for it are loaded again.
    bool installPackage(const QString &packagePath);
    // The clear button: empties every cell; the next line goes below the emptied rows.
    void clearLog();

    SysFileSelect *fileSelect() const { return m_file; }
    SysButton *installButton() const { return m_install; }
    SysButton *clearButton() const { return m_clear; }
    SysTable *logTable() const { return m_log; }

    // For the host at start, before any window: undoes an installation that was interrupted
    // in the working folder (or removes the backups of one that had ended) and writes what it
    // did to standard error, in the host's current language.
    static void recoverInterruptedInstall();

private:
    QString text(const char *key) const;
    void log(int level, const QString &message);

    MainWindow *m_main;
    SysFileSelect *m_file = nullptr;
    SysButton *m_install = nullptr;
    SysButton *m_clear = nullptr;
    SysTable *m_log = nullptr;
};

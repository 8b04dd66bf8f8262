// The Deltamaker plug-in window: file rows, method buttons and the process log. A button press
// checks the rows, fills a PackRequest and runs the package builder synchronously; every builder
// message lands in the log table and in a per-build log file.
#pragma once

#include "host/contract/plugin_ui_base.h"

#include <QString>
#include <QVector>

#include <memory>

class SysFileSelect;
class SysLogFile;
class SysTable;

namespace Deltamaker {

// File rows in their order on screen.
enum Row { BootRow, PartitionRow, OldRow, NewRow, Nv1Row, Nv2Row, OutputRow, RowCount };

// The three build buttons.
enum Action { DiffAction, CzAction, AbAction, ActionCount };

class MainWindow : public PluginUIBase
{
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QString pluginName() override;
    QString historyHtml() override;
    void initUi() override;
    // Reads the setting file again and shows or hides the boot row by "operMode".
    // False when the file is missing or does not load.
    bool reloadConfig() override;

    // The button's handler: true when the package was built and verified.
    bool runAction(Action action);

private:
    QString text(const QString &key) const;
    QString format(const QString &key, const QString &argument) const;
    QString rowLabel(Row row) const;
    bool bootRowHidden();
    QWidget *buildInputGroup();
    QWidget *buildOutputGroup();
    QWidget *buildActionGroup();
    QWidget *buildLogGroup();
    SysFileSelect *makeRow(Row row, QWidget *parent);
    void showLogMenu();
    bool build(Action action);
    // One log line: the table at once, then the build's log file when one is open.
    void log(int level, const QString &message);

    SysFileSelect *m_rows[RowCount] = {};    // children of the group boxes
    SysTable *m_log = nullptr;               // child of the log group
    std::unique_ptr<SysLogFile> m_logFile;   // open while a build runs
    bool m_building = false;
};

} // namespace Deltamaker

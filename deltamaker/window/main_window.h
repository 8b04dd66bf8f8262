// The Deltamaker plug-in window: file rows, method buttons and the process log. A button press
// checks the rows, fills a PackRequest and runs the package builder on a worker thread; every
// builder message is handed to the GUI thread and lands in the log table and in the build's log
// file, and the builder's progress drives the status-bar progress bar.
#pragma once

#include "deltamaker/builder/fota.h"
#include "host/contract/plugin_ui_base.h"

#include <QString>
#include <QVector>

#include <memory>
#include <mutex>

class QThread;
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
    Q_OBJECT
    // True while a build runs; the window's controls are disabled meanwhile.
    Q_PROPERTY(bool building READ isBuilding NOTIFY buildingChanged)
public:
    explicit MainWindow(QWidget *parent = nullptr);
    // Waits for a running build first.
    ~MainWindow() override;

    QString pluginName() override;
    QString historyHtml() override;
    void initUi() override;
    // Reads the setting file again and shows or hides the boot row by "operMode".
    // False when the file is missing or does not load.
    bool reloadConfig() override;

    // The button's handler. Logs the start line, checks the rows and starts the build on a
    // worker thread: true when it started. A press refused at once (missing rows, no setting
    // file) logs its reason and the failure line and returns false; so does a press while a
    // build runs, which logs nothing.
    bool runAction(Action action);
    bool isBuilding() const { return m_worker != nullptr; }
    // Blocks until the running build has ended and its last lines are in the log.
    void waitForBuild();

signals:
    void buildingChanged(bool building);
    void buildFinished(bool ok);

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
    QString menuText(const char *key, const char *chinese) const;
    void showLogMenu();
    // Fills the request from the rows, or names the reason it cannot be built.
    bool prepare(Action action, PackRequest &request, QByteArray &outputPath, QString &error);
    void openLogFile();
    void startBuild(const PackRequest &request, const QByteArray &outputPath);
    void finishBuild(bool ok);
    void setControlsEnabled(bool enabled);
    // Called on the building thread: keeps the newest stage and posts one update at a time.
    void postProgress(const char *stage, int percent);
    void showProgress();
    // One log line: the table at once, then the build's log file when one is open.
    void log(int level, const QString &message);

    SysFileSelect *m_rows[RowCount] = {};    // children of the group boxes
    QWidget *m_controls[3] = {};             // the input, output and action groups
    SysTable *m_log = nullptr;               // child of the log group
    std::unique_ptr<SysLogFile> m_logFile;   // open while a build runs
    QThread *m_worker = nullptr;             // the running build; owned
    QString m_buttonText;                    // of the running build
    int m_firstErrorRow = -1;                // of the running build's log lines
    std::mutex m_progressLock;               // guards the three below
    QString m_progressStage;
    int m_progressPercent = 0;
    bool m_progressPosted = false;
};

} // namespace Deltamaker

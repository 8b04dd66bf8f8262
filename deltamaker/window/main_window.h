// The Deltamaker plug-in window: file rows, method buttons and the process log. A button press
// checks the rows, fills a PackRequest and runs the package builder on a worker thread; every
// builder message is handed to the GUI thread and lands in the log table and in the build's log
// file, and the builder's progress drives the status-bar progress bar.
//
// Before a build the window tells what the chosen button (the one last pointed at, focused or
// pressed) will do with the board the images name: buttons that cannot build and rows they
// leave out are disabled, with a tool tip saying why, and a line under the buttons lists the
// rows used. The rows' paths, their dialogs' folders and the log are remembered for the user
// in a session file beside the setting file and come back at the next start.
#pragma once

#include "deltamaker/builder/fota.h"
#include "deltamaker/window/build_plan.h"
#include "deltamaker/window/session_state.h"
#include "host/contract/plugin_ui_base.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <memory>
#include <mutex>

class QLabel;
class QPushButton;
class QThread;
class SysFileSelect;
class SysLogFile;
class SysTable;

namespace Deltamaker {

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

    // The button's handler. Asks before replacing an existing package, logs the start line,
    // checks the rows and starts the build on a worker thread: true when it started. A press
    // refused at once (missing rows, no setting file, a button the images do not suit) logs
    // its reason and the failure line, in the table and in a log file of its own, and returns
    // false; so does a press while a build runs, which logs nothing, and one whose question was
    // answered "no", which logs that the file was kept.
    bool runAction(Action action);
    bool isBuilding() const { return m_worker != nullptr; }
    // Blocks until the running build has ended and its last lines are in the log.
    void waitForBuild();

signals:
    void buildingChanged(bool building);
    void buildFinished(bool ok);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString text(const QString &key) const;
    // The language file's text, or `fallback` when the file has none.
    QString textOr(const char *key, const char *fallback) const;
    QString format(const QString &key, const QString &argument) const;
    QString rowLabel(Row row) const;
    QString actionText(Action action) const;
    bool bootRowHidden();
    QWidget *buildInputGroup();
    QWidget *buildOutputGroup();
    QWidget *buildActionGroup();
    QWidget *buildLogGroup();
    SysFileSelect *makeRow(Row row, QWidget *parent);
    void showLogMenu();

    // Reads the old and new images' first bytes again and shows what each button would do.
    void refreshPlan();
    void choose(Action action);
    QString rowReasonText(RowReason why) const;
    QString actionReasonText(Action action) const;
    // The row's tool tip (its help, why it is left out, a missing file) and missing-file mark.
    void refreshRow(Row row, RowReason why);
    // Whether the chosen button passes the row's path.
    RowReason rowReason(Row row) const;

    // Fills the request from the rows, or names the reason it cannot be built. `leftOut` gets
    // the labels of filled rows the button does not use.
    bool prepare(Action action, PackRequest &request, QByteArray &outputPath, QString &error,
                 QStringList &leftOut);
    void openLogFile();
    void startBuild(const PackRequest &request, const QByteArray &outputPath);
    void finishBuild(bool ok);
    void setControlsEnabled(bool enabled);
    // Called on the building thread: keeps the newest stage and posts one update at a time.
    void postProgress(const char *stage, int percent);
    void showProgress();
    // One log line: the table at once, then the build's log file when one is open, and the
    // session.
    void log(int level, const QString &message);
    void showLogRow(int level, const QString &message, const QString &time);

    void restoreSession();
    // Writes the session a moment later (many changes make one write), or at once.
    void saveSessionSoon();
    void saveSessionNow();

    SysFileSelect *m_rows[RowCount] = {};    // children of the group boxes
    QPushButton *m_buttons[ActionCount] = {}; // children of the action group
    QLabel *m_planLine = nullptr;            // child of the action group
    QWidget *m_controls[3] = {};             // the input, output and action groups
    SysTable *m_log = nullptr;               // child of the log group
    std::unique_ptr<SysLogFile> m_logFile;   // open while a build runs
    QThread *m_worker = nullptr;             // the running build; owned
    QString m_buttonText;                    // of the running build
    int m_firstErrorRow = -1;                // of the running build's log lines
    int m_chosen = -1;                       // Action, or -1 before any button was chosen
    ImageFacts m_oldImage, m_newImage;
    QByteArray m_methodNames[ActionCount];   // the buttons' texts, handed to the builder
    const char *m_methodPointers[5] = {};    // into m_methodNames, by method
    QString m_sessionFile;                   // empty without a host
    SessionState m_session;
    bool m_restoring = false;
    bool m_sessionChanged = false;          // since the last write
    QTimer m_saveTimer;
    std::mutex m_progressLock;               // guards the three below
    QString m_progressStage;
    int m_progressPercent = 0;
    bool m_progressPosted = false;
};

} // namespace Deltamaker

#include "deltamaker/window/main_window.h"

#include "common/text_format.h"
#include "deltamaker/builder/fota.h"
#include "host/contract/i_config_file.h"
#include "host/contract/i_test_tools.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_log_file.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_splitter.h"
#include "widgetkit/sys_table.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QCursor>
#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLayout>

#include <cstring>

namespace Deltamaker {

namespace Internal {

struct RowSpec {
    const char *labelKey;  // null: the fixed label "UBOOT"
    const char *colour;
    const char *objectName;
};

const RowSpec kRows[RowCount] = {
    {nullptr, "#FF0000", "bootRow"},
    {"input_ui/partition", "#20B2AA", "partitionRow"},
    {"input_ui/old_firmware", "#FFA500", "oldRow"},
    {"input_ui/new_firmware", "#FFA500", "newRow"},
    {"NV/Configure_NV", "#8A2BE2", "nv1Row"},
    {"NV/Exclusive_NV", "#3CB371", "nv2Row"},
    {"output_ui/save", "#66B3FF", "outputRow"},
};

struct ActionSpec {
    const char *textKey;
    int32_t method;
    bool usesConfig;
    QVector<Row> required;  // in the order their labels are reported
    const char *objectName;
};

const ActionSpec &actionSpec(Action action)
{
    static const ActionSpec specs[ActionCount] = {
        {"action/diff", 3, true, {PartitionRow, OldRow, NewRow, OutputRow}, "diffButton"},
        {"action/cz", 4, true, {PartitionRow, NewRow, OutputRow}, "czButton"},
        {"action/AB", 2, false, {PartitionRow, OldRow, NewRow, OutputRow}, "abButton"},
    };
    return specs[action];
}

// Release titles and their log lines, oldest first: the host reads the newest version from the
// last block.
const char *const kHistory[][2] = {
    {"version/v_1_0", "version/log_1"},   {"version/v_1_4", "version/log_4"},
    {"version/v_1_9", "version/log_9"},   {"version/v_1_10", "version/log_10"},
    {"version/v_1_11", "version/log_11"}, {"version/v_1_12", "version/log_12"},
    {"version/v_1_13", "version/log_13"},
};

const char kFilter[] = "*.bin";
const char kErrorRow[] = "#fde2e2";
const char kWarnRow[] = "#fdf6ec";
const int kMaxPathBytes = 255;
const int kLowModeBits = 0x1f;
const int kNoBootMode = 0x11;

// The group boxes hold their rows tightly, so that the log keeps room on small screens; all but
// the log's keep their height when the window grows.
const QMargins kGroupMargins(8, 2, 8, 6);

void compact(QWidget *group, QLayout *layout)
{
    layout->setContentsMargins(kGroupMargins);
    layout->setSpacing(4);
    group->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

// Copies a path already checked against kMaxPathBytes into a zeroed request field.
void copyPath(char (&field)[256], const QByteArray &path)
{
    std::memcpy(field, path.constData(), size_t(path.size()));
}

// The builder's messages end in a line end; a table row shows the text without it.
QString withoutLineEnd(QString text)
{
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

} // namespace Internal

using namespace Internal;

MainWindow::MainWindow(QWidget *parent) : PluginUIBase(parent) {}

MainWindow::~MainWindow()
{
    waitForBuild();
    // The sinks point at this window; the builder outlives it inside the library.
    fota_set_log_sink(nullptr);
    fota_set_progress_sink(nullptr);
}

QString MainWindow::text(const QString &key) const
{
    return tools ? tools->text(key) : QString();
}

QString MainWindow::format(const QString &key, const QString &argument) const
{
    return formatPattern(text(key), {argument});
}

QString MainWindow::pluginName()
{
    return text(QStringLiteral("main/title"));
}

QString MainWindow::historyHtml()
{
    QString html;
    for (const auto &release : kHistory) {
        html += QStringLiteral("<p class=\"versionLog\"><span class=\"versionTitle\">%1</span>"
                               "<ol class=\"versionLogContent\">")
                    .arg(text(QLatin1String(release[0])));
        html += QStringLiteral("<li class=\"versionLogContentItem\">%1;</li>")
                    .arg(text(QLatin1String(release[1])));
        html += QStringLiteral("</ol></p>");
    }
    return html;
}

QString MainWindow::rowLabel(Row row) const
{
    const char *key = kRows[row].labelKey;
    return key ? text(QLatin1String(key)) : QStringLiteral("UBOOT");
}

bool MainWindow::bootRowHidden()
{
    IConfigFile *config = tools ? tools->config(false) : nullptr;
    if (!config)
        return false;
    int mode = 0;
    return config->getInt(QStringLiteral("operMode"), mode) && (mode & kLowModeBits) == kNoBootMode;
}

bool MainWindow::reloadConfig()
{
    const bool loaded = tools && tools->config(true);
    if (m_rows[BootRow])
        m_rows[BootRow]->setHidden(bootRowHidden());
    return loaded;
}

void MainWindow::initUi()
{
    auto *splitter = new SysSplitter(this);
    splitter->setHorizontal(false);
    splitter->setOpaqueResize(true);
    splitter->addWidget(buildInputGroup());
    splitter->addWidget(buildOutputGroup());
    splitter->addWidget(buildActionGroup());
    splitter->addWidget(buildLogGroup());
    for (int i = 0; i < 3; ++i)
        splitter->setCollapsible(i, false);
    splitter->setStretchFactor(3, 1);
    splitter->setChildrenCollapsible(false);
    // The kit hides the status bar; here it carries the build's progress, and stays in place so
    // that a build does not move the window's contents.
    statusBar()->show();
    setCentralWidget(splitter);

    // The builder calls both sinks on its own thread; what they carry is handed to the GUI
    // thread, where this window lives, through queued calls delivered in the order posted.
    fota_set_log_sink([this](int level, const char *message) {
        const QString text = withoutLineEnd(QString::fromLocal8Bit(message));
        QMetaObject::invokeMethod(this, [this, level, text] { log(level, text); }, Qt::QueuedConnection);
    });
    fota_set_progress_sink([this](const char *stage, int percent) { postProgress(stage, percent); });

    // The host asks before it closes during a build (isBusy); an ending application still waits.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { waitForBuild(); });
}

SysFileSelect *MainWindow::makeRow(Row row, QWidget *parent)
{
    auto *select = new SysFileSelect(parent, rowLabel(row), {QLatin1String(kFilter)});
    select->setObjectName(QLatin1String(kRows[row].objectName));
    // A row keeps its readable height however small the window gets.
    select->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    select->setMinimumHeight(select->sizeHint().height());
    select->setThemeColor(QLatin1String(kRows[row].colour));
    select->setCaption(rowLabel(row));
    if (row == OutputRow)
        select->setMode(SysFileSelect::SaveFile);
    m_rows[row] = select;
    return select;
}

QWidget *MainWindow::buildInputGroup()
{
    auto *group = new SysGroupBox(nullptr, text(QStringLiteral("input_ui/title")));
    m_controls[0] = group;
    auto *layout = new SysVLayout(group);
    compact(group, layout);
    for (Row row : {BootRow, PartitionRow, OldRow, NewRow, Nv1Row, Nv2Row})
        layout->addWidget(makeRow(row, group));
    if (bootRowHidden())
        m_rows[BootRow]->hide();
    return group;
}

QWidget *MainWindow::buildOutputGroup()
{
    auto *group = new SysGroupBox(nullptr, text(QStringLiteral("output_ui/title")));
    m_controls[1] = group;
    auto *layout = new SysVLayout(group);
    compact(group, layout);
    layout->addWidget(makeRow(OutputRow, group));
    return group;
}

QWidget *MainWindow::buildActionGroup()
{
    auto *group = new SysGroupBox(nullptr, text(QStringLiteral("action/title")));
    m_controls[2] = group;
    auto *layout = new SysHLayout(group);
    compact(group, layout);
    for (Action action : {DiffAction, CzAction, AbAction}) {
        const ActionSpec &spec = actionSpec(action);
        auto *button = new SysButton(group, text(QLatin1String(spec.textKey)));
        button->setObjectName(QLatin1String(spec.objectName));
        QObject::connect(button, &QPushButton::clicked, this, [this, action] { runAction(action); });
        layout->addWidget(button);
    }
    return group;
}

QWidget *MainWindow::buildLogGroup()
{
    auto *group = new SysGroupBox(nullptr, text(QStringLiteral("process/log_info")));
    auto *layout = new SysVLayout(group);
    layout->setContentsMargins(kGroupMargins);
    m_log = new SysTable(group, {text(QStringLiteral("process/header/time")),
                                 text(QStringLiteral("process/header/level")),
                                 text(QStringLiteral("process/header/message"))});
    m_log->setObjectName(QStringLiteral("processLog"));
    m_log->setEditable(false);
    // Time and level keep the width of their longest text; the message takes the rest.
    m_log->ensurePolished();
    const QFontMetrics metrics = m_log->fontMetrics();
    m_log->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000")) + 32);
    m_log->setColumnWidth(1, metrics.horizontalAdvance(QStringLiteral("DEBUG")) + 32);
    m_log->setAutoFitColumns({2});
    // The header and four rows stay in view: a failure's reason with the lines around it.
    m_log->setMinimumHeight(m_log->horizontalHeader()->sizeHint().height()
                            + 4 * m_log->verticalHeader()->defaultSectionSize() + 4);
    m_log->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_log, &QWidget::customContextMenuRequested, this, [this] { showLogMenu(); });
    layout->addWidget(m_log);
    return group;
}

QString MainWindow::menuText(const char *key, const char *chinese) const
{
    const QString translated = text(QLatin1String(key));
    return translated.isEmpty() ? QString::fromUtf8(chinese) : translated;
}

void MainWindow::showLogMenu()
{
    // The kit's export menu, clear first. Its texts are the kit's fixed Chinese ones; the language
    // file gives them in other languages.
    SysMenu *menu = m_log->createExportMenu(true, m_log, SysTable::MenuOrder::ClearFirst);
    const char *const texts[][2] = {{"process/menu/clear", "清空表格"},
                                    {"process/menu/exportSelectionCsv", "导出选区到CSV"},
                                    {"process/menu/exportSelectionHtml", "导出选区到HTML"},
                                    {"process/menu/exportCsv", "导出到CSV"},
                                    {"process/menu/exportHtml", "导出到HTML"}};
    const QList<QAction *> actions = menu->actions();
    for (int i = 0; i < actions.size() && i < 5; ++i)
        actions[i]->setText(menuText(texts[i][0], texts[i][1]));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}

void MainWindow::log(int level, const QString &message)
{
    if (m_log) {
        const int row = m_log->nextLogRow();
        m_log->appendLogLine(level, message);
        if (level == FOTA_LOG_ERROR || level == FOTA_LOG_WARN)
            m_log->setRowBackground(row, QLatin1String(level == FOTA_LOG_ERROR ? kErrorRow : kWarnRow));
        if (level == FOTA_LOG_ERROR && m_firstErrorRow < 0)
            m_firstErrorRow = row;
    }
    if (m_logFile)
        m_logFile->writeLine(level, "%s", message.toUtf8().constData());
}

bool MainWindow::runAction(Action action)
{
    if (m_worker)
        return false;
    m_buttonText = text(QLatin1String(actionSpec(action).textKey));
    m_firstErrorRow = -1;

    PackRequest request;
    QByteArray outputPath;
    QString error;
    const bool ready = prepare(action, request, outputPath, error);
    // A build's log file is created only when the build starts.
    if (ready)
        openLogFile();
    log(FOTA_LOG_INFO, format(QStringLiteral("process/start_process"), m_buttonText));
    if (!ready) {
        log(FOTA_LOG_ERROR, error);
        log(FOTA_LOG_ERROR, format(QStringLiteral("process/process_fail"), m_buttonText));
        return false;
    }
    startBuild(request, outputPath);
    return true;
}

bool MainWindow::prepare(Action action, PackRequest &request, QByteArray &outputPath, QString &error)
{
    const ActionSpec &spec = actionSpec(action);
    if (spec.usesConfig) {
        IConfigFile *config = tools ? tools->config(false) : nullptr;
        if (!config) {
            error = format(QStringLiteral("process/config_missing"), tools ? tools->configFilePath() : QString());
            return false;
        }
        int mode = 0;
        config->getInt(QStringLiteral("operMode"), mode);
    }

    QStringList missing;
    for (Row row : spec.required)
        if (m_rows[row]->path().isEmpty())
            missing << rowLabel(row);
    if (!missing.isEmpty()) {
        error = format(QStringLiteral("select/select_file"), missing.join(QLatin1Char(',')));
        return false;
    }

    // A longer path would be cut to a different file name; refuse it instead.
    QByteArray paths[RowCount];
    for (int row = 0; row < RowCount; ++row) {
        paths[row] = m_rows[row]->path().toLocal8Bit();
        if (paths[row].size() > kMaxPathBytes) {
            error = format(QStringLiteral("select/path_too_long"), rowLabel(Row(row)));
            return false;
        }
    }
    std::memset(&request, 0, sizeof request);
    copyPath(request.boot_path, paths[BootRow]);
    copyPath(request.partition_path, paths[PartitionRow]);
    copyPath(request.old_path, paths[OldRow]);
    copyPath(request.new_path, paths[NewRow]);
    copyPath(request.nv1_path, paths[Nv1Row]);
    copyPath(request.nv2_path, paths[Nv2Row]);
    request.method = spec.method;
    // "optimize" 1 selects the optimising encoder; a missing setting or file keeps the default.
    int optimize = 0;
    if (IConfigFile *config = tools ? tools->config(false) : nullptr)
        config->getInt(QStringLiteral("optimize"), optimize);
    request.optimize = optimize == 1 ? 1 : 0;
    request.threads = 0; // every core; the package does not depend on it
    outputPath = paths[OutputRow];
    return true;
}

void MainWindow::openLogFile()
{
    m_logFile.reset();
    if (!tools)
        return;
    const QString name = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
    m_logFile.reset(new SysLogFile);
    if (!m_logFile->openLog(QStringLiteral("%1/%2.log").arg(tools->logDir(), name)))
        m_logFile.reset();
}

void MainWindow::startBuild(const PackRequest &request, const QByteArray &outputPath)
{
    setControlsEnabled(false);
    {
        std::lock_guard<std::mutex> guard(m_progressLock);
        m_progressStage.clear();
        m_progressPercent = -1;
        m_progressPosted = false;
    }
    progressBar->setRange(0, 0);   // busy until the builder tells its first stage
    // The request and the output path are copies the thread owns; it shares nothing else with
    // this window except through the sinks and the final queued call.
    m_worker = QThread::create([this, request, outputPath] {
        PackRequest own = request;
        own.output_path = outputPath.constData();
        const bool ok = fota_make_package(own) == 0;
        QMetaObject::invokeMethod(this, [this, ok] { finishBuild(ok); }, Qt::QueuedConnection);
    });
    m_worker->start();
    setBusy(true);   // the host waits or asks before it unloads, replaces or restarts this window
    emit buildingChanged(true);
}

void MainWindow::finishBuild(bool ok)
{
    if (!m_worker)
        return;
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;

    if (ok)
        log(FOTA_LOG_INFO, format(QStringLiteral("process/process_success"), m_buttonText));
    else
        log(FOTA_LOG_ERROR, format(QStringLiteral("process/process_fail"), m_buttonText));
    m_logFile.reset();
    // The reason of a failure stays in view, however many lines followed it.
    if (!ok && m_firstErrorRow >= 0)
        if (QTableWidgetItem *item = m_log->item(m_firstErrorRow, 0))
            m_log->scrollToItem(item);
    progressBar->setRange(0, 100);
    progressBar->setValue(ok ? 100 : 0);
    progressBar->setToolTip(QString());
    setControlsEnabled(true);
    setBusy(false);
    emit buildingChanged(false);
    emit buildFinished(ok);
}

void MainWindow::waitForBuild()
{
    if (!m_worker)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_worker->wait();
    // The build's last lines and its end are still queued for this window.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    finishBuild(false);   // only if the end was not among them
    QApplication::restoreOverrideCursor();
}

void MainWindow::setControlsEnabled(bool enabled)
{
    for (QWidget *group : m_controls)
        if (group)
            group->setEnabled(enabled);
}

void MainWindow::postProgress(const char *stage, int percent)
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    m_progressStage = QString::fromUtf8(stage ? stage : "");
    m_progressPercent = percent;
    if (m_progressPosted)
        return;
    m_progressPosted = true;
    QMetaObject::invokeMethod(this, [this] { showProgress(); }, Qt::QueuedConnection);
}

void MainWindow::showProgress()
{
    QString stage;
    int percent;
    {
        std::lock_guard<std::mutex> guard(m_progressLock);
        stage = m_progressStage;
        percent = m_progressPercent;
        m_progressPosted = false;
    }
    if (!m_worker)
        return;
    if (percent < 0) {
        progressBar->setRange(0, 0);
    } else {
        progressBar->setRange(0, 100);
        progressBar->setValue(qMin(percent, 100));
    }
    progressBar->setToolTip(stage);
}

} // namespace Deltamaker

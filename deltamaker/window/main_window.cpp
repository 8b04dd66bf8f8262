#include "deltamaker/window/main_window.h"

#include "common/dialogs.h"
#include "common/text_format.h"
#include "deltamaker/builder/fota.h"
#include "deltamaker/format/firmware_layout.h"
#include "host/contract/i_config_file.h"
#include "host/contract/i_test_tools.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_log_file.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_splitter.h"
#include "widgetkit/sys_table.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLayout>
#include <QStyle>
#include <QThread>

#include <cstring>

namespace Deltamaker {

namespace Internal {

struct RowSpec {
    const char *labelKey;  // null: the fixed label "UBOOT"
    const char *colour;
    const char *objectName;
    const char *tipKey;
    const char *filterKey;
    const char *filterFallback;
};

const RowSpec kRows[RowCount] = {
    {nullptr, "#FF0000", "bootRow", "tip/boot", "filter/image", "固件镜像 (*.bin *.img)"},
    {"input_ui/partition", "#20B2AA", "partitionRow", "tip/partition", "filter/partition", "分区表 (*.bin)"},
    {"input_ui/old_firmware", "#FFA500", "oldRow", "tip/old", "filter/image", "固件镜像 (*.bin *.img)"},
    {"input_ui/new_firmware", "#FFA500", "newRow", "tip/new", "filter/image", "固件镜像 (*.bin *.img)"},
    {"NV/Configure_NV", "#8A2BE2", "nv1Row", "tip/nv1", "filter/nv", "NV 文件 (*.bin)"},
    {"NV/Exclusive_NV", "#3CB371", "nv2Row", "tip/nv2", "filter/nv", "NV 文件 (*.bin)"},
    {"output_ui/save", "#66B3FF", "outputRow", "tip/output", "filter/package", "升级包 (*.pkg *.bin)"},
};

struct ActionSpec {
    const char *textKey;
    const char *fallback;   // the text when the language file has none (a file of an older release)
    bool usesConfig;
    const char *objectName;
    const char *tipKey;
};

const ActionSpec &actionSpec(Action action)
{
    static const ActionSpec specs[ActionCount] = {
        {"action/diff", "差分升级包", true, "diffButton", "tip/diff"},
        {"action/cz", "整包压缩升级包", true, "czButton", "tip/cz"},
        {"action/AB", "AB升级包", false, "abButton", "tip/AB"},
        {"action/block", "分块差分升级包", true, "blockButton", "tip/block"},
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

const char kErrorRow[] = "#fde2e2";
const char kWarnRow[] = "#fdf6ec";
const int kMaxPathBytes = 255;
const int kLowModeBits = 0x1f;
const int kNoBootMode = 0x11;
// A session change is written this long after the last one.
const int kSaveDelayMs = 200;
// A path that names nothing shows in this colour.
const char kMissingColour[] = "#f56c6c";

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

MainWindow::MainWindow(QWidget *parent) : PluginUIBase(parent)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kSaveDelayMs);
    QObject::connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveSessionNow(); });
}

MainWindow::~MainWindow()
{
    waitForBuild();
    saveSessionNow();
    // The sinks point at this window; the builder outlives it inside the library.
    fota_set_log_sink(nullptr);
    fota_set_progress_sink(nullptr);
}

QString MainWindow::text(const QString &key) const
{
    return tools ? tools->text(key) : QString();
}

QString MainWindow::textOr(const char *key, const char *fallback) const
{
    const QString translated = text(QLatin1String(key));
    return translated.isEmpty() ? QString::fromUtf8(fallback) : translated;
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

QString MainWindow::actionText(Action action) const
{
    return textOr(actionSpec(action).textKey, actionSpec(action).fallback);
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
    refreshPlan();
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
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        waitForBuild();
        saveSessionNow();
    });

    restoreSession();
    refreshPlan();
}

SysFileSelect *MainWindow::makeRow(Row row, QWidget *parent)
{
    const RowSpec &spec = kRows[row];
    auto *select = new SysFileSelect(parent, rowLabel(row),
                                     {textOr(spec.filterKey, spec.filterFallback),
                                      textOr("filter/all", "所有文件 (*)")});
    select->setObjectName(QLatin1String(spec.objectName));
    // A row keeps its readable height however small the window gets.
    select->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    select->setMinimumHeight(select->sizeHint().height());
    select->setThemeColor(QLatin1String(spec.colour));
    select->setCaption(rowLabel(row));
    // A path that names nothing is shown as it is, in red, with its tool tip saying so.
    select->pathEdit()->setStyleSheet(select->pathEdit()->styleSheet()
                                      + QStringLiteral("QLineEdit[missing=\"true\"]{color: %1;}")
                                            .arg(QLatin1String(kMissingColour)));
    if (row == OutputRow)
        select->setMode(SysFileSelect::SaveFile);
    QObject::connect(select->pathEdit(), &QLineEdit::textChanged, this, [this, row] {
        if (row == OldRow || row == NewRow)
            refreshPlan();
        else
            refreshRow(row, rowReason(row));
        saveSessionSoon();
    });
    QObject::connect(select, &SysFileSelect::selected, this, [this, row, select] {
        m_session.folders[row] = select->startDirectory();
        saveSessionSoon();
    });
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
    auto *layout = new SysVLayout(group);
    compact(group, layout);
    auto *buttons = new SysHLayout;
    buttons->setSpacing(layout->spacing());
    for (Action action : {DiffAction, CzAction, AbAction, BlockAction}) {
        const ActionSpec &spec = actionSpec(action);
        auto *button = new SysButton(group, actionText(action));
        button->setObjectName(QLatin1String(spec.objectName));
        button->installEventFilter(this);
        QObject::connect(button, &QPushButton::clicked, this, [this, action] { runAction(action); });
        buttons->addWidget(button);
        m_buttons[action] = button;
    }
    layout->addLayout(buttons);
    // What the chosen button will do with these images.
    auto *plan = new SysLabel(group, QString());
    plan->setObjectName(QStringLiteral("planLine"));
    plan->setFontSize(15);
    plan->setTextColor(QStringLiteral("#606266"));
    plan->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    plan->setWordWrap(true);
    plan->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_planLine = plan;
    layout->addWidget(plan);
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
    // Time and level as wide as their texts; the message takes the rest and wraps.
    m_log->setLogLayout(true);
    // The header and four rows stay in view: a failure's reason with the lines around it.
    m_log->setMinimumHeight(m_log->horizontalHeader()->sizeHint().height()
                            + 4 * m_log->verticalHeader()->defaultSectionSize() + 4);
    m_log->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_log, &QWidget::customContextMenuRequested, this, [this] { showLogMenu(); });
    QObject::connect(m_log, &SysTable::exportDirectoryChanged, this, [this](const QString &folder) {
        m_session.exportFolder = folder;
        saveSessionSoon();
    });
    layout->addWidget(m_log);
    return group;
}

void MainWindow::showLogMenu()
{
    // The kit's menu, clear first. Its texts are the kit's fixed Chinese ones; the language
    // file gives them in other languages.
    SysMenu *menu = m_log->createExportMenu(true, m_log, SysTable::MenuOrder::ClearFirst);
    const char *const texts[][3] = {{"copy", "process/menu/copy", "复制"},
                                    {"clear", "process/menu/clear", "清空表格"},
                                    {"exportSelectionCsv", "process/menu/exportSelectionCsv", "导出选区到CSV"},
                                    {"exportSelectionHtml", "process/menu/exportSelectionHtml", "导出选区到HTML"},
                                    {"exportCsv", "process/menu/exportCsv", "导出到CSV"},
                                    {"exportHtml", "process/menu/exportHtml", "导出到HTML"}};
    for (QAction *action : menu->actions()) {
        for (const auto &t : texts)
            if (action->objectName() == QLatin1String(t[0]))
                action->setText(textOr(t[1], t[2]));
        // The remembered log goes with the table's rows.
        if (action->objectName() == QLatin1String("clear"))
            QObject::connect(action, &QAction::triggered, this, [this] {
                m_session.log.clear();
                saveSessionSoon();
            });
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}

// ---- What the buttons will do ----

void MainWindow::choose(Action action)
{
    if (m_chosen == action)
        return;
    m_chosen = action;
    refreshPlan();
}

RowReason MainWindow::rowReason(Row row) const
{
    if (row == OutputRow)
        return RowReason::Used;
    const int board = plan_board(m_oldImage, m_newImage);
    if (m_chosen < 0 || action_reason(m_oldImage, m_newImage, Action(m_chosen)) != ActionReason::Usable)
        return row_reason_any(m_oldImage, m_newImage, row);
    return row_reason(board, Action(m_chosen), row);
}

QString MainWindow::rowReasonText(RowReason why) const
{
    switch (why) {
    case RowReason::NoNvOnBoard: return text(QStringLiteral("plan/row_no_nv"));
    case RowReason::InPlaceNoRoom:
        return formatPattern(text(QStringLiteral("plan/row_in_place")),
                             {actionText(DiffAction), actionText(BlockAction)});
    case RowReason::Used: break;
    }
    return QString();
}

QString MainWindow::actionReasonText(Action action) const
{
    switch (action_reason(m_oldImage, m_newImage, action)) {
    case ActionReason::BoardRefuses:
        return formatPattern(text(QStringLiteral("plan/button_board")),
                             {actionText(action), actionText(DiffAction), actionText(BlockAction)});
    case ActionReason::ImagesBuiltForOther: {
        const auto code = [](const ImageFacts &image) {
            return image.methodCode < 0 ? QStringLiteral("-")
                                        : QStringLiteral("0x%1").arg(image.methodCode, 0, 16);
        };
        return formatPattern(text(QStringLiteral("plan/button_image")),
                             {actionText(action), code(m_oldImage), code(m_newImage)});
    }
    case ActionReason::Usable: break;
    }
    return QString();
}

void MainWindow::refreshRow(Row row, RowReason why)
{
    SysFileSelect *select = m_rows[row];
    if (!select)
        return;
    const QString path = select->path().trimmed();
    bool missing = false;
    if (!path.isEmpty()) {
        const QFileInfo info(path);
        missing = row == OutputRow ? !info.absoluteDir().exists() : !info.isFile();
    }
    QStringList tip{text(QLatin1String(kRows[row].tipKey))};
    if (why != RowReason::Used)
        tip << rowReasonText(why);
    if (missing)
        tip << formatPattern(text(QLatin1String(row == OutputRow ? "tip/missing_folder" : "tip/missing")),
                             {row == OutputRow ? QFileInfo(path).absolutePath() : path});
    tip.removeAll(QString());
    const QString joined = tip.join(QLatin1Char('\n'));
    select->setToolTip(joined);
    select->pathEdit()->setToolTip(joined);
    select->browseButton()->setToolTip(joined);
    select->setEnabled(why == RowReason::Used);
    QLineEdit *edit = select->pathEdit();
    if (edit->property("missing").toBool() != missing) {
        edit->setProperty("missing", missing);
        edit->style()->unpolish(edit);
        edit->style()->polish(edit);
    }
}

void MainWindow::refreshPlan()
{
    if (!m_rows[OldRow] || !m_rows[NewRow])
        return;
    m_oldImage = inspect_image(m_rows[OldRow]->path().trimmed().toLocal8Bit().toStdString());
    m_newImage = inspect_image(m_rows[NewRow]->path().trimmed().toLocal8Bit().toStdString());
    for (int a = 0; a < ActionCount; ++a) {
        QPushButton *button = m_buttons[a];
        if (!button)
            continue;
        const QString why = actionReasonText(Action(a));
        button->setEnabled(why.isEmpty());
        QStringList tip{text(QLatin1String(actionSpec(Action(a)).tipKey)), why};
        tip.removeAll(QString());
        button->setToolTip(tip.join(QLatin1Char('\n')));
    }
    QStringList used, unused;
    for (int r = 0; r < RowCount; ++r) {
        const RowReason why = rowReason(Row(r));
        refreshRow(Row(r), why);
        if (r == OutputRow || (r == BootRow && m_rows[BootRow]->isHidden()))
            continue;
        (why == RowReason::Used ? used : unused) << rowLabel(Row(r));
    }
    if (!m_planLine)
        return;
    const int board = plan_board(m_oldImage, m_newImage);
    const QString boardName = board == kBoardZN3150    ? QStringLiteral("ZN3150")
                              : board == kBoardKLM4410 ? QStringLiteral("KLM4410")
                                                       : QString();
    QString line;
    if (boardName.isEmpty()) {
        line = text(QStringLiteral("plan/no_board"));
    } else if (m_chosen < 0) {
        line = formatPattern(text(QStringLiteral("plan/choose")), {boardName});
    } else if (!actionReasonText(Action(m_chosen)).isEmpty()) {
        line = actionReasonText(Action(m_chosen));
    } else {
        const QString separator = textOr("plan/separator", ", ");
        line = formatPattern(text(QStringLiteral("plan/uses")),
                             {actionText(Action(m_chosen)), boardName, used.join(separator)});
        if (!unused.isEmpty())
            line += formatPattern(text(QStringLiteral("plan/leaves_out")), {unused.join(separator)});
    }
    m_planLine->setText(line);
}

// ---- Builds ----

void MainWindow::showLogRow(int level, const QString &message, const QString &time)
{
    const int row = m_log->nextLogRow();
    m_log->appendLogLine(level, message, time);
    if (level == FOTA_LOG_ERROR || level == FOTA_LOG_WARN)
        m_log->setRowBackground(row, QLatin1String(level == FOTA_LOG_ERROR ? kErrorRow : kWarnRow));
}

void MainWindow::log(int level, const QString &message)
{
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    if (m_log) {
        if (level == FOTA_LOG_ERROR && m_firstErrorRow < 0)
            m_firstErrorRow = m_log->nextLogRow();
        showLogRow(level, message, time);
    }
    if (m_logFile)
        m_logFile->writeLine(level, "%s", message.toUtf8().constData());
    m_session.log.push_back({time, level, message});
    if (m_session.log.size() > 2 * kSessionLogRows)
        m_session.log.remove(0, m_session.log.size() - kSessionLogRows);
    saveSessionSoon();
}

bool MainWindow::runAction(Action action)
{
    if (m_worker)
        return false;
    choose(action);
    refreshPlan();
    m_buttonText = actionText(action);
    m_firstErrorRow = -1;

    PackRequest request;
    QByteArray outputPath;
    QString error;
    QStringList leftOut;
    const bool ready = prepare(action, request, outputPath, error, leftOut);
    // Nothing is replaced unasked; "no" keeps the file as it is and builds nothing.
    if (ready) {
        const QString output = m_rows[OutputRow]->path();
        if (QFileInfo::exists(output)
            && !questionBox(pluginName(), text(QStringLiteral("process/replace_ask")), {output})) {
            log(FOTA_LOG_INFO, format(QStringLiteral("process/replace_kept"), output));
            saveSessionNow();
            return false;
        }
    }
    // Every press that gets this far has its log file, a refused one too.
    openLogFile();
    log(FOTA_LOG_INFO, format(QStringLiteral("process/start_process"), m_buttonText));
    if (!ready) {
        log(FOTA_LOG_ERROR, error);
        log(FOTA_LOG_ERROR, format(QStringLiteral("process/process_fail"), m_buttonText));
        m_logFile.reset();
        // The bar shows this press's end, not the previous build's.
        progressBar->setRange(0, 100);
        progressBar->setValue(0);
        progressBar->setToolTip(QString());
        if (m_firstErrorRow >= 0)
            m_log->revealRow(m_firstErrorRow);
        saveSessionNow();
        return false;
    }
    if (!leftOut.isEmpty())
        log(FOTA_LOG_WARN, formatPattern(text(QStringLiteral("process/left_out")),
                                         {m_buttonText, leftOut.join(QLatin1Char(','))}));
    startBuild(request, outputPath);
    return true;
}

bool MainWindow::prepare(Action action, PackRequest &request, QByteArray &outputPath, QString &error,
                         QStringList &leftOut)
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
    for (Row row : required_rows(action))
        if (m_rows[row]->path().isEmpty())
            missing << rowLabel(row);
    if (!missing.isEmpty()) {
        error = format(QStringLiteral("select/select_file"), missing.join(QLatin1Char(',')));
        return false;
    }
    const QString refused = actionReasonText(action);
    if (!refused.isEmpty()) {
        error = refused;
        return false;
    }

    // A hidden row and a row the button leaves out pass no path. A longer path would be cut
    // to a different file name; refuse it instead.
    QByteArray paths[RowCount];
    for (int row = 0; row < RowCount; ++row) {
        if (m_rows[row]->isHidden())
            continue;
        const QString path = m_rows[row]->path();
        if (rowReason(Row(row)) != RowReason::Used) {
            if (!path.isEmpty())
                leftOut << rowLabel(Row(row));
            continue;
        }
        paths[row] = path.toLocal8Bit();
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
    request.method = action_method(action);
    // The builder's suggestions of another method name the button to press.
    for (int a = 0; a < ActionCount; ++a) {
        m_methodNames[a] = actionText(Action(a)).toLocal8Bit();
        m_methodPointers[action_method(Action(a))] = m_methodNames[a].constData();
    }
    request.method_names = m_methodPointers;
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
    progressBar->setRange(0, 100);
    progressBar->setValue(ok ? 100 : 0);
    progressBar->setToolTip(QString());
    setControlsEnabled(true);
    // The reason of a failure stays in view whole, however many lines followed it.
    if (!ok && m_firstErrorRow >= 0)
        m_log->revealRow(m_firstErrorRow);
    saveSessionNow();
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

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::FocusIn) {
        for (int a = 0; a < ActionCount; ++a)
            if (watched == m_buttons[a])
                choose(Action(a));
    }
    return PluginUIBase::eventFilter(watched, event);
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

// ---- The session ----

void MainWindow::restoreSession()
{
    if (!tools)
        return;
    m_sessionFile = QStringLiteral("%1/%2").arg(tools->configDir(), sessionFileName());
    SessionState state;
    if (!loadSession(m_sessionFile, state))
        return;
    m_restoring = true;
    for (int r = 0; r < RowCount; ++r) {
        m_rows[r]->setPath(state.paths[r]);
        m_rows[r]->setStartDirectory(state.folders[r]);
    }
    m_log->setExportDirectory(state.exportFolder);
    for (const SessionLogRow &line : qAsConst(state.log))
        showLogRow(line.level, line.text, line.time);
    m_session = state;
    m_restoring = false;
    m_saveTimer.stop();
}

void MainWindow::saveSessionSoon()
{
    if (m_restoring || m_sessionFile.isEmpty())
        return;
    m_sessionChanged = true;
    m_saveTimer.start();
}

void MainWindow::saveSessionNow()
{
    m_saveTimer.stop();
    // A window that changed nothing leaves the folder as it found it.
    if (!m_sessionChanged || m_sessionFile.isEmpty() || m_restoring)
        return;
    m_sessionChanged = false;
    for (int r = 0; r < RowCount; ++r)
        if (m_rows[r])
            m_session.paths[r] = m_rows[r]->path();
    saveSession(m_sessionFile, m_session);
}

} // namespace Deltamaker

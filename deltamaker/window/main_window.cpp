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
#include <QCoreApplication>
#include <QCursor>
#include <QDateTime>
#include <QFontMetrics>

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
    // The sink points at this window; the builder outlives it inside the library.
    fota_set_log_sink(nullptr);
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
    setCentralWidget(splitter);

    fota_set_log_sink([this](int level, const char *message) {
        log(level, withoutLineEnd(QString::fromLocal8Bit(message)));
        // Repaint the log while the build runs; user input waits, so no second build can
        // start inside this one.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
}

SysFileSelect *MainWindow::makeRow(Row row, QWidget *parent)
{
    auto *select = new SysFileSelect(parent, rowLabel(row), {QLatin1String(kFilter)});
    select->setObjectName(QLatin1String(kRows[row].objectName));
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
    auto *layout = new SysVLayout(group);
    for (Row row : {BootRow, PartitionRow, OldRow, NewRow, Nv1Row, Nv2Row})
        layout->addWidget(makeRow(row, group));
    if (bootRowHidden())
        m_rows[BootRow]->hide();
    return group;
}

QWidget *MainWindow::buildOutputGroup()
{
    auto *group = new SysGroupBox(nullptr, text(QStringLiteral("output_ui/title")));
    auto *layout = new SysVLayout(group);
    layout->addWidget(makeRow(OutputRow, group));
    return group;
}

QWidget *MainWindow::buildActionGroup()
{
    auto *group = new SysGroupBox(nullptr, text(QStringLiteral("action/title")));
    auto *layout = new SysHLayout(group);
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
    m_log->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_log, &QWidget::customContextMenuRequested, this, [this] { showLogMenu(); });
    layout->addWidget(m_log);
    return group;
}

void MainWindow::showLogMenu()
{
    // The kit's export menu in reverse order: clear, the selection exports, the whole-table ones.
    SysMenu *menu = m_log->createExportMenu(true, m_log);
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions)
        menu->removeAction(action);
    for (int i = actions.size() - 1; i >= 0; --i)
        menu->addAction(actions[i]);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QCursor::pos());
}

void MainWindow::log(int level, const QString &message)
{
    if (m_log) {
        m_log->appendLogLine(level, message);
        if (level == FOTA_LOG_ERROR || level == FOTA_LOG_WARN)
            m_log->setRowBackground(m_log->nextLogRow() - 1,
                                    QLatin1String(level == FOTA_LOG_ERROR ? kErrorRow : kWarnRow));
    }
    if (m_logFile)
        m_logFile->writeLine(level, "%s", message.toUtf8().constData());
}

bool MainWindow::runAction(Action action)
{
    if (m_building)
        return false;
    m_building = true;
    const QString buttonText = text(QLatin1String(actionSpec(action).textKey));

    m_logFile.reset(new SysLogFile);
    if (tools) {
        const QString name = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
        const QString path = QStringLiteral("%1/%2.log").arg(tools->logDir(), name);
        if (!m_logFile->openLog(path))
            m_logFile.reset();
    }

    log(FOTA_LOG_INFO, format(QStringLiteral("process/start_process"), buttonText));
    const bool ok = build(action);
    if (ok)
        log(FOTA_LOG_INFO, format(QStringLiteral("process/process_success"), buttonText));
    else
        log(FOTA_LOG_ERROR, format(QStringLiteral("process/process_fail"), buttonText));

    m_logFile.reset();
    m_building = false;
    return ok;
}

bool MainWindow::build(Action action)
{
    const ActionSpec &spec = actionSpec(action);
    if (spec.usesConfig) {
        IConfigFile *config = tools ? tools->config(false) : nullptr;
        if (!config) {
            log(FOTA_LOG_ERROR, format(QStringLiteral("process/config_missing"),
                          tools ? tools->configFilePath() : QString()));
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
        log(FOTA_LOG_ERROR, format(QStringLiteral("select/select_file"), missing.join(QLatin1Char(','))));
        return false;
    }

    // A longer path would be cut to a different file name; refuse it instead.
    QByteArray paths[RowCount];
    for (int row = 0; row < RowCount; ++row) {
        paths[row] = m_rows[row]->path().toLocal8Bit();
        if (paths[row].size() > kMaxPathBytes) {
            log(FOTA_LOG_ERROR, format(QStringLiteral("select/path_too_long"), rowLabel(Row(row))));
            return false;
        }
    }
    PackRequest request;
    std::memset(&request, 0, sizeof request);
    copyPath(request.boot_path, paths[BootRow]);
    copyPath(request.partition_path, paths[PartitionRow]);
    copyPath(request.old_path, paths[OldRow]);
    copyPath(request.new_path, paths[NewRow]);
    copyPath(request.nv1_path, paths[Nv1Row]);
    copyPath(request.nv2_path, paths[Nv2Row]);
    request.method = spec.method;
    request.output_path = paths[OutputRow].constData();
    return fota_make_package(request) == 0;
}

} // namespace Deltamaker

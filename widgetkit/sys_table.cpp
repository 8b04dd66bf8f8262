#include "widgetkit/sys_table.h"

#include "common/dialogs.h"
#include "common/log_levels.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_style.h"
#include "widgetkit/sys_table_export.h"
#include "widgetkit/sys_widget.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>

using Internal::appendStyle;
using Internal::c8;

namespace {

const char *const kLevelTags[] = {"DBG", "ERR", "WAR", "INF"};

// Export dialogs offer their own kind first, then every file; a name typed without an
// extension gets the chosen filter's.
const QString kHtmlFilter = QStringLiteral("HTML 文件 (*.html *.htm);;所有文件 (*)");
const QString kCsvFilter = QStringLiteral("CSV 文件 (*.csv);;所有文件 (*)");

// Texts of the cells of `row` between the columns that have an item, and whether any of them
// is non-empty.
QStringList rowTexts(const QTableWidget &table, int row, int left, int right, bool *hasText)
{
    QStringList texts;
    *hasText = false;
    for (int c = left; c <= right; ++c) {
        if (const QTableWidgetItem *it = table.item(row, c)) {
            texts << it->text();
            if (!it->text().isEmpty())
                *hasText = true;
        }
    }
    return texts;
}

QStringList headerTexts(const QTableWidget &table, int left, int right)
{
    QStringList texts;
    for (int c = left; c <= right; ++c) {
        if (const QTableWidgetItem *it = table.horizontalHeaderItem(c))
            texts << it->text();
    }
    return texts;
}

} // namespace

QString sysLogLevelName(int level)
{
    const char *name = logLevelName(level);
    return name ? QString::fromLatin1(name) : QString();
}

QString sysLogLevelTag(int level)
{
    return level >= 0 && level < 4 ? QString::fromLatin1(kLevelTags[level]) : QString();
}

SysTable::SysTable(QWidget *parent, const QStringList &headers) : QTableWidget(parent)
{
    setStyleSheet(QStringLiteral(
        "\tQTableWidget\t{\t\t  background:#FFFFFF;\t\t  border:none;\t\t  color:#000;\t\t  font-family: '微软雅黑';\t}"
        "\tQHeaderView\t{\t\t  background:#f0f0f0;\t\t  border:none;\t}"
        "\tQHeaderView::section\t{\t\t  background:#f0f0f0;\t\t  border:none;\t\t  border-right:1px solid #f0f0f0;"
        "\t\t  text-align:left;\t\t  padding:.25em .5em;\t}"
        "\tQTableWidget::item\t{\t\t  outline:none;\t\t  margin:0px;\t}"
        "\tQScrollBar\t{\t\t  background:transparent;\t}"
        "\tQScrollBar:vertical\t{\t\t  width:8px;\t}"
        "\tQScrollBar:horizontal\t{\t\t  height:8px;\t}"
        "\tQScrollBar::handle:vertical\t{\t\t  min-height:7px;\t}"
        "\tQScrollBar::handle:horizontal\t{\t\t  min-width:7px;\t}"));
    setFontSize(18);
    setHeaderBackgroundColor(QStringLiteral("#e0e0e0"));
    setScrollBarColor(QStringLiteral("#ddd"));
    verticalHeader()->hide();
    setSelectionBehavior(QAbstractItemView::SelectRows);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setFocusPolicy(Qt::NoFocus);
    setAutoScroll(true);
    m_exportColor = QStringLiteral("#409eff");
    m_nextLogRow = 0;
    m_exportDir = QDir::homePath();
    setHeaders(headers);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column) {
        if (m_logLayout && column == columnCount() - 1)
            scheduleRowHeights();
    });
}

void SysTable::setHeaderBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQHeaderView::section\t{\t  background-color:%s;\t}", c8(colour).constData()));
}

void SysTable::setHeaderTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQHeaderView::section\t{\t  color:%s;\t}", c8(colour).constData()));
}

void SysTable::setSelectedBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTableWidget::item::selected\t{\t  background-color:%s;\t}",
                                        c8(colour).constData()));
}

void SysTable::setTextColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    appendStyle(this, QString::asprintf(
        "\tQHeaderView::section\t{\t  color:%s;\t}\tQTableWidget::item\t{\t  color:%s;\t}", c.constData(), c.constData()));
}

void SysTable::setSelectedTextColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTableWidget::item::selected\t{\t  color:%s;\t}", c8(colour).constData()));
}

void SysTable::setFontSize(int px)
{
    appendStyle(this, QString::asprintf(
        "\tQTableWidget\t{\t  font-size:%dpx;\t}\tQHeaderView::section\t{\t  font-size:%dpx;\t}"
        "\tQTableWidget::item\t{\t  font-size:%dpx;\t}", px, px, px));
}

void SysTable::setScrollBarColor(const QString &colour)
{
    appendStyle(this, Internal::scrollBarFragment(QStringLiteral("QTableWidget"), colour));
}

void SysTable::setHeaderPadding(double topEm, double bottomEm)
{
    appendStyle(this, QString::asprintf(
        "\tQHeaderView::section\t{\t  padding-top:%.2fem;\t  padding-bottom:%.2fem;\t}", topEm, bottomEm));
}

void SysTable::setItemPadding(double topEm, double bottomEm)
{
    appendStyle(this, QString::asprintf(
        "\tQTableWidget::item\t{\t  padding-top:%.2fem;\t  padding-bottom:%.2fem;\t}", topEm, bottomEm));
}

void SysTable::setGridLineColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTableWidget{\t\tgridline-color: %s;\t}", c8(colour).constData()));
}

void SysTable::setHeaders(const QStringList &labels)
{
    setColumnCount(labels.size());
    for (int c = 0; c < labels.size(); ++c)
        setHorizontalHeaderItem(c, new QTableWidgetItem(labels[c]));
}

void SysTable::setResizeToContents(bool on)
{
    horizontalHeader()->setSectionResizeMode(on ? QHeaderView::ResizeToContents : QHeaderView::Fixed);
}

void SysTable::addRows(int n)
{
    if (n > 0)
        setRowCount(rowCount() + n);
}

void SysTable::ensureRow(int row)
{
    if (row >= rowCount())
        setRowCount(row + 1);
}

Qt::Alignment SysTable::columnAlignment(int column) const
{
    return m_alignments.value(column, Qt::AlignLeft | Qt::AlignVCenter);
}

QTableWidgetItem *SysTable::ensureItem(int row, int column)
{
    if (row < 0 || column < 0 || column >= columnCount())
        return nullptr;
    ensureRow(row);
    QTableWidgetItem *it = item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        it->setTextAlignment(static_cast<int>(columnAlignment(column)));
        setItem(row, column, it); // the table owns the item
    }
    return it;
}

QTableWidgetItem *SysTable::setCellText(int row, int column, const QString &text)
{
    QTableWidgetItem *it = ensureItem(row, column);
    if (it)
        it->setText(text);
    return it;
}

void SysTable::setRowTexts(int row, const QStringList &texts)
{
    for (int i = 0; i < texts.size(); ++i)
        setCellText(row, i, texts[i]);
    viewport()->update();
}

void SysTable::setEditable(bool on)
{
    setEditTriggers(on ? (QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed)
                       : QAbstractItemView::NoEditTriggers);
}

void SysTable::setColumnAlignment(int column, Qt::Alignment flags)
{
    m_alignments.insert(column, flags);
}

void SysTable::scrollToRow(int row)
{
    if (row < 0)
        return;
    ensureItem(row, 0);
    if (QTableWidgetItem *next = ensureItem(row + 1, 0))
        scrollToItem(next);
}

void SysTable::setCellWidget(int row, int column, QWidget *widget)
{
    if (row < 0 || column < 0 || column >= columnCount() || !widget)
        return;
    ensureRow(row);
    auto *wrapper = new SysWidget;
    auto *layout = new SysHLayout(wrapper);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(widget);
    QTableWidget::setCellWidget(row, column, wrapper); // the table owns the wrapper
}

void SysTable::setRowBackground(int row, const QString &colour)
{
    forEachInRow(row, [&colour](QTableWidgetItem *it, int) { it->setBackground(QColor(colour)); });
}

void SysTable::forEachInRow(int row, const std::function<void(QTableWidgetItem *, int)> &callback)
{
    for (int c = 0; c < columnCount(); ++c) {
        QTableWidgetItem *it = ensureItem(row, c);
        if (callback && it)
            callback(it, c);
    }
}

void SysTable::clearTable()
{
    clearContents();
    m_nextLogRow = 0;
}

void SysTable::setAutoFitColumns(const QSet<int> &columns)
{
    m_autoFit = columns;
    fitColumns();
}

void SysTable::resizeEvent(QResizeEvent *event)
{
    QTableWidget::resizeEvent(event);
    fitColumns();
}

bool SysTable::viewportEvent(QEvent *event)
{
    const bool handled = QTableWidget::viewportEvent(event);
    // A scroll bar shown or hidden resizes the viewport without resizing the table.
    if (event->type() == QEvent::Resize)
        fitColumns();
    return handled;
}

void SysTable::fitColumns()
{
    if (m_autoFit.isEmpty() || m_fitting)
        return;
    // The share comes from the viewport, which a shown vertical bar has already narrowed, so
    // the columns never overflow it because of the share: the horizontal bar appears only when
    // the other columns alone are too wide, and no bar's visibility depends on the result.
    int used = 0;
    int fitted = 0;
    for (int c = 0; c < columnCount(); ++c) {
        if (m_autoFit.contains(c))
            ++fitted;
        else if (!isColumnHidden(c))
            used += columnWidth(c);
    }
    if (fitted == 0)
        return;
    const int share = qMax(0, (viewport()->width() - used) / fitted);
    m_fitting = true;
    for (int c : qAsConst(m_autoFit)) {
        if (c >= 0 && c < columnCount() && columnWidth(c) != share)
            setColumnWidth(c, share);
    }
    m_fitting = false;
}

void SysTable::collectAll(SysExportTableBase &out) const
{
    out.headers = headerTexts(*this, 0, columnCount() - 1);
    out.rows.clear();
    int lastWithText = -1;
    for (int r = 0; r < rowCount(); ++r) {
        bool hasText = false;
        out.rows << rowTexts(*this, r, 0, columnCount() - 1, &hasText);
        if (hasText)
            lastWithText = r;
    }
    out.rows.erase(out.rows.begin() + (lastWithText + 1), out.rows.end());
}

void SysTable::collectSelection(SysExportTableBase &out) const
{
    out.headers.clear();
    out.rows.clear();
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty())
        return;
    // Ranges of different spans share one header line: it covers every exported column.
    int left = ranges.first().leftColumn();
    int right = ranges.first().rightColumn();
    for (const QTableWidgetSelectionRange &range : ranges) {
        QList<QStringList> rows;
        int lastWithText = -1;
        for (int r = range.topRow(); r <= range.bottomRow(); ++r) {
            bool hasText = false;
            rows << rowTexts(*this, r, range.leftColumn(), range.rightColumn(), &hasText);
            if (hasText)
                lastWithText = rows.size() - 1;
        }
        rows.erase(rows.begin() + (lastWithText + 1), rows.end());
        out.rows << rows;
        left = qMin(left, range.leftColumn());
        right = qMax(right, range.rightColumn());
    }
    out.headers = headerTexts(*this, left, right);
}

bool SysTable::exportAllToHtml(const QString &fileName) const
{
    SysHtmlTable html;
    html.color = m_exportColor;
    collectAll(html);
    return html.exportToFile(fileName);
}

bool SysTable::exportAllToCsv(const QString &fileName) const
{
    SysCsvTable csv;
    collectAll(csv);
    return csv.exportToFile(fileName);
}

bool SysTable::exportSelectionToHtml(const QString &fileName) const
{
    SysHtmlTable html;
    html.color = m_exportColor;
    collectSelection(html);
    return html.exportToFile(fileName);
}

bool SysTable::exportSelectionToCsv(const QString &fileName) const
{
    SysCsvTable csv;
    collectSelection(csv);
    return csv.exportToFile(fileName);
}

void SysTable::appendLogLine(int level, const QString &text)
{
    appendLogLine(level, text,
                  QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
}

void SysTable::appendLogLine(int level, const QString &text, const QString &time)
{
    if (!m_logLayout)
        setLogLayout(true);
    const int row = m_nextLogRow;
    setRowTexts(row, {time, sysLogLevelName(level), text});
    forEachInRow(row, [&text](QTableWidgetItem *it, int) { it->setToolTip(text); });
    resizeRowToContents(row);
    scrollToRow(row);
    ++m_nextLogRow;
}

void SysTable::setLogLayout(bool on)
{
    m_logLayout = on;
    QHeaderView *header = horizontalHeader();
    if (!on) {
        header->setSectionResizeMode(QHeaderView::Interactive);
        setWordWrap(false);
        setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
        setFocusPolicy(Qt::NoFocus);
        return;
    }
    // The share of the other columns would fight the stretching last one.
    m_autoFit.clear();
    const int last = columnCount() - 1;
    for (int c = 0; c < last; ++c)
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    if (last >= 0)
        header->setSectionResizeMode(last, QHeaderView::Stretch);
    setWordWrap(true);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tall rows would otherwise jump a whole row per wheel step and could not end flush.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFocusPolicy(Qt::ClickFocus);
    scheduleRowHeights();
}

void SysTable::scheduleRowHeights()
{
    if (m_rowHeightsPending)
        return;
    m_rowHeightsPending = true;
    // One pass once the header has settled, however many sections moved meanwhile.
    QTimer::singleShot(0, this, [this] {
        m_rowHeightsPending = false;
        if (m_logLayout)
            resizeRowsToContents();
    });
}

void SysTable::revealRow(int row)
{
    if (row < 0 || row >= rowCount() || columnCount() == 0)
        return;
    // The header fits its columns on a timer and the heights follow the widths; both are
    // brought up to date first, so that the scroll lands on the final geometry.
    QMetaObject::invokeMethod(horizontalHeader(), "resizeSections");
    if (m_logLayout) {
        m_rowHeightsPending = false;
        resizeRowsToContents();
    }
    scrollTo(model()->index(row, 0), QAbstractItemView::PositionAtTop);
}

QString SysTable::selectedRowsText() const
{
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (int r : rows) {
        bool hasText = false;
        lines << rowTexts(*this, r, 0, columnCount() - 1, &hasText).join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

void SysTable::copySelectedRows() const
{
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void SysTable::keyPressEvent(QKeyEvent *event)
{
    if (m_logLayout && event->matches(QKeySequence::Copy)) {
        copySelectedRows();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void SysTable::setExportDirectory(const QString &folder)
{
    if (!folder.isEmpty())
        m_exportDir = folder;
}

void SysTable::exportWithDialog(const QString &filter, bool (SysTable::*exporter)(const QString &) const)
{
    const QString file = saveFileDialog(this, QString(), m_exportDir, filter);
    if (file.isEmpty())
        return;
    // The menu reports nothing: a failed export is silent.
    if ((this->*exporter)(file)) {
        m_exportDir = QFileInfo(file).absolutePath();
        emit exportDirectoryChanged(m_exportDir);
    }
}

SysMenu *SysTable::createExportMenu(bool withClear, QWidget *parent, MenuOrder order)
{
    auto *menu = new SysMenu(parent ? parent : this);
    QList<QAction *> actions;
    const auto exportAction = [&](const char *name, const QString &text, const QString &filter,
                                  bool (SysTable::*exporter)(const QString &) const) {
        auto *action = new QAction(text, menu);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this,
                [this, filter, exporter] { exportWithDialog(filter, exporter); });
        actions << action;
    };
    exportAction("exportHtml", QStringLiteral("导出到HTML"), kHtmlFilter, &SysTable::exportAllToHtml);
    exportAction("exportCsv", QStringLiteral("导出到CSV"), kCsvFilter, &SysTable::exportAllToCsv);
    exportAction("exportSelectionHtml", QStringLiteral("导出选区到HTML"), kHtmlFilter,
                 &SysTable::exportSelectionToHtml);
    exportAction("exportSelectionCsv", QStringLiteral("导出选区到CSV"), kCsvFilter,
                 &SysTable::exportSelectionToCsv);
    if (withClear) {
        auto *clear = new QAction(QStringLiteral("清空表格"), menu);
        clear->setObjectName(QStringLiteral("clear"));
        connect(clear, &QAction::triggered, this, &SysTable::clearTable);
        actions << clear;
    }
    if (order == MenuOrder::ClearFirst)
        std::reverse(actions.begin(), actions.end());
    if (m_logLayout) {
        auto *copy = new QAction(QStringLiteral("复制"), menu);
        copy->setObjectName(QStringLiteral("copy"));
        copy->setShortcut(QKeySequence::Copy);
        copy->setEnabled(selectionModel()->hasSelection());
        connect(copy, &QAction::triggered, this, &SysTable::copySelectedRows);
        actions.prepend(copy);
    }
    menu->addActions(actions);
    return menu;
}

void SysTable::enableExportMenu(bool withClear)
{
    const bool connected = contextMenuPolicy() == Qt::CustomContextMenu && m_menuConnected;
    m_menuWithClear = withClear;
    setContextMenuPolicy(Qt::CustomContextMenu);
    if (connected)
        return;
    m_menuConnected = true;
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &) {
        SysMenu *menu = createExportMenu(m_menuWithClear, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(QCursor::pos());
    });
}

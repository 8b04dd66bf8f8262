// The kit's table: items created on demand, per-column alignment, log rows, exports and an
// export/clear context menu.
#pragma once

#include <QMap>
#include <QSet>
#include <QStringList>
#include <QTableWidget>

#include <functional>

class SysExportTableBase;
class SysMenu;

class SysTable : public QTableWidget
{
    Q_OBJECT
public:
    explicit SysTable(QWidget *parent = nullptr, const QStringList &headers = QStringList());

    // Style setters (each appends one fragment).
    void setHeaderBackgroundColor(const QString &colour);
    void setHeaderTextColor(const QString &colour);
    void setSelectedBackgroundColor(const QString &colour);
    // Header and item text.
    void setTextColor(const QString &colour);
    void setSelectedTextColor(const QString &colour);
    // Table, header sections and items.
    void setFontSize(int px);
    void setScrollBarColor(const QString &colour);
    void setHeaderPadding(double topEm, double bottomEm);
    void setItemPadding(double topEm, double bottomEm);
    void setGridLineColor(const QString &colour);

    // Column count = number of labels, one header item each.
    void setHeaders(const QStringList &labels);
    // true = columns sized to their contents, false = fixed.
    void setResizeToContents(bool on);
    void addRows(int n);
    // Grows the table so that `row` exists.
    void ensureRow(int row);
    // The cell's item, created empty (with the column's alignment) when missing.
    QTableWidgetItem *ensureItem(int row, int column);
    QTableWidgetItem *setCellText(int row, int column, const QString &text);
    void setRowTexts(int row, const QStringList &texts);
    // true: edit on double click and on the edit key.
    void setEditable(bool on);
    // Alignment of items created later in that column (default left + vertically centred).
    void setColumnAlignment(int column, Qt::Alignment flags);
    Qt::Alignment columnAlignment(int column) const;
    // Makes rows `row` and `row + 1` exist and scrolls the latter into view.
    void scrollToRow(int row);
    // Puts the widget, wrapped in a zero-margin container, into the cell.
    void setCellWidget(int row, int column, QWidget *widget);
    // Rows below 0 are ignored.
    void setRowBackground(int row, const QString &colour);
    void forEachInRow(int row, const std::function<void(QTableWidgetItem *, int)> &callback);
    // Empties every cell (rows stay) and restarts the log at row 0.
    void clearTable();

    // Columns that share the viewport's width left by the other columns, on every resize of
    // the table or its viewport.
    void setAutoFitColumns(const QSet<int> &columns);
    QSet<int> autoFitColumns() const { return m_autoFit; }

    void setExportColor(const QString &colour) { m_exportColor = colour; }
    QString exportColor() const { return m_exportColor; }
    bool exportAllToHtml(const QString &fileName) const;
    bool exportAllToCsv(const QString &fileName) const;
    bool exportSelectionToHtml(const QString &fileName) const;
    bool exportSelectionToCsv(const QString &fileName) const;
    // What the exports write: headers and rows of the whole table or of the selection.
    void collectAll(SysExportTableBase &out) const;
    void collectSelection(SysExportTableBase &out) const;

    // Log rows: [time "yyyy-MM-dd hh:mm:ss.zzz", level name, text] written at the next log
    // row, which then advances, so one empty row always stays below the newest line. The text
    // is also the tool tip of the row's cells. The first line turns the log layout on.
    void appendLogLine(int level, const QString &text);
    // The same with a time text of the caller's (a log brought back from an earlier run).
    void appendLogLine(int level, const QString &text, const QString &time);
    int nextLogRow() const { return m_nextLogRow; }

    // Log layout: the time and level columns are as wide as their contents, the last column
    // takes the rest and wraps its text, each row as high as its text needs; the view scrolls
    // by pixels, takes focus on a click and copies the selected rows (Ctrl+C, and "复制" first
    // in the context menu).
    void setLogLayout(bool on);
    bool hasLogLayout() const { return m_logLayout; }
    // Scrolls so that the row starts at the top of the view (as far as the rows below allow),
    // so a row no taller than the view is seen whole.
    void revealRow(int row);
    // The selected rows as lines of tab-separated cell texts, in row order.
    QString selectedRowsText() const;
    // Puts selectedRowsText() on the clipboard; nothing when no row is selected.
    void copySelectedRows() const;

    // Folder the export dialogs open in: the one last exported to, at first the home folder.
    QString exportDirectory() const { return m_exportDir; }
    void setExportDirectory(const QString &folder);

    // Context menu with "导出到HTML", "导出到CSV", "导出选区到HTML", "导出选区到CSV" and, when
    // asked for, "清空表格"; ClearFirst lists the same entries the other way round (log views).
    // A table in log layout offers "复制" (the selected rows) before them. Each action's object
    // name tells what it does ("copy", "exportHtml", "exportCsv", "exportSelectionHtml",
    // "exportSelectionCsv", "clear"). The menu is a child of `parent` (the table when null).
    enum class MenuOrder { ExportsFirst, ClearFirst };
    SysMenu *createExportMenu(bool withClear, QWidget *parent = nullptr,
                              MenuOrder order = MenuOrder::ExportsFirst);
    // Shows that menu at the cursor on every right click (menu deleted when closed).
    void enableExportMenu(bool withClear);

signals:
    // An export was written into this folder.
    void exportDirectoryChanged(const QString &folder);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fitColumns();
    // Rows measured again once the wrapping column's width has settled.
    void scheduleRowHeights();
    void exportWithDialog(const QString &filter, bool (SysTable::*exporter)(const QString &) const);

    QMap<int, Qt::Alignment> m_alignments;
    QSet<int> m_autoFit;
    bool m_fitting = false;
    int m_nextLogRow = 0;
    QString m_exportColor = QStringLiteral("#409eff");
    bool m_menuWithClear = false;
    bool m_menuConnected = false;
    bool m_logLayout = false;
    bool m_rowHeightsPending = false;
    QString m_exportDir;
};

// Level names of log tables by index 0..3, "DEBUG", "ERROR", "WARN", "INFO"; empty otherwise.
QString sysLogLevelName(int level);
// Tags of log files by index 0..3, "DBG", "ERR", "WAR", "INF"; empty otherwise.
QString sysLogLevelTag(int level);

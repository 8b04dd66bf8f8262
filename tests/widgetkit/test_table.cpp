// SysTable cell operations, log rows, exports byte for byte and the export menu.
#include "tests/support/recording_presenter.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_table.h"
#include "widgetkit/sys_table_export.h"
#include "widgetkit/sys_widget.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QTemporaryDir>
#include <QClipboard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPointer>

#include <gtest/gtest.h>

namespace {

const char kHtmlHead[] = "<html><head><title></title></head><body style=\"padding: 0px;margin: 0px;\">"
                         "<table border=\"#409eff\" style=\"width:100%;border-collapse: collapse; border: 1px solid #ecf5ff;\">";
const char kTd[] = "<td style=\"padding:.25rem .75rem;\">";
const char kNextTd[] = "</td><td style=\"padding:.25rem .75rem;\">";
const char kTail[] = "</tbody></table></body></html>";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QByteArray thead(const QStringList &headers)
{
    return QByteArray("<thead><tr style=\"color: #fff;background-color: #409eff;\"><th style=\"padding:.25rem .75rem;\">")
        + headers.join("</th><th style=\"padding:.25rem .75rem;\">").toUtf8() + "</th></tr></thead>";
}

QByteArray row(const QStringList &cells, bool band)
{
    return (band ? QByteArray("<tr style=\"background-color:#ecf5ff\">") : QByteArray("<tr>")) + kTd
        + cells.join(kNextTd).toUtf8() + "</td></tr>";
}

// Rows: [1, 2, "3,4"], an inner row without items, [x, -, z], a row with one empty item, and
// three rows never written.
void fillSample(SysTable &table)
{
    table.setRowTexts(0, {"1", "2", "3,4"});
    table.setCellText(2, 0, "x");
    table.setCellText(2, 2, "z");
    table.ensureItem(3, 1);
    table.addRows(3);
}

class KitTable : public ::testing::Test
{
protected:
    QString path(const QString &name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir;
};

} // namespace

TEST_F(KitTable, ConstructionDefaults)
{
    SysTable table(nullptr, {"A", "B"});
    EXPECT_EQ(table.columnCount(), 2);
    EXPECT_EQ(table.horizontalHeaderItem(1)->text(), "B");
    EXPECT_TRUE(table.verticalHeader()->isHidden());
    EXPECT_EQ(table.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(table.horizontalHeader()->stretchLastSection());
    EXPECT_EQ(table.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(table.exportColor(), "#409eff");
    EXPECT_EQ(table.nextLogRow(), 0);
    EXPECT_TRUE(table.styleSheet().startsWith("\tQTableWidget\t{\t\t  background:#FFFFFF;\t\t  border:none;"
                                              "\t\t  color:#000;\t\t  font-family: '微软雅黑';\t}"));
    table.setSelectedBackgroundColor("#123456");
    EXPECT_TRUE(table.styleSheet().endsWith("\tQTableWidget::item::selected\t{\t  background-color:#123456;\t}"));
    table.setGridLineColor("#eee");
    EXPECT_TRUE(table.styleSheet().endsWith("\tQTableWidget{\t\tgridline-color: #eee;\t}"));
}

TEST_F(KitTable, ItemsAreCreatedOnDemandWithTheColumnAlignment)
{
    SysTable table(nullptr, {"A", "B"});
    EXPECT_EQ(table.rowCount(), 0);
    table.setColumnAlignment(1, Qt::AlignRight);
    QTableWidgetItem *right = table.ensureItem(4, 1);
    ASSERT_NE(right, nullptr);
    EXPECT_EQ(table.rowCount(), 5);
    EXPECT_EQ(right->textAlignment(), int(Qt::AlignRight));
    EXPECT_EQ(table.ensureItem(4, 1), right);
    EXPECT_EQ(table.ensureItem(0, 0)->textAlignment(), int(Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(table.item(1, 0), nullptr);
    EXPECT_EQ(table.ensureItem(0, 2), nullptr); // no such column
    EXPECT_EQ(table.ensureItem(-1, 0), nullptr);

    table.ensureRow(2);
    EXPECT_EQ(table.rowCount(), 5);
    table.scrollToRow(8);
    EXPECT_EQ(table.rowCount(), 10);
    EXPECT_NE(table.item(9, 0), nullptr);

    table.setRowBackground(1, "#ff0000");
    EXPECT_EQ(table.item(1, 1)->background().color(), QColor("#ff0000"));
    QList<int> columns;
    table.forEachInRow(6, [&](QTableWidgetItem *it, int c) {
        EXPECT_EQ(it, table.item(6, c));
        columns << c;
    });
    EXPECT_EQ(columns, QList<int>({0, 1}));

    table.setEditable(true);
    EXPECT_EQ(table.editTriggers(), QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    table.setEditable(false);
    EXPECT_EQ(table.editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(KitTable, CellWidgetIsWrapped)
{
    SysTable table(nullptr, {"A", "B"});
    QPointer<QLabel> label = new QLabel("w");
    table.setCellWidget(3, 1, label);
    EXPECT_EQ(table.rowCount(), 4);
    auto *wrapper = qobject_cast<SysWidget *>(table.cellWidget(3, 1));
    ASSERT_NE(wrapper, nullptr);
    EXPECT_EQ(label->parentWidget(), wrapper);
    EXPECT_EQ(wrapper->layout()->contentsMargins(), QMargins(0, 0, 0, 0));
    table.clearTable();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(label.isNull());
}

TEST_F(KitTable, WholeTableCsv)
{
    SysTable table(nullptr, {"A", "B", "C"});
    fillSample(table);
    ASSERT_TRUE(table.exportAllToCsv(path("t.csv")));
    EXPECT_EQ(readAll(path("t.csv")), QByteArray("A,B,C\n1,2,3,4\n\nx,z\n"));
}

TEST_F(KitTable, WholeTableHtml)
{
    SysTable table(nullptr, {"A", "B", "C"});
    fillSample(table);
    ASSERT_TRUE(table.exportAllToHtml(path("t.html")));
    // Row 1 has no cells and is skipped but counted: row 2 is even and not banded. Rows 3 to 6
    // hold no text and are dropped.
    const QByteArray expected = QByteArray(kHtmlHead) + thead({"A", "B", "C"}) + "<tbody>" + row({"1", "2", "3,4"}, false)
        + row({"x", "z"}, false) + kTail;
    EXPECT_EQ(readAll(path("t.html")), expected);
}

TEST_F(KitTable, HtmlBandsOddRowsEvenWhenSomeAreSkipped)
{
    SysHtmlTable html;
    html.rows = {{"a"}, {"b"}, {}, {"d"}, {"e"}};
    ASSERT_TRUE(html.exportToFile(path("b.html")));
    const QByteArray expected = QByteArray(kHtmlHead) + "<tbody>" + row({"a"}, false) + row({"b"}, true)
        + row({"d"}, true) + row({"e"}, false) + kTail;
    EXPECT_EQ(readAll(path("b.html")), expected);

    html.color = "#ff0000";
    html.headers = QStringList{"H"};
    html.rows = {{"r0"}, {"r1"}};
    ASSERT_TRUE(html.exportToFile(path("c.html")));
    EXPECT_EQ(readAll(path("c.html")),
              QByteArray("<html><head><title></title></head><body style=\"padding: 0px;margin: 0px;\">"
                         "<table border=\"#ff0000\" style=\"width:100%;border-collapse: collapse; border: 1px solid #ffe6e6;\">"
                         "<thead><tr style=\"color: #fff;background-color: #ff0000;\"><th style=\"padding:.25rem .75rem;\">H</th>"
                         "</tr></thead><tbody><tr><td style=\"padding:.25rem .75rem;\">r0</td></tr>"
                         "<tr style=\"background-color:#ffe6e6\"><td style=\"padding:.25rem .75rem;\">r1</td></tr>")
                  + kTail);
}

TEST_F(KitTable, TableWithoutHeadersOrText)
{
    SysTable table;
    table.setColumnCount(2);
    table.addRows(3);
    table.ensureItem(1, 1);
    ASSERT_TRUE(table.exportAllToCsv(path("e.csv")));
    EXPECT_EQ(readAll(path("e.csv")), QByteArray("\n"));
    ASSERT_TRUE(table.exportAllToHtml(path("e.html")));
    EXPECT_EQ(readAll(path("e.html")), QByteArray(kHtmlHead) + "<tbody>" + kTail);

    table.setCellText(0, 0, "only");
    ASSERT_TRUE(table.exportAllToCsv(path("f.csv")));
    EXPECT_EQ(readAll(path("f.csv")), QByteArray("\nonly\n"));
}

TEST_F(KitTable, NonAsciiTextsUseTheLocalCodePage)
{
    SysTable table(nullptr, {"时间"});
    table.setCellText(0, 0, "升级成功");
    ASSERT_TRUE(table.exportAllToCsv(path("zh.csv")));
    EXPECT_EQ(readAll(path("zh.csv")), QString("时间\n升级成功\n").toLocal8Bit());
}

TEST_F(KitTable, SelectionWithOneRange)
{
    SysTable table(nullptr, {"A", "B", "C"});
    fillSample(table);
    table.setRangeSelected(QTableWidgetSelectionRange(0, 1, 1, 2), true);
    ASSERT_TRUE(table.exportSelectionToCsv(path("s.csv")));
    EXPECT_EQ(readAll(path("s.csv")), QByteArray("B,C\n2,3,4\n"));
    ASSERT_TRUE(table.exportSelectionToHtml(path("s.html")));
    EXPECT_EQ(readAll(path("s.html")),
              QByteArray(kHtmlHead) + thead({"B", "C"}) + "<tbody>" + row({"2", "3,4"}, false) + kTail);
}

TEST_F(KitTable, SelectionWithTwoRanges)
{
    SysTable table(nullptr, {"A", "B", "C"});
    fillSample(table);
    table.setRangeSelected(QTableWidgetSelectionRange(0, 0, 0, 0), true);
    table.setRangeSelected(QTableWidgetSelectionRange(2, 1, 4, 2), true);
    ASSERT_EQ(table.selectedRanges().size(), 2);
    // Each range keeps its own columns and drops its own trailing empty rows; the header spans
    // every exported column.
    ASSERT_TRUE(table.exportSelectionToCsv(path("two.csv")));
    EXPECT_EQ(readAll(path("two.csv")), QByteArray("A,B,C\n1\nz\n"));

    table.clearSelection();
    ASSERT_TRUE(table.exportSelectionToCsv(path("none.csv")));
    EXPECT_EQ(readAll(path("none.csv")), QByteArray("\n"));
}

TEST_F(KitTable, UnwritableTargetFails)
{
    SysTable table(nullptr, {"A"});
    table.setCellText(0, 0, "v");
    EXPECT_FALSE(table.exportAllToCsv(path("missing/dir/t.csv")));
    EXPECT_FALSE(table.exportAllToHtml(path("missing/dir/t.html")));
    EXPECT_FALSE(table.exportSelectionToCsv(dir.path())); // a folder
    EXPECT_FALSE(QFile::exists(path("missing")));
#ifdef Q_OS_LINUX
    if (QFile::exists("/dev/full")) {
        SysCsvTable csv;
        csv.rows = {{"x"}};
        EXPECT_FALSE(csv.exportToFile("/dev/full")); // a full disk is not a success
    }
#endif
}

TEST_F(KitTable, LogLinesLeaveOneEmptyRowAndRestartAfterClear)
{
    SysTable table(nullptr, {"time", "level", "content"});
    table.appendLogLine(3, "first");
    table.appendLogLine(1, "second");
    EXPECT_EQ(table.nextLogRow(), 2);
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.item(0, 1)->text(), "INFO");
    EXPECT_EQ(table.item(1, 1)->text(), "ERROR");
    EXPECT_EQ(table.item(1, 2)->text(), "second");
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")
                    .match(table.item(0, 0)->text()).hasMatch());
    EXPECT_EQ(table.item(2, 0)->text(), "");

    table.clearTable();
    EXPECT_EQ(table.nextLogRow(), 0);
    EXPECT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.item(1, 2), nullptr);
    table.appendLogLine(0, "again");
    EXPECT_EQ(table.item(0, 1)->text(), "DEBUG");
    EXPECT_EQ(table.item(0, 2)->text(), "again");
    EXPECT_EQ(table.nextLogRow(), 1);
    table.appendLogLine(2, "w");
    EXPECT_EQ(table.item(1, 1)->text(), "WARN");

    EXPECT_EQ(sysLogLevelName(4), "");
    EXPECT_EQ(sysLogLevelName(-1), "");
    EXPECT_EQ(sysLogLevelTag(2), "WAR");
}

// A message of `n` characters: words of varied length, so that it wraps at word boundaries.
QString longMessage(int n)
{
    QString text = QStringLiteral("ZN3150 in-place packages have no place for the boot image:");
    for (int i = 0; text.size() < n; ++i)
        text += QStringLiteral(" word%1").arg(i * 7919 % 100000);
    return text.left(n);
}

TEST_F(KitTable, LogLayoutShowsALongMessageWholeAtEveryWidth)
{
    const QString message = longMessage(500);
    for (int width : {687, 1920}) {
        SCOPED_TRACE(width);
        SysTable table(nullptr, {QString::fromUtf8("时间"), QString::fromUtf8("级别"), QString::fromUtf8("内容")});
        table.resize(width, 600);
        table.show();
        table.appendLogLine(3, "start");
        table.appendLogLine(1, message);
        for (int i = 0; i < 20; ++i)
            table.appendLogLine(3, QStringLiteral("line %1").arg(i));
        QApplication::processEvents();
        table.revealRow(1);
        EXPECT_TRUE(table.hasLogLayout());

        // Time and level are as wide as their texts; the message takes the rest.
        const QFontMetrics metrics(table.item(1, 0)->font().resolve(table.font()));
        const int timeText = metrics.horizontalAdvance(table.item(1, 0)->text());
        EXPECT_GE(table.columnWidth(0), timeText);
        EXPECT_LE(table.columnWidth(0), timeText + metrics.height() * 2);
        EXPECT_LE(table.columnWidth(1), metrics.horizontalAdvance("ERROR") + metrics.height() * 2);
        EXPECT_EQ(table.columnWidth(0) + table.columnWidth(1) + table.columnWidth(2), table.viewport()->width());
        EXPECT_EQ(table.horizontalScrollBar()->maximum(), 0);

        // The message wraps: its row is as high as the wrapped text, and wholly in view.
        const QRect cell = table.visualItemRect(table.item(1, 2));
        const int lines = metrics.boundingRect(QRect(0, 0, cell.width() - metrics.height(), 100000),
                                               Qt::TextWordWrap, message).height() / metrics.lineSpacing();
        EXPECT_GT(lines, width < 1000 ? 5 : 1);
        EXPECT_GE(cell.height(), lines * metrics.lineSpacing());
        EXPECT_TRUE(table.viewport()->rect().contains(cell)) << cell.y() << "+" << cell.height();
        EXPECT_EQ(table.item(1, 2)->text(), message);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(table.item(1, c)->toolTip(), message);
        EXPECT_LT(table.rowHeight(0), cell.height());   // a short line stays one line high
    }
}

TEST_F(KitTable, LogRowsCopyAsTextLines)
{
    SysTable table(nullptr, {"time", "level", "content"});
    table.appendLogLine(3, "first", "2024-01-02 03:04:05.006");
    table.appendLogLine(1, "second, with a comma", "2024-01-02 03:04:05.007");
    table.appendLogLine(2, "third");
    EXPECT_EQ(table.focusPolicy(), Qt::ClickFocus);   // a click lets Ctrl+C reach it
    table.selectRow(1);
    table.selectionModel()->select(table.model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(table.selectedRowsText(),
              "2024-01-02 03:04:05.006\tINFO\tfirst\n2024-01-02 03:04:05.007\tERROR\tsecond, with a comma");
    QApplication::clipboard()->clear();
    QTest::keyClick(&table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), table.selectedRowsText());

    // The menu offers the copy first, and only with a selection.
    std::unique_ptr<SysMenu> menu(table.createExportMenu(true, nullptr, SysTable::MenuOrder::ClearFirst));
    QStringList names;
    for (QAction *a : menu->actions())
        names << a->objectName();
    EXPECT_EQ(names, QStringList({"copy", "clear", "exportSelectionCsv", "exportSelectionHtml", "exportCsv",
                                  "exportHtml"}));
    EXPECT_EQ(menu->actions()[0]->text(), QString::fromUtf8("复制"));
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    table.clearSelection();
    std::unique_ptr<SysMenu> none(table.createExportMenu(true, nullptr));
    EXPECT_FALSE(none->actions()[0]->isEnabled());
    QApplication::clipboard()->setText("kept");
    table.copySelectedRows();
    EXPECT_EQ(QApplication::clipboard()->text(), "kept");
}

TEST_F(KitTable, ExportMenuEntriesAndActions)
{
    SysTable table(nullptr, {"A"});
    table.setCellText(0, 0, "v");
    table.selectRow(0);
    std::unique_ptr<SysMenu> menu(table.createExportMenu(true, nullptr));
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << a->text();
    EXPECT_EQ(texts, QStringList({"导出到HTML", "导出到CSV", "导出选区到HTML", "导出选区到CSV", "清空表格"}));
    std::unique_ptr<SysMenu> noClear(table.createExportMenu(false, nullptr));
    EXPECT_EQ(noClear->actions().size(), 4);
    std::unique_ptr<SysMenu> clearFirst(
        table.createExportMenu(true, nullptr, SysTable::MenuOrder::ClearFirst));
    QStringList reversed;
    for (QAction *a : clearFirst->actions())
        reversed << a->text();
    EXPECT_EQ(reversed, QStringList({"清空表格", "导出选区到CSV", "导出选区到HTML", "导出到CSV", "导出到HTML"}));

    RecordingPresenter &p = testPresenter();
    p.clear();
    // Cancel: no file. The first dialog opens in the home folder, not the working folder.
    menu->actions()[1]->trigger();
    const QString csv = QString::fromUtf8("CSV 文件 (*.csv);;所有文件 (*)");
    const QString html = QString::fromUtf8("HTML 文件 (*.html *.htm);;所有文件 (*)");
    EXPECT_EQ(p.dialogFilters, QStringList({csv}));
    EXPECT_EQ(p.dialogCaptions, QStringList({""}));
    EXPECT_EQ(p.dialogDirs, QStringList({QDir::homePath()}));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // Names without an extension get the filter's; later dialogs open where the last went.
    QSignalSpy moved(&table, &SysTable::exportDirectoryChanged);
    p.fileAnswers = QStringList{path("all"), path("all.csv"), path("sel.html"), path("sel")};
    for (int i = 0; i < 4; ++i)
        menu->actions()[i]->trigger();
    EXPECT_EQ(p.dialogFilters, QStringList({csv, html, csv, html, csv}));
    EXPECT_EQ(p.dialogDirs.mid(2), QStringList({dir.path(), dir.path(), dir.path()}));
    EXPECT_EQ(table.exportDirectory(), dir.path());
    EXPECT_EQ(moved.size(), 4);
    for (const char *f : {"all.html", "all.csv", "sel.html", "sel.csv"})
        EXPECT_TRUE(QFile::exists(path(f))) << f;
    EXPECT_EQ(readAll(path("sel.csv")), QByteArray("A\nv\n"));

    menu->actions()[4]->trigger();
    EXPECT_EQ(table.item(0, 0), nullptr);
    p.clear();
}

TEST_F(KitTable, AutoFitColumnsShareTheFreeWidth)
{
    SysTable table(nullptr, {"A", "B", "C"});
    table.horizontalHeader()->setStretchLastSection(false);
    table.setColumnWidth(0, 100);
    table.setAutoFitColumns({1, 2});
    table.show();
    table.resize(501, 200); // a visible table gets its (viewport) resize at once
    const int share = (table.viewport()->width() - 100) / 2;
    EXPECT_GT(share, 150);
    EXPECT_EQ(table.columnWidth(0), 100);
    EXPECT_EQ(table.columnWidth(1), share);
    EXPECT_EQ(table.columnWidth(2), share);

    // Too narrow: no negative widths.
    table.resize(50, 200);
    EXPECT_EQ(table.columnWidth(1), 0);
}

namespace {

// Counts what a table that has not settled keeps doing: resizes of the table or its viewport,
// and scroll bars shown or hidden.
class LayoutChurn : public QObject
{
public:
    explicit LayoutChurn(QTableWidget &table) : m_table(table) { qApp->installEventFilter(this); }
    ~LayoutChurn() override { qApp->removeEventFilter(this); }
    int events = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *w = qobject_cast<QWidget *>(watched);
        const bool ours = w && (w == &m_table || m_table.isAncestorOf(w));
        if (ours && (event->type() == QEvent::Resize || event->type() == QEvent::Show
                     || event->type() == QEvent::Hide))
            ++events;
        return false;
    }

private:
    QTableWidget &m_table;
};

void drain()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

} // namespace

TEST_F(KitTable, AutoFitSettlesAtEverySizeAndRowCount)
{
    // Shared columns, and the log layout whose rows follow the wrapping column's width.
    for (const bool log : {false, true})
    for (int rows : {0, 1, 2, 50}) {
        SysTable table(nullptr, {"time", "level", "content"});
        table.setColumnWidth(0, 250);
        table.setColumnWidth(1, 80);
        table.setAutoFitColumns({2});
        for (int r = 0; r < rows; ++r) {
            const QString text = QStringLiteral("line %1 ").arg(r).repeated(r % 7 + 1);
            if (log)
                table.appendLogLine(r % 4, text);
            else
                table.setRowTexts(r, {QStringLiteral("2024-01-01 00:00:00.000"), sysLogLevelName(r % 4), text});
        }
        table.setLogLayout(log);
        table.show();
        int unsettled = 0;
        for (int width = 120; width <= 1400; width += 97) {
            for (int height = 40; height <= 760; height += 61) {
                table.resize(width, height);
                drain();
                LayoutChurn churn(table);
                drain();
                if (churn.events)
                    ++unsettled;
                // The columns never overflow the viewport unless the fixed ones alone do.
                if (width > (log ? 600 : 400)) {
                    EXPECT_LE(table.horizontalHeader()->length(), table.viewport()->width())
                        << rows << " rows at " << width << "x" << height << (log ? " (log)" : "");
                }
            }
        }
        EXPECT_EQ(unsettled, 0) << rows << " rows" << (log ? " (log)" : "");
        table.hide();
    }
}

TEST_F(KitTable, RowOperationsIgnoreNegativeRows)
{
    SysTable table(nullptr, {"A", "B"});
    table.setRowBackground(-1, "#fde2e2");
    int calls = 0;
    table.forEachInRow(-3, [&](QTableWidgetItem *, int) { ++calls; });
    table.setRowTexts(-1, {"x"});
    table.scrollToRow(-1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(table.rowCount(), 0);
    table.setRowBackground(2, "#fde2e2");
    EXPECT_EQ(table.item(2, 1)->background().color(), QColor("#fde2e2"));
}

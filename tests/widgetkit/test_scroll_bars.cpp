// The kit's scroll bars as they are drawn: an 8 px bar in the bar colour with the darker handle
// where the view is, in every kit widget that scrolls.
#include "widgetkit/sys_list.h"
#include "widgetkit/sys_style.h"
#include "widgetkit/sys_table.h"
#include "widgetkit/sys_text_edit.h"
#include "widgetkit/sys_tree.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScrollBar>
#include <QTreeWidgetItem>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace {

const QRgb kBar = QColor(QStringLiteral("#dddddd")).rgb();

QRgb handleColour() { return QColor(darkenColor(QStringLiteral("#ddd"), 0.25)).rgb(); }

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// The colour down the middle of the bar at a fraction of its height.
QRgb colourAt(const QImage &bar, double fraction)
{
    const int y = qBound(0, int(bar.height() * fraction), bar.height() - 1);
    return bar.pixel(bar.width() / 2, y) | 0xff000000u;
}

// Checks the bar at its minimum (handle at the top, bar colour below) and at its maximum.
void expectHandleFollowsTheValue(QScrollBar *bar, const char *what)
{
    SCOPED_TRACE(what);
    ASSERT_TRUE(bar->isVisible());
    ASSERT_GT(bar->maximum(), bar->minimum());
    EXPECT_EQ(bar->width(), 8);

    bar->setValue(bar->minimum());
    settle();
    QImage image = bar->grab().toImage();
    EXPECT_EQ(colourAt(image, 0.03), handleColour());
    EXPECT_EQ(colourAt(image, 0.6), kBar);
    EXPECT_EQ(colourAt(image, 0.97), kBar);

    bar->setValue(bar->maximum());
    settle();
    image = bar->grab().toImage();
    EXPECT_EQ(colourAt(image, 0.03), kBar);
    EXPECT_EQ(colourAt(image, 0.4), kBar);
    EXPECT_EQ(colourAt(image, 0.97), handleColour());
}

// Shows a view filled with more than fits in 300 x 200; its vertical bar.
QScrollBar *shownBar(QAbstractScrollArea &view)
{
    view.resize(300, 200);
    view.show();
    settle();
    return view.verticalScrollBar();
}

QString manyLines()
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("line %1<br>").arg(i);
    return text;
}

} // namespace

TEST(KitScrollBars, HandleIsDarkAndAtTheTopWhenTheViewIsAtTheTop)
{
    {
        SysTextBrowser browser;
        browser.setHtml(manyLines());
        expectHandleFollowsTheValue(shownBar(browser), "SysTextBrowser");
    }
    {
        SysTextEdit edit;
        edit.setHtml(manyLines());
        expectHandleFollowsTheValue(shownBar(edit), "SysTextEdit");
    }
    {
        SysTable table(nullptr, {QStringLiteral("a")});
        for (int i = 0; i < 200; ++i)
            table.setCellText(i, 0, QString::number(i));
        expectHandleFollowsTheValue(shownBar(table), "SysTable");
    }
    {
        SysList list;
        for (int i = 0; i < 200; ++i)
            list.addItem(QString::number(i));
        expectHandleFollowsTheValue(shownBar(list), "SysList");
    }
    {
        SysTree tree;
        for (int i = 0; i < 200; ++i)
            new QTreeWidgetItem(&tree, {QString::number(i)});
        expectHandleFollowsTheValue(shownBar(tree), "SysTree");
    }
}

TEST(KitScrollBars, ALaterColourReachesABarAlreadyShown)
{
    SysTextBrowser browser;
    browser.setHtml(manyLines());
    QScrollBar *bar = shownBar(browser);
    browser.setScrollBarColor(QStringLiteral("#409eff"));
    bar->setValue(bar->minimum());
    settle();
    const QImage image = bar->grab().toImage();
    EXPECT_EQ(colourAt(image, 0.03), QColor(darkenColor(QStringLiteral("#409eff"), 0.25)).rgb());
    EXPECT_EQ(colourAt(image, 0.9), QColor(QStringLiteral("#409eff")).rgb());
}

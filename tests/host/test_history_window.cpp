// The update history dialog, for the real Deltamaker plug-in.
#include "host/history_window.h"
#include "tests/host/deltamaker_fixture.h"

#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_style.h"
#include "widgetkit/sys_text_edit.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScrollBar>
#include <QRegularExpression>
#include <QTimer>

using HistoryTest = PluginFixture;

TEST_F(HistoryTest, StyleSheetAndPageAreTheFixedTexts)
{
    const QString css = HistoryWindow::styleSheetText();
    EXPECT_EQ(css.size(), 249);
    EXPECT_EQ(css.toUtf8().size(), 257);
    EXPECT_TRUE(css.startsWith(QString::fromUtf8("body{overflow-y:hidden;font-family: \"微软雅黑\";}")));
    EXPECT_TRUE(css.endsWith("margin-left: 60px;font-size: 20px; color: #000;}"));
    // Placeholders inside the history stay as they are.
    EXPECT_EQ(HistoryWindow::page("<p>%1 %2</p>"),
              "<html><head><style type=\"text/css\">" + css + "</style></head><body><p>%1 %2</p></body></html>");
}

TEST_F(HistoryTest, DeltamakersSevenBlocksInADialogOfSixTenthsOfTheMainWindow)
{
    installDeltamaker(wd);
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/test.lang"),
                            "<lang name=\"Test\"><history><titleFmt name=\"[history of %1]\"/></history></lang>"));
    auto w = makeWindow();
    w->resize(1000, 700);
    PluginInfo *dm = w->plugin("Deltamaker");
    ASSERT_NE(dm, nullptr);
    auto h = w->makeHistoryWindow(dm);
    EXPECT_EQ(h->windowTitle(), "[history of " + dm->pluginName() + "]");
    EXPECT_FALSE(dm->pluginName().isEmpty());
    EXPECT_EQ(h->size(), QSize(600, 420));
    EXPECT_EQ(h->parentWidget(), w.get());

    const QString fragment = dm->historyHtml();
    EXPECT_EQ(fragment.count("<p class=\"versionLog\"><span class=\"versionTitle\">"), 7);
    EXPECT_EQ(fragment.count("<li class=\"versionLogContentItem\">"), 7);
    EXPECT_EQ(HistoryWindow::page(fragment),
              "<html><head><style type=\"text/css\">" + HistoryWindow::styleSheetText()
                  + "</style></head><body>" + fragment + "</body></html>");
    // The browser shows every version title, oldest first, ending with the newest.
    const QString shown = h->browser()->toPlainText();
    const QStringList versions = {"V1.0", "V1.4", "V1.9", "V1.10", "V1.11", "V1.12", "V1.13"};
    int at = -1;
    for (const QString &v : versions) {
        const int next = shown.indexOf(QRegularExpression("\\b" + QRegularExpression::escape(v) + "\\b"), at + 1);
        EXPECT_GT(next, at) << v.toStdString();
        at = next;
    }
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(HistoryTest, TheMenuEntryOpensTheDialogModally)
{
    install("other/Other.so", "o/Other.so");
    ASSERT_TRUE(writeGbkXml(wd.file("lang/Tessel/test.lang"),
                            "<lang name=\"Test\"><history><titleFmt name=\"[history of %1]\"/></history>"
                            "<main><plugin><rightMenu><updateHistory name=\"[updateHistory]\"/></rightMenu></plugin></main></lang>"));
    auto w = makeWindow();
    SysMenu *menu = w->buildPluginMenu(w->plugin("Other"));
    QString seen;
    QTimer::singleShot(0, [&seen] {
        if (auto *d = qobject_cast<HistoryWindow *>(QApplication::activeModalWidget())) {
            seen = d->windowTitle();
            d->reject();
        }
    });
    menu->actions().value(0)->trigger();
    EXPECT_EQ(seen, "[history of Other Tool]");
    delete menu;
}

TEST_F(HistoryTest, TheScrollBarShowsTheViewAtTheTopWithItsHandleAtTheTop)
{
    installDeltamaker(wd);
    auto w = makeWindow();
    w->resize(800, 500);
    auto h = w->makeHistoryWindow(w->plugin("Deltamaker"));
    h->show();
    settleWindows();
    QScrollBar *bar = h->browser()->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible()) << "the history should not fit";
    ASSERT_EQ(bar->value(), bar->minimum());
    EXPECT_EQ(bar->width(), 8);
    // The kit's bar: "#ddd" with the handle darker, where the view is.
    const QImage image = bar->grab().toImage();
    const QRgb handle = QColor(darkenColor("#ddd", 0.25)).rgb(), groove = QColor("#dddddd").rgb();
    auto at = [&](double fraction) { return image.pixel(image.width() / 2, int(image.height() * fraction)) | 0xff000000u; };
    EXPECT_EQ(at(0.04), handle);
    EXPECT_EQ(at(0.95), groove);
}

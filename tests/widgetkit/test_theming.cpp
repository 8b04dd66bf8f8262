// Base sheets, appending setters and the small operations of the themed classes.
#include "tests/support/recording_presenter.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_check_box.h"
#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_dialog.h"
#include "widgetkit/sys_form_layout.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_line.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_list.h"
#include "widgetkit/sys_main_window.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_progress_bar.h"
#include "widgetkit/sys_slider.h"
#include "widgetkit/sys_splitter.h"
#include "widgetkit/sys_tab.h"
#include "widgetkit/sys_table.h"
#include "widgetkit/sys_text_edit.h"
#include "widgetkit/sys_widget.h"

#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QStatusBar>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPointer>

#include <gtest/gtest.h>

namespace {
int countOf(const QString &sheet, const QString &part) { return sheet.count(part); }
} // namespace

TEST(KitTheming, BaseSheetsAndDefaultsAreExact)
{
    SysWidget widget;
    EXPECT_EQ(widget.styleSheet(),
              "\tQWidget{\t\tpadding: 0px;\t\tmargin: 0px;\t}\tQWidget{\t\tbackground-color: transparent;\t}"
              "\tQWidget{\t\tfont-size: 18px;\t}");
    EXPECT_TRUE(widget.testAttribute(Qt::WA_StyledBackground));

    SysDialog dialog;
    EXPECT_EQ(dialog.styleSheet(), "\tQDialog{\t\twidth: auto;\t\theight: auto;\t}\tQDialog{\t\tfont-size: 18px;\t}"
                                   "\tQDialog{\t\tbackground-color: #FFF;\t}");
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);

    SysMainWindow window;
    EXPECT_EQ(window.styleSheet(),
              "\tQMainWindow{\t\tfont-size: 18px;\t\tbackground-color: #fff;\t\tpadding: 0px;\t}");
    EXPECT_FALSE(window.statusBar()->isSizeGripEnabled());
    EXPECT_TRUE(window.statusBar()->isHidden());
    window.setStatusItemBorder(0);
    EXPECT_TRUE(window.styleSheet().endsWith("QMainWindow QStatusBar::item{ border: 0px }"));

    SysSplitter splitter;
    EXPECT_EQ(splitter.styleSheet(), "\tQSplitter{\t\tpadding: 0px;\t\tmargin: 0px;\t\tbackground-color: transparent;\t}"
                                     "\tQSplitter::handle{\t\tbackground-color: transparent;\t}");
    EXPECT_FALSE(splitter.childrenCollapsible());
    splitter.setHandleWidth(3);
    EXPECT_TRUE(splitter.styleSheet().endsWith("\tQSplitter::handle{\t\twidth: 3px; \t}"));

    SysLabel label(nullptr, "x");
    EXPECT_TRUE(label.styleSheet().startsWith("\tQLabel {\t\tfont-family: '微软雅黑';\t\tmin-height: 1em;"
                                              "\t\tline-height: 1em;\t}\tQLabel:disabled{\t}\tQLabel{\t\tcolor: #000;\t}"));
    EXPECT_EQ(label.alignment(), Qt::AlignCenter);
    label.setTransparent();
    EXPECT_TRUE(label.styleSheet().endsWith("\tQLabel {\t   background-color: transparent;\t   border: none;\t}"));

    SysCheckBox check(nullptr, "c");
    EXPECT_TRUE(check.styleSheet().startsWith(
        "\t\tQCheckBox {\t\t\tfont-family: '微软雅黑';\t\t\tcolor: #000;\t\t}\t\tQCheckBox:disabled{\t\t\tcolor: #c0c0c0;\t\t}"
        "\tQCheckBox{\t\tfont-size: 18px;\t}"));

    SysButton button(nullptr, "Go");
    EXPECT_EQ(button.text(), "Go");
    EXPECT_NE(button.styleSheet().indexOf("\tQPushButton:hover{\t\tbackground-color: #58aaff;\t}"), -1); // L(0.125)
    button.setFlatLook();
    EXPECT_TRUE(button.styleSheet().endsWith(
        "QPushButton, QPushButton::hover, QPushButton::pressed{background: transparent;padding: 0px;border: none;}"));

    SysList list;
    list.setBorderless();
    EXPECT_TRUE(list.styleSheet().endsWith("\tQListWidget{\t\tborder: none;\t\tborder-radius: 0px;\t}"));
}

TEST(KitTheming, SettersAppendAndTheLaterCallWins)
{
    SysLabel label;
    label.setTextColor("#ff0000");
    const QString afterFirst = label.styleSheet();
    label.setTextColor("#00ff00");
    const QString sheet = label.styleSheet();
    EXPECT_TRUE(sheet.startsWith(afterFirst));
    EXPECT_EQ(countOf(sheet, "\tQLabel{\t\tcolor: #ff0000;\t}"), 1);
    EXPECT_TRUE(sheet.endsWith("\tQLabel{\t\tcolor: #00ff00;\t}"));
    label.ensurePolished();
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor("#00ff00"));

    SysLineEdit edit;
    edit.setFontSize(12);
    edit.setFontSize(30);
    EXPECT_EQ(countOf(edit.styleSheet(), "\tQLineEdit{\t\tfont-size: 12px;\t}"), 1);
    edit.ensurePolished();
    EXPECT_EQ(edit.font().pixelSize(), 30);

    // Lengths in em print with two decimals; the pair setters print the vertical value first.
    SysButton button;
    button.setPadding(0.375, 1.0);
    EXPECT_TRUE(button.styleSheet().endsWith("\tQPushButton{\t\tpadding: 1.00em 0.38em;\t}"));
    button.setBorderWidth(1, 2, 3, 4);
    EXPECT_TRUE(button.styleSheet().endsWith("\tQPushButton{\t\tborder-width: 1px 2px 3px 4px;\t}"));
}

TEST(KitTheming, ThemeShadesComeFromTheColourFunctions)
{
    SysButton button;
    button.setThemeColor("#409eff");
    EXPECT_TRUE(button.styleSheet().endsWith(
        "\tQPushButton{\t\tbackground-color: #409eff;\t\tborder-color: #cfe7ff;\t}"
        "\tQPushButton:hover{\t\tbackground-color: #58aaff;\t}"
        "\tQPushButton:pressed{\t\tbackground-color: #70b6ff;\t}"
        "\tQToolTip{\t\tbackground-color: #70b6ff;\t\tborder: 1px solid #70b6ff;\t}"));
    // A colour the functions refuse leaves empty values in the rule.
    button.setThemeColor("red");
    EXPECT_TRUE(button.styleSheet().endsWith("\tQToolTip{\t\tbackground-color: ;\t\tborder: 1px solid ;\t}"));

    SysTab tab;
    tab.setThemeColor("#409eff");
    EXPECT_TRUE(tab.styleSheet().contains("\tQTabWidget::pane{\t\tborder-color: #cfe7ff;\t}"));

    SysList list;
    EXPECT_TRUE(list.styleSheet().contains("\tQListWidget::item:hover{\t\tbackground-color: #70b6ff;\t}"));

    SysTextEdit text;
    EXPECT_TRUE(text.styleSheet().contains("\tQTextEdit QScrollBar::handle{\t\tbackground-color: #a6a6a6;"));
    EXPECT_TRUE(text.styleSheet().contains("\tQTextEdit QScrollBar::handle:hover{\t\tbackground-color: #6f6f6f;\t}"));
}

TEST(KitTheming, GroupBoxTitleAndMargins)
{
    SysGroupBox untitled(nullptr, "   ");
    EXPECT_EQ(untitled.title(), "");
    EXPECT_TRUE(untitled.styleSheet().endsWith("\tQGroupBox{\t\tmargin-top: 0px;\t}"));

    SysGroupBox titled(nullptr, "  Input \n");
    EXPECT_EQ(titled.title(), "Input");
    EXPECT_FALSE(titled.styleSheet().contains("margin-top: 0px;"));
    EXPECT_TRUE(titled.styleSheet().contains("margin-top: .5em;"));
    EXPECT_TRUE(titled.styleSheet().contains("\tQGroupBox{\t\tborder-color: #cfe7ff;\t}"));

    // The border colour setter writes the soft shade of the colour.
    titled.setBorderColor("#000000");
    EXPECT_TRUE(titled.styleSheet().endsWith("\tQGroupBox{\t\tborder-color: #bfbfbf;\t}"));
    titled.setTitleOffset(0.75);
    EXPECT_TRUE(titled.styleSheet().endsWith("\tQGroupBox{\t\tmargin-top: 0.75em;\t}\tQGroupBox::title{\t\ttop: -0.75em;\t}"));
}

TEST(KitTheming, LineReplacesItsSheet)
{
    SysLine horizontal(nullptr, true);
    EXPECT_EQ(horizontal.frameShape(), QFrame::HLine);
    EXPECT_EQ(horizontal.frameShadow(), QFrame::Sunken);
    EXPECT_EQ(horizontal.styleSheet(), "border-top: 1px solid #f0f0f0;");
    horizontal.setLineColor("#123456");
    EXPECT_EQ(horizontal.styleSheet(), "border-top: 1px solid #123456;");

    SysLine vertical(nullptr, false);
    EXPECT_EQ(vertical.frameShape(), QFrame::VLine);
    EXPECT_EQ(vertical.styleSheet(), "border-left: 1px solid #f0f0f0;");
}

TEST(KitTheming, ProgressBarFormatAndGradient)
{
    SysProgressBar bar;
    EXPECT_TRUE(bar.styleSheet().contains("\tQProgressBar{\t\tborder-radius: 0.625000em;\t}"));
    const QString initial = bar.format();

    bar.setTextFormat("{} done {}", 0);
    EXPECT_EQ(bar.format(), "%p% done %p%");
    bar.setTextFormat("{} done", 1);
    EXPECT_EQ(bar.format(), "%v/%m done");
    bar.setTextFormat("{} ignored", 2);
    EXPECT_EQ(bar.format(), "%v/%m done");
    bar.setTextFormat("{}", -1);
    EXPECT_EQ(bar.format(), "%v/%m done");
    EXPECT_NE(initial, bar.format());

    bar.setGradient({"#ff0000", "#00ff00", "#0000ff"});
    EXPECT_TRUE(bar.styleSheet().endsWith(
        "QProgressBar::chunk{background:qlineargradient(spread:pad,x1:0,y1:0,x2:1,y2:0,"
        "stop: 0.00 #ff0000,stop: 0.33 #00ff00,stop: 0.67 #0000ff);}"));
    const QString before = bar.styleSheet();
    bar.setGradient({});
    EXPECT_EQ(bar.styleSheet(), before);
}

TEST(KitTheming, SliderBubbleFollowsTheValueAndSurvivesAnEmptyRange)
{
    SysSlider slider;
    slider.resize(220, 30);
    EXPECT_EQ(slider.orientation(), Qt::Horizontal);
    EXPECT_EQ(slider.minimum(), 0);
    EXPECT_EQ(slider.maximum(), 100);
    EXPECT_TRUE(slider.valueLabel()->isHidden());

    slider.setValue(50);
    const QPoint mid(110, 15);
    QMouseEvent press(QEvent::MouseButtonPress, mid, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &press);
    EXPECT_FALSE(slider.valueLabel()->isHidden());
    QMouseEvent move(QEvent::MouseMove, mid, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &move);
    EXPECT_EQ(slider.valueLabel()->text(), QString::number(slider.value()));
    EXPECT_EQ(slider.valueLabel()->y(), -3);
    QMouseEvent release(QEvent::MouseButtonRelease, mid, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &release);
    EXPECT_TRUE(slider.valueLabel()->isHidden());

    slider.setRange(7, 7);
    QApplication::sendEvent(&slider, &press);
    QApplication::sendEvent(&slider, &move);
    EXPECT_EQ(slider.valueLabel()->pos(), QPoint(0, -3));
    QApplication::sendEvent(&slider, &release);
}

TEST(KitTheming, MainWindowMessagesUseTheWindowTitle)
{
    testPresenter().clear();
    SysMainWindow window;
    window.setWindowTitle("Tessel V1.0.21");
    window.showError("cannot find %s (%d)", "Tool", 3);
    window.showInfo("done");
    ASSERT_EQ(testPresenter().messages.size(), 2);
    EXPECT_EQ(testPresenter().messages[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(testPresenter().messages[0].title, "Tessel V1.0.21");
    EXPECT_EQ(testPresenter().messages[0].text, "cannot find Tool (3)");
    EXPECT_EQ(testPresenter().messages[1].kind, IDialogPresenter::Kind::Information);
    testPresenter().clear();
}

TEST(KitTheming, ResizeRatioFollowsTheReference)
{
    QWidget reference;
    reference.resize(400, 300);
    SysDialog dialog;
    dialog.resizeRatio(0.5, &reference);
    EXPECT_EQ(dialog.size(), QSize(200, 150));
    SysMainWindow window;
    window.resizeRatio(0.25, &reference);
    EXPECT_EQ(window.size(), QSize(100, 75));
}

TEST(KitTheming, ComboBoxItems)
{
    SysComboBox box(nullptr, {"a", "b", "c"});
    EXPECT_EQ(box.itemTexts(), QStringList({"a", "b", "c"}));
    EXPECT_NE(qobject_cast<QListView *>(box.view()), nullptr);
    box.setItems({"x", "y"});
    EXPECT_EQ(box.itemTexts(), QStringList({"x", "y"}));
    box.hideItem(1);
    EXPECT_TRUE(static_cast<QListView *>(box.view())->isRowHidden(1));

    // With select-last on, picking any entry lands on the last one.
    box.setCurrentIndex(0);
    emit box.activated(0);
    EXPECT_EQ(box.currentIndex(), 0);
    box.setSelectLast(true);
    emit box.activated(0);
    EXPECT_EQ(box.currentIndex(), 1);

    SysComboBox empty;
    EXPECT_EQ(empty.count(), 0);
}

TEST(KitTheming, SplitterClearWidgetsDeletesChildren)
{
    SysSplitter splitter;
    QPointer<QWidget> a = new QLabel("a");
    QPointer<QWidget> b = new QLabel("b");
    splitter.addWidget(a);
    splitter.addWidget(b);
    splitter.setHorizontal(false);
    EXPECT_EQ(splitter.orientation(), Qt::Vertical);
    splitter.clearWidgets();
    EXPECT_EQ(splitter.count(), 0);
    EXPECT_TRUE(a.isNull());
    EXPECT_TRUE(b.isNull());
}

TEST(KitTheming, CheckBoxCallbackSeesEveryChange)
{
    SysCheckBox box;
    QList<bool> seen;
    box.onChecked([&](bool on) { seen << on; });
    box.setChecked(true);
    box.setChecked(false);
    box.setChecked(false);
    EXPECT_EQ(seen, QList<bool>({true, false}));
}

TEST(KitTheming, FormLayoutRows)
{
    QWidget host;
    auto *form = new SysFormLayout(&host);
    form->setLabelColor("#ff0000");
    SysLineEdit *edit = form->addLineEdit("Name", 8, "abcdefghij");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->parentWidget(), &host);
    EXPECT_EQ(edit->text(), "abcdefgh");
    SysComboBox *box = form->addComboBox("Mode", {"1", "2"});
    EXPECT_EQ(box->count(), 2);
    SysTable *table = form->addTable("Files", {"A", "B"});
    EXPECT_EQ(table->columnCount(), 2);
    ASSERT_EQ(form->rowCount(), 3);
    auto *label = qobject_cast<SysLabel *>(form->itemAt(0, QFormLayout::LabelRole)->widget());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Name");
    EXPECT_EQ(label->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_TRUE(label->styleSheet().endsWith("\tQLabel{\t\tcolor: #ff0000;\t}"));
}

TEST(KitTheming, LabelClickIsEmittedAndSwallowed)
{
    SysLabel label(nullptr, "click");
    int clicks = 0;
    QObject::connect(&label, &SysLabel::clicked, [&] { ++clicks; });
    QMouseEvent press(QEvent::MouseButtonPress, QPoint(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    press.ignore();
    QApplication::sendEvent(&label, &press);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(press.isAccepted());
}

TEST(KitTheming, MenuAndEditsInstallTheirTheme)
{
    SysMenu menu;
    EXPECT_TRUE(menu.styleSheet().contains("\tQMenu{\t\tborder: 1px solid #409eff;\t}"));
    EXPECT_TRUE(menu.styleSheet().endsWith("\tQMenu::item{\t\tpadding: 0.25em 0.75em;\t}"));
    SysLineEdit edit;
    EXPECT_TRUE(edit.styleSheet().contains("lineedit-password-character: 9679;"));
    EXPECT_TRUE(edit.styleSheet().endsWith("\tQLineEdit{\t\tborder-radius: 0.62em;\t}")
                || edit.styleSheet().endsWith("\tQLineEdit{\t\tborder-radius: 0.63em;\t}"));
    edit.setTextAlign("right");
    edit.ensurePolished();
    EXPECT_EQ(edit.alignment(), Qt::AlignRight | Qt::AlignVCenter);
    const QString before = edit.styleSheet();
    edit.setTextAlign("middle");
    EXPECT_EQ(edit.styleSheet(), before);
}

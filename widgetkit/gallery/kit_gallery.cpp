// kit-gallery: every kit widget in its default theme on one window.
//   kit-gallery                   shows the window
//   kit-gallery --screenshot FILE renders the window into FILE (PNG) and exits
#include "widgetkit/sys_app.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include "widgetkit/sys_attr_list.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_check_box.h"
#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_dialog.h"
#include "widgetkit/sys_fields.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_form_layout.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_line.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_list.h"
#include "widgetkit/sys_main_window.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_number_edit.h"
#include "widgetkit/sys_progress_bar.h"
#include "widgetkit/sys_serial_combo_box.h"
#include "widgetkit/sys_slider.h"
#include "widgetkit/sys_splitter.h"
#include "widgetkit/sys_tab.h"
#include "widgetkit/sys_table.h"
#include "widgetkit/sys_event_filter.h"
#include "widgetkit/sys_text_edit.h"
#include "widgetkit/sys_tree.h"
#include "widgetkit/sys_widget.h"

#include <QCommandLineParser>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidgetItem>

#include <cstdio>

namespace {

SysGroupBox *group(QWidget *parent, const QString &title, QLayout *layout)
{
    auto *box = new SysGroupBox(parent, title);
    box->setLayout(layout);
    return box;
}

QWidget *inputsColumn(QWidget *parent)
{
    auto *column = new SysWidget(parent);
    auto *v = new SysVLayout(column);

    auto *buttons = new SysHLayout;
    buttons->addWidget(new SysButton(column, QStringLiteral("SysButton")));
    auto *red = new SysButton(column, QStringLiteral("主题 #FF0000"));
    red->setThemeColor(QStringLiteral("#FF0000"));
    buttons->addWidget(red);
    auto *off = new SysButton(column, QStringLiteral("Disabled"));
    off->setEnabled(false);
    buttons->addWidget(off);
    v->addWidget(group(column, QStringLiteral("SysButton"), buttons));

    auto *edits = new SysFormLayout;
    auto *line = new SysLineEdit(column);
    line->setPlaceholderText(QStringLiteral("SysLineEdit"));
    edits->addRow(QStringLiteral("行编辑"), line);
    auto *readOnly = new SysLineEdit(column);
    readOnly->setText(QStringLiteral("read-only"));
    readOnly->setReadOnly(true);
    edits->addRow(QStringLiteral("只读"), readOnly);
    edits->addRow(QStringLiteral("下拉框"), new SysComboBox(column, {QStringLiteral("SysComboBox"), QStringLiteral("Item 2")}));
    auto *serial = new SysSerialComboBox(column);
    serial->setPortLister([] { return QStringList{QStringLiteral("COM3"), QStringLiteral("COM5")}; });
    serial->onTimerTimeout();
    serial->setCurrentIndex(0);
    edits->addRow(QStringLiteral("串口"), serial);
    auto *number = new SysNumberEdit(column, 42);
    edits->addRow(QStringLiteral("数字"), number);
    v->addWidget(group(column, QStringLiteral("SysLineEdit · SysComboBox · SysNumberEdit"), edits));

    auto *choices = new SysHLayout;
    auto *check = new SysCheckBox(column, QStringLiteral("SysCheckBox"));
    check->setChecked(true);
    choices->addWidget(check);
    choices->addWidget(new SysCheckBox(column, QStringLiteral("未选")));
    auto *radio = new SysRadioButton(column, QStringLiteral("SysRadioButton"));
    radio->setChecked(true);
    choices->addWidget(radio);
    v->addWidget(group(column, QStringLiteral("SysCheckBox · SysRadioButton"), choices));

    auto *bars = new SysVLayout;
    auto *progress = new SysProgressBar(column);
    progress->setValue(60);
    progress->setTextFormat(QStringLiteral("{} done"), 0);
    // The text spans the fill and the white rest: dark reads on both.
    progress->setTextColor(QStringLiteral("#303133"));
    bars->addWidget(progress);
    auto *gradient = new SysProgressBar(column);
    gradient->setValue(85);
    gradient->setTextColor(QStringLiteral("#303133"));
    gradient->setGradient({QStringLiteral("#409eff"), QStringLiteral("#67c23a"), QStringLiteral("#e6a23c")});
    bars->addWidget(gradient);
    auto *slider = new SysSlider(column);
    slider->setValue(35);
    bars->addWidget(slider);
    bars->addWidget(new SysLine(column, true));
    auto files = new SysFileSelect(column, QStringLiteral("UBOOT"), {QStringLiteral("*.bin")});
    files->setPath(QStringLiteral("/home/user/firmware/boot.bin"));
    files->setThemeColor(QStringLiteral("#FF0000"));
    bars->addWidget(files);
    bars->addWidget(new SysFileSelect(column, QStringLiteral("SysFileSelect"), {QStringLiteral("*.bin")}));
    v->addWidget(group(column, QStringLiteral("SysProgressBar · SysSlider · SysFileSelect"), bars));

    auto fields = new SysVLayout;
    fields->addWidget(sysLineEditField(column, QStringLiteral("名称")).row);
    fields->addWidget(sysComboBoxField(column, QStringLiteral("波特率"), sysBaudRates()).row);
    v->addWidget(group(column, QStringLiteral("Labelled fields"), fields));

    // Pop-ups and dialogs cannot sit inside the window: their rendering is shown instead.
    auto *popups = new SysHLayout;
    auto *tools = new SysToolBox(column);
    tools->addItem(new SysLabel(tools, QStringLiteral("page 1")), QStringLiteral("SysToolBox"));
    tools->addItem(new SysLabel(tools, QStringLiteral("page 2")), QStringLiteral("Page 2"));
    popups->addWidget(tools, 1);
    SysMenu menu;
    menu.addAction(QStringLiteral("导出到HTML"));
    menu.addAction(QStringLiteral("导出到CSV"));
    menu.addSeparator();
    menu.addAction(QStringLiteral("清空表格"));
    menu.setActiveAction(menu.actions().first());
    menu.adjustSize();
    auto *menuShot = new QLabel(column);
    menuShot->setPixmap(menu.grab());
    popups->addWidget(menuShot);
    SysDialog dialog;
    auto *dialogLayout = new SysVLayout(&dialog);
    dialogLayout->addWidget(new SysLabel(&dialog, QStringLiteral("SysDialog")));
    dialogLayout->addWidget(new SysButton(&dialog, QStringLiteral("确定")));
    dialog.adjustSize();
    auto *dialogShot = new QLabel(column);
    dialogShot->setPixmap(dialog.grab());
    dialogShot->setStyleSheet(QStringLiteral("QLabel{border: 1px solid #ddd;}"));
    popups->addWidget(dialogShot);
    v->addWidget(group(column, QStringLiteral("SysToolBox · SysMenu · SysDialog"), popups));
    v->addStretch(1);
    return column;
}

QWidget *viewsColumn(QWidget *parent)
{
    auto *column = new SysWidget(parent);
    auto *v = new SysVLayout(column);

    auto *table = new SysTable(column, {QStringLiteral("时间"), QStringLiteral("级别"), QStringLiteral("内容")});
    table->setResizeToContents(true);
    table->appendLogLine(3, QStringLiteral("Partition Init ok"));
    table->appendLogLine(2, QStringLiteral("NV file missing, skipped"));
    table->appendLogLine(1, QStringLiteral("new image larger than its partition"));
    table->appendLogLine(0, QStringLiteral("block 12: 4096 bytes"));
    table->enableExportMenu(true);
    auto *tableLayout = new SysVLayout;
    tableLayout->addWidget(table);
    v->addWidget(group(column, QStringLiteral("SysTable (log)"), tableLayout), 2);

    auto *middle = new SysHLayout;
    auto *list = new SysList(column);
    list->addItems({QStringLiteral("Deltamaker"), QStringLiteral("SysList"), QStringLiteral("Item 3")});
    list->setCurrentRow(0);
    middle->addWidget(list);
    auto *tree = new SysTree(column);
    auto *root = new QTreeWidgetItem(tree, {QStringLiteral("Root")});
    auto *node = new QTreeWidgetItem(root, {QStringLiteral("operMode")});
    new QTreeWidgetItem(root, {QStringLiteral("SysTree")});
    new QTreeWidgetItem(node, {QStringLiteral("child")});
    tree->expandRecursively(root, true);
    tree->selectOnly(node);
    middle->addWidget(tree);
    auto *attrs = new SysAttrList(column);
    attrs->addRow(QStringLiteral("paramName"), QStringLiteral("operMode"));
    attrs->addRow(QStringLiteral("value"), new SysNumberEdit(nullptr, 17));
    attrs->setAutoGrow(false);
    attrs->setMinimumHeight(0);
    attrs->setMaximumHeight(QWIDGETSIZE_MAX);
    middle->addWidget(attrs);
    v->addWidget(group(column, QStringLiteral("SysList · SysTree · SysAttrList"), middle), 1);

    auto *bottom = new SysHLayout;
    auto *tab = new SysTab(column);
    auto *text = new SysTextEdit(tab);
    // Return in the text edit is watched by a key filter, as the host's editors do.
    text->installEventFilter(new SysEventFilter(text));
    text->setPlainText(QStringLiteral("SysTextEdit\n多行输入"));
    tab->addTab(text, QStringLiteral("SysTab"));
    auto *browser = new SysTextBrowser(tab);
    browser->setHtml(QStringLiteral("<b>SysTextBrowser</b>"));
    tab->addTab(browser, QStringLiteral("Browser"));
    bottom->addWidget(tab, 1);
    auto *labels = new SysVLayout;
    labels->addWidget(new SysLabel(column, QStringLiteral("SysLabel 标签")));
    auto *blue = new SysLabel(column, QStringLiteral("colour + background"));
    blue->setTextColor(QStringLiteral("#fff"));
    blue->setBackgroundColor(QStringLiteral("#409eff"));
    blue->setBorderRadius(0.5);
    blue->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    labels->addWidget(blue);
    auto *menu = new SysMenu(column);
    menu->addAction(QStringLiteral("SysMenu"));
    auto *menuButton = new SysButton(column, QStringLiteral("SysMenu"));
    menuButton->setMenu(menu);
    labels->addWidget(menuButton);
    labels->addStretch(1);
    bottom->addLayout(labels);
    v->addWidget(group(column, QStringLiteral("SysTab · SysTextEdit · SysLabel"), bottom), 1);
    return column;
}

} // namespace

int main(int argc, char **argv)
{
    SysApp app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows every widget of the kit in its default theme."));
    parser.addHelpOption();
    QCommandLineOption shot(QStringLiteral("screenshot"), QStringLiteral("Render the window into FILE and exit."),
                            QStringLiteral("FILE"));
    parser.addOption(shot);
    parser.process(app);

    SysMainWindow window;
    window.setWindowTitle(QStringLiteral("Tessel kit gallery"));
    auto *splitter = new SysSplitter(&window);
    splitter->setHorizontal(true);
    splitter->setHandleWidth(8);
    splitter->addWidget(inputsColumn(splitter));
    splitter->addWidget(viewsColumn(splitter));
    splitter->setStretchFactor(1, 1);
    auto *central = new SysGroupBox(&window, QString());
    central->setBorderWidth(0);
    central->setBorderRadius(0);
    central->setBackgroundColor(QStringLiteral("#fff"));
    auto *layout = new SysHLayout(central);
    layout->addWidget(splitter);
    // On a screen smaller than the gallery, it scrolls instead of overflowing.
    auto *scroll = new QScrollArea(&window);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(central);
    window.setCentralWidget(scroll);
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    window.resize(qMin(1500, screen.width() * 95 / 100), qMin(980, screen.height() * 9 / 10));

    if (parser.isSet(shot)) {
        window.show();
        app.processEvents();
        const QString file = parser.value(shot);
        if (!window.grab().save(file, "PNG")) {
            std::fprintf(stderr, "kit-gallery: cannot write %s\n", qUtf8Printable(file));
            return 1;
        }
        return 0;
    }
    window.show();
    return app.exec();
}

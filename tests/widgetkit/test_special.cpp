// Serial port chooser, file selector, drag-policy tree, key filter, attribute list and the
// small helpers with behaviour of their own.
#include "tests/support/recording_presenter.h"
#include "widgetkit/sys_attr_list.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_event_filter.h"
#include "widgetkit/sys_fields.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_number_edit.h"
#include "widgetkit/sys_serial_combo_box.h"
#include "widgetkit/sys_style.h"
#include "widgetkit/sys_tree.h"
#include "widgetkit/sys_widget.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>
#include <QDir>

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPointer>

#include <gtest/gtest.h>

#include <memory>

using Pair = QPair<QString, QString>;

namespace {

struct SerialRig {
    SerialRig()
    {
        box.setPortLister([this] { return ports; });
        QObject::connect(&box, &SysSerialComboBox::currentPortChanged, [this](QString &port, QString &prev) {
            emitted << Pair(port, prev);
            port = "tampered"; // a receiver cannot reach the remembered port
            prev = "tampered";
        });
    }
    QList<Pair> poll()
    {
        emitted.clear();
        box.onTimerTimeout();
        return emitted;
    }
    SysSerialComboBox box;
    QStringList ports;
    QList<Pair> emitted;
};

} // namespace

TEST(KitSerialCombo, FollowsPortsAndReportsEachChangeOnce)
{
    SerialRig rig;
    rig.ports = QStringList{"COM3", "COM5"};
    EXPECT_EQ(rig.poll(), QList<Pair>()); // first poll, nothing selected, nothing reported
    EXPECT_EQ(rig.box.itemTexts(), rig.ports);
    EXPECT_EQ(rig.box.currentIndex(), -1);
    EXPECT_EQ(rig.poll(), QList<Pair>());

    rig.box.setCurrentIndex(0);
    EXPECT_EQ(rig.poll(), QList<Pair>({{"COM3", ""}}));
    EXPECT_EQ(rig.box.lastPort(), "COM3");
    EXPECT_EQ(rig.box.currentText(), "COM3");
    EXPECT_EQ(rig.poll(), QList<Pair>());

    rig.box.setCurrentIndex(1);
    EXPECT_EQ(rig.poll(), QList<Pair>({{"COM5", "COM3"}}));

    rig.ports = QStringList{"COM3"}; // COM5 unplugged: the selection goes, silently
    EXPECT_EQ(rig.poll(), QList<Pair>());
    EXPECT_EQ(rig.box.currentIndex(), -1);
    EXPECT_EQ(rig.poll(), QList<Pair>({{"", "COM5"}})); // the loss, once
    EXPECT_TRUE(rig.box.lossReported());
    EXPECT_EQ(rig.poll(), QList<Pair>());
    rig.ports = QStringList{"COM3", "COM5"};
    EXPECT_EQ(rig.poll(), QList<Pair>());
    EXPECT_EQ(rig.box.lastPort(), "COM5");

    rig.box.setCurrentIndex(1); // re-selecting the lost port itself reports nothing
    EXPECT_EQ(rig.poll(), QList<Pair>());
    EXPECT_FALSE(rig.box.lossReported());
    rig.box.setCurrentIndex(0);
    EXPECT_EQ(rig.poll(), QList<Pair>({{"COM3", "COM5"}}));
}

TEST(KitSerialCombo, SelectionFollowsItsPortAcrossReordering)
{
    SerialRig rig;
    rig.ports = QStringList{"COM1", "COM2", "COM3"};
    rig.poll();
    rig.box.setCurrentIndex(2);
    rig.poll();
    rig.ports = QStringList{"COM3", "COM1"};
    EXPECT_EQ(rig.poll(), QList<Pair>());
    EXPECT_EQ(rig.box.currentIndex(), 0);
    EXPECT_EQ(rig.box.portNames(), rig.ports);
}

TEST(KitSerialCombo, PollingTimer)
{
    SysSerialComboBox box;
    EXPECT_FALSE(box.isPolling());
    EXPECT_EQ(box.pollInterval(), 1000);
    box.startPolling();
    EXPECT_TRUE(box.isPolling());
    box.stopPolling();
    EXPECT_FALSE(box.isPolling());

    auto field = sysSerialPortField(nullptr, "Port", true);
    std::unique_ptr<SysWidget> owner(field.row);
    EXPECT_TRUE(field.input->isPolling());
    EXPECT_EQ(field.label->text(), "Port:");
    EXPECT_EQ(field.input->parentWidget(), field.row);
}

TEST(KitFileSelect, ModesFiltersAndSignal)
{
    RecordingPresenter &p = testPresenter();
    p.clear();
    SysFileSelect select(nullptr, "Browse", {"*.bin", "*.hex"});
    EXPECT_EQ(select.browseButton()->text(), "Browse");
    EXPECT_EQ(select.mode(), SysFileSelect::OpenFile);
    QSignalSpy spy(&select, &SysFileSelect::selected);

    select.setCaption("Pick");
    p.fileAnswers = QStringList{"/tmp/a.bin"};
    select.openFileBtnClicked();
    EXPECT_EQ(p.dialogCaptions, QStringList({"Pick"}));
    EXPECT_EQ(p.dialogFilters, QStringList({"*.bin;;*.hex"}));
    EXPECT_EQ(select.path(), "/tmp/a.bin");
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy[0][0].toString(), "/tmp/a.bin");

    // Cancel changes nothing.
    select.openFileBtnClicked();
    EXPECT_EQ(select.path(), "/tmp/a.bin");
    EXPECT_EQ(spy.size(), 1);

    p.clear();
    select.setMode(SysFileSelect::Folder);
    p.fileAnswers = QStringList{"/tmp/out"};
    select.openFileBtnClicked();
    EXPECT_EQ(p.dialogFilters, QStringList({""})); // folders ignore the filters
    EXPECT_EQ(select.path(), "/tmp/out");

    select.setMode(SysFileSelect::SaveFile);
    p.fileAnswers = QStringList{"/tmp/pkg.bin"};
    select.openFileBtnClicked();
    EXPECT_EQ(p.dialogFilters.last(), "*.bin;;*.hex");
    EXPECT_EQ(spy.size(), 3);

    p.clear();
    select.setMode(7);
    p.fileAnswers = QStringList{"/never"};
    select.openFileBtnClicked();
    EXPECT_TRUE(p.dialogCaptions.isEmpty());
    EXPECT_EQ(select.path(), "/tmp/pkg.bin");

    select.setEditable(false);
    EXPECT_TRUE(select.pathEdit()->isReadOnly());
    select.clearPath();
    EXPECT_EQ(select.path(), "");
    p.clear();
}

TEST(KitButton, EnterPressesTheFocusedButtonAndFocusShowsAsARing)
{
    SysWidget window;
    auto *layout = new SysHLayout(&window);
    auto *first = new SysButton(&window, "First");
    auto *second = new SysButton(&window, "Second");
    second->setThemeColor("#3CB371");
    layout->addWidget(first);
    layout->addWidget(second);
    window.show();
    QSignalSpy clicked(second, &QPushButton::clicked);
    second->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        const int before = clicked.size();
        QTest::keyClick(second, key);
        for (int i = 0; i < 100 && clicked.size() == before; ++i)
            QTest::qWait(10);
    }
    EXPECT_EQ(clicked.size(), 2);
    second->setEnabled(false);
    QTest::keyClick(second, Qt::Key_Return);
    QTest::qWait(200);
    EXPECT_EQ(clicked.size(), 2);
    second->setEnabled(true);

    // The ring takes a dark shade of the button's own colour and is drawn only with the focus.
    EXPECT_EQ(first->focusRingColor(), darkenColor("#409eff", 0.35));
    EXPECT_EQ(second->focusRingColor(), darkenColor("#3CB371", 0.35));
    EXPECT_TRUE(first->styleSheet().contains("outline: none;"));
    first->setFocus();
    QApplication::processEvents();
    const QImage focused = first->grab().toImage();
    second->setFocus();
    QApplication::processEvents();
    const QImage unfocused = first->grab().toImage();
    EXPECT_NE(focused, unfocused);
    const QColor ring(first->focusRingColor());
    const QColor edge = focused.pixelColor(focused.width() / 2, 1);
    EXPECT_LT(std::abs(edge.red() - ring.red()) + std::abs(edge.green() - ring.green()) + std::abs(edge.blue() - ring.blue()), 60)
        << edge.name().toStdString();
}

TEST(KitFileSelect, DialogsOpenWhereTheRowLastPointed)
{
    RecordingPresenter &p = testPresenter();
    p.clear();
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("images"));
    SysFileSelect select(nullptr, "Browse", {"*.bin"});
    // Nothing chosen yet: the home folder, not the working folder.
    select.openFileBtnClicked();
    EXPECT_EQ(p.dialogDirs.last(), QDir::homePath());
    select.setStartDirectory(dir.path());
    select.openFileBtnClicked();
    EXPECT_EQ(p.dialogDirs.last(), dir.path());

    // An answer moves the start folder to its own; the path in the edit is proposed again.
    const QString image = dir.path() + "/images/new.bin";
    p.fileAnswers = QStringList{image};
    select.openFileBtnClicked();
    EXPECT_EQ(select.startDirectory(), dir.path() + "/images");
    select.openFileBtnClicked();
    EXPECT_EQ(p.dialogDirs.last(), image);
    // A path whose folder is gone falls back to the start folder.
    select.setPath("/no/such/folder/x.bin");
    select.openFileBtnClicked();
    EXPECT_EQ(p.dialogDirs.last(), dir.path() + "/images");
    p.clear();
}

namespace {

class ProbeTree : public SysTree
{
public:
    using SysTree::beginDrag;
    using SysTree::endDrag;
    using SysTree::startDrag;
    using SysTree::dragMoveEvent;
    using SysTree::dropEvent;

    // Sends a drag move over `item` and tells whether it was accepted.
    bool hover(QTreeWidgetItem *item, QMimeData *mime)
    {
        QDragMoveEvent ev(visualItemRect(item).center(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        ev.ignore();
        dragMoveEvent(&ev);
        return ev.isAccepted();
    }
    void drop(QTreeWidgetItem *item, QMimeData *mime)
    {
        QDropEvent ev(visualItemRect(item).center(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        dropEvent(&ev);
    }
};

struct TreeRig {
    TreeRig()
    {
        tree.resize(300, 400);
        root = new QTreeWidgetItem(&tree, {"root"});
        a = new QTreeWidgetItem(root, {"a"});
        b = new QTreeWidgetItem(root, {"b"});
        folder = new QTreeWidgetItem(root, {"folder"});
        tree.expandAll();
        tree.show();
    }
    ProbeTree tree;
    QTreeWidgetItem *root, *a, *b, *folder;
};

} // namespace

TEST(KitTree, ConstructionDefaults)
{
    SysTree tree;
    EXPECT_EQ(tree.columnCount(), 1);
    EXPECT_TRUE(tree.header()->isHidden());
    EXPECT_EQ(tree.dragDropMode(), QAbstractItemView::InternalMove);
    EXPECT_EQ(tree.defaultDropAction(), Qt::MoveAction);
    EXPECT_EQ(tree.selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(tree.styleSheet().startsWith("\tQTreeWidget{\t\tbackground-color: #fff;\t\tborder: none;\t\toutline:0px;"
                                             "\t\tmargin: 0px;\t\tfont-family: '微软雅黑';\t}"
                                             "\tQTreeView::item:selected{\t\tcolor: #FFF;\t}"
                                             "\tQTreeView::item:selected{\t\tbackground-color: #409eff;\t}"));
    tree.setDragEnabled(true);
    EXPECT_TRUE(tree.dragEnabled());
    EXPECT_TRUE(tree.viewport()->acceptDrops());
    tree.setDragEnabled(false);
    EXPECT_FALSE(tree.acceptDrops());
}

TEST(KitTree, CallbackDecidesDragHoverAndDrop)
{
    TreeRig rig;
    QList<QPair<QString, int>> asked;
    rig.tree.setDragCallback([&](QTreeWidgetItem *item, SYS_DRAG_STATE state) {
        asked << qMakePair(item->text(0), int(state));
        if (state == SYS_DRAG_START)
            return item != rig.root;
        if (state == SYS_DRAG_HOVER)
            return item == rig.folder;
        // The drop: move the dragged item into the folder.
        QTreeWidgetItem *dragged = rig.tree.draggedItem();
        dragged->parent()->removeChild(dragged);
        item->addChild(dragged);
        return true;
    });

    rig.tree.setCurrentItem(rig.root);
    EXPECT_EQ(rig.tree.beginDrag(), nullptr);
    EXPECT_EQ(rig.tree.draggedItem(), nullptr);

    rig.tree.setCurrentItem(rig.a);
    std::unique_ptr<QMimeData> mime(rig.tree.beginDrag());
    ASSERT_NE(mime, nullptr);
    EXPECT_TRUE(mime->hasFormat("application/x-qabstractitemmodeldatalist"));
    EXPECT_EQ(rig.tree.draggedItem(), rig.a);

    EXPECT_FALSE(rig.tree.hover(rig.b, mime.get()));
    EXPECT_TRUE(rig.tree.hover(rig.folder, mime.get()));
    EXPECT_TRUE(rig.folder->isSelected());
    EXPECT_EQ(rig.tree.hoverItem(), rig.folder);

    QList<QPair<QTreeWidgetItem *, QTreeWidgetItem *>> current;
    QObject::connect(&rig.tree, &QTreeWidget::currentItemChanged,
                     [&](QTreeWidgetItem *now, QTreeWidgetItem *before) { current << qMakePair(now, before); });
    rig.tree.drop(rig.folder, mime.get());
    EXPECT_EQ(rig.a->parent(), rig.folder);
    EXPECT_TRUE(rig.a->isSelected());
    EXPECT_FALSE(rig.folder->isSelected());
    EXPECT_EQ(rig.tree.selectedItems().size(), 1);
    // The callback's own moves may change the current item; the last report names the
    // dragged item.
    ASSERT_FALSE(current.isEmpty());
    EXPECT_EQ(current.last().first, rig.a);
    EXPECT_EQ(current.last().second, nullptr);
    EXPECT_EQ(rig.tree.draggedItem(), nullptr);
    EXPECT_EQ(rig.tree.hoverItem(), nullptr);
    EXPECT_EQ(asked.last(), qMakePair(QString("folder"), 2));
}

TEST(KitTree, WithoutCallbackEveryTargetIsAcceptedAndNothingMoves)
{
    TreeRig rig;
    rig.tree.setCurrentItem(rig.a);
    std::unique_ptr<QMimeData> mime(rig.tree.beginDrag());
    ASSERT_NE(mime, nullptr);
    EXPECT_TRUE(rig.tree.hover(rig.b, mime.get()));
    EXPECT_TRUE(rig.tree.hover(rig.root, mime.get()));
    EXPECT_FALSE(rig.b->isSelected()); // the previous hover item is released
    rig.tree.drop(rig.b, mime.get());
    EXPECT_EQ(rig.a->parent(), rig.root);
    EXPECT_EQ(rig.root->childCount(), 3);
}

TEST(KitTree, ACancelledDragForgetsItsItems)
{
    TreeRig rig;
    int drops = 0;
    rig.tree.setDragCallback([&](QTreeWidgetItem *, SYS_DRAG_STATE state) {
        drops += state == SYS_DRAG_DROP;
        return true;
    });
    rig.tree.setCurrentItem(rig.a);
    // Offscreen, the drag ends at once without a drop, as a cancelled one does.
    rig.tree.startDrag(Qt::MoveAction);
    EXPECT_EQ(rig.tree.draggedItem(), nullptr);

    // The payload of the cancelled drag no longer names an item of this tree.
    QMimeData stale;
    stale.setData("application/x-qabstractitemmodeldatalist",
                  QByteArray::number(static_cast<qulonglong>(reinterpret_cast<quintptr>(rig.a))));
    EXPECT_FALSE(rig.tree.hover(rig.b, &stale));
    rig.tree.drop(rig.b, &stale);
    EXPECT_EQ(drops, 0);

    // A drag that highlighted a target and then ended without a drop takes the highlight back.
    std::unique_ptr<QMimeData> mime(rig.tree.beginDrag());
    ASSERT_NE(mime, nullptr);
    EXPECT_TRUE(rig.tree.hover(rig.b, mime.get()));
    EXPECT_TRUE(rig.b->isSelected());
    rig.tree.endDrag();
    EXPECT_FALSE(rig.b->isSelected());
    EXPECT_TRUE(rig.a->isSelected());
    EXPECT_EQ(rig.tree.draggedItem(), nullptr);
    EXPECT_EQ(rig.tree.hoverItem(), nullptr);
}

TEST(KitTree, ForeignPayloadIsRefused)
{
    TreeRig rig;
    int calls = 0;
    rig.tree.setDragCallback([&](QTreeWidgetItem *, SYS_DRAG_STATE) { return ++calls, true; });
    QMimeData foreign;
    foreign.setData("application/x-qabstractitemmodeldatalist", "12345");
    EXPECT_FALSE(rig.tree.hover(rig.b, &foreign)); // no drag started here
    QMimeData text;
    text.setText("hello");
    EXPECT_FALSE(rig.tree.hover(rig.b, &text));
    rig.tree.drop(rig.b, &foreign);
    EXPECT_EQ(calls, 0);
}

TEST(KitTree, CloneIsDeep)
{
    SysTree tree;
    auto *source = new QTreeWidgetItem(&tree, {"node"});
    QPixmap pixmap(8, 8);
    pixmap.fill(Qt::red);
    source->setIcon(0, QIcon(pixmap));
    source->setData(0, Qt::UserRole, QVariantMap{{"paramName", "operMode"}});
    auto *child = new QTreeWidgetItem(source, {"child"});
    child->setData(0, Qt::UserRole + 1, 42);
    auto *target = new QTreeWidgetItem(&tree, {"target"});

    QTreeWidgetItem *copy = tree.cloneItem(source, target);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->parent(), target);
    EXPECT_EQ(copy->text(0), "node");
    EXPECT_FALSE(copy->icon(0).isNull());
    EXPECT_EQ(copy->data(0, Qt::UserRole).toMap().value("paramName").toString(), "operMode");
    ASSERT_EQ(copy->childCount(), 1);
    EXPECT_NE(copy->child(0), child);
    EXPECT_EQ(copy->child(0)->data(0, Qt::UserRole + 1).toInt(), 42);
    child->setText(0, "changed");
    EXPECT_EQ(copy->child(0)->text(0), "child");

    QTreeWidgetItem *top = tree.cloneItem(child, nullptr);
    EXPECT_EQ(tree.indexOfTopLevelItem(top), 2);
    EXPECT_EQ(tree.cloneItem(nullptr, target), nullptr);
}

TEST(KitTree, ExpandRecursivelyAndSelectOnly)
{
    SysTree tree;
    auto *root = new QTreeWidgetItem(&tree, {"r"});
    auto *mid = new QTreeWidgetItem(root, {"m"});
    auto *leaf = new QTreeWidgetItem(mid, {"l"});
    new QTreeWidgetItem(leaf, {"x"});
    auto *other = new QTreeWidgetItem(&tree, {"o"});
    tree.expandRecursively(root, false);
    EXPECT_FALSE(root->isExpanded());
    EXPECT_TRUE(mid->isExpanded());
    EXPECT_TRUE(leaf->isExpanded());
    tree.expandRecursively(root, true);
    EXPECT_TRUE(root->isExpanded());

    other->setSelected(true);
    tree.selectOnly(leaf);
    EXPECT_EQ(tree.selectedItems(), QList<QTreeWidgetItem *>({leaf}));
    int current = 0;
    QObject::connect(&tree, &QTreeWidget::currentItemChanged, [&] { ++current; });
    QTreeWidgetItem stray({"stray"});
    tree.selectOnly(&stray); // not in the tree: clears the selection, no signal
    EXPECT_TRUE(tree.selectedItems().isEmpty());
    EXPECT_EQ(current, 0);
}

TEST(KitTree, KeysOnlyEmitSignals)
{
    SysTree tree;
    auto *first = new QTreeWidgetItem(&tree, {"1"});
    new QTreeWidgetItem(&tree, {"2"});
    tree.setCurrentItem(first);
    QList<int> downs, ups;
    QObject::connect(&tree, &SysTree::keyDown, [&](QKeyEvent *e) { downs << e->key(); });
    QObject::connect(&tree, &SysTree::keyUp, [&](QKeyEvent *e) { ups << e->key(); });
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(&tree, &press);
    QApplication::sendEvent(&tree, &release);
    EXPECT_EQ(downs, QList<int>({Qt::Key_Down}));
    EXPECT_EQ(ups, QList<int>({Qt::Key_Down}));
    EXPECT_EQ(tree.currentItem(), first);
}

TEST(KitEventFilter, ReturnAndCtrlReturnButNotKeypadEnter)
{
    SysLineEdit edit;
    SysEventFilter filter;
    edit.installEventFilter(&filter);
    QStringList seen;
    QObject::connect(&filter, &SysEventFilter::returnPressed, [&] { seen << "return"; });
    QObject::connect(&filter, &SysEventFilter::ctrlAndReturnPressed, [&] { seen << "ctrl"; });

    QKeyEvent ret(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    EXPECT_FALSE(filter.eventFilter(&edit, &ret)); // never consumed
    EXPECT_EQ(seen, QStringList({"return"}));

    seen.clear();
    QKeyEvent ctrl(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier);
    QApplication::sendEvent(&edit, &ctrl);
    EXPECT_EQ(seen, QStringList({"return", "ctrl"}));

    seen.clear();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier);
    QApplication::sendEvent(&edit, &enter);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&edit, &release);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    QApplication::sendEvent(&edit, &other);
    EXPECT_TRUE(seen.isEmpty());
}

TEST(KitAttrList, RowsAndAutoGrow)
{
    SysAttrList list;
    EXPECT_EQ(list.columnCount(), 2);
    EXPECT_TRUE(list.horizontalHeader()->isHidden());
    EXPECT_EQ(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    const int start = list.height();

    list.addRow("name", "value");
    EXPECT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.item(0, 0)->text(), "name");
    EXPECT_EQ(list.item(0, 0)->textAlignment(), int(Qt::AlignRight | Qt::AlignVCenter));
    EXPECT_EQ(list.item(0, 1)->text(), "value");
    EXPECT_EQ(list.height(), start + list.rowHeight(0));

    auto *edit = new SysLineEdit;
    list.addRow("edit", edit);
    ASSERT_NE(list.cellWidget(1, 1), nullptr);
    EXPECT_TRUE(list.cellWidget(1, 1)->isAncestorOf(edit));
    list.addRow(new SysLabel(nullptr, "l"), new SysLabel(nullptr, "r"));
    EXPECT_EQ(list.rowCount(), 3);
    EXPECT_EQ(list.height(), start + list.rowHeight(0) + list.rowHeight(1) + list.rowHeight(2));
    EXPECT_EQ(list.minimumHeight(), list.maximumHeight());

    list.setAutoGrow(false);
    const int fixed = list.height();
    list.addRow("more", "rows");
    EXPECT_EQ(list.height(), fixed);
}

TEST(KitNumberEdit, RelaysValueChanges)
{
    SysNumberEdit edit(nullptr, 5);
    EXPECT_EQ(edit.value(), 5);
    QSignalSpy spy(&edit, &SysNumberEdit::valueChangedPrivPriv);
    edit.setValue(9);
    edit.setValue(9);
    ASSERT_EQ(spy.size(), 1);
    EXPECT_EQ(spy[0][0].toInt(), 9);

    auto field = sysNumberField(nullptr, "Count", -10, 1000, 500);
    std::unique_ptr<SysWidget> owner(field.row);
    EXPECT_EQ(field.input->minimum(), -10);
    EXPECT_EQ(field.input->maximum(), 1000);
    EXPECT_EQ(field.input->value(), 500);
}

TEST(KitFields, LabelledRowsAndBaudRates)
{
    auto line = sysLineEditField(nullptr, "名称");
    std::unique_ptr<SysWidget> owner(line.row);
    EXPECT_EQ(line.label->text(), "名称:");
    EXPECT_EQ(line.input->parentWidget(), line.row);
    auto combo = sysComboBoxField(line.row, "Baud", sysBaudRates());
    EXPECT_EQ(combo.row->parentWidget(), line.row);
    EXPECT_EQ(combo.input->count(), 13);

    EXPECT_EQ(sysBaudRates(), QStringList({"9600", "38400", "57600", "76800", "115200", "177230", "230400", "460800",
                                           "576000", "691200", "806400", "921600", "2000000"}));
}

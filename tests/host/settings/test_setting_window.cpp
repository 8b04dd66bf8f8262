// The setting editor as a user drives it: tree editing by menu, keys and drag, the attribute
// rows, and what Save and Cancel do to the file. Texts come from the shipped Chinese file.
#include "common/text_format.h"
#include "host/contract/i_test_tools.h"
#include "host/languages/lang_store.h"
#include "host/settings/setting_config_tree.h"
#include "host/settings/setting_window.h"
#include "host/settings/test_node_attr_list.h"
#include "tests/host/host_test_util.h"
#include "tests/support/recording_presenter.h"
#include "tests/support/test_paths.h"

#include "widgetkit/sys_button.h"
#include "widgetkit/sys_combo_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_line_edit.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_splitter.h"
#include "widgetkit/sys_style.h"
#include "widgetkit/sys_text_edit.h"

#include <QApplication>
#include <QDropEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMimeData>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextDocument>
#include <QValidator>

#include <gtest/gtest.h>

namespace {

class FakeTools : public ITestTools
{
public:
    explicit FakeTools(const QString &configFile) : m_config(configFile) {}
    QString pluginName() override { return QStringLiteral("Demo"); }
    QString baseName() override { return QStringLiteral("Demo"); }
    QString libraryPath() override { return QString(); }
    QString configDir() override { return QFileInfo(m_config).absolutePath(); }
    QString logDir() override { return QString(); }
    QString configFilePath() override { return m_config; }
    QString historyHtml() override { return QString(); }
    bool hasConfigFile() override { return QFileInfo::exists(m_config); }
    IConfigFile *config(bool) override { return nullptr; }
    QString text(const QString &) override { return QString(); }
    QMainWindow *mainWindow() override { return m_main; }
    void setUnloadable(bool) override {}
    bool isUnloadable() override { return true; }

    void setMainWindow(QMainWindow *main) { m_main = main; }

private:
    QString m_config;
    QMainWindow *m_main = nullptr; // not owned
};

const char *const kTree =
    "<Root type=\"0\">\n"
    " <Folder name=\"zh$$$电机\" paramName=\"motor\" desc=\"\">\n"
    "  <Node name=\"zh$$$速度\" paramName=\"speed\" desc=\"zh$$$转速\" paramType=\"1\" paramValue=\"50\""
    " paramUpLimit=\"100\" paramDownLimit=\"0\"/>\n"
    "  <Folder name=\"zh$$$内部\" paramName=\"inner\" desc=\"\">\n"
    "   <Node name=\"zh$$$增益\" paramName=\"gain\" desc=\"\" paramType=\"2\" paramValue=\"1.5\""
    " paramUpLimit=\"2\" paramDownLimit=\"0\"/>\n"
    "  </Folder>\n"
    " </Folder>\n"
    " <Folder name=\"zh$$$空\" paramName=\"empty\" desc=\"\"/>\n"
    " <Node name=\"zh$$$开关\" paramName=\"flag\" desc=\"\" paramType=\"0\" paramValue=\"true\""
    " paramUpLimit=\"\" paramDownLimit=\"\"/>\n"
    " <Node name=\"zh$$$名字\" paramName=\"label\" desc=\"\" paramType=\"3\" paramValue=\"abc\""
    " paramUpLimit=\"\" paramDownLimit=\"\"/>\n"
    "</Root>\n";

class SettingEditor : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testPresenter().clear();
        const QString runtime = TestPaths::sourceDir() + QStringLiteral("/runtime/lang/Tessel/");
        ASSERT_TRUE(QDir().mkpath(wd.file("lang/Tessel")));
        ASSERT_TRUE(QFile::copy(runtime + "zh.lang", wd.file("lang/Tessel/zh.lang")));
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), "zh"));
        ASSERT_TRUE(writeGbkXml(path(), QString::fromUtf8(kTree)));
    }

    QString path() const { return wd.file("config/Demo/index.config"); }
    QString t(const QString &key) { return langs.text("Tessel", key); }

    std::unique_ptr<SettingWindow> open()
    {
        auto w = std::make_unique<SettingWindow>(&tools, [this](const QString &k) { return t(k); }, "zh");
        w->show();
        return w;
    }

    QVector<ShownMessage> &messages() { return testPresenter().messages; }

    // The editor with the shipped texts of `lang` ("zh" or "en") as current language; `store`
    // must be fresh, since a store keeps the first language it reads.
    std::unique_ptr<SettingWindow> openIn(const QString &lang, LangStore &store)
    {
        const QString runtime = TestPaths::sourceDir() + QStringLiteral("/runtime/lang/Tessel/");
        QFile::remove(wd.file("lang/Tessel/" + lang + ".lang"));
        EXPECT_TRUE(QFile::copy(runtime + lang + ".lang", wd.file("lang/Tessel/" + lang + ".lang")));
        EXPECT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), lang.toLatin1()));
        auto w = std::make_unique<SettingWindow>(
            &tools, [&store](const QString &k) { return store.text("Tessel", k); }, lang);
        w->show();
        return w;
    }

    // Texts of the items below `parent`, in order.
    static QStringList children(QTreeWidgetItem *parent)
    {
        QStringList out;
        for (int i = 0; i < parent->childCount(); ++i)
            out << parent->child(i)->text(0);
        return out;
    }

    static QStringList menuTexts(SysMenu *menu)
    {
        QStringList out;
        for (QAction *a : menu->actions())
            out << a->text();
        return out;
    }

    // Triggers the entry `key` of the item's context menu; false when there is none.
    bool menu(SettingWindow &w, QTreeWidgetItem *item, const char *key)
    {
        std::unique_ptr<SysMenu> m(w.tree()->createContextMenu(item));
        for (QAction *a : m->actions()) {
            if (a->text() == t(key)) {
                a->trigger();
                return true;
            }
        }
        return false;
    }

    static void key(SettingWindow &w, QKeySequence::StandardKey seq)
    {
        const QKeySequence ks(seq);
        QKeyEvent ev(QEvent::KeyPress, ks[0] & ~Qt::KeyboardModifierMask,
                     Qt::KeyboardModifiers(ks[0] & Qt::KeyboardModifierMask));
        QApplication::sendEvent(w.tree(), &ev);
    }

    ScopedWorkDir wd;
    LangStore langs;
    FakeTools tools{wd.file("config/Demo/index.config")};
};

QString u(const char *s) { return QString::fromUtf8(s); }

} // namespace

TEST_F(SettingEditor, WindowLayoutTitleAndEmptyState)
{
    auto w = open();
    EXPECT_EQ(w->windowTitle(), u("Demo - 配置"));
    EXPECT_TRUE(w->emptyLabel()->isVisible());
    EXPECT_EQ(w->emptyLabel()->text(), t("setting/emptyContent"));
    EXPECT_FALSE(w->attrList()->isVisible());
    EXPECT_EQ(w->saveButton()->text(), t("setting/action/save"));
    EXPECT_EQ(w->cancelButton()->text(), t("setting/action/cancel"));
    EXPECT_TRUE(w->saveButton()->styleSheet().contains("#FF0000"));
    EXPECT_TRUE(w->cancelButton()->styleSheet().contains("#A9A9A9"));
    EXPECT_EQ(w->splitter()->orientation(), Qt::Vertical);
    QTreeWidgetItem *root = w->tree()->rootItem();
    EXPECT_EQ(root->text(0), t("setting/settingList"));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(children(root), u("电机|空|开关|名字").split('|'));

    w->tree()->setCurrentItem(root->child(2));
    EXPECT_FALSE(w->emptyLabel()->isVisible());
    EXPECT_TRUE(w->attrList()->isVisible());
    EXPECT_EQ(w->attrList()->rowCount(), 9);
}

TEST_F(SettingEditor, AFileThatDoesNotLoadIsReportedAndRejected)
{
    ASSERT_TRUE(writeBytes(path(), "<Root type=\"1\"><Folder name=\"a\" paramName=\"a\" desc=\"\"/></Root>"));
    SettingWindow w(&tools, [this](const QString &k) { return t(k); }, "zh");
    EXPECT_FALSE(w.loaded());
    EXPECT_EQ(w.exec(), QDialog::Rejected);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].title, u("Demo - 配置"));
    EXPECT_EQ(messages()[0].text, t("setting/loadFailed"));
}

TEST_F(SettingEditor, ContextMenusByNodeType)
{
    auto w = open();
    SettingConfigTree *tree = w->tree();
    QTreeWidgetItem *root = tree->rootItem(), *motor = root->child(0), *flag = root->child(2);
    auto texts = [&](QTreeWidgetItem *item) {
        std::unique_ptr<SysMenu> m(tree->createContextMenu(item));
        return menuTexts(m.get());
    };
    auto keys = [&](const char *list) {
        QStringList out;
        for (const QString &k : QString(list).split(' '))
            out << t("setting/rightMenu/" + k);
        return out;
    };
    // The root offers no remove, cut or copy.
    EXPECT_EQ(texts(root), keys("setSettingType addSubFolder addSubItem"));
    motor->setExpanded(false);
    EXPECT_EQ(texts(motor), keys("addFolder addItem addSubFolder addSubItem removeThisFolder cut copy expandAll"));
    motor->setExpanded(true);
    EXPECT_EQ(texts(motor),
              keys("addFolder addItem addSubFolder addSubItem removeThisFolder cut copy expandAll collapseAll"));
    EXPECT_EQ(texts(flag), keys("addFolder addItem removeThisItem cut copy"));
    tree->copyNode(flag);
    EXPECT_EQ(texts(flag), keys("addFolder addItem removeThisItem paste cut copy"));
    // Neither can the root be put on the clipboard by key, nor dragged.
    tree->setCurrentItem(root);
    key(*w, QKeySequence::Cut);
    EXPECT_EQ(tree->clipboardSource(), flag);
    EXPECT_FALSE(tree->dragRule(root, SYS_DRAG_START));
    EXPECT_TRUE(tree->dragRule(motor, SYS_DRAG_START));
    EXPECT_TRUE(tree->dragRule(root, SYS_DRAG_HOVER));
}

TEST_F(SettingEditor, AddRemoveExpandAndCollapse)
{
    auto w = open();
    SettingConfigTree *tree = w->tree();
    QTreeWidgetItem *root = tree->rootItem(), *motor = root->child(0), *empty = root->child(1);

    ASSERT_TRUE(menu(*w, empty, "setting/rightMenu/addSubItem"));
    EXPECT_TRUE(empty->isExpanded());
    ASSERT_EQ(empty->childCount(), 1);
    EXPECT_EQ(tree->currentItem(), empty->child(0));
    TEST_NODE_DATA added = SettingConfigTree::itemData(empty->child(0));
    EXPECT_EQ(added.nodeType, NodeItem);
    EXPECT_EQ(added.paramName, "parameter");
    EXPECT_EQ(added.name.toStored(), "zh$$$" + t("setting/createSetting/subItem"));
    EXPECT_EQ(w->attrList()->paramNameEdit()->text(), "parameter");

    ASSERT_TRUE(menu(*w, motor, "setting/rightMenu/addFolder"));
    EXPECT_EQ(root->child(1)->text(0), t("setting/createSetting/folder"));
    EXPECT_EQ(SettingConfigTree::itemData(root->child(1)).paramName, "folder");
    EXPECT_EQ(tree->currentItem(), root->child(1));
    ASSERT_TRUE(menu(*w, root, "setting/rightMenu/addSubFolder"));
    EXPECT_EQ(root->child(root->childCount() - 1)->text(0), t("setting/createSetting/subFolder"));
    EXPECT_EQ(tree->addNode(root, NodeItem, false), nullptr); // no siblings of the root

    // Removing takes the whole subtree, and a clipboard pointing into it is emptied.
    QTreeWidgetItem *gain = motor->child(1)->child(0);
    tree->copyNode(gain);
    const int before = root->childCount();
    ASSERT_TRUE(menu(*w, motor, "setting/rightMenu/removeThisFolder"));
    EXPECT_EQ(root->childCount(), before - 1);
    EXPECT_EQ(tree->clipboardState(), SettingConfigTree::Empty);
    EXPECT_EQ(tree->clipboardSource(), nullptr);
    EXPECT_EQ(tree->pasteOnto(root), nullptr);
    tree->setCurrentItem(root);
    key(*w, QKeySequence::Delete);
    EXPECT_EQ(tree->topLevelItemCount(), 1);

    // Collapse all closes the folder but leaves those below open.
    ASSERT_TRUE(writeGbkXml(path(), QString::fromUtf8(kTree)));
    ASSERT_TRUE(tree->loadFile(path()));
    motor = root->child(0);
    tree->collapseAll();
    ASSERT_TRUE(menu(*w, motor, "setting/rightMenu/expandAll"));
    EXPECT_TRUE(motor->isExpanded());
    EXPECT_TRUE(motor->child(1)->isExpanded());
    ASSERT_TRUE(menu(*w, motor, "setting/rightMenu/collapseAll"));
    EXPECT_FALSE(motor->isExpanded());
    EXPECT_TRUE(motor->child(1)->isExpanded());
}

TEST_F(SettingEditor, FolderCopiedAndPastedTwiceByKeyboard)
{
    auto w = open();
    SettingConfigTree *tree = w->tree();
    QTreeWidgetItem *root = tree->rootItem(), *motor = root->child(0), *label = root->child(3);
    tree->setCurrentItem(motor);
    key(*w, QKeySequence::Copy);
    tree->setCurrentItem(label);
    key(*w, QKeySequence::Paste);
    // The clone is current now; pasting again onto it puts the second clone after it.
    key(*w, QKeySequence::Paste);
    EXPECT_EQ(children(root), u("电机|空|开关|名字|电机|电机").split('|'));
    for (int i : {4, 5}) {
        QTreeWidgetItem *clone = root->child(i);
        EXPECT_NE(clone, motor);
        EXPECT_EQ(children(clone), children(motor));
        EXPECT_EQ(SettingConfigTree::itemData(clone->child(1)->child(0)),
                  SettingConfigTree::itemData(motor->child(1)->child(0)));
    }
    EXPECT_TRUE(root->child(5)->isSelected());
    EXPECT_FALSE(root->child(4)->isSelected());
    EXPECT_EQ(tree->clipboardState(), SettingConfigTree::Copied);

    // A paste from the menu empties the clipboard.
    ASSERT_TRUE(menu(*w, root->child(2), "setting/rightMenu/paste"));
    EXPECT_EQ(children(root), u("电机|空|开关|电机|名字|电机|电机").split('|'));
    EXPECT_EQ(tree->clipboardState(), SettingConfigTree::Empty);
    EXPECT_EQ(tree->clipboardSource(), nullptr);
    std::unique_ptr<SysMenu> m(tree->createContextMenu(root->child(2)));
    EXPECT_FALSE(menuTexts(m.get()).contains(t("setting/rightMenu/paste")));

    // Escape empties it too.
    tree->setCurrentItem(motor);
    key(*w, QKeySequence::Copy);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(tree, &esc);
    EXPECT_EQ(tree->clipboardState(), SettingConfigTree::Empty);
}

TEST_F(SettingEditor, PlacementOfPastedAndMovedNodes)
{
    auto w = open();
    SettingConfigTree *tree = w->tree();
    QTreeWidgetItem *root = tree->rootItem(), *motor = root->child(0), *empty = root->child(1);
    QTreeWidgetItem *flag = root->child(2), *label = root->child(3);

    // A collapsed folder with children: right after it, not inside.
    motor->setExpanded(false);
    tree->setCurrentItem(label);
    key(*w, QKeySequence::Cut);
    tree->setCurrentItem(motor);
    key(*w, QKeySequence::Paste);
    EXPECT_EQ(children(root), u("电机|名字|空|开关").split('|'));
    EXPECT_EQ(motor->childCount(), 2);
    EXPECT_EQ(tree->currentItem(), label);

    // An expanded empty folder: inside, as first child.
    empty->setExpanded(true);
    EXPECT_TRUE(tree->moveNode(flag, empty));
    EXPECT_EQ(flag->parent(), empty);
    // An expanded folder with children: first child. The root: first child, expanded.
    motor->setExpanded(true);
    EXPECT_TRUE(tree->moveNode(label, motor));
    EXPECT_EQ(motor->child(0), label);
    EXPECT_TRUE(tree->moveNode(label, root));
    EXPECT_EQ(root->child(0), label);
    // An item: right after it.
    EXPECT_TRUE(tree->moveNode(label, flag));
    EXPECT_EQ(children(empty), u("开关|名字").split('|'));
    EXPECT_TRUE(label->isSelected());
    EXPECT_FALSE(flag->isSelected());
}

TEST_F(SettingEditor, ANodeNeverMovesIntoItsOwnSubtree)
{
    auto w = open();
    SettingConfigTree *tree = w->tree();
    QTreeWidgetItem *root = tree->rootItem(), *motor = root->child(0);
    QTreeWidgetItem *inner = motor->child(1), *gain = inner->child(0);
    SettingTree before;
    ASSERT_TRUE(tree->toSettingTree(before));

    ASSERT_TRUE(menu(*w, motor, "setting/rightMenu/cut"));
    ASSERT_TRUE(menu(*w, inner, "setting/rightMenu/paste"));
    tree->cutNode(motor);
    tree->setCurrentItem(gain);
    key(*w, QKeySequence::Paste);
    EXPECT_FALSE(tree->moveNode(motor, motor));
    EXPECT_EQ(tree->pasteOnto(motor), nullptr);

    SettingTree after;
    ASSERT_TRUE(tree->toSettingTree(after));
    ASSERT_EQ(after.nodes.size(), before.nodes.size());
    EXPECT_EQ(motor->parent(), root);
    EXPECT_EQ(gain->parent(), inner);
    EXPECT_EQ(children(root), u("电机|空|开关|名字").split('|'));
    EXPECT_EQ(children(inner), QStringList{u("增益")});

    // A copy may go into its own subtree: the clone is made first.
    tree->copyNode(motor);
    ASSERT_NE(tree->pasteOnto(inner), nullptr);
    EXPECT_EQ(children(inner), u("电机|增益").split('|'));
}

namespace {
class ProbeConfigTree : public SettingConfigTree
{
public:
    using SettingConfigTree::SettingConfigTree;
    using SettingConfigTree::beginDrag;
    void drop(QTreeWidgetItem *item, QMimeData *mime)
    {
        QDropEvent ev(visualItemRect(item).center(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        dropEvent(&ev);
    }
};
} // namespace

TEST_F(SettingEditor, DragMovesByThePlacementRuleButNeverIntoItself)
{
    ProbeConfigTree tree([this](const QString &k) { return t(k); }, "zh");
    tree.resize(400, 600);
    ASSERT_TRUE(tree.loadFile(path()));
    tree.expandAll();
    tree.show();
    QTreeWidgetItem *root = tree.rootItem(), *motor = root->child(0), *gain = motor->child(1)->child(0);

    tree.setCurrentItem(root);
    EXPECT_EQ(tree.beginDrag(), nullptr);

    tree.setCurrentItem(motor);
    std::unique_ptr<QMimeData> mime(tree.beginDrag());
    ASSERT_NE(mime, nullptr);
    tree.drop(gain, mime.get());
    EXPECT_EQ(motor->parent(), root);
    EXPECT_EQ(gain->parent(), motor->child(1));
    EXPECT_EQ(children(root), u("电机|空|开关|名字").split('|'));

    tree.setCurrentItem(gain);
    mime.reset(tree.beginDrag());
    tree.drop(root->child(3), mime.get());
    EXPECT_EQ(children(root), u("电机|空|开关|名字|增益").split('|'));
    EXPECT_TRUE(gain->isSelected());
    EXPECT_EQ(motor->child(1)->childCount(), 0);
}

TEST_F(SettingEditor, RowsFollowTheRecordAndItsType)
{
    auto w = open();
    TestNodeAttrList *attrs = w->attrList();
    QTreeWidgetItem *root = w->tree()->rootItem(), *motor = root->child(0);
    int emitted = 0;
    QObject::connect(attrs, &TestNodeAttrList::nodeDataChanged, [&] { ++emitted; });
    auto hidden = [&](std::initializer_list<int> rows) {
        QList<int> out;
        for (int r = 0; r < attrs->rowCount(); ++r)
            if (attrs->isRowHidden(r))
                out << r;
        return out == QList<int>(rows);
    };

    w->tree()->setCurrentItem(motor->child(0)); // number 50 in [0, 100]
    EXPECT_TRUE(hidden({TestNodeAttrList::BoolValueRow}));
    EXPECT_EQ(attrs->nodeTypeBox()->currentText(), t("setting/nodeType/item"));
    EXPECT_FALSE(attrs->nodeTypeBox()->isEnabled());
    EXPECT_EQ(attrs->nameEdit()->text(), u("速度"));
    EXPECT_EQ(attrs->descEdit()->toPlainText(), u("转速"));
    EXPECT_EQ(attrs->typeBox()->itemTexts(),
              QStringList({t("setting/dataType/bool"), t("setting/dataType/number"),
                           t("setting/dataType/float"), t("setting/dataType/string")}));
    EXPECT_EQ(attrs->typeBox()->currentIndex(), DataNumber);
    EXPECT_EQ(attrs->valueEdit()->text(), "50");
    EXPECT_TRUE(attrs->typeBox()->styleSheet().contains("#409eff"));

    w->tree()->setCurrentItem(motor->child(1)->child(0)); // float
    EXPECT_EQ(attrs->valueEdit()->text(), "1.5"); // shown as stored
    EXPECT_EQ(attrs->upEdit()->text(), "2");
    QString probe = "2.5"; // above the upper limit: no more typing can bring it back
    int pos = 0;
    EXPECT_EQ(attrs->valueEdit()->validator()->validate(probe, pos), QValidator::Invalid);
    probe = "1.25";
    EXPECT_EQ(attrs->valueEdit()->validator()->validate(probe, pos), QValidator::Acceptable);
    probe = "1.255";
    EXPECT_EQ(attrs->valueEdit()->validator()->validate(probe, pos), QValidator::Invalid);

    w->tree()->setCurrentItem(root->child(2)); // bool true
    EXPECT_TRUE(hidden({TestNodeAttrList::ValueRow, TestNodeAttrList::UpLimitRow, TestNodeAttrList::DownLimitRow}));
    EXPECT_EQ(attrs->boolBox()->itemTexts(), t("setting/nodeAttr/paramValueBool").split('/'));
    EXPECT_EQ(attrs->boolBox()->currentIndex(), 0);
    w->tree()->setCurrentItem(root->child(3)); // string
    EXPECT_TRUE(hidden({TestNodeAttrList::BoolValueRow, TestNodeAttrList::UpLimitRow, TestNodeAttrList::DownLimitRow}));
    EXPECT_EQ(attrs->valueEdit()->validator(), nullptr);
    w->tree()->setCurrentItem(motor); // a folder of a normal setting
    EXPECT_TRUE(hidden({3, 4, 5, 6, 7}));
    EXPECT_EQ(emitted, 0); // showing a record emits nothing

    // Switching the setting kind shows the folder's parameter rows.
    testPresenter().questionAnswer = true;
    ASSERT_TRUE(menu(*w, root, "setting/rightMenu/setSettingType"));
    EXPECT_EQ(messages().last().kind, IDialogPresenter::Kind::Question);
    EXPECT_EQ(messages().last().text, t("setting/settingType/folderType"));
    EXPECT_EQ(w->tree()->settingKind(), KindFolderType);
    w->tree()->setCurrentItem(motor->child(0));
    w->tree()->setCurrentItem(motor);
    EXPECT_TRUE(hidden({TestNodeAttrList::ValueRow, 6, 7}));
    testPresenter().questionAnswer = false;
    ASSERT_TRUE(menu(*w, root, "setting/rightMenu/setSettingType"));
    EXPECT_EQ(messages().last().text, t("setting/settingType/normalType"));
    EXPECT_EQ(w->tree()->settingKind(), KindFolderType);
    testPresenter().questionAnswer = true;
    EXPECT_EQ(emitted, 0);
}

TEST_F(SettingEditor, EditsAreValidatedAndStoredInTheCurrentItem)
{
    auto w = open();
    TestNodeAttrList *attrs = w->attrList();
    QTreeWidgetItem *speed = w->tree()->rootItem()->child(0)->child(0);
    w->tree()->setCurrentItem(speed);

    attrs->nameEdit()->setText(u(" 转速 "));
    EXPECT_EQ(speed->text(0), u("转速"));
    EXPECT_EQ(SettingConfigTree::itemData(speed).name.toStored(), u("zh$$$转速"));
    attrs->paramNameEdit()->end(false);
    QTest::keyClicks(attrs->paramNameEdit(), "_x-2");
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramName, "speedx2");
    QTest::keyClick(attrs->paramNameEdit(), Qt::Key_Return); // Return does not end the dialog
    EXPECT_TRUE(w->isVisible());

    // The lower limit raised above the value: typing outside the new range is refused, and
    // the node is not stored.
    messages().clear();
    attrs->downEdit()->setText("60");
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(messages()[0].title, t("setting/save"));
    EXPECT_EQ(messages()[0].text, formatPattern(t("setting/param/notInRange/number"), {50, 60, 100}));
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramDownLimit, "0");
    attrs->valueEdit()->setFocus();
    attrs->valueEdit()->end(false);
    QTest::keyClicks(attrs->valueEdit(), "0"); // 500 > 100
    EXPECT_EQ(attrs->valueEdit()->text(), "50");
    attrs->valueEdit()->setText("75");
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramValue, "75");
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramDownLimit, "60");

    // A type change reformats the texts and keeps the value within its validator.
    attrs->typeBox()->setCurrentIndex(DataFloat);
    EXPECT_EQ(attrs->valueEdit()->text(), "75.00");
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramType, DataFloat);
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramUpLimit, "100.00");
    attrs->typeBox()->setCurrentIndex(DataBool);
    attrs->boolBox()->setCurrentIndex(1);
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramValue, "false");

    // An empty parameter name is refused.
    messages().clear();
    attrs->paramNameEdit()->clear();
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].text, t("setting/paramNameCanNotBeEmpty"));
    EXPECT_EQ(SettingConfigTree::itemData(speed).paramName, "speedx2");
}

TEST_F(SettingEditor, SaveWritesTheEditsAndCancelWritesNothing)
{
    const QByteArray original = readBytes(path());
    {
        auto w = open();
        QTreeWidgetItem *flag = w->tree()->rootItem()->child(2);
        w->tree()->setCurrentItem(flag);
        w->attrList()->descEdit()->setPlainText(u("总开关"));
        w->tree()->removeNode(w->tree()->rootItem()->child(1));
        w->cancelButton()->click();
        EXPECT_EQ(w->result(), QDialog::Rejected);
    }
    {
        auto w = open();
        w->tree()->setCurrentItem(w->tree()->rootItem()->child(2));
        w->attrList()->descEdit()->setPlainText(u("总开关"));
        w->close();
    }
    EXPECT_EQ(readBytes(path()), original);
    EXPECT_EQ(messages().size(), 2); // both asked before dropping the edits
    messages().clear();

    auto w = open();
    QTreeWidgetItem *root = w->tree()->rootItem();
    w->tree()->setCurrentItem(root->child(2));
    w->attrList()->descEdit()->setPlainText(u("总开关"));
    w->tree()->setCurrentItem(root->child(0)->child(0));
    w->attrList()->valueEdit()->setText("42");
    w->tree()->addNode(root->child(3), NodeItem, false);
    w->saveButton()->click();
    EXPECT_EQ(w->result(), QDialog::Accepted);
    EXPECT_TRUE(messages().isEmpty());

    const QByteArray saved = readBytes(path());
    EXPECT_TRUE(saved.startsWith("<?xml version = \"1.0\" encoding = \"GBK\"?>\n<Root type=\"0\">\n <Folder "));
    EXPECT_TRUE(saved.contains(QTextCodec::codecForName("GBK")->fromUnicode(u("zh$$$总开关"))));
    SettingTree tree;
    ASSERT_TRUE(loadSettingFile(path(), tree));
    QStringList names;
    for (const SettingNode &n : tree.nodes)
        names << n.data.paramName;
    EXPECT_EQ(names, QString("motor|empty|flag|label|parameter").split('|'));
    EXPECT_EQ(tree.nodes[0].children[0].data.paramValue, "42");
    EXPECT_EQ(tree.nodes[2].data.desc.display("zh"), u("总开关"));
    EXPECT_EQ(tree.nodes[0].children[1].children[0].data.paramName, "gain");

    // A save that fails reports it and keeps the dialog open.
    auto again = open();
    ASSERT_TRUE(QFile::remove(path()));
    ASSERT_TRUE(QDir().mkpath(path())); // a folder where the file should be
    messages().clear();
    again->saveButton()->click();
    EXPECT_NE(again->result(), QDialog::Accepted);
    EXPECT_TRUE(again->isVisible());
    ASSERT_EQ(messages().size(), 2);
    EXPECT_EQ(messages()[0].text, t("setting/saveXmlFailed"));
    EXPECT_EQ(messages()[1].text, t("setting/saveFailed"));
}

TEST_F(SettingEditor, LabelsAreNeverCutInAnyShippedLanguage)
{
    for (const char *lang : {"zh", "en"}) {
        SCOPED_TRACE(lang);
        LangStore store;
        auto w = openIn(lang, store);
        TestNodeAttrList *attrs = w->attrList();
        w->tree()->setCurrentItem(w->tree()->rootItem()->child(0)->child(0)); // a number node
        settleWindows();
        // As the item delegate draws a label: the view's font, a text margin on each side.
        const QFontMetrics fm(attrs->font());
        const int margin = attrs->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, attrs) + 1;
        const int room = attrs->columnWidth(0) - 2 * margin;
        for (int row = 0; row < attrs->rowCount(); ++row) {
            const QString label = attrs->item(row, 0)->text();
            ASSERT_FALSE(label.isEmpty()) << row;
            EXPECT_LE(fm.horizontalAdvance(label), room) << label.toStdString();
            EXPECT_EQ(fm.elidedText(label, Qt::ElideRight, room), label);
        }
        // Hidden rows count too: the column keeps its width from node to node.
        const int width = attrs->columnWidth(0);
        w->tree()->setCurrentItem(w->tree()->rootItem());
        EXPECT_EQ(attrs->columnWidth(0), width);
        // The editors keep the rest of the row.
        EXPECT_GE(attrs->columnWidth(1), attrs->viewport()->width() - width - 1);
    }
}

TEST_F(SettingEditor, ASmallHostWindowNeverSqueezesTheTreeToALine)
{
    QMainWindow main;
    main.resize(640, 360); // the editor asks for 480 x 270
    tools.setMainWindow(&main);
    auto w = open();
    w->tree()->setCurrentItem(w->tree()->rootItem()->child(0)->child(0)); // most rows shown
    settleWindows();
    const int row = w->tree()->visualItemRect(w->tree()->rootItem()).height();
    ASSERT_GT(row, 0);
    EXPECT_GE(w->tree()->height(), 6 * row);
    EXPECT_GE(w->height(), w->tree()->height() + w->attrList()->height() + w->saveButton()->height());
    EXPECT_EQ(w->width(), 480);
    tools.setMainWindow(nullptr);
}

TEST_F(SettingEditor, ALongDescriptionReadsFromItsStartOverSeveralLines)
{
    QString longText;
    for (int i = 0; i < 25; ++i)
        longText += QStringLiteral("Sentence %1 of a long description. ").arg(i);
    longText = longText.trimmed(); // about 900 characters
    auto w = open();
    TestNodeAttrList *attrs = w->attrList();
    QTreeWidgetItem *speed = w->tree()->rootItem()->child(0)->child(0);
    TEST_NODE_DATA data = SettingConfigTree::itemData(speed);
    data.desc.set("zh", longText);
    SettingConfigTree::setItemData(speed, data);
    w->tree()->setCurrentItem(speed);
    settleWindows();

    // The whole text, wrapped, shown from its first line; a few lines fit at once.
    SysTextEdit *desc = attrs->descEdit();
    EXPECT_EQ(desc->toPlainText(), longText);
    EXPECT_EQ(desc->verticalScrollBar()->value(), 0);
    EXPECT_EQ(desc->cursorForPosition(QPoint(0, 0)).position(), 0);
    const int line = QFontMetrics(desc->font()).lineSpacing();
    EXPECT_GE(desc->viewport()->height(), 3 * line);
    EXPECT_GE(attrs->rowHeight(TestNodeAttrList::DescRow), desc->height());
    EXPECT_GT(desc->document()->size().height(), 3 * line);
    // Single-line fields show their start too.
    attrs->valueEdit()->setFocus();
    w->tree()->setCurrentItem(w->tree()->rootItem()->child(3)); // a text parameter
    EXPECT_EQ(attrs->valueEdit()->cursorPosition(), 0);

    // A description of several lines is saved and read back as typed; Tab leaves the field.
    w->tree()->setCurrentItem(speed);
    desc->setPlainText(QStringLiteral("first line\nsecond line"));
    EXPECT_EQ(SettingConfigTree::itemData(speed).desc.display("zh"), "first line\nsecond line");
    EXPECT_TRUE(desc->tabChangesFocus());
    EXPECT_FALSE(desc->acceptRichText());
    ASSERT_TRUE(w->save());
    SettingTree tree;
    ASSERT_TRUE(loadSettingFile(path(), tree));
    EXPECT_EQ(tree.nodes[0].children[0].data.desc.display("zh"), "first line\nsecond line");
}

TEST_F(SettingEditor, UnsavedEditsAskBeforeCancelEscapeOrCloseDropThem)
{
    const QByteArray original = readBytes(path());
    const std::vector<std::pair<const char *, std::function<void(SettingWindow &)>>> ways = {
        {"Cancel", [](SettingWindow &w) { w.cancelButton()->click(); }},
        {"Escape", [](SettingWindow &w) { QTest::keyClick(w.attrList()->nameEdit(), Qt::Key_Escape); }},
        {"close", [](SettingWindow &w) { w.close(); }},
    };
    for (const auto &way : ways) {
        SCOPED_TRACE(way.first);
        // Nothing changed, or a change taken back: closes without a question.
        {
            auto w = open();
            QTreeWidgetItem *flag = w->tree()->rootItem()->child(2);
            w->tree()->setCurrentItem(flag);
            w->attrList()->nameEdit()->setText(u("总开关"));
            w->attrList()->nameEdit()->setText(u("开关"));
            EXPECT_FALSE(w->hasUnsavedChanges());
            messages().clear();
            way.second(*w);
            EXPECT_FALSE(w->isVisible());
            EXPECT_EQ(w->result(), QDialog::Rejected);
            EXPECT_TRUE(messages().isEmpty());
        }
        // An edit: the question; "否" keeps the window and the edit, "是" drops them.
        auto w = open();
        QTreeWidgetItem *flag = w->tree()->rootItem()->child(2);
        w->tree()->setCurrentItem(flag);
        w->attrList()->nameEdit()->setText(u("总开关"));
        EXPECT_TRUE(w->hasUnsavedChanges());
        messages().clear();
        testPresenter().questionAnswer = false;
        way.second(*w);
        ASSERT_EQ(messages().size(), 1);
        EXPECT_EQ(messages()[0].kind, IDialogPresenter::Kind::Question);
        EXPECT_EQ(messages()[0].title, w->windowTitle());
        EXPECT_EQ(messages()[0].text, t("setting/discardChanges"));
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(flag->text(0), u("总开关"));
        testPresenter().questionAnswer = true;
        way.second(*w);
        EXPECT_EQ(messages().size(), 2);
        EXPECT_FALSE(w->isVisible());
        EXPECT_EQ(w->result(), QDialog::Rejected);
        EXPECT_EQ(readBytes(path()), original);
    }

    // Structure and kind count as edits; a save makes the tree clean again.
    auto w = open();
    w->tree()->removeNode(w->tree()->rootItem()->child(1));
    EXPECT_TRUE(w->hasUnsavedChanges());
    ASSERT_TRUE(w->tree()->loadFile(path()));
    w->tree()->setSettingKind(KindFolderType);
    EXPECT_TRUE(w->hasUnsavedChanges());
    ASSERT_TRUE(w->save());
    EXPECT_FALSE(w->hasUnsavedChanges());
}

TEST_F(SettingEditor, EscapeInTheTreeEmptiesTheClipboardAndReachesTheWindow)
{
    auto w = open();
    SettingConfigTree *tree = w->tree();
    tree->setFocus();
    tree->setCurrentItem(tree->rootItem()->child(2));
    tree->copyNode(tree->currentItem());
    messages().clear();

    // With an edit the window asks; "否" keeps it open, the clipboard is empty all the same.
    w->attrList()->nameEdit()->setText(u("总开关"));
    testPresenter().questionAnswer = false;
    QTest::keyClick(tree, Qt::Key_Escape);
    EXPECT_EQ(tree->clipboardState(), SettingConfigTree::Empty);
    ASSERT_EQ(messages().size(), 1);
    EXPECT_EQ(messages()[0].text, t("setting/discardChanges"));
    EXPECT_TRUE(w->isVisible());
    testPresenter().questionAnswer = true;

    // Without edits it closes at once.
    auto clean = open();
    clean->tree()->setFocus();
    clean->tree()->setCurrentItem(clean->tree()->rootItem());
    messages().clear();
    QTest::keyClick(clean->tree(), Qt::Key_Escape);
    EXPECT_FALSE(clean->isVisible());
    EXPECT_EQ(clean->result(), QDialog::Rejected);
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(SettingEditor, TheRootOffersPasteSoACutNodeGoesBackToTheTop)
{
    auto w = open();
    SettingConfigTree *tree = w->tree();
    QTreeWidgetItem *root = tree->rootItem(), *motor = root->child(0), *label = root->child(3);
    QTreeWidgetItem *gain = motor->child(1)->child(0);
    auto rootMenu = [&] {
        std::unique_ptr<SysMenu> m(tree->createContextMenu(root));
        return menuTexts(m.get());
    };
    EXPECT_FALSE(rootMenu().contains(t("setting/rightMenu/paste")));

    // A top-level node cut and put back at the top.
    ASSERT_TRUE(menu(*w, label, "setting/rightMenu/cut"));
    EXPECT_EQ(rootMenu(), QStringList({t("setting/rightMenu/setSettingType"), t("setting/rightMenu/addSubFolder"),
                                       t("setting/rightMenu/addSubItem"), t("setting/rightMenu/paste")}));
    ASSERT_TRUE(menu(*w, root, "setting/rightMenu/paste"));
    EXPECT_EQ(children(root), u("名字|电机|空|开关").split('|'));
    EXPECT_EQ(label->parent(), root);
    EXPECT_EQ(tree->currentItem(), label);
    EXPECT_EQ(tree->clipboardState(), SettingConfigTree::Empty);
    EXPECT_FALSE(rootMenu().contains(t("setting/rightMenu/paste")));

    // A nested node lifted to the top level; a copy pasted there leaves the source in place.
    ASSERT_TRUE(menu(*w, gain, "setting/rightMenu/cut"));
    ASSERT_TRUE(menu(*w, root, "setting/rightMenu/paste"));
    EXPECT_EQ(root->child(0), gain);
    EXPECT_EQ(motor->child(1)->childCount(), 0);
    ASSERT_TRUE(menu(*w, motor, "setting/rightMenu/copy"));
    ASSERT_TRUE(menu(*w, root, "setting/rightMenu/paste"));
    EXPECT_EQ(children(root), u("电机|增益|名字|电机|空|开关").split('|'));
    EXPECT_EQ(root->child(3), motor);

    SettingTree saved;
    ASSERT_TRUE(w->save());
    ASSERT_TRUE(loadSettingFile(path(), saved));
    QStringList names;
    for (const SettingNode &n : saved.nodes)
        names << n.data.paramName;
    EXPECT_EQ(names, QString("motor|gain|label|motor|empty|flag").split('|'));
}

// Saves the editor with Deltamaker's shipped settings into $TESSEL_SCREENSHOT_DIR, in Chinese and
// English: the number node with its shipped description, then a description of a few hundred
// characters. The editor is sized from a main window of the host's size, as in the program.
TEST(SettingEditorScreenshot, DISABLED_DeltamakerSettingsInBothLanguages)
{
    const QString outDir = QString::fromLocal8Bit(qgetenv("TESSEL_SCREENSHOT_DIR"));
    if (outDir.isEmpty())
        GTEST_SKIP() << "TESSEL_SCREENSHOT_DIR is not set";
    ASSERT_TRUE(QDir().mkpath(outDir));
    for (const QString &lang : {QStringLiteral("zh"), QStringLiteral("en")}) {
        ScopedWorkDir wd;
        const QString runtime = TestPaths::sourceDir() + QStringLiteral("/runtime/");
        for (const QString &rel : {"lang/Tessel/" + lang + ".lang", "lang/Deltamaker/" + lang + ".lang",
                                  QString("config/Deltamaker/index.config"), QString("images/script/nodeEdit.png"),
                                  QString("images/script/folder.png"), QString("images/script/case.png")}) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(wd.file(rel)).absolutePath()));
            ASSERT_TRUE(QFile::copy(runtime + rel, wd.file(rel))) << rel.toStdString();
        }
        ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/index.config"), lang.toLatin1()));
        ASSERT_TRUE(writeBytes(wd.file("lang/Deltamaker/index.config"), lang.toLatin1()));
        LangStore langs;

        class DeltamakerTools : public FakeTools
        {
        public:
            DeltamakerTools(const QString &file, const QString &name) : FakeTools(file), m_name(name) {}
            QString pluginName() override { return m_name; }

        private:
            QString m_name;
        };
        QMainWindow main;
        resizeRatio(&main, 0.75); // as the host's main window
        DeltamakerTools tools(wd.file("config/Deltamaker/index.config"), langs.text("Deltamaker", "main/title"));
        tools.setMainWindow(&main);
        SettingWindow w(&tools, [&](const QString &k) { return langs.text("Tessel", k); }, lang);
        ASSERT_TRUE(w.loaded());
        w.show();
        QTreeWidgetItem *operMode = w.tree()->rootItem()->child(0);
        ASSERT_EQ(SettingConfigTree::itemData(operMode).paramType, DataNumber);
        w.tree()->setCurrentItem(operMode);
        settleWindows();
        EXPECT_TRUE(w.grab().save(outDir + "/setting-editor-" + lang + ".png"));

        QString longText;
        for (int i = 0; i < 6; ++i)
            longText += SettingConfigTree::itemData(operMode).desc.display(lang) + QLatin1Char(' ');
        w.attrList()->descEdit()->setPlainText(longText.trimmed());
        w.attrList()->descEdit()->moveCursor(QTextCursor::Start);
        settleWindows();
        EXPECT_TRUE(w.grab().save(outDir + "/setting-editor-long-description-" + lang + ".png"));
        testPresenter().questionAnswer = true; // the edit is dropped when the window goes
    }
}

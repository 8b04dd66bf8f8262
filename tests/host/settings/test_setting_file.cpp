#include "host/settings/setting_config_tree.h"
#include "host/settings/setting_file.h"
#include "tests/host/host_test_util.h"
#include "tests/support/recording_presenter.h"

#include <QRandomGenerator>

#include <csignal>
#include <sys/resource.h>

#include <gtest/gtest.h>

namespace {
QString key(const QString &k) { return QStringLiteral("T(%1)").arg(k); }

const char *const kSample =
    "<Root type=\"0\">\n"
    " <Folder name=\"en$$$Motor:::zh$$$电机\" paramName=\"motor\" desc=\"d\" paramType=\"1\">\n"
    "  <Node name=\"Speed\" paramName=\"speed\" desc=\"\" paramType=\"1\" paramValue=\"5\""
    " paramUpLimit=\"10\" paramDownLimit=\"1\"/>\n"
    "  <Folder name=\"inner\" paramName=\"inner\" desc=\"\"/>\n"
    " </Folder>\n"
    " <Node name=\"Flag\" paramName=\"flag\" desc=\"x\" paramType=\"0\" paramValue=\"true\""
    " paramUpLimit=\"\" paramDownLimit=\"\"/>\n"
    "</Root>\n";
} // namespace

TEST(LangText, StoredFormInAndOut)
{
    LangText motor = LangText::fromStored("Motor");
    ASSERT_EQ(motor.entries().size(), 1);
    EXPECT_EQ(motor.entries().value("zh"), "Motor");
    EXPECT_EQ(motor.toStored(), "zh$$$Motor");

    LangText speed = LangText::fromStored(QString::fromUtf8("en$$$Speed:::bad:::zh$$$速度"));
    ASSERT_EQ(speed.entries().size(), 2);
    EXPECT_EQ(speed.toStored(), QString::fromUtf8("en$$$Speed:::zh$$$速度"));

    // Later duplicates win; pieces other than two are dropped; empty texts are kept.
    LangText odd = LangText::fromStored("zh$$$a:::zh$$$b:::en$$$x$$$y::::::fr$$$");
    EXPECT_EQ(odd.toStored(), "fr$$$:::zh$$$b");
    EXPECT_EQ(LangText::fromStored("").toStored(), "zh$$$");
}

TEST(LangText, DisplayFallsBackToChinese)
{
    LangText t = LangText::fromStored(QString::fromUtf8("zh$$$速度"));
    EXPECT_EQ(t.display("en"), QString::fromUtf8("速度"));
    EXPECT_EQ(t.display(""), QString::fromUtf8("速度"));
    t.set("en", "Speed");
    EXPECT_EQ(t.display("en"), "Speed");
    EXPECT_EQ(t.display("fr"), QString::fromUtf8("速度"));
    EXPECT_EQ(t.toStored(), QString::fromUtf8("en$$$Speed:::zh$$$速度"));
    t.set("", "new");
    EXPECT_EQ(t.display("zh"), "new");
    EXPECT_EQ(LangText::fromStored("en$$$only").display("zh"), QString());
}

TEST(SettingFile, LoadsAndSavesKeepingOrder)
{
    ScopedWorkDir wd;
    const QString path = wd.file("config/P/index.config");
    ASSERT_TRUE(writeGbkXml(path, QString::fromUtf8(kSample)));
    SettingTree tree;
    ASSERT_TRUE(loadSettingFile(path, tree));
    EXPECT_EQ(tree.kind, KindNormal);
    ASSERT_EQ(tree.nodes.size(), 2u);
    const SettingNode &motor = tree.nodes[0];
    EXPECT_EQ(motor.data.nodeType, NodeFolder);
    EXPECT_EQ(motor.data.name.display("zh"), QString::fromUtf8("电机"));
    EXPECT_TRUE(motor.data.paramValue.isEmpty()); // kind 0: folder parameters are ignored
    ASSERT_EQ(motor.children.size(), 2u);
    EXPECT_EQ(motor.children[0].data.paramName, "speed");
    EXPECT_EQ(motor.children[0].data.paramValue, "5");
    EXPECT_EQ(motor.children[1].data.nodeType, NodeFolder);
    EXPECT_EQ(tree.nodes[1].data.paramType, DataBool);

    const QString out = wd.file("out.config");
    ASSERT_TRUE(saveSettingFile(out, tree));
    const QByteArray bytes = readBytes(out);
    EXPECT_TRUE(bytes.startsWith("<?xml version = \"1.0\" encoding = \"GBK\"?>\n<Root type=\"0\">\n <Folder "));
    EXPECT_TRUE(bytes.contains(QTextCodec::codecForName("GBK")->fromUnicode(
        QString::fromUtf8("name=\"en$$$Motor:::zh$$$电机\""))));
    // Kind 0: the folder's extra parameter attributes are not written back.
    const QByteArray folderLine = bytes.mid(bytes.indexOf("<Folder"), bytes.indexOf('\n', bytes.indexOf("<Folder")) - bytes.indexOf("<Folder"));
    EXPECT_TRUE(folderLine.contains("paramName=\"motor\""));
    EXPECT_FALSE(folderLine.contains("paramType"));
    EXPECT_TRUE(bytes.contains("name=\"zh$$$Speed\""));
    SettingTree again;
    ASSERT_TRUE(loadSettingFile(out, again));
    ASSERT_EQ(again.nodes.size(), 2u);
    EXPECT_EQ(again.nodes[0].data, motor.data);
    EXPECT_EQ(again.nodes[0].children[0].data, motor.children[0].data);
    EXPECT_EQ(again.nodes[0].children[1].data.paramName, "inner");
    EXPECT_EQ(again.nodes[1].data, tree.nodes[1].data);
}

TEST(SettingFile, SeededRandomTreesRoundTrip)
{
    ScopedWorkDir wd;
    QRandomGenerator rng(20260);
    const int rounds = qEnvironmentVariableIsSet("TESSEL_SANITIZE") ? 5 : 30;
    for (int round = 0; round < rounds; ++round) {
        SettingTree tree;
        tree.kind = int(rng.bounded(2));
        std::function<void(std::vector<SettingNode> &, int)> fill = [&](std::vector<SettingNode> &out, int depth) {
            const int n = int(rng.bounded(5));
            for (int i = 0; i < n; ++i) {
                SettingNode node;
                const bool folder = depth < 3 && rng.bounded(3) == 0;
                node.data.nodeType = folder ? NodeFolder : NodeItem;
                node.data.name.set("zh", QString::fromUtf8("名%1").arg(rng.generate()));
                if (rng.bounded(2))
                    node.data.name.set("en", QStringLiteral("n&<\"%1").arg(i));
                node.data.desc.set("zh", QStringLiteral("d%1").arg(i));
                node.data.paramName = QStringLiteral("p%1").arg(i);
                if (!folder || tree.kind == KindFolderType) {
                    node.data.paramType = int(rng.bounded(4));
                    node.data.paramValue = QString::number(rng.bounded(100));
                    node.data.paramUpLimit = "100";
                    node.data.paramDownLimit = "0";
                }
                if (folder)
                    fill(node.children, depth + 1);
                out.push_back(std::move(node));
            }
        };
        fill(tree.nodes, 0);
        ASSERT_TRUE(saveSettingFile(wd.file("r.config"), tree));
        SettingTree back;
        ASSERT_TRUE(loadSettingFile(wd.file("r.config"), back));
        std::function<void(const std::vector<SettingNode> &, const std::vector<SettingNode> &)> same =
            [&](const std::vector<SettingNode> &a, const std::vector<SettingNode> &b) {
                ASSERT_EQ(a.size(), b.size());
                for (size_t i = 0; i < a.size(); ++i) {
                    EXPECT_EQ(a[i].data, b[i].data) << "round " << round;
                    same(a[i].children, b[i].children);
                }
            };
        EXPECT_EQ(back.kind, tree.kind);
        same(tree.nodes, back.nodes);
    }
}

TEST(SettingFile, LoadFailuresLeaveTheTreeUntouched)
{
    ScopedWorkDir wd;
    const QString path = wd.file("s.config");
    SettingTree tree;
    tree.kind = 7;
    const auto fails = [&](const char *body) {
        EXPECT_TRUE(writeGbkXml(path, QString::fromUtf8(body)));
        EXPECT_FALSE(loadSettingFile(path, tree)) << body;
        EXPECT_EQ(tree.kind, 7);
    };
    // Kind 1: a folder needs its parameter attributes.
    fails("<Root type=\"1\"><Folder name=\"a\" paramName=\"a\" desc=\"\" paramType=\"1\""
          " paramUpLimit=\"1\" paramDownLimit=\"0\"/></Root>");
    fails("<Root type=\"0\"><Folder name=\"a\" paramName=\"a\" desc=\"\"><Group name=\"b\""
          " paramName=\"b\" desc=\"\"/></Folder></Root>");
    fails("<Root type=\"0\"><Node name=\"a\" desc=\"\" paramType=\"1\" paramValue=\"1\""
          " paramUpLimit=\"1\" paramDownLimit=\"0\"/></Root>");
    fails("<Root type=\"0\"><Node name=\"a\" paramName=\"a\" desc=\"\" paramType=\"1\""
          " paramValue=\"1\" paramUpLimit=\"1\"/></Root>");
    fails("<Root type=\"0\"><Folder name=\"a\" paramName=\"a\"/></Root>");
    fails("<Root type=\"0\"><Node");
    EXPECT_FALSE(loadSettingFile(wd.file("missing.config"), tree));

    // A missing or bad "type" reads as 0; the kind-1 folder with everything loads.
    EXPECT_TRUE(writeGbkXml(path, "<Root type=\"x\"/>"));
    ASSERT_TRUE(loadSettingFile(path, tree));
    EXPECT_EQ(tree.kind, 0);
    EXPECT_TRUE(writeGbkXml(path, "<Root type=\"1\"><Folder name=\"a\" paramName=\"a\" desc=\"\""
                                  " paramType=\"2\" paramValue=\"1.5\" paramUpLimit=\"2\" paramDownLimit=\"0\"/></Root>"));
    ASSERT_TRUE(loadSettingFile(path, tree));
    EXPECT_EQ(tree.nodes[0].data.paramType, DataFloat);
    EXPECT_EQ(tree.nodes[0].data.paramValue, "1.5");
}

TEST(SettingFile, NodeWithChildrenLoadsAsALeaf)
{
    ScopedWorkDir wd;
    const QString path = wd.file("s.config");
    ASSERT_TRUE(writeGbkXml(path, "<Root type=\"0\"><Node name=\"a\" paramName=\"a\" desc=\"\""
                                  " paramType=\"3\" paramValue=\"v\" paramUpLimit=\"\" paramDownLimit=\"\">"
                                  "<Node name=\"child\" paramName=\"c\" desc=\"\"/><Bogus/></Node></Root>"));
    SettingTree tree;
    ASSERT_TRUE(loadSettingFile(path, tree));
    ASSERT_EQ(tree.nodes.size(), 1u);
    EXPECT_TRUE(tree.nodes[0].children.empty());
    ASSERT_TRUE(saveSettingFile(path, tree));
    EXPECT_FALSE(readBytes(path).contains("child"));
}

TEST(SettingFile, ValidationMessagesCarryTheirNumbers)
{
    const auto text = [](const QString &k) {
        if (k == "setting/param/notInRange/number")
            return QStringLiteral("%d not in [%d, %d]");
        if (k == "setting/param/notInRange/float")
            return QStringLiteral("%.2f not in [%g, %g]");
        return key(k);
    };
    TEST_NODE_DATA d;
    d.nodeType = NodeItem;
    EXPECT_EQ(validateNodeData(d, text), key("setting/paramNameCanNotBeEmpty"));
    d.paramName = "speed";
    d.paramType = DataNumber;
    d.paramValue = "5";
    d.paramDownLimit = "1";
    d.paramUpLimit = "4";
    EXPECT_EQ(validateNodeData(d, text), "5 not in [1, 4]");
    d.paramValue = "4";
    EXPECT_EQ(validateNodeData(d, text), QString());
    d.paramValue = "abc"; // counts as 0
    EXPECT_EQ(validateNodeData(d, text), "0 not in [1, 4]");
    d.paramType = DataFloat;
    d.paramValue = "0.5";
    d.paramDownLimit = "1";
    d.paramUpLimit = "2.5";
    EXPECT_EQ(validateNodeData(d, text), "0.50 not in [1, 2.5]");
    d.paramValue = "2.5";
    EXPECT_EQ(validateNodeData(d, text), QString());
    d.paramValue = "nan";
    EXPECT_FALSE(validateNodeData(d, text).isEmpty());
    d.paramType = DataString;
    EXPECT_EQ(validateNodeData(d, text), QString());
}

TEST(SettingConfigTree, LoadsIntoItemsAndSavesThemBack)
{
    ScopedWorkDir wd;
    const QString path = wd.file("s.config");
    ASSERT_TRUE(writeGbkXml(path, QString::fromUtf8(kSample)));
    SettingConfigTree tree(key, "en");
    EXPECT_EQ(tree.rootItem()->text(0), key("setting/settingList"));
    ASSERT_TRUE(tree.loadFile(path));
    EXPECT_TRUE(tree.rootItem()->isExpanded());
    ASSERT_EQ(tree.rootItem()->childCount(), 2);
    QTreeWidgetItem *motor = tree.rootItem()->child(0);
    EXPECT_EQ(motor->text(0), "Motor");
    EXPECT_EQ(motor->child(0)->text(0), "Speed"); // only zh: shown in any language
    bool ok = false;
    EXPECT_EQ(SettingConfigTree::itemData(motor->child(0), &ok).paramName, "speed");
    EXPECT_TRUE(ok);

    // A broken file leaves the items as they were.
    ASSERT_TRUE(writeBytes(wd.file("bad.config"), "<Root><Unknown name=\"\" paramName=\"\" desc=\"\"/></Root>"));
    EXPECT_FALSE(tree.loadFile(wd.file("bad.config")));
    EXPECT_EQ(tree.rootItem()->childCount(), 2);

    ASSERT_TRUE(tree.saveFile(wd.file("copy.config")));
    SettingTree a, b;
    ASSERT_TRUE(loadSettingFile(path, a));
    ASSERT_TRUE(loadSettingFile(wd.file("copy.config"), b));
    ASSERT_EQ(a.nodes.size(), b.nodes.size());
    EXPECT_EQ(a.nodes[1].data, b.nodes[1].data);

    // An item without a record and a file that cannot be written are both reported.
    RecordingPresenter rec;
    ScopedPresenter scope(&rec);
    tree.setWindowTitle("Settings");
    new QTreeWidgetItem(motor);
    EXPECT_FALSE(tree.saveFile(wd.file("copy.config")));
    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_EQ(rec.messages[0].kind, IDialogPresenter::Kind::Critical);
    EXPECT_EQ(rec.messages[0].title, "Settings");
    EXPECT_EQ(rec.messages[0].text, key("setting/saveTreeDataFailed"));
    delete motor->child(2);
    EXPECT_FALSE(tree.saveFile(wd.path()));
    ASSERT_EQ(rec.messages.size(), 2);
    EXPECT_EQ(rec.messages[1].text, key("setting/saveXmlFailed"));
}

TEST(SettingConfigTree, NodeDataIsAMetaType)
{
    registerTestNodeDataType();
    EXPECT_EQ(QMetaType::type("TEST_NODE_DATA"), qMetaTypeId<TEST_NODE_DATA>());
}

TEST(SysXmlDocument, KeepsTheHostDeclarationWhenSavedAgain)
{
    ScopedWorkDir wd;
    const QString path = wd.file("d.xml");
    ASSERT_TRUE(writeGbkXml(path, QString::fromUtf8("<Root a=\"中\"/>\n")));
    SysXmlDocument doc;
    ASSERT_TRUE(doc.load(path));
    EXPECT_EQ(doc.fileName(), path);
    EXPECT_EQ(doc.documentElement().attribute("a"), QString::fromUtf8("中"));
    ASSERT_TRUE(doc.saveAgain());
    EXPECT_EQ(readBytes(path), QByteArray("<?xml version = \"1.0\" encoding = \"GBK\"?>\n<Root a=\"\xd6\xd0\"/>\n"));

    // Without a declaration the text is UTF-8; a document without a root does not load.
    ASSERT_TRUE(writeBytes(path, "<Root a=\"\xe4\xb8\xad\"/>"));
    ASSERT_TRUE(doc.load(path));
    EXPECT_EQ(doc.documentElement().attribute("a"), QString::fromUtf8("中"));
    ASSERT_TRUE(writeBytes(path, "<?xml version=\"1.0\"?>"));
    EXPECT_FALSE(doc.load(path));
    EXPECT_FALSE(doc.save(wd.path()));
}

TEST(SysXmlDocument, AFailedSaveLeavesTheOldFileIntact)
{
    ScopedWorkDir wd;
    const QString path = wd.file("keep.config");
    ASSERT_TRUE(writeGbkXml(path, QStringLiteral("<Root type=\"0\"/>\n")));
    const QByteArray before = readBytes(path);

    SysXmlDocument doc;
    doc.addDeclaration("GBK");
    QDomElement root = doc.createElement("Root");
    root.setAttribute("big", QString(256 * 1024, QLatin1Char('x')));
    doc.appendChild(root);

    // Writes beyond 64 KiB fail with EFBIG (even for root), as on a full disk.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = doc.save(path);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(QDir(wd.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.config"});

    // Without the limit the same document replaces the file in full.
    ASSERT_TRUE(doc.save(path));
    EXPECT_GT(readBytes(path).size(), 256 * 1024);
    EXPECT_EQ(QDir(wd.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.config"});
}

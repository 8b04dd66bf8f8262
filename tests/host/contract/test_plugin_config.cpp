#include "host/plugin_config.h"
#include "host/plugin_info.h"
#include "tests/host/host_test_util.h"

#include <QLibrary>
#include <QThread>

#include <atomic>

#include <gtest/gtest.h>

namespace {
const char *const kConfig =
    "<Root type=\"0\">"
    "<Node name=\"\" desc=\"nameless\" paramType=\"3\" paramValue=\"anon\" paramUpLimit=\"\" paramDownLimit=\"\"/>"
    "<Folder name=\"m\" paramName=\"motor\" desc=\"Motor group\">"
    " <Node name=\"\" paramName=\"\" desc=\"\" paramType=\"3\" paramValue=\"inner-anon\" paramUpLimit=\"\" paramDownLimit=\"\"/>"
    " <Node name=\"s\" paramName=\"speed\" desc=\"rpm\" paramType=\"1\" paramValue=\"5\" paramUpLimit=\"10\" paramDownLimit=\"-3\"/>"
    " <Node name=\"s\" paramName=\"speed\" desc=\"dup\" paramType=\"1\" paramValue=\"99\" paramUpLimit=\"100\" paramDownLimit=\"0\"/>"
    " <Node name=\"g\" paramName=\"gain\" desc=\"\" paramType=\"2\" paramValue=\"0.5\" paramUpLimit=\"1e9\" paramDownLimit=\"0\"/>"
    " <Node name=\"n\" paramName=\"nolimit\" desc=\"\" paramType=\"1\" paramValue=\"1\"/>"
    "</Folder>"
    "<Node name=\"a\" paramName=\"on\" desc=\"\" paramType=\"0\" paramValue=\"TRUE\" paramUpLimit=\"\" paramDownLimit=\"\"/>"
    "<Node name=\"b\" paramName=\"on2\" desc=\"\" paramType=\"0\" paramValue=\"True\" paramUpLimit=\"\" paramDownLimit=\"\"/>"
    "<Node name=\"c\" paramName=\"off\" desc=\"\" paramType=\"0\" paramValue=\"yes\" paramUpLimit=\"\" paramDownLimit=\"\"/>"
    "<Node name=\"t\" paramName=\"label\" desc=\"\" paramType=\"3\" paramValue=\"x\" paramUpLimit=\"\" paramDownLimit=\"\"/>"
    "<Node name=\"v\" paramName=\"novalue\" desc=\"\" paramType=\"3\" paramUpLimit=\"\" paramDownLimit=\"\"/>"
    "</Root>";

QString valueOf(PluginConfig &c, const QString &path)
{
    QString v;
    return c.getString(path, v) ? v : QStringLiteral("<none>");
}
} // namespace

TEST(PluginConfig, ResolvesPathsIncludingEmptyParts)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeGbkXml(wd.file("c.config"), kConfig));
    PluginConfig c;
    ASSERT_TRUE(c.load(wd.file("c.config")));
    EXPECT_EQ(valueOf(c, "motor/speed"), "5"); // first of two matches
    EXPECT_EQ(valueOf(c, ""), "anon");         // empty part: the first child without paramName
    EXPECT_EQ(valueOf(c, "/"), "<none>");      // "anon" has no children
    EXPECT_EQ(valueOf(c, "motor/"), "inner-anon");
    EXPECT_EQ(valueOf(c, "motor//speed"), "<none>");
    EXPECT_EQ(valueOf(c, "Motor/speed"), "<none>"); // exact case
    EXPECT_EQ(valueOf(c, "motor"), "<none>");       // a folder without paramValue
    EXPECT_EQ(valueOf(c, "novalue"), "<none>");
    EXPECT_TRUE(c.contains("motor"));
    EXPECT_TRUE(c.contains("novalue"));
    EXPECT_FALSE(c.contains("motor/speed/x"));
    QString desc;
    ASSERT_TRUE(c.getDesc("motor", desc));
    EXPECT_EQ(desc, "Motor group");
    ASSERT_TRUE(c.getDesc("motor/speed", desc));
    EXPECT_EQ(desc, "rpm");
}

TEST(PluginConfig, GettersConvert)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeGbkXml(wd.file("c.config"), kConfig));
    PluginConfig c;
    ASSERT_TRUE(c.load(wd.file("c.config")));
    bool b = false;
    ASSERT_TRUE(c.getBool("on", b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(c.getBool("on2", b));
    EXPECT_TRUE(b);
    ASSERT_TRUE(c.getBool("off", b));
    EXPECT_FALSE(b);
    int i = -1;
    ASSERT_TRUE(c.getInt("motor/speed", i));
    EXPECT_EQ(i, 5);
    ASSERT_TRUE(c.getInt("label", i)); // unparsable text reads as 0, still true
    EXPECT_EQ(i, 0);
    double d = 0;
    ASSERT_TRUE(c.getDouble("motor/gain", d));
    EXPECT_EQ(d, 0.5);
    float f = 0;
    ASSERT_TRUE(c.getFloat("motor/gain", f));
    EXPECT_EQ(f, 0.5f);
    i = 42;
    EXPECT_FALSE(c.getInt("missing", i));
    EXPECT_EQ(i, 42);
}

TEST(PluginConfig, SettersCheckTypeAndLimitsAndChangeOnlyMemory)
{
    ScopedWorkDir wd;
    const QString path = wd.file("c.config");
    ASSERT_TRUE(writeGbkXml(path, kConfig));
    const QByteArray original = readBytes(path);
    PluginConfig c;
    ASSERT_TRUE(c.load(path));

    EXPECT_TRUE(c.setInt("motor/speed", 10));
    EXPECT_EQ(valueOf(c, "motor/speed"), "10");
    EXPECT_TRUE(c.setInt("motor/speed", -3));
    EXPECT_EQ(valueOf(c, "motor/speed"), "-3");
    EXPECT_FALSE(c.setInt("motor/speed", 11));
    EXPECT_FALSE(c.setInt("motor/speed", -4));
    EXPECT_EQ(valueOf(c, "motor/speed"), "-3");
    EXPECT_FALSE(c.setInt("motor/nolimit", 1)); // limits missing
    EXPECT_FALSE(c.setInt("label", 1));         // wrong type
    EXPECT_FALSE(c.setString("motor/speed", "7"));

    EXPECT_TRUE(c.setDouble("motor/gain", 0.1));
    EXPECT_EQ(valueOf(c, "motor/gain"), "0.1");
    EXPECT_TRUE(c.setDouble("motor/gain", 16777217.0));
    EXPECT_EQ(valueOf(c, "motor/gain"), "1.67772e+07");
    EXPECT_FALSE(c.setFloat("motor/gain", -0.5f));
    EXPECT_FALSE(c.setDouble("motor/gain", 2e9));
    EXPECT_EQ(valueOf(c, "motor/gain"), "1.67772e+07");

    EXPECT_TRUE(c.setBool("off", true));
    EXPECT_EQ(valueOf(c, "off"), "true");
    EXPECT_TRUE(c.setBool("on", false));
    EXPECT_EQ(valueOf(c, "on"), "false");
    EXPECT_FALSE(c.setBool("label", true));
    EXPECT_TRUE(c.setString("label", QString::fromUtf8("中文 %1")));
    EXPECT_EQ(valueOf(c, "label"), QString::fromUtf8("中文 %1"));
    EXPECT_FALSE(c.setString("novalue", "x"));
    EXPECT_FALSE(c.setString("nowhere", "x"));

    EXPECT_EQ(readBytes(path), original);
    ASSERT_TRUE(c.save());
    PluginConfig again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(valueOf(again, "label"), QString::fromUtf8("中文 %1"));
    EXPECT_EQ(valueOf(again, "motor/speed"), "-3");
    EXPECT_TRUE(readBytes(path).startsWith("<?xml version = \"1.0\" encoding = \"GBK\"?>"));
    EXPECT_TRUE(readBytes(path).contains(QTextCodec::codecForName("GBK")->fromUnicode(QString::fromUtf8("中文"))));
}

TEST(PluginConfig, WrongOrEmptyRootFailsEverythingButSave)
{
    ScopedWorkDir wd;
    for (const char *body : {"<root><Node paramName=\"a\" paramValue=\"1\" paramType=\"3\"/></root>", "<Root/>"}) {
        ASSERT_TRUE(writeGbkXml(wd.file("c.config"), body));
        PluginConfig c;
        ASSERT_TRUE(c.load(wd.file("c.config")));
        QString v;
        EXPECT_FALSE(c.getString("a", v));
        EXPECT_FALSE(c.contains("a"));
        EXPECT_FALSE(c.contains(""));
        EXPECT_FALSE(c.setString("a", "x"));
        EXPECT_TRUE(c.save());
    }
}

TEST(PluginConfig, SaveFailsWhenTheFileCannotBeWritten)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeGbkXml(wd.file("d/c.config"), kConfig));
    PluginConfig c;
    ASSERT_TRUE(c.load(wd.file("d/c.config")));
    ASSERT_TRUE(c.setInt("motor/speed", 1));
    ASSERT_TRUE(QFile::remove(wd.file("d/c.config")));
    ASSERT_TRUE(QDir().mkpath(wd.file("d/c.config"))); // a folder now stands there
    EXPECT_FALSE(c.save());
    EXPECT_EQ(valueOf(c, "motor/speed"), "1");
}

// Readers nest read locks (getInt -> getString) while a writer waits: with a lock that does
// not allow a thread to read again, the nested read would wait behind the writer for ever.
TEST(PluginConfig, NestedReadLocksFromTwoThreadsWithAWriter)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeGbkXml(wd.file("c.config"), kConfig));
    PluginConfig c;
    ASSERT_TRUE(c.load(wd.file("c.config")));
    const int rounds = qEnvironmentVariableIsSet("TESSEL_SANITIZE") ? 300 : 3000;
    std::atomic<int> bad{0};
    auto reader = [&] {
        for (int i = 0; i < rounds; ++i) {
            int v = 0;
            bool b = false;
            if (!c.getInt("motor/speed", v) || v < -3 || v > 10 || !c.getBool("on", b) || !b)
                ++bad;
        }
    };
    auto writer = [&] {
        for (int i = 0; i < rounds; ++i)
            if (!c.setInt("motor/speed", i % 10))
                ++bad;
    };
    QThread *t1 = QThread::create(reader);
    QThread *t2 = QThread::create(reader);
    QThread *t3 = QThread::create(writer);
    t1->start();
    t2->start();
    t3->start();
    EXPECT_TRUE(t1->wait(30000));
    EXPECT_TRUE(t2->wait(30000));
    EXPECT_TRUE(t3->wait(30000));
    EXPECT_EQ(bad.load(), 0);
    delete t1;
    delete t2;
    delete t3;
}

TEST(PluginInfo, ConfigReloadsInPlaceAndDropsOnlyOnFailedLoad)
{
    ScopedWorkDir wd;
    PluginInfo info(wd.file("plugins/x/Tool.beta.so"), new QLibrary, nullptr);
    EXPECT_EQ(info.baseName(), "Tool");
    EXPECT_EQ(info.configDir(), wd.path() + "/config/Tool");
    EXPECT_EQ(info.logDir(), wd.path() + "/logs/Tool");
    EXPECT_EQ(info.docsDir(), wd.path() + "/docs/Tool");
    EXPECT_EQ(info.langFolder(), wd.path() + "/lang/Tool");
    EXPECT_EQ(info.configFilePath(), wd.path() + "/config/Tool/index.config");
    EXPECT_FALSE(info.hasConfigFile());
    EXPECT_EQ(info.config(false), nullptr);
    EXPECT_TRUE(info.isUnloadable());
    info.setUnloadable(false);
    EXPECT_FALSE(info.isUnloadable());
    EXPECT_EQ(info.text("any"), QString());

    ASSERT_TRUE(writeGbkXml(info.configFilePath(), kConfig));
    IConfigFile *c = info.config(false);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(info.config(false), c);
    QString v;
    ASSERT_TRUE(c->getString("label", v));
    EXPECT_EQ(v, "x");

    ASSERT_TRUE(writeGbkXml(info.configFilePath(), QString(kConfig).replace("\"x\"", "\"edited\"")));
    EXPECT_EQ(info.config(false), c);
    ASSERT_TRUE(c->getString("label", v));
    EXPECT_EQ(v, "x");
    EXPECT_EQ(info.config(true), c); // re-read into the same object
    ASSERT_TRUE(c->getString("label", v));
    EXPECT_EQ(v, "edited");

    // Deleted: null, and the old object stays.
    ASSERT_TRUE(QFile::remove(info.configFilePath()));
    EXPECT_EQ(info.config(true), nullptr);
    ASSERT_TRUE(writeGbkXml(info.configFilePath(), kConfig));
    EXPECT_EQ(info.config(false), c);
    // A file that no longer parses destroys the object.
    ASSERT_TRUE(writeBytes(info.configFilePath(), "<Root"));
    EXPECT_EQ(info.config(true), nullptr);
    ASSERT_TRUE(writeGbkXml(info.configFilePath(), kConfig));
    ASSERT_NE(info.config(false), nullptr);
}

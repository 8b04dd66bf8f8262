// Hostile setting and XML files: too deep, UTF-16 text with 0x0D bytes, files that are not files.
#include "host/plugin_config.h"
#include "host/settings/setting_file.h"
#include "widgetkit/sys_xml_document.h"
#include "tests/host/host_test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
QByteArray nested(const QByteArray &tag, const QByteArray &attrs, int depth)
{
    QByteArray open = "<" + tag + attrs + ">";
    QByteArray close = "</" + tag + ">";
    return "<?xml version=\"1.0\"?>\n<Root type=\"0\">" + open.repeated(depth - 1)
           + close.repeated(depth - 1) + "</Root>\n";
}

const QByteArray kFolderAttrs = " name=\"f\" paramName=\"f\" desc=\"\"";

QByteArray utf16le(const QString &text)
{
    const QByteArray bom("\xff\xfe", 2);
    return bom + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}
} // namespace

TEST(SysXmlDocument, RefusesFilesNestedDeeperThanTheLimit)
{
    ScopedWorkDir wd;
    const QString path = wd.file("index.config");
    SysXmlDocument doc;
    SettingTree tree;
    // At the limit the file loads and saves again; one level more is refused.
    ASSERT_TRUE(writeBytes(path, nested("Folder", kFolderAttrs, SysXmlDocument::kMaxDepth)));
    ASSERT_TRUE(loadSettingFile(path, tree));
    ASSERT_TRUE(saveSettingFile(wd.file("again.config"), tree));
    ASSERT_TRUE(loadSettingFile(wd.file("again.config"), tree));
    ASSERT_TRUE(writeBytes(path, nested("Folder", kFolderAttrs, SysXmlDocument::kMaxDepth + 1)));
    EXPECT_FALSE(doc.load(path));
    EXPECT_FALSE(loadSettingFile(path, tree));

    // Once crashed the parser's stack: now a plain failure, in bounded time.
    ASSERT_TRUE(writeBytes(path, nested("Folder", kFolderAttrs, 50000)));
    EXPECT_FALSE(doc.load(path));
    EXPECT_FALSE(loadSettingFile(path, tree));
    PluginConfig config;
    EXPECT_FALSE(config.load(path));
    // Unclosed, too: the check stops at the limit.
    ASSERT_TRUE(writeBytes(path, QByteArray("<a>").repeated(200000)));
    EXPECT_FALSE(doc.load(path));
    EXPECT_TRUE(doc.isNull());
}

TEST(SysXmlDocument, SettingReaderBoundsADocumentBuiltInMemory)
{
    // A document not loaded from a file is held to the same depth.
    SysXmlDocument doc;
    QDomElement parent = doc.createElement("Root");
    doc.appendChild(parent);
    for (int i = 0; i < SysXmlDocument::kMaxDepth + 10; ++i) {
        QDomElement e = doc.createElement("Folder");
        for (const char *a : {"name", "paramName", "desc"})
            e.setAttribute(a, "x");
        parent.appendChild(e);
        parent = e;
    }
    SettingTree tree;
    EXPECT_FALSE(readSettingDocument(doc, tree));
}

TEST(SysXmlDocument, Utf16FilesWithCarriageReturnBytesLoad)
{
    ScopedWorkDir wd;
    const QString path = wd.file("index.config");
    // U+4E0D is stored as the bytes 0D 4E: text-mode reading used to drop the 0x0D.
    const QString text = QString::fromUtf8(
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Root type=\"0\">\r\n"
        " <Node name=\"不\" paramName=\"p\" desc=\"不可\" paramType=\"3\" paramValue=\"不\""
        " paramUpLimit=\"\" paramDownLimit=\"\"/>\r\n</Root>\r\n");
    ASSERT_TRUE(writeBytes(path, utf16le(text)));
    ASSERT_TRUE(utf16le(text).contains(QByteArray("\x0d\x4e", 2)));
    SettingTree tree;
    ASSERT_TRUE(loadSettingFile(path, tree));
    ASSERT_EQ(tree.nodes.size(), 1u);
    EXPECT_EQ(tree.nodes[0].data.paramValue, QString::fromUtf8("不"));
    EXPECT_EQ(tree.nodes[0].data.desc.display("zh"), QString::fromUtf8("不可"));
    PluginConfig config;
    ASSERT_TRUE(config.load(path));
    QString value;
    ASSERT_TRUE(config.getString("p", value));
    EXPECT_EQ(value, QString::fromUtf8("不"));
}

TEST(SysXmlDocument, RefusesWhatIsNotARegularFile)
{
    ScopedWorkDir wd;
    SysXmlDocument doc;
    EXPECT_FALSE(doc.load(wd.path()));
    // A FIFO would block the open until a writer comes.
    const QString fifo = wd.file("fifo.config");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(doc.load(fifo));
    EXPECT_FALSE(doc.load(wd.file("missing.config")));
    // Oversized files are refused before they are read.
    QFile big(wd.file("big.config"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(SysXmlDocument::kMaxFileSize + 1));
    big.close();
    EXPECT_FALSE(doc.load(big.fileName()));
}

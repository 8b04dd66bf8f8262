#include "host/packages/package_files.h"
#include "tests/host/packages/package_test_util.h"

#include <QTextCodec>

#include <gtest/gtest.h>

using namespace Packages;

namespace {

QByteArray gbk(const QString &text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

} // namespace

TEST(PackageFiles, WritePackageStoresRelativePathsInListOrder)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeBytes(wd.file("top.txt"), "top"));
    ASSERT_TRUE(writeBytes(wd.file(QStringLiteral("plugins/工具/工具.so")), QByteArray(70000, 'x')));
    ASSERT_TRUE(writeBytes(wd.file("config/empty"), ""));
    const QStringList list = {wd.file(QStringLiteral("plugins/工具/工具.so")), wd.file("top.txt"),
                              wd.file("config/empty")};
    PackageMessage error;
    ASSERT_TRUE(writePackage(list, wd.file("out.plug"), &error)) << error.key.toStdString();

    const QByteArray package = readBytes(wd.file("out.plug"));
    QVector<PackageEntry> entries;
    ASSERT_TRUE(parsePackage(package, entries, error));
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].rawPath, gbk(QStringLiteral("plugins/工具/工具.so")));
    EXPECT_EQ(entries[0].dataSize, 70000);
    EXPECT_EQ(entries[1].path, "top.txt");
    EXPECT_EQ(package.mid(entries[1].offset, 16).toHex(' '),
              QByteArray("07 00 00 00 74 6f 70 2e 74 78 74 03 00 00 00 74"));
    EXPECT_EQ(entries[2].path, "config/empty");
    EXPECT_EQ(entries[2].dataSize, 0);
    EXPECT_EQ(package.size(), entries[2].dataOffset);
}

TEST(PackageFiles, FailedPackLeavesNoFileAndKeepsAnOldOne)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeBytes(wd.file("a.txt"), "a"));
    PackageMessage error;
    // A source that vanished after it was listed.
    EXPECT_FALSE(writePackage({wd.file("a.txt"), wd.file("gone.txt")}, wd.file("new.plug"), &error));
    EXPECT_EQ(error.key, "genPkg/cannotReadFmt");
    EXPECT_EQ(error.args, QVector<QVariant>{wd.file("gone.txt")});
    EXPECT_EQ(QDir(wd.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.txt"});

    ASSERT_TRUE(writeBytes(wd.file("old.plug"), "previous package"));
    EXPECT_FALSE(writePackage({wd.file("a.txt"), wd.file("gone.txt")}, wd.file("old.plug")));
    EXPECT_EQ(readBytes(wd.file("old.plug")), "previous package");

    // Outside the working folder, or only sharing its name's beginning.
    QTemporaryDir outside;
    ASSERT_TRUE(writeBytes(outside.path() + "/x.txt", "x"));
    ASSERT_TRUE(writeBytes(wd.path() + "2/x.txt", "x"));
    EXPECT_FALSE(writePackage({outside.path() + "/x.txt"}, wd.file("o.plug"), &error));
    EXPECT_EQ(error.key, "genPkg/fileIsNotUnderWorkDirFmt");
    EXPECT_FALSE(writePackage({wd.path() + "2/x.txt"}, wd.file("o.plug"), &error));
    QDir(wd.path() + "2").removeRecursively();
    EXPECT_FALSE(QFileInfo::exists(wd.file("o.plug")));
    // A package that cannot be created.
    EXPECT_FALSE(writePackage({wd.file("a.txt")}, wd.file("no/such/folder/p.plug"), &error));
    EXPECT_EQ(error.key, "genPkg/cannotWriteFmt");
}

TEST(PackageFiles, TemplateIsExactAndReadsBackTheSameList)
{
    ScopedWorkDir wd;
    const QStringList list = {wd.file("plugins/Tool/Tool.so"), wd.file(QStringLiteral("文档/说明.doc")),
                              wd.file("top.txt")};
    ASSERT_TRUE(saveTemplate(list, wd.file("t.tpl")));
    EXPECT_EQ(readBytes(wd.file("t.tpl")),
              gbk(QStringLiteral("<?xml version = \"1.0\" encoding = \"GBK\"?>\n"
                                 "<ROOT>\n"
                                 " <FILE VALUE=\"plugins/Tool/Tool.so\"/>\n"
                                 " <FILE VALUE=\"文档/说明.doc\"/>\n"
                                 " <FILE VALUE=\"top.txt\"/>\n"
                                 "</ROOT>\n")));
    QStringList loaded;
    ASSERT_TRUE(loadTemplate(wd.file("t.tpl"), loaded));
    EXPECT_EQ(loaded, list);

    // Saving again replaces the file; a list with a path outside is refused and changes nothing.
    ASSERT_TRUE(saveTemplate({wd.file("top.txt")}, wd.file("t.tpl")));
    ASSERT_TRUE(loadTemplate(wd.file("t.tpl"), loaded));
    EXPECT_EQ(loaded, QStringList{wd.file("top.txt")});
    EXPECT_FALSE(saveTemplate({"/elsewhere/x"}, wd.file("t.tpl")));
    ASSERT_TRUE(loadTemplate(wd.file("t.tpl"), loaded));
    EXPECT_EQ(loaded, QStringList{wd.file("top.txt")});
    EXPECT_EQ(QDir(wd.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"t.tpl"});
}

TEST(PackageFiles, TemplatesOfAnyOtherShapeAreRefused)
{
    ScopedWorkDir wd;
    const struct {
        const char *body;
        bool ok;
        int files;
    } cases[] = {
        {"<ROOT/>", true, 0},
        {"<ROOT><FILE VALUE=\"a\"/><FILE VALUE=\"b/c\"/></ROOT>", true, 2},
        {"<ROOT><!-- a comment --><FILE VALUE=\"a\"/></ROOT>", false, 0},
        {"<ROOT><FILE VALUE=\"a\"/>text</ROOT>", false, 0},
        {"<ROOT><file VALUE=\"a\"/></ROOT>", false, 0},
        {"<Root><FILE VALUE=\"a\"/></Root>", false, 0},
        {"<ROOT><FILE/></ROOT>", false, 0},
        {"<ROOT><FILE VALUE=\"../outside\"/></ROOT>", false, 0},
        {"<ROOT><FILE VALUE=\"/abs\"/></ROOT>", false, 0},
        {"<ROOT><FILE VALUE=\"a\">", false, 0},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(writeGbkXml(wd.file("t.tpl"), QLatin1String(c.body)));
        QStringList files{"unchanged"};
        EXPECT_EQ(loadTemplate(wd.file("t.tpl"), files), c.ok) << c.body;
        EXPECT_EQ(files.size(), c.ok ? c.files : 1) << c.body;
    }
    QStringList files;
    EXPECT_FALSE(loadTemplate(wd.file("missing.tpl"), files));
}

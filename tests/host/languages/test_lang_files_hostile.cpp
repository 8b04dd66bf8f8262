// Hostile language files and indexes: deep nesting, UTF-16 text, indexes naming paths.
#include "host/languages/lang_store.h"
#include "tests/host/host_test_util.h"

#include <gtest/gtest.h>

namespace {
const QString kCtx = QStringLiteral("Tessel");

QByteArray deepLang(int depth)
{
    return "<?xml version=\"1.0\"?>\n<lang name=\"Deep\">" + QByteArray("<a name=\"x\">").repeated(depth - 1)
           + QByteArray("</a>").repeated(depth - 1) + "</lang>\n";
}
} // namespace

TEST(LangFiles, DeepFilesAreRefusedLikeBrokenOnes)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "deep"));
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "deep"), deepLang(SysXmlDocument::kMaxDepth)));
    LangStore store;
    QString key = "a";
    for (int i = 2; i < SysXmlDocument::kMaxDepth; ++i)
        key += "/a";
    EXPECT_EQ(store.text(kCtx, key), "x");

    // 50,000 levels once overflowed the parser's stack at start-up.
    for (int depth : {SysXmlDocument::kMaxDepth + 1, 50000}) {
        ASSERT_TRUE(writeBytes(langFilePath("Deltamaker", "deep"), deepLang(depth)));
        ASSERT_TRUE(writeBytes(langIndexPath("Deltamaker"), "deep"));
        EXPECT_EQ(store.find("Deltamaker", "a"), QString());
        EXPECT_TRUE(store.cachedPath("Deltamaker").isEmpty());
        LANG_INFO info;
        EXPECT_FALSE(readLangInfo(langFilePath("Deltamaker", "deep"), info));
        QList<LANG_INFO> list;
        ASSERT_TRUE(store.loadLangList("Deltamaker", list));
        EXPECT_TRUE(list.isEmpty());
        EXPECT_TRUE(store.switchLang("Deltamaker", "deep", true));
        EXPECT_TRUE(store.cachedPath("Deltamaker").isEmpty());
    }
}

TEST(LangFiles, Utf16FileWithCarriageReturnBytesLoads)
{
    ScopedWorkDir wd;
    // "不" is U+4E0D: its UTF-16 form holds a 0x0D byte.
    const QString text = QString::fromUtf8(
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<lang name=\"不同\">\r\n"
        " <main><title name=\"不\"/></main>\r\n</lang>\r\n");
    const QByteArray bytes = QByteArray("\xff\xfe", 2)
        + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "u16"), bytes));
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "u16"));
    LangStore store;
    EXPECT_EQ(store.text(kCtx, "main/title"), QString::fromUtf8("不"));
    LANG_INFO info;
    ASSERT_TRUE(readLangInfo(langFilePath(kCtx, "u16"), info));
    EXPECT_EQ(info.dispName, QString::fromUtf8("不同"));
}

TEST(LangFiles, IndexNamingAPathNamesNoLanguage)
{
    ScopedWorkDir wd;
    // A valid language outside the context's folder, and the paths that would reach it.
    ASSERT_TRUE(writeBytes(wd.file("outside.lang"), "<lang name=\"Outside\"><a name=\"leak\"/></lang>"));
    ASSERT_TRUE(writeBytes(wd.file("lang/outside.lang"), "<lang name=\"Outside\"><a name=\"leak\"/></lang>"));
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "en"), "<lang name=\"English\"><a name=\"ok\"/></lang>"));
    for (const QByteArray &index : {QByteArray("../../outside"), QByteArray("../outside"),
                                    (wd.path() + "/outside").toUtf8(), QByteArray("..\\outside"),
                                    QByteArray("."), QByteArray("..")}) {
        ASSERT_TRUE(writeBytes(langIndexPath(kCtx), index));
        LangStore store;
        // No current language: English answers, never the file the index points at.
        EXPECT_EQ(store.text(kCtx, "a"), "ok") << index.constData();
        EXPECT_TRUE(store.cachedPath(kCtx).isEmpty());
        QString name;
        EXPECT_TRUE(store.currentLang(kCtx, name));
        EXPECT_EQ(name, QString()) << index.constData();
    }
    // An index longer than any file name names nothing; a plain name still works.
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), QByteArray(300, 'e')));
    LangStore store;
    QString name = "x";
    EXPECT_TRUE(store.currentLang(kCtx, name));
    EXPECT_EQ(name, QString());
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "en"));
    EXPECT_EQ(store.text(kCtx, "a"), "ok");
}

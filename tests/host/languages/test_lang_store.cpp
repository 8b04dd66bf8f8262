#include "host/languages/lang_store.h"
#include "common/text_format.h"
#include "tests/host/host_test_util.h"

#include <gtest/gtest.h>

namespace {
const QString kCtx = QStringLiteral("Tessel");

void writeLang(const QString &ctx, const QString &name, const QString &body,
               const QString &disp = QStringLiteral("Display"))
{
    ASSERT_TRUE(writeGbkXml(langFilePath(ctx, name),
                            QStringLiteral("<lang name=\"%1\">%2</lang>\n").arg(disp, body)));
}

void writeIndex(const QString &ctx, const QByteArray &name)
{
    ASSERT_TRUE(writeBytes(langIndexPath(ctx), name));
}
} // namespace

TEST(LangStore, PathsFollowTheWorkingFolder)
{
    ScopedWorkDir wd;
    EXPECT_EQ(langDir(), wd.path() + "/lang");
    EXPECT_EQ(langIndexPath("Ctx"), wd.path() + "/lang/Ctx/index.config");
    EXPECT_EQ(langFilePath("Ctx", "en"), wd.path() + "/lang/Ctx/en.lang");
}

TEST(LangStore, LooksUpNestedKeysIgnoringTagCaseFirstSiblingWins)
{
    ScopedWorkDir wd;
    writeLang(kCtx, "zh", QString::fromUtf8(
        "<GENPKG name=\"组\"><Title name=\"生成\"/><title name=\"second\"/></GENPKG>"
        "<genPkg name=\"later\"><other name=\"x\"/></genPkg>"
        "<main><plugin><loading name=\"加载中\"/></plugin><noName/></main>"));
    writeIndex(kCtx, "zh");
    LangStore store;
    EXPECT_EQ(store.text(kCtx, "genPkg/title"), QString::fromUtf8("生成"));
    EXPECT_EQ(store.text(kCtx, "genpkg"), QString::fromUtf8("组"));
    // The first genPkg element wins; its sibling of the same tag is never searched.
    EXPECT_EQ(store.find(kCtx, "genPkg/other"), QString());
    EXPECT_EQ(store.text(kCtx, "main/plugin/loading"), QString::fromUtf8("加载中"));
    EXPECT_EQ(store.find(kCtx, "main"), QString());        // element without "name"
    EXPECT_EQ(store.find(kCtx, "main/noName"), QString());
    EXPECT_EQ(store.find(kCtx, "main//loading"), QString()); // empty component
    EXPECT_EQ(store.find(kCtx, "/main"), QString());
    EXPECT_EQ(store.find(kCtx, ""), QString());
    EXPECT_EQ(store.find(kCtx, "main/plugin/missing"), QString());
    EXPECT_EQ(store.find("Other", "genPkg/title"), QString()); // no index, no folder
}

TEST(LangStore, IndexIsReadOnEveryLookupButTheCacheWins)
{
    ScopedWorkDir wd;
    writeLang(kCtx, "zh", QString::fromUtf8("<a name=\"中文\"/>"));
    writeLang(kCtx, "en", "<a name=\"English\"/>");
    writeIndex(kCtx, "zh");
    LangStore store;
    EXPECT_EQ(store.text(kCtx, "a"), QString::fromUtf8("中文"));
    // Changed by hand: the cached document still answers.
    writeIndex(kCtx, "en");
    EXPECT_EQ(store.text(kCtx, "a"), QString::fromUtf8("中文"));
    // Deleted: the cached document no longer answers at once, although it stays cached;
    // English does.
    ASSERT_TRUE(QFile::remove(langIndexPath(kCtx)));
    EXPECT_EQ(store.find(kCtx, "a"), "English");
    EXPECT_EQ(store.cachedPath(kCtx), langFilePath(kCtx, "zh"));
    QString name;
    EXPECT_FALSE(store.currentLang(kCtx, name));
}

TEST(LangStore, FailedLoadCachesNothingAndIsRetried)
{
    ScopedWorkDir wd;
    writeIndex(kCtx, "en");
    LangStore store;
    EXPECT_EQ(store.find(kCtx, "a"), QString());
    EXPECT_TRUE(store.cachedPath(kCtx).isEmpty());
    writeLang(kCtx, "en", "<a name=\"now\"/>");
    EXPECT_EQ(store.text(kCtx, "a"), "now");
}

TEST(LangStore, TrailingLineEndInIndexNamesNoFile)
{
    ScopedWorkDir wd;
    writeLang(kCtx, "en", "<a name=\"English\"/>");
    writeIndex(kCtx, "en\n");
    LangStore store;
    // No such file: nothing is cached, and the English fallback answers.
    EXPECT_EQ(store.find(kCtx, "a"), "English");
    EXPECT_TRUE(store.cachedPath(kCtx).isEmpty());
    QString name;
    EXPECT_TRUE(store.currentLang(kCtx, name));
    EXPECT_EQ(name, "en\n");
    // Only the bytes before a NUL count.
    writeIndex(kCtx, QByteArray("en\0zz", 5));
    EXPECT_EQ(store.text(kCtx, "a"), "English");
}

TEST(LangStore, RejectsDocumentsThatAreNotLanguages)
{
    ScopedWorkDir wd;
    writeIndex(kCtx, "x");
    LANG_INFO info;
    ASSERT_TRUE(writeGbkXml(langFilePath(kCtx, "x"), "<language name=\"X\"><a name=\"1\"/></language>"));
    EXPECT_FALSE(readLangInfo(langFilePath(kCtx, "x"), info));
    ASSERT_TRUE(writeGbkXml(langFilePath(kCtx, "x"), "<LANG><a name=\"1\"/></LANG>"));
    EXPECT_FALSE(readLangInfo(langFilePath(kCtx, "x"), info));
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "x"), "<lang name=\"broken\">"));
    EXPECT_FALSE(readLangInfo(langFilePath(kCtx, "x"), info));
    LangStore store;
    EXPECT_EQ(store.find(kCtx, "a"), QString());
    ASSERT_TRUE(writeGbkXml(langFilePath(kCtx, "x"), "<LANG name=\"Upper\"><A name=\"1\"/></LANG>"));
    ASSERT_TRUE(readLangInfo(langFilePath(kCtx, "x"), info));
    EXPECT_EQ(info.dispName, "Upper");
    EXPECT_EQ(info.name, "x");
    EXPECT_EQ(store.text(kCtx, "a"), "1");
}

TEST(LangStore, SwitchLangWritesTheIndexAndReloadsOnlyOtherLanguages)
{
    ScopedWorkDir wd;
    writeLang(kCtx, "zh", QString::fromUtf8("<a name=\"中文\"/>"));
    writeLang(kCtx, "en", "<a name=\"English\"/>");
    LangStore store;
    // Index and folder created on demand; no reload caches nothing.
    ASSERT_TRUE(store.switchLang("New", "fr", false));
    EXPECT_EQ(readBytes(langIndexPath("New")), QByteArray("fr"));
    EXPECT_TRUE(store.cachedPath("New").isEmpty());

    ASSERT_TRUE(store.switchLang(kCtx, "zh", true));
    EXPECT_EQ(readBytes(langIndexPath(kCtx)), QByteArray("zh"));
    EXPECT_EQ(store.cachedPath(kCtx), langFilePath(kCtx, "zh"));

    // Switching to the cached language (any case) re-reads nothing: the edit stays unseen.
    writeLang(kCtx, "zh", "<a name=\"edited\"/>");
    ASSERT_TRUE(store.switchLang(kCtx, "ZH", true));
    EXPECT_EQ(store.text(kCtx, "a"), QString::fromUtf8("中文"));

    ASSERT_TRUE(store.switchLang(kCtx, "en", true));
    EXPECT_EQ(store.text(kCtx, "a"), "English");
    // A language whose file fails drops the cache entry, still true.
    ASSERT_TRUE(store.switchLang(kCtx, "missing", true));
    EXPECT_TRUE(store.cachedPath(kCtx).isEmpty());
    EXPECT_EQ(store.find(kCtx, "a"), "English");
}

TEST(LangStore, SwitchLangFailsWhenTheIndexCannotBeWritten)
{
    ScopedWorkDir wd;
    // A folder in the index's place cannot be opened for writing.
    ASSERT_TRUE(QDir().mkpath(langIndexPath(kCtx)));
    LangStore store;
    EXPECT_FALSE(store.switchLang(kCtx, "en", true));
    EXPECT_TRUE(store.cachedPath(kCtx).isEmpty());
}

TEST(LangStore, ListsLanguagesSortedWithTheCurrentOneFlagged)
{
    ScopedWorkDir wd;
    LangStore store;
    QList<LANG_INFO> list;
    EXPECT_TRUE(store.loadLangList("Nothing", list));
    EXPECT_TRUE(list.isEmpty());

    writeLang(kCtx, "zh", "", QString::fromUtf8("简体中文"));
    writeLang(kCtx, "en", "", "English");
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "bad"), "not xml"));
    ASSERT_TRUE(writeBytes(wd.file("lang/Tessel/notes.txt"), "x"));
    writeIndex(kCtx, "ZH");
    ASSERT_TRUE(store.loadLangList(kCtx, list));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].name, "en");
    EXPECT_EQ(list[0].dispName, "English");
    EXPECT_FALSE(list[0].isCurrent);
    EXPECT_EQ(list[1].name, "zh");
    EXPECT_EQ(list[1].dispName, QString::fromUtf8("简体中文"));
    EXPECT_EQ(list[1].path, langFilePath(kCtx, "zh"));
    EXPECT_TRUE(list[1].isCurrent);
}

TEST(LangStore, CreatesAnEmptyGbkLanguageWhereNoneIsCurrent)
{
    ScopedWorkDir wd;
    LangStore store;
    QString path;
    ASSERT_TRUE(store.createLangFile("Deep", "ja", QString::fromUtf8("日本語"), path));
    EXPECT_EQ(path, langFilePath("Deep", "ja"));
    const QByteArray bytes = readBytes(path);
    const QByteArray expected = QByteArray("<?xml version = \"1.0\" encoding = \"GBK\"?>\n<lang name=\"")
        + QTextCodec::codecForName("GBK")->fromUnicode(QString::fromUtf8("日本語")) + "\"/>\n";
    EXPECT_EQ(bytes, expected);
    LANG_INFO info;
    ASSERT_TRUE(readLangInfo(path, info));
    EXPECT_EQ(info.dispName, QString::fromUtf8("日本語"));
    ASSERT_TRUE(store.switchLang("Deep", "ja", true));
    EXPECT_EQ(store.find("Deep", "anything"), QString());
    EXPECT_EQ(store.text("Deep", "anything"), "anything");
}

TEST(LangStore, ANewLanguageStartsAsACopyOfTheCurrentOne)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeGbkXml(langFilePath(kCtx, "en"),
                            "<lang name=\"English\"><main><title name=\"Title\"/><menu name=\"M\">"
                            "<open name=\"Open\"/></menu></main></lang>"));
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "en"));
    LangStore store;
    QString path;
    ASSERT_TRUE(store.createLangFile(kCtx, "fr", "Francais", path));
    LANG_INFO info;
    ASSERT_TRUE(readLangInfo(path, info));
    EXPECT_EQ(info.dispName, "Francais");
    // Every key is there to translate, and the current language's file is untouched.
    ASSERT_TRUE(store.switchLang(kCtx, "fr", true));
    EXPECT_EQ(store.cachedPath(kCtx), path);
    EXPECT_EQ(store.find(kCtx, "main/title"), "Title");
    EXPECT_EQ(store.find(kCtx, "main/menu"), "M");
    EXPECT_EQ(store.find(kCtx, "main/menu/open"), "Open");
    ASSERT_TRUE(readLangInfo(langFilePath(kCtx, "en"), info));
    EXPECT_EQ(info.dispName, "English");
}

TEST(LangStore, MissingKeysComeFromEnglishThenChineseThenTheKey)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeGbkXml(langFilePath(kCtx, "zh"),
                            QString::fromUtf8("<lang name=\"中文\"><a name=\"甲\"/><b name=\"乙\"/><c name=\"丙\"/></lang>")));
    ASSERT_TRUE(writeGbkXml(langFilePath(kCtx, "en"), "<lang name=\"English\"><a name=\"A\"/><b name=\"B\"/></lang>"));
    ASSERT_TRUE(writeGbkXml(langFilePath(kCtx, "fr"), "<lang name=\"Francais\"><a name=\"Un\"/><b name=\"\"/></lang>"));
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "fr"));
    LangStore store;
    EXPECT_EQ(store.text(kCtx, "a"), "Un");
    EXPECT_EQ(store.text(kCtx, "b"), "B");            // an empty text counts as missing
    EXPECT_EQ(store.text(kCtx, "c"), QString::fromUtf8("丙"));
    EXPECT_EQ(store.text(kCtx, "d/e"), "d/e");
    EXPECT_EQ(store.find(kCtx, "d/e"), QString());
    EXPECT_EQ(store.text(kCtx, "a//b"), "a//b");
    // A language that does not load, or no index at all, still gets English and Chinese.
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "gone"));
    LangStore fresh;
    EXPECT_EQ(fresh.text(kCtx, "a"), "A");
    ASSERT_TRUE(QFile::remove(langIndexPath(kCtx)));
    EXPECT_EQ(fresh.text(kCtx, "c"), QString::fromUtf8("丙"));
    // A context with no files at all answers with the key.
    EXPECT_EQ(fresh.text("Nothing", "main/title"), "main/title");
    EXPECT_EQ(fresh.find("Nothing", "main/title"), QString());
}

TEST(LangStore, LangInfoIsAMetaType)
{
    LangStore store;
    LANG_INFO info;
    info.name = "en";
    info.isCurrent = true;
    const QVariant v = QVariant::fromValue(info);
    EXPECT_EQ(QMetaType::type("LANG_INFO"), v.userType());
    EXPECT_EQ(v.value<LANG_INFO>().name, "en");
    EXPECT_TRUE(v.value<LANG_INFO>().isCurrent);
}

TEST(TextFormat, FillsMatchingConversionsAndKeepsTheRest)
{
    EXPECT_EQ(formatPattern(QString::fromUtf8("找不到插件 %s"), {QString::fromUtf8("工具")}),
              QString::fromUtf8("找不到插件 工具"));
    EXPECT_EQ(formatPattern("%d < %d or > %d", {5, 1, 4}), "5 < 1 or > 4");
    EXPECT_EQ(formatPattern("%.2f..%g %%", {0.5, 2.0}), "0.50..2 %");
    EXPECT_EQ(formatPattern("len %ld>%d", {7, 3}), "len 7>3");
    // Wrong or missing arguments never reach printf.
    EXPECT_EQ(formatPattern("%s %d %s %n", {42}), "%s 42 %s %n");
    EXPECT_EQ(formatPattern("%d", {QString("x")}), "%d");
    EXPECT_EQ(formatPattern("end %", {}), "end %");
    EXPECT_EQ(formatPattern("%*d", {3, 4}), "%*d");
}

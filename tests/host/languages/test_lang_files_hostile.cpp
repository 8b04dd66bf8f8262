// Hostile language files and indexes: deep nesting, UTF-16 text, indexes naming paths, a
// large file that breaks only at its end.
#include "host/languages/lang_store.h"
#include "host/main_window.h"
#include "tests/host/host_test_util.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <sys/resource.h>

#include <cstdlib>

namespace {
const QString kCtx = QStringLiteral("Tessel");

QByteArray deepLang(int depth)
{
    return "<?xml version=\"1.0\"?>\n<lang name=\"Deep\">" + QByteArray("<a name=\"x\">").repeated(depth - 1)
           + QByteArray("</a>").repeated(depth - 1) + "</lang>\n";
}

// A language within every limit of the readers that breaks only at its last bytes, so that all
// of it is read and parsed before it fails (about 0.2 s a time).
QByteArray brokenAtItsEnd()
{
    QByteArray bytes = "<?xml version=\"1.0\"?>\n<lang name=\"Big\"><a name=\"never\"/>";
    const QByteArray filler(120, 'x');
    for (int i = 0; bytes.size() < SysXmlDocument::kMaxFileSize - 1024; ++i)
        bytes += "<k" + QByteArray::number(i) + " name=\"" + filler + "\"/>";
    return bytes + "</lang";
}

// Processor time, as the machine may be shared.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Well under a second, with room for the sanitizers.
double cpuBudget() { return std::getenv("TESSEL_SANITIZE") ? 5.0 : 1.0; }

} // namespace

TEST(LangFiles, ACurrentLanguageBrokenAtItsEndIsReadOnceUntilItChanges)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "big"), brokenAtItsEnd()));
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "en"), "<lang name=\"English\"><a name=\"English\"/></lang>"));
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "big"));
    LangStore store;
    const double start = cpuSeconds();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(store.text(kCtx, "a"), "English") << i;
    EXPECT_LT(cpuSeconds() - start, cpuBudget());
    EXPECT_TRUE(store.cachedPath(kCtx).isEmpty());
    EXPECT_EQ(store.failedPath(kCtx), langFilePath(kCtx, "big"));

    // Mended on disk: the next lookup reads it again and keeps it.
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "big"), "<lang name=\"Big\"><a name=\"mended\"/></lang>"));
    EXPECT_EQ(store.text(kCtx, "a"), "mended");
    EXPECT_EQ(store.cachedPath(kCtx), langFilePath(kCtx, "big"));

    EXPECT_TRUE(store.failedPath(kCtx).isEmpty());

    // A switch, with or without reload, tries the language again although its file did not
    // change; a failure there is not read again by the lookups after it either.
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "other"), brokenAtItsEnd()));
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "other"));
    LangStore fresh;
    EXPECT_EQ(fresh.text(kCtx, "a"), "English");
    EXPECT_EQ(fresh.failedPath(kCtx), langFilePath(kCtx, "other"));
    ASSERT_TRUE(fresh.switchLang(kCtx, "other", false));
    EXPECT_TRUE(fresh.failedPath(kCtx).isEmpty());
    EXPECT_EQ(fresh.text(kCtx, "a"), "English");
    EXPECT_EQ(fresh.failedPath(kCtx), langFilePath(kCtx, "other"));
    ASSERT_TRUE(fresh.switchLang(kCtx, "other", true));
    EXPECT_EQ(fresh.failedPath(kCtx), langFilePath(kCtx, "other"));
    const double afterSwitch = cpuSeconds();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(fresh.text(kCtx, "a"), "English") << i;
    EXPECT_LT(cpuSeconds() - afterSwitch, cpuBudget());
    // The index naming another language is a change too.
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "big"));
    EXPECT_EQ(fresh.text(kCtx, "a"), "mended");
    EXPECT_TRUE(fresh.failedPath(kCtx).isEmpty());
}

TEST(LangFiles, ABrokenFallbackLanguageIsReadOnceUntilItChanges)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "fr"), "<lang name=\"Francais\"><a name=\"Un\"/></lang>"));
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "en"), brokenAtItsEnd()));
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "fr"));
    LangStore store;
    const double start = cpuSeconds();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(store.text(kCtx, "b"), "b") << i;
    EXPECT_LT(cpuSeconds() - start, cpuBudget());
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "en"), "<lang name=\"English\"><b name=\"Two\"/></lang>"));
    EXPECT_EQ(store.text(kCtx, "b"), "Two");
    EXPECT_EQ(store.text(kCtx, "a"), "Un");
}

// The host starts on such a language as fast as on a sound one: the window's texts come from
// English and Chinese after one read of the broken file.
TEST(LangFiles, TheHostStartsQuicklyOnACurrentLanguageBrokenAtItsEnd)
{
    ScopedWorkDir wd;
    ASSERT_TRUE(QDir().mkpath(langDir() + "/Tessel"));
    for (const char *name : {"zh", "en"})
        ASSERT_TRUE(QFile::copy(TestPaths::runtimeDir() + "/lang/Tessel/" + name + ".lang",
                                langFilePath(kCtx, name)));
    ASSERT_TRUE(writeBytes(langFilePath(kCtx, "big"), brokenAtItsEnd()));
    ASSERT_TRUE(writeBytes(langIndexPath(kCtx), "big"));
    ASSERT_TRUE(QDir().mkpath(wd.file("plugins")));
    QElapsedTimer wall;
    wall.start();
    const double start = cpuSeconds();
    MainWindow window;
    window.setRelaunch([](const std::string &) { return false; });
    std::vector<const char *> argv = {"Tessel"};
    window.init(AppArgs(int(argv.size()), argv.data(), true));
    const double started = cpuSeconds();
    const qint64 startedWall = wall.elapsed();
    for (int i = 0; i < 1000; ++i)
        ASSERT_FALSE(window.tr_(QStringLiteral("main/menu/genPkg")).isEmpty());
    const double looked = cpuSeconds();
    const qint64 lookedWall = wall.elapsed() - startedWall;
    EXPECT_LT(looked - start, cpuBudget());
    // English answers where the current language cannot.
    EXPECT_EQ(window.tr_(QStringLiteral("main/menu/genPkg")),
              LangStore().find(QStringLiteral("Tessel"), QStringLiteral("main/menu/genPkg")));
    EXPECT_EQ(window.langStore().failedPath(kCtx), langFilePath(kCtx, "big"));
    std::printf("broken current language: start-up %.3f s (%lld ms wall), 1000 lookups %.3f s "
                "(%lld ms wall) of processor time\n",
                started - start, startedWall, looked - started, lookedWall);
}

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

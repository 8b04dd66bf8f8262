#include "common/platform/platform.h"
#include "common/utils.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

TEST(FormatString, FormatsLikePrintf)
{
    EXPECT_EQ(formatString("%s-%d-%04x", "ab", -7, 255u), "ab--7-00ff");
    EXPECT_EQ(formatString("%s", ""), "");
    const std::string longText(5000, 'x');
    EXPECT_EQ(formatString("<%s>", longText.c_str()), "<" + longText + ">");
}

TEST(Timestamp, FixedFormats)
{
    Platform::LocalTime t;
    t.year = 2024; t.month = 3; t.day = 5;
    t.hour = 7; t.minute = 8; t.second = 9; t.millisecond = 42;
    EXPECT_EQ(formatTimestamp(t, true), "2024-03-05 07:08:09.042");
    EXPECT_EQ(formatTimestamp(t, false), "2024-03-05 07:08:09");
    t.millisecond = 9;
    EXPECT_EQ(formatTimestamp(t, true), "2024-03-05 07:08:09.009");
}

TEST(Timestamp, NowHasTheRightShape)
{
    const QString withMs = QString::fromStdString(timestamp(true));
    const QString without = QString::fromStdString(timestamp(false));
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")
                    .match(withMs).hasMatch()) << withMs.toStdString();
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                    .match(without).hasMatch()) << without.toStdString();
}

TEST(CurrentDirectory, MatchesTheProcessFolder)
{
    EXPECT_EQ(QString::fromStdString(currentDirectory()),
              QDir::current().absolutePath());
}

TEST(Files, WriteCreatesFoldersAndReadReturnsTheBytes)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/a/b/c/file.bin";
    const QByteArray bytes("\x00\x01\xff text", 9);
    ASSERT_TRUE(writeFile(path, [&] { return bytes; }));
    QByteArray back;
    ASSERT_TRUE(readFile(path, back));
    EXPECT_EQ(back, bytes);

    // Without a content function the file is created, or emptied.
    ASSERT_TRUE(writeFile(path));
    ASSERT_TRUE(readFile(path, back));
    EXPECT_TRUE(back.isEmpty());
    ASSERT_TRUE(writeFile(tmp.path() + "/new/empty.txt"));
    EXPECT_TRUE(QFile::exists(tmp.path() + "/new/empty.txt"));

    EXPECT_FALSE(readFile(tmp.path() + "/missing", back));
    EXPECT_FALSE(writeFile(tmp.path() + "/a")); // a folder cannot be opened as a file
    EXPECT_TRUE(makePath(tmp.path() + "/x/y/z"));
    EXPECT_TRUE(QDir(tmp.path() + "/x/y/z").exists());
}

// A write that cannot reach the disk (here: past the file size limit, as on a full disk) fails
// and leaves the old file whole. The error shows only at the flush, after every write() took
// its bytes into the buffer.
TEST(Files, FailedWriteReportsFailureAndKeepsTheOldFile)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/index.config";
    ASSERT_TRUE(writeFile(path, [] { return QByteArray("zh"); }));
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &previous), 0);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeFile(path, [] { return QByteArray(5000, 'x'); });
    setrlimit(RLIMIT_FSIZE, &old);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_FALSE(written);
    QByteArray back;
    ASSERT_TRUE(readFile(path, back));
    EXPECT_EQ(back, QByteArray("zh"));
    // No temporary file is left behind.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{"index.config"});

    // A FIFO or a folder is never replaced.
    const QString fifo = tmp.path() + "/fifo";
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(writeFile(fifo, [] { return QByteArray("x"); }));
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
}

class WalkDir : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = tmp.path();
        for (const char *f : {"b.txt", "a.txt", "zz/inner.txt", "a_dir/x.txt", "t_dir/y.log"})
            ASSERT_TRUE(writeFile(root + "/" + f));
    }
    QStringList walk(bool recursive, const QStringList &filters, int stopAfter = -1,
                     bool *result = nullptr)
    {
        QStringList seen;
        const bool ok = walkDir(root, [&](const QString &path, bool isFolder) {
            seen << QDir(root).relativeFilePath(path) + (isFolder ? "/" : "");
            return stopAfter < 0 || seen.size() < stopAfter;
        }, recursive, filters);
        if (result)
            *result = ok;
        return seen;
    }
    QTemporaryDir tmp;
    QString root;
};

TEST_F(WalkDir, FoldersFirstThenByNameAndRecursive)
{
    bool ok = false;
    EXPECT_EQ(walk(true, {}, -1, &ok),
              QStringList({"a_dir/", "a_dir/x.txt", "t_dir/", "t_dir/y.log", "zz/",
                           "zz/inner.txt", "a.txt", "b.txt"}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(walk(false, {}), QStringList({"a_dir/", "t_dir/", "zz/", "a.txt", "b.txt"}));
}

TEST_F(WalkDir, FiltersApplyToFoldersToo)
{
    // "zz" does not match, so its files are never reached; "a_dir" matches "a*" and is
    // entered, but its "x.txt" does not.
    EXPECT_EQ(walk(true, {"a*"}), QStringList({"a_dir/", "a.txt"}));
    EXPECT_EQ(walk(true, {"*.txt"}), QStringList({"a.txt", "b.txt"}));
}

TEST_F(WalkDir, VisitorStopsTheWalk)
{
    bool ok = true;
    EXPECT_EQ(walk(true, {}, 1, &ok), QStringList({"a_dir/"}));
    EXPECT_FALSE(ok);
}

TEST(WalkDirMissing, ReturnsFalseWithoutVisiting)
{
    int calls = 0;
    EXPECT_FALSE(walkDir("/nonexistent/tessel/folder", [&](const QString &, bool) {
        ++calls;
        return true;
    }));
    EXPECT_EQ(calls, 0);
}

TEST(SplitOptions, SplitsAtBlanks)
{
    EXPECT_EQ(splitOptions("-c Deltamaker -mutex 0 -x 5"),
              QStringList({"-c", "Deltamaker", "-mutex", "0", "-x", "5"}));
    EXPECT_EQ(splitOptions("-c my tool"), QStringList({"-c", "my", "tool"}));
    EXPECT_TRUE(splitOptions("").isEmpty());
}

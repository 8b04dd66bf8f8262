// SysLogFile line format, separators and renaming.
#include "widgetkit/sys_log_file.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
const char kTime[] = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}";
} // namespace

TEST(KitLogFile, LinesCarryTimeAndTag)
{
    QTemporaryDir dir;
    SysLogFile log;
    const QString path = dir.path() + "/logs/deep/build.log";
    ASSERT_TRUE(log.openLog(path));
    EXPECT_TRUE(log.writeLine(0, "debug %d", 1));
    EXPECT_TRUE(log.writeLine(1, "error %s", "two"));
    EXPECT_TRUE(log.writeLine(2, "warn"));
    EXPECT_TRUE(log.writeLine(3, "info %.1f", 2.5));
    EXPECT_TRUE(log.writeInfo("short %s", "cut"));
    EXPECT_TRUE(log.writeLine(3, "%s", "升级"));
    EXPECT_FALSE(log.writeLine(4, "unknown level"));
    EXPECT_FALSE(log.writeLine(-1, "unknown level"));

    const QString text = QString::fromUtf8(readAll(path));
    const QString t = kTime;
    const QRegularExpression re("^" + t + "   \\[DBG\\]   debug 1\n" + t + "   \\[ERR\\]   error two\n" + t
                                + "   \\[WAR\\]   warn\n" + t + "   \\[INF\\]   info 2.5\n" + t
                                + "   \\[INF\\]   short cut\n" + t + "   \\[INF\\]   升级\n$");
    EXPECT_TRUE(re.match(text).hasMatch()) << qPrintable(text);
}

TEST(KitLogFile, OpeningTruncates)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/a.log";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old contents\n");
    }
    SysLogFile log;
    ASSERT_TRUE(log.openLog(path));
    log.close();
    EXPECT_EQ(readAll(path), QByteArray());
}

TEST(KitLogFile, ClosedFileWritesNothing)
{
    SysLogFile log;
    EXPECT_FALSE(log.writeLine(3, "x"));
    EXPECT_FALSE(log.writeInfo("x"));
    EXPECT_FALSE(log.writeSeparator());
    QTemporaryDir dir;
    ASSERT_TRUE(log.openLog(dir.path() + "/c.log"));
    log.close();
    EXPECT_FALSE(log.writeLine(3, "x"));
    EXPECT_EQ(readAll(dir.path() + "/c.log"), QByteArray());
}

TEST(KitLogFile, Separators)
{
    QTemporaryDir dir;
    SysLogFile log;
    ASSERT_TRUE(log.openLog(dir.path() + "/s.log"));
    EXPECT_TRUE(log.writeSeparator());
    EXPECT_TRUE(log.writeSeparator("=== next ==="));
    log.close();
    EXPECT_EQ(readAll(dir.path() + "/s.log"), QByteArray("\n---------seperate line---------\n\n=== next ===\n"));
}

TEST(KitLogFile, RenameKeepsTheSuffixAndAppends)
{
    QTemporaryDir dir;
    SysLogFile log;
    ASSERT_TRUE(log.openLog(dir.path() + "/pending.txt"));
    ASSERT_TRUE(log.writeInfo("before"));
    ASSERT_TRUE(log.renameLog("20240305_070809"));
    EXPECT_FALSE(QFile::exists(dir.path() + "/pending.txt"));
    EXPECT_EQ(log.fileName(), dir.path() + "/20240305_070809.txt");
    ASSERT_TRUE(log.writeInfo("after"));
    const QByteArray text = readAll(dir.path() + "/20240305_070809.txt");
    EXPECT_TRUE(text.contains("before\n"));
    EXPECT_TRUE(text.contains("after\n"));
}

TEST(KitLogFile, FailedRenameKeepsLogging)
{
    QTemporaryDir dir;
    {
        QFile taken(dir.path() + "/taken.log");
        ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    }
    SysLogFile log;
    ASSERT_TRUE(log.openLog(dir.path() + "/run.log"));
    ASSERT_TRUE(log.writeInfo("one"));
    EXPECT_FALSE(log.renameLog("taken"));
    EXPECT_TRUE(log.isOpen());
    EXPECT_TRUE(log.writeInfo("two"));
    const QByteArray text = readAll(dir.path() + "/run.log");
    EXPECT_TRUE(text.contains("one\n"));
    EXPECT_TRUE(text.contains("two\n"));
    EXPECT_EQ(readAll(dir.path() + "/taken.log"), QByteArray());
}

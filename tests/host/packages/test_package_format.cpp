#include "tests/host/packages/package_test_util.h"

#include <gtest/gtest.h>

using namespace Packages;
using PackageTest::int32le;
using PackageTest::rawEntry;

namespace {

QString failureKey(const QByteArray &package)
{
    QVector<PackageEntry> entries;
    PackageMessage error;
    if (parsePackage(package, entries, error))
        return QStringLiteral("ok");
    EXPECT_EQ(error.level, PackageMessage::Error);
    return error.key;
}

} // namespace

TEST(PackageFormat, SingleSmallFileIsSixteenExactBytes)
{
    QByteArray package;
    ASSERT_TRUE(appendEntry(package, "a.txt", "abc"));
    EXPECT_EQ(package.toHex(' '), QByteArray("05 00 00 00 61 2e 74 78 74 03 00 00 00 61 62 63"));

    QVector<PackageEntry> entries;
    PackageMessage error;
    ASSERT_TRUE(parsePackage(package, entries, error));
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].path, "a.txt");
    EXPECT_EQ(entries[0].offset, 0);
    EXPECT_EQ(entries[0].dataOffset, 13);
    EXPECT_EQ(entries[0].dataSize, 3);
}

TEST(PackageFormat, RoundTripOfNestedAndChinesePaths)
{
    const QVector<QPair<QString, QByteArray>> files = {
        {"plugins/Tool/Tool.so", QByteArray(1000, '\x7f')},
        {QStringLiteral("docs/工具/说明.txt"), "manual"},
        {"config/Tool/index.config", ""},
        {"top.bin", QByteArray("\0\1\2", 3)},
    };
    const QByteArray package = PackageTest::package(files);
    qint64 expectedSize = 0;
    QVector<PackageEntry> entries;
    PackageMessage error;
    ASSERT_TRUE(parsePackage(package, entries, error)) << error.key.toStdString();
    ASSERT_EQ(entries.size(), files.size());
    for (int i = 0; i < files.size(); ++i) {
        EXPECT_EQ(entries[i].path, files[i].first);
        EXPECT_EQ(package.mid(entries[i].dataOffset, entries[i].dataSize), files[i].second);
        EXPECT_EQ(entries[i].offset, expectedSize);
        expectedSize += 8 + entries[i].rawPath.size() + files[i].second.size();
    }
    EXPECT_EQ(package.size(), expectedSize);
    // GBK bytes of the Chinese folder and name; ASCII stays as it is.
    EXPECT_EQ(entries[1].rawPath.toHex(' '),
              QByteArray("64 6f 63 73 2f b9 a4 be df 2f cb b5 c3 f7 2e 74 78 74"));
    EXPECT_EQ(entries[0].rawPath, QByteArray("plugins/Tool/Tool.so"));
}

TEST(PackageFormat, PathsOutsideGbkOrNotPlainAreRefused)
{
    QByteArray raw;
    EXPECT_TRUE(encodePath(QStringLiteral("插件/a.so"), raw));
    EXPECT_FALSE(encodePath(QStringLiteral("emoji-\U0001F600.so"), raw));
    QString text;
    EXPECT_FALSE(decodePath(QByteArray("\x81", 1), text)); // lead byte without its trail

    for (const char *bad : {"", "/etc/passwd", "../x", "a/../../x", "a/..", "..", "a\\b", "a//b",
                            "./a", "a/", "a/./b", "tab\tname"})
        EXPECT_FALSE(isPlainRelativePath(QLatin1String(bad))) << bad;
    EXPECT_TRUE(isPlainRelativePath(QStringLiteral("plugins/a..b/.hidden")));

    QString rel;
    EXPECT_TRUE(relativeToWorkDir("/w/d/plugins/a.so", "/w/d", rel));
    EXPECT_EQ(rel, "plugins/a.so");
    EXPECT_FALSE(relativeToWorkDir("/w/d2/a.so", "/w/d", rel));
    EXPECT_FALSE(relativeToWorkDir("/w/d/../x", "/w/d", rel));
    EXPECT_FALSE(relativeToWorkDir("/w/d", "/w/d", rel));
}

TEST(PackageFormat, HostileEntriesFailWithTheirMessage)
{
    const QByteArray good = rawEntry("a.txt", "abc");
    EXPECT_EQ(failureKey(QByteArray()), "importPkg/readFileHeaderFailed");
    EXPECT_EQ(failureKey(good), "ok");

    // Lengths: negative, larger than what is left, the largest int.
    EXPECT_EQ(failureKey(int32le(-1) + "a.txt" + int32le(3) + "abc"), "importPkg/badLengthFmt");
    EXPECT_EQ(failureKey(int32le(5) + "a.txt" + int32le(-3) + "abc"), "importPkg/badLengthFmt");
    EXPECT_EQ(failureKey(int32le(0x7fffffff) + "a.txt"), "importPkg/badLengthFmt");
    EXPECT_EQ(failureKey(int32le(5) + "a.txt" + int32le(0x7fffffff) + "abc"),
              "importPkg/badLengthFmt");
    EXPECT_EQ(failureKey(good + int32le(5) + "a.txt" + int32le(4) + "abc"),
              "importPkg/badLengthFmt");
    // The data length is missing entirely, or cut short.
    EXPECT_EQ(failureKey(int32le(5) + "a.txt"), "importPkg/readFileDataHeaderFailFmt");
    EXPECT_EQ(failureKey(int32le(5) + "a.txt" + QByteArray(2, '\0')), "importPkg/entryTruncatedFmt");

    // Paths that would leave the working folder, or are not plain.
    const QByteArray escapes[] = {"/etc/passwd", "../x", "plugins/../../x", "a\\b",
                                  QByteArray("a\0b", 3), "", "plugins/", "\x81"};
    for (const QByteArray &path : escapes) {
        QVector<PackageEntry> entries;
        PackageMessage error;
        EXPECT_FALSE(parsePackage(good + rawEntry(path, "x"), entries, error)) << path.toHex().constData();
        EXPECT_EQ(error.key, "importPkg/unsafePathFmt") << path.toHex().constData();
        EXPECT_EQ(entries.size(), 1); // the entries before the fault
    }

    // The message arguments: offset of the bad entry, the length, the bytes left after it.
    QVector<PackageEntry> entries;
    PackageMessage error;
    ASSERT_FALSE(parsePackage(good + int32le(100) + "ab", entries, error));
    EXPECT_EQ(error.args, (QVector<QVariant>{16, 100, 2}));
}

TEST(PackageFormat, EveryCutInsideAnEntryFails)
{
    const QByteArray package = PackageTest::package(
        {{"a.txt", "abc"}, {"dir/b.bin", QByteArray(5, 'b')}, {"c", ""}});
    const QVector<int> boundaries = {16, 16 + 8 + 9 + 5};
    for (int cut = 0; cut < package.size(); ++cut) {
        QVector<PackageEntry> entries;
        PackageMessage error;
        const bool ok = parsePackage(package.left(cut), entries, error);
        // Without a header or count, a cut between entries leaves a shorter valid package.
        EXPECT_EQ(ok, boundaries.contains(cut)) << "cut at " << cut;
        if (!ok) {
            EXPECT_FALSE(error.key.isEmpty());
        }
    }
}

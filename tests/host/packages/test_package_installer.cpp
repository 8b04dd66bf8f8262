#include "host/packages/package_installer.h"
#include "tests/host/packages/package_test_util.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Packages;
using PackageTest::int32le;
using PackageTest::rawEntry;
using PackageTest::snapshot;

namespace {

// A host with plug-ins that exist only as library files; unloading deletes the file, as the
// main window does.
class FakeHost : public IPluginHost
{
public:
    bool findPlugin(const QString &key, QString &name, QString &library) override
    {
        if (!loaded.contains(key))
            return false;
        name = QStringLiteral("Name of ") + key;
        library = loaded[key];
        return true;
    }
    bool unloadPlugin(const QString &key) override
    {
        calls << "unload " + key;
        if (refuseUnload)
            return false;
        QFile::remove(loaded.take(key));
        return true;
    }
    void loadNewPlugins() override
    {
        calls << QStringLiteral("load");
        for (const QString &key : known.keys())
            if (!loaded.contains(key) && QFileInfo::exists(known[key]))
                loaded[key] = known[key];
    }
    QMap<QString, QString> loaded, known;
    QStringList calls;
    bool refuseUnload = false;
};

class Installer : public ::testing::Test
{
protected:
    // Installs the bytes through a package file kept outside the working folder.
    bool install(const QByteArray &package, IPluginHost *host = nullptr)
    {
        const QString file = outside.path() + QStringLiteral("/p.plug");
        EXPECT_TRUE(writeBytes(file, package));
        PackageInstaller installer(wd.path(), host, [this](const PackageMessage &m) {
            log << QStringLiteral("%1 %2").arg(m.level == PackageMessage::Info ? "INFO" : "ERROR", m.key);
            args << (m.args.isEmpty() ? QString() : m.args[0].toString());
        });
        return installer.installPackage(file);
    }

    QStringList keys(const char *level) const
    {
        QStringList out;
        for (const QString &line : log)
            if (line.startsWith(QLatin1String(level)))
                out << line.section(' ', 1);
        return out;
    }

    ScopedWorkDir wd;
    QTemporaryDir outside;
    QStringList log, args;
};

} // namespace

TEST_F(Installer, WritesEveryEntryLaterOnesWinningAndEmptyFilesToo)
{
    ASSERT_TRUE(writeBytes(wd.file("plugins/keep.txt"), "untouched"));
    const QByteArray package = PackageTest::package({
        {"a.txt", "first"},
        {QStringLiteral("docs/工具/说明.txt"), "manual"},
        {"plugins/Tool/Tool.so", QByteArray(3000, 't')},
        {"empty.cfg", ""},
        {"a.txt", "second"},
    });
    ASSERT_TRUE(install(package)) << log.join('\n').toStdString();
    EXPECT_EQ(readBytes(wd.file("a.txt")), "second");
    EXPECT_EQ(readBytes(wd.file(QStringLiteral("docs/工具/说明.txt"))), "manual");
    EXPECT_EQ(readBytes(wd.file("plugins/Tool/Tool.so")), QByteArray(3000, 't'));
    EXPECT_TRUE(QFileInfo(wd.file("empty.cfg")).isFile());
    EXPECT_EQ(QFileInfo(wd.file("empty.cfg")).size(), 0);
    EXPECT_EQ(readBytes(wd.file("plugins/keep.txt")), "untouched");
    EXPECT_EQ(keys("ERROR"), QStringList());
    EXPECT_EQ(keys("INFO").count("importPkg/findFileFmt"), 5);
    EXPECT_EQ(keys("INFO").count("importPkg/releaseFileSuccessFmt"), 5);
    EXPECT_EQ(args[0], "a.txt");
    EXPECT_EQ(args[1], wd.file("a.txt"));
    // No temporary or backup names are left.
    EXPECT_EQ(QDir(wd.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.txt", "empty.cfg"}));
}

TEST_F(Installer, HostilePackagesChangeNothing)
{
    // A filled working folder, a folder outside it and links that lead there.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(writeBytes(elsewhere.path() + "/victim.txt", "victim"));
    ASSERT_TRUE(writeBytes(wd.file("plugins/Tool/Tool.so"), "old library"));
    ASSERT_TRUE(writeBytes(wd.file("a.txt"), "old a"));
    ASSERT_EQ(::symlink(elsewhere.path().toUtf8().constData(), wd.file("out").toUtf8().constData()), 0);
    ASSERT_EQ(::symlink((elsewhere.path() + "/victim.txt").toUtf8().constData(),
                        wd.file("victim-link").toUtf8().constData()), 0);
    ASSERT_EQ(::symlink("/nonexistent/dangling", wd.file("dangling").toUtf8().constData()), 0);
    const auto before = snapshot(wd.path());
    const auto beforeOutside = snapshot(elsewhere.path());

    const QByteArray good = rawEntry("a.txt", "new a") + rawEntry("plugins/Tool/Tool.so", "new");
    const struct {
        QByteArray package;
        const char *key;
    } cases[] = {
        {QByteArray(), "importPkg/readFileHeaderFailed"},
        {good + rawEntry("/etc/passwd", "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry("../escaped.txt", "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry("plugins/../../escaped.txt", "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry("plugins\\x.txt", "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry(QByteArray("a.txt\0.so", 9), "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry("out/victim.txt", "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry("out/new/file.txt", "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry("victim-link", "x"), "importPkg/unsafePathFmt"},
        {good + rawEntry("dangling", "x"), "importPkg/unsafePathFmt"},
        {good + int32le(-5) + "abcde", "importPkg/badLengthFmt"},
        {good + int32le(5) + "b.txt" + int32le(-1), "importPkg/badLengthFmt"},
        {good + int32le(5) + "b.txt" + int32le(0x7fffffff) + "xyz", "importPkg/badLengthFmt"},
        {good + int32le(0x7fffffff), "importPkg/badLengthFmt"},
        {good + int32le(5) + "b.txt", "importPkg/readFileDataHeaderFailFmt"},
        {good + "\x05\x00", "importPkg/entryTruncatedFmt"},
    };
    for (const auto &c : cases) {
        log.clear();
        EXPECT_FALSE(install(c.package)) << c.key;
        EXPECT_EQ(log, QStringList{QStringLiteral("ERROR ") + c.key}) << c.key;
        EXPECT_EQ(snapshot(wd.path()), before) << c.key;
        EXPECT_EQ(snapshot(elsewhere.path()), beforeOutside) << c.key;
    }

    // Every cut inside an entry of a valid package.
    for (int cut = 0; cut < good.size(); ++cut) {
        if (cut == 18)
            continue; // between the entries: a valid package of the first
        log.clear();
        EXPECT_FALSE(install(good.left(cut))) << cut;
        EXPECT_EQ(keys("INFO"), QStringList()) << cut;
        EXPECT_EQ(snapshot(wd.path()), before) << cut;
    }
}

TEST_F(Installer, FailureAfterAnOverwriteRestoresTheOldBytesAndRemovesCreatedFiles)
{
    ASSERT_TRUE(writeBytes(wd.file("config/old.cfg"), "old content"));
    ASSERT_TRUE(QFile::setPermissions(wd.file("config/old.cfg"),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    ASSERT_TRUE(QDir().mkpath(wd.file("taken/folder")));
    const auto before = snapshot(wd.path());

    const QByteArray package = PackageTest::package({
        {"config/old.cfg", "new content"},
        {"fresh/deep/new.txt", "created"},
        {"config/old.cfg", "newer content"},
        {"taken/folder", "cannot replace a folder"},
        {"never.txt", "not reached"},
    });
    EXPECT_FALSE(install(package));
    EXPECT_EQ(snapshot(wd.path()), before);
    EXPECT_EQ(readBytes(wd.file("config/old.cfg")), "old content");
    EXPECT_FALSE(QFileInfo::exists(wd.file("fresh")));
    EXPECT_FALSE(QFileInfo::exists(wd.file("never.txt")));
    EXPECT_EQ(log, (QStringList{
                       "INFO importPkg/findFileFmt", "INFO importPkg/releaseFileSuccessFmt",
                       "INFO importPkg/findFileFmt", "INFO importPkg/releaseFileSuccessFmt",
                       "INFO importPkg/findFileFmt", "INFO importPkg/releaseFileSuccessFmt",
                       "INFO importPkg/findFileFmt", "ERROR importPkg/createFileFailFmt",
                       "INFO importPkg/clearInstalledFileFmt", "INFO importPkg/restoreFileFmt",
                   }));
    EXPECT_EQ(args[7], wd.file("taken/folder"));
    EXPECT_EQ(args[8], wd.file("fresh/deep/new.txt"));
    EXPECT_EQ(args[9], wd.file("config/old.cfg"));
}

TEST_F(Installer, SecondEntryThatCannotBeCreatedRemovesTheFirstFile)
{
    ASSERT_TRUE(QDir().mkpath(wd.file("b")));
    EXPECT_FALSE(install(PackageTest::package({{"a.txt", "a"}, {"b", "b"}})));
    EXPECT_FALSE(QFileInfo::exists(wd.file("a.txt")));
    EXPECT_TRUE(keys("INFO").contains("importPkg/clearInstalledFileFmt"));
    EXPECT_EQ(args.last(), wd.file("a.txt"));
}

TEST_F(Installer, LinksInsideTheWorkingFolderAreFollowed)
{
    ASSERT_TRUE(writeBytes(wd.file("real/target.txt"), "old"));
    ASSERT_EQ(::symlink(wd.file("real").toUtf8().constData(), wd.file("alias").toUtf8().constData()), 0);
    ASSERT_TRUE(install(PackageTest::package({{"alias/target.txt", "new"}})));
    EXPECT_EQ(readBytes(wd.file("real/target.txt")), "new");
    EXPECT_TRUE(QFileInfo(wd.file("alias")).isSymLink());
}

TEST_F(Installer, UnloadsLoadedPluginsAndLoadsThemAgainWhenTheInstallFails)
{
    FakeHost host;
    ASSERT_TRUE(writeBytes(wd.file("plugins/Tool/Tool.so"), "old library"));
    host.loaded["Tool"] = host.known["Tool"] = wd.file("plugins/Tool/Tool.so");
    ASSERT_TRUE(QDir().mkpath(wd.file("blocked")));
    const auto before = snapshot(wd.path());

    // Unloaded, written, then undone: the library is back and loaded again.
    EXPECT_FALSE(install(PackageTest::package({{"plugins/Tool/Tool.so", "new library"},
                                               {"plugins/Other/Other.so", "no such plug-in"},
                                               {"blocked", "x"}}),
                         &host));
    EXPECT_EQ(host.calls, (QStringList{"unload Tool", "load"}));
    EXPECT_EQ(snapshot(wd.path()), before);
    EXPECT_EQ(readBytes(wd.file("plugins/Tool/Tool.so")), "old library");
    EXPECT_TRUE(host.loaded.contains("Tool"));
    EXPECT_EQ(keys("INFO").count("importPkg/plugin/uninstall/successFmt"), 1);
    EXPECT_EQ(keys("INFO").last(), "importPkg/plugin/reloadFmt");
    EXPECT_EQ(args.last(), "Name of Tool");

    // Success: the new library is in place, unloaded; the caller loads it.
    log.clear();
    host.calls.clear();
    EXPECT_TRUE(install(PackageTest::package({{"plugins/Tool/Tool.so", "new library"}}), &host));
    EXPECT_EQ(host.calls, QStringList{"unload Tool"});
    EXPECT_EQ(readBytes(wd.file("plugins/Tool/Tool.so")), "new library");
    EXPECT_EQ(QDir(wd.file("plugins/Tool")).entryList(QDir::Files | QDir::Hidden), QStringList{"Tool.so"});

    // Files elsewhere, and names of no loaded plug-in, unload nothing; a refused unload stops.
    host.loaded["Tool"] = wd.file("plugins/Tool/Tool.so");
    host.calls.clear();
    EXPECT_TRUE(install(PackageTest::package({{"Tool.so", "x"}, {"plugins/Tool/other.txt", "y"},
                                              {"pluginsTool.so", "z"}}),
                        &host));
    EXPECT_EQ(host.calls, QStringList());
    host.refuseUnload = true;
    log.clear();
    const auto beforeRefusal = snapshot(wd.path());
    EXPECT_FALSE(install(PackageTest::package({{"plugins/Tool/Tool.dat", "x"}}), &host));
    EXPECT_EQ(keys("ERROR"), QStringList{"importPkg/plugin/uninstall/failFmt"});
    EXPECT_EQ(snapshot(wd.path()), beforeRefusal);
}

TEST_F(Installer, UnreadablePackageFile)
{
    PackageInstaller installer(wd.path(), nullptr, [this](const PackageMessage &m) { log << m.key; });
    EXPECT_FALSE(installer.installPackage(wd.file("missing.plug")));
    EXPECT_FALSE(installer.installPackage(wd.path()));
    EXPECT_EQ(log, (QStringList{"importPkg/plugin/canNotOpen", "importPkg/notAFileFmt"}));
}

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Makes the file immutable (root on file systems that have the flag); false when that cannot be.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
}

} // namespace

TEST_F(Installer, ReplacedFilesKeepTheirMode)
{
    const struct {
        const char *path;
        mode_t mode;
    } files[] = {{"r444.txt", 0444}, {"bin/r555", 0555}, {"r400.cfg", 0400}, {"r640.cfg", 0640}, {"r4755", 04755}};
    QVector<QPair<QString, QByteArray>> entries;
    for (const auto &f : files) {
        ASSERT_TRUE(writeBytes(wd.file(f.path), "old"));
        ASSERT_EQ(::chmod(QFile::encodeName(wd.file(f.path)).constData(), f.mode), 0);
        entries.push_back({f.path, "new"});
    }
    entries.push_back({"fresh.txt", "new"});
    ASSERT_TRUE(install(PackageTest::package(entries))) << log.join('\n').toStdString();
    for (const auto &f : files) {
        EXPECT_EQ(readBytes(wd.file(f.path)), "new") << f.path;
        EXPECT_EQ(modeOf(wd.file(f.path)), f.mode) << f.path;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(wd.file("fresh.txt")), 0666 & ~mask);
}

TEST_F(Installer, AFileThatCannotBeReplacedFailsTheInstallationAndStaysAsItWas)
{
    ASSERT_TRUE(writeBytes(wd.file("a.txt"), "old a"));
    ASSERT_TRUE(writeBytes(wd.file("docs/readme.txt"), "old readme"));
    const auto before = snapshot(wd.path());
    // An immutable file where the file system and the user allow it; else a folder the user
    // cannot write in (root may write anywhere, so then this case cannot be made).
    const bool immutable = setImmutable(wd.file("docs/readme.txt"), true);
    if (!immutable) {
        if (::geteuid() == 0)
            GTEST_SKIP() << "neither the immutable flag nor folder permissions can stop root here";
        ASSERT_TRUE(QFile::setPermissions(wd.file("docs"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    const bool ok = install(PackageTest::package({{"a.txt", "new a"}, {"docs/readme.txt", "new"}, {"b.txt", "b"}}));
    if (immutable)
        setImmutable(wd.file("docs/readme.txt"), false);
    else
        QFile::setPermissions(wd.file("docs"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(ok);
    EXPECT_EQ(snapshot(wd.path()), before);
    EXPECT_EQ(readBytes(wd.file("docs/readme.txt")), "old readme");
    EXPECT_EQ(keys("ERROR"), QStringList{immutable ? "importPkg/writeFileFailFmt" : "importPkg/backupFailFmt"});
    EXPECT_FALSE(log.join('\n').contains("restoreFileFailFmt"));
    // The file that was replaced comes back.
    EXPECT_TRUE(keys("INFO").contains("importPkg/restoreFileFmt"));
}

TEST_F(Installer, NoBackupOutlivesAnInstallation)
{
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(writeBytes(wd.file(QStringLiteral("f%1.txt").arg(i)), "old"));
    QVector<QPair<QString, QByteArray>> entries;
    for (int i = 0; i < 30; ++i)
        entries.push_back({QStringLiteral("f%1.txt").arg(i), "new"});
    ASSERT_TRUE(install(PackageTest::package(entries)));
    ASSERT_TRUE(install(PackageTest::package(entries)));
    entries.push_back({"f0.txt/x", "cannot"});
    EXPECT_FALSE(install(PackageTest::package(entries)));
    EXPECT_EQ(QDir(wd.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 30);
}

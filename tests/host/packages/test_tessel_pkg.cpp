// The command-line program, run as a user would, in temporary folders.
#include "tests/host/packages/package_test_util.h"
#include "tests/support/test_paths.h"

#include "widgetkit/sys_xml_document.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct PkgRun {
    int code = -1;
    QString out, err;
};

PkgRun tesselPkg(const QStringList &args, const QString &workDir)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(TestPaths::binDir() + QStringLiteral("/tessel-pkg"), args);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// What the process has read so far (0 when it is gone).
qint64 bytesRead(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            return line.mid(7).toLongLong();
    }
    return 0;
}

// Whether `text` holds nothing a terminal would act on: no control character but the line ends,
// no C1 control. (Bytes that are not UTF-8 cannot come out: every line is written from Qt text.)
bool isClean(const QString &text)
{
    for (const QChar c : text)
        if ((c.unicode() < 0x20 && c != '\n') || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            return false;
    return true;
}

} // namespace

TEST(TesselPkg, PacksListsAndInstallsInAnotherFolder)
{
    QTemporaryDir root;
    const QString src = root.path() + "/src", dst = root.path() + "/dst";
    ASSERT_TRUE(writeBytes(src + "/plugins/Tool/Tool.so", QByteArray(5000, 'L')));
    ASSERT_TRUE(writeBytes(src + "/config/Tool/index.config", ""));
    ASSERT_TRUE(writeBytes(src + "/tool.tpl", "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<ROOT>\n"
                                              " <FILE VALUE=\"plugins/Tool/Tool.so\"/>\n"
                                              " <FILE VALUE=\"config/Tool/index.config\"/>\n</ROOT>\n"));
    ASSERT_TRUE(QDir().mkpath(dst));

    PkgRun r = tesselPkg({"-C", src, "pack", "tool.tpl", "../tool.plug"}, root.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "Package built\n");

    r = tesselPkg({"list", "tool.plug"}, root.path());
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "      5000  plugins/Tool/Tool.so\n         0  config/Tool/index.config\n");

    r = tesselPkg({"install", "../tool.plug"}, dst);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty());
    EXPECT_TRUE(r.out.endsWith("The plug-in was installed\n")) << r.out.toStdString();
    auto installed = PackageTest::snapshot(dst), packed = PackageTest::snapshot(src);
    packed.remove("tool.tpl");
    EXPECT_EQ(installed, packed);
}

TEST(TesselPkg, RefusalsAndUsage)
{
    QTemporaryDir root;
    ASSERT_TRUE(writeBytes(root.path() + "/keep.txt", "keep"));
    ASSERT_TRUE(writeBytes(root.path() + "/bad.plug",
                           PackageTest::rawEntry("ok.txt", "x") + PackageTest::rawEntry("../evil", "x")));
    ASSERT_TRUE(writeBytes(root.path() + "/cut.plug", PackageTest::rawEntry("ok.txt", "xyz").left(16)));
    const auto before = PackageTest::snapshot(root.path());

    PkgRun r = tesselPkg({"install", "bad.plug"}, root.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("tessel-pkg: Refused the path ../evil")) << r.err.toStdString();
    r = tesselPkg({"list", "cut.plug"}, root.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tessel-pkg: cut.plug: The entry at offset 0 gives the length 3, but only 2 bytes "
                     "follow; the package is damaged\n");
    r = tesselPkg({"list", "missing.plug"}, root.path());
    EXPECT_EQ(r.code, 1);
    r = tesselPkg({"pack", "missing.tpl", "x.plug"}, root.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tessel-pkg: " + root.path() + "/missing.tpl: no such file\n"
                     "tessel-pkg: The template could not be read\n");
    EXPECT_EQ(tesselPkg({"-C", root.path() + "/nowhere", "list", "bad.plug"}, root.path()).code, 1);
    EXPECT_EQ(PackageTest::snapshot(root.path()), before);

    for (const QStringList &args : {QStringList{}, QStringList{"unpack", "x"}, QStringList{"list"},
                                    QStringList{"pack", "a.tpl"}, QStringList{"-C"}}) {
        r = tesselPkg(args, root.path());
        EXPECT_EQ(r.code, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("usage: tessel-pkg")) << args.join(' ').toStdString();
    }
    r = tesselPkg({"--help"}, root.path());
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.startsWith("usage: tessel-pkg"));
}

TEST(TesselPkg, DevicesFifosAndLinksOutsideAreRefusedAtOnce)
{
    QTemporaryDir root;
    const QString wd = root.path() + "/wd";
    ASSERT_TRUE(writeBytes(root.path() + "/outside/secret.txt", "secret"));
    ASSERT_TRUE(writeBytes(wd + "/plugins/Tool/Tool.so", "library"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(wd + "/fifo").constData(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(wd + "/zero").constData()), 0);
    ASSERT_EQ(::symlink("../outside/secret.txt", QFile::encodeName(wd + "/leak").constData()), 0);
    ASSERT_EQ(::symlink("plugins/Tool/Tool.so", QFile::encodeName(wd + "/alias.so").constData()), 0);
    const auto tpl = [](const QByteArray &value) {
        return "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<ROOT>\n <FILE VALUE=\"plugins/Tool/Tool.so\"/>\n"
               " <FILE VALUE=\"" + value + "\"/>\n</ROOT>\n";
    };
    ASSERT_TRUE(writeBytes(wd + "/fifo.tpl", tpl("fifo")));
    ASSERT_TRUE(writeBytes(wd + "/zero.tpl", tpl("zero")));
    ASSERT_TRUE(writeBytes(wd + "/leak.tpl", tpl("leak")));
    ASSERT_TRUE(writeBytes(wd + "/alias.tpl", tpl("alias.so")));
    const auto before = PackageTest::snapshot(root.path());

    QElapsedTimer timer;
    timer.start();
    const struct {
        const char *name;
        const char *message;
    } refused[] = {
        {"fifo", " is not a regular file; folders, FIFOs and devices cannot be packed"},
        {"zero", " leads outside the working folder through a link"},
        {"leak", " leads outside the working folder through a link"},
    };
    for (const auto &c : refused) {
        const PkgRun r = tesselPkg({"pack", QString(c.name) + ".tpl", "out.plug"}, wd);
        EXPECT_EQ(r.code, 1) << c.name;
        EXPECT_TRUE(r.err.startsWith("tessel-pkg: " + wd + "/" + c.name + c.message)) << r.err.toStdString();
        EXPECT_TRUE(r.err.endsWith("tessel-pkg: The package could not be built\n")) << r.err.toStdString();
    }
    // The package named in place of a package file.
    for (const QString &package : {QStringLiteral("/dev/zero"), QStringLiteral("/dev/urandom"), wd + "/fifo",
                                   wd + "/zero"}) {
        const PkgRun r = tesselPkg({"install", package}, wd);
        EXPECT_EQ(r.code, 1) << package.toStdString();
        EXPECT_TRUE(r.err.contains("tessel-pkg: The package " + package + " is not a regular file"))
            << r.err.toStdString();
        const PkgRun l = tesselPkg({"list", package}, wd);
        EXPECT_EQ(l.code, 1) << package.toStdString();
    }
    EXPECT_LT(timer.elapsed(), 20000);
    EXPECT_EQ(PackageTest::snapshot(root.path()), before);

    // A link that stays inside is packed with the bytes it leads to.
    PkgRun r = tesselPkg({"pack", "alias.tpl", "alias.plug"}, wd);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    r = tesselPkg({"list", "alias.plug"}, wd);
    EXPECT_EQ(r.out, "         7  plugins/Tool/Tool.so\n         7  alias.so\n");
}

TEST(TesselPkg, TemplatesOverTheLimitsNameTheFileAndTheLimit)
{
    QTemporaryDir root;
    QByteArray many = "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<ROOT>\n";
    many += QByteArray(" <FILE VALUE=\"a.txt\"/>\n").repeated(SysXmlDocument::kMaxNodes);
    ASSERT_TRUE(writeBytes(root.path() + "/many.tpl", many + "</ROOT>\n"));
    const PkgRun r = tesselPkg({"pack", "many.tpl", "out.plug"}, root.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tessel-pkg: " + root.path() + "/many.tpl: more than 40000 elements (texts and comments "
                     "included), the limit (line 40001)\ntessel-pkg: The template could not be read\n");
}

TEST(TesselPkg, AnInterruptedPackLeavesNoFileBehind)
{
    QTemporaryDir root;
    QByteArray tpl = "<?xml version = \"1.0\" encoding = \"GBK\"?>\n<ROOT>\n";
    for (int i = 0; i < 3000; ++i) {
        const QByteArray name = "files/f" + QByteArray::number(i);
        ASSERT_TRUE(writeBytes(root.path() + "/" + name, QByteArray(8192, char('a' + i % 26))));
        tpl += " <FILE VALUE=\"" + name + "\"/>\n";
    }
    ASSERT_TRUE(writeBytes(root.path() + "/big.tpl", tpl + "</ROOT>\n"));
    ASSERT_TRUE(QDir().mkpath(root.path() + "/out"));
    int interrupted = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGINT, SIGTERM}) {
        QProcess process;
        process.setWorkingDirectory(root.path());
        process.start(TestPaths::binDir() + "/tessel-pkg", {"pack", "big.tpl", "out/big.plug"});
        ASSERT_TRUE(process.waitForStarted(10000));
        // Once the package is being written (its sources being read), the signal comes.
        while (process.state() == QProcess::Running && bytesRead(process.processId()) < (4 << 20))
            QThread::usleep(200);
        QDir out(root.path() + "/out");
        ::kill(pid_t(process.processId()), signal);
        if (process.state() != QProcess::NotRunning) {
            ASSERT_TRUE(process.waitForFinished(30000));
        }
        const QStringList left = out.entryList(QDir::Files | QDir::Hidden);
        if (process.exitStatus() == QProcess::CrashExit) {
            EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardError()).contains("Packing was interrupted"));
            EXPECT_EQ(left, QStringList());
            ++interrupted;
        } else {
            EXPECT_EQ(left, QStringList{"big.plug"}); // done before the signal came
        }
        QFile::remove(out.filePath("big.plug"));
    }
    EXPECT_GT(interrupted, 0);
}

// What reaches the terminal from packages, templates and the names of the files given has its
// control characters (C0, DEL, C1) and bytes that are not UTF-8 escaped; text stays text.
TEST(TesselPkg, HostileNamesReachTheTerminalEscaped)
{
    QTemporaryDir root;
    // A package named with an escape sequence, holding a path with another.
    const QString named = QStringLiteral("a\x1b[2J.plug");
    ASSERT_TRUE(writeBytes(root.path() + "/" + named,
                           PackageTest::rawEntry("ok.txt", "x") + PackageTest::rawEntry("b\x1b]0;x\x07\x7f", "x")));
    PkgRun r = tesselPkg({"list", named}, root.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith("tessel-pkg: a\\x1b[2J.plug: Refused the path b?]0;x??"))
        << r.err.toStdString();
    EXPECT_TRUE(isClean(r.err)) << r.err.toStdString();
    r = tesselPkg({"install", named}, root.path());
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.contains("a\\x1b[2J.plug")) << r.out.toStdString();
    EXPECT_TRUE(isClean(r.out + r.err)) << (r.out + r.err).toStdString();

    // Templates naming files with escape sequences and C1 controls, as characters and as
    // references, and with bytes that are not UTF-8 (read as U+FFFD).
    const QByteArray values[] = {"a\x1b[2J\xc2\x9b" "31m", "a&#x1b;[2J&#x9b;31m", "a\xc2\x9b" "31m",
                                 "a\xff\xfe"};
    for (const QByteArray &value : values) {
        SCOPED_TRACE(value.toHex().toStdString());
        ASSERT_TRUE(writeBytes(root.path() + "/hostile.tpl",
                               "<?xml version=\"1.0\"?>\n<ROOT><FILE VALUE=\"" + value + "\"/></ROOT>\n"));
        r = tesselPkg({"pack", "hostile.tpl", "out.plug"}, root.path());
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(isClean(r.out + r.err)) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(root.path() + "/out.plug"));
    }
    ASSERT_TRUE(writeBytes(root.path() + "/hostile.tpl",
                           "<?xml version=\"1.0\"?>\n<ROOT><FILE VALUE=\"a\x1b[2J\xc2\x9b" "31m\"/></ROOT>\n"));
    r = tesselPkg({"pack", "hostile.tpl", "out.plug"}, root.path());
    EXPECT_TRUE(r.err.contains("a\\x1b[2J\\xc2\\x9b31m")) << r.err.toStdString();

    // A Chinese path is listed as it is.
    ASSERT_TRUE(writeBytes(root.path() + "/cn.plug",
                           PackageTest::package({{QString::fromUtf8("插件/说明.txt"), "abc"}})));
    r = tesselPkg({"list", "cn.plug"}, root.path());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString::fromUtf8("         3  插件/说明.txt\n"));
}

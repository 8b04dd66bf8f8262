// The command-line program, run as a user would, in temporary folders.
#include "tests/host/packages/package_test_util.h"
#include "tests/support/test_paths.h"

#include <QProcess>

#include <gtest/gtest.h>

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
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
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
    EXPECT_EQ(r.err, "tessel-pkg: The template could not be read\n");
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

// End to end through the real bin/deltamaker.
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/package_verify.h"
#include "tests/support/process_run.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstring>
#include <random>
#include <vector>
#include <zlib.h>

namespace {

using CliRun = ProcessRun;

CliRun deltamaker(const QStringList &args, const QString &cwd = QString())
{
    return runProcess(TestPaths::binDir() + "/deltamaker", args, cwd);
}

struct Case {
    const char *package;
    int method;
    QStringList inputs; // every input option with its value
};

const std::vector<Case> &cases()
{
    static const std::vector<Case> all = {
        {"zn3150_m1.pkg", 1,
         {"--partition", "zn3150/partition.bin", "--boot", "zn3150/boot.bin", "--old", "zn3150/old.bin",
          "--new", "zn3150/new.bin", "--nv1", "zn3150/nv_usr.bin", "--nv2", "zn3150/nv_amt.bin"}},
        {"zn3150_m3.pkg", 3,
         {"--partition", "zn3150/partition.bin", "--old", "zn3150/old.bin", "--new", "zn3150/new.bin"}},
        {"klm4410_m0.pkg", 0,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--new", "klm4410/cz_new.bin"}},
        {"klm4410_m1.pkg", 1,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--old", "klm4410/diff_old.bin",
          "--new", "klm4410/diff_new.bin"}},
        {"klm4410_m2.pkg", 2,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--old", "klm4410/ab_old.bin",
          "--new", "klm4410/ab_new.bin"}},
        {"klm4410_m3.pkg", 3,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--old", "klm4410/diff_old.bin",
          "--new", "klm4410/diff_new.bin"}},
        {"klm4410_m4.pkg", 4,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--old", "klm4410/diff_old.bin",
          "--new", "klm4410/cz_new.bin"}},
    };
    return all;
}

class Cli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        const CliRun r = deltamaker({"samples", dir->path() + "/samples"});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    static QString samples() { return dir->path() + "/samples"; }
    static QTemporaryDir *dir;
};
QTemporaryDir *Cli::dir = nullptr;

TEST_F(Cli, SamplesListWhatWasWritten)
{
    for (const char *f : {"zn3150/partition.bin", "zn3150/boot.bin", "zn3150/old.bin", "zn3150/new.bin",
                          "zn3150/nv_usr.bin", "zn3150/nv_amt.bin", "klm4410/partition.bin", "klm4410/boot.bin",
                          "klm4410/diff_old.bin", "klm4410/diff_new.bin", "klm4410/cz_new.bin",
                          "klm4410/ab_old.bin", "klm4410/ab_new.bin", "README.txt"})
        EXPECT_TRUE(QFile::exists(samples() + "/" + f)) << f;
    const CliRun again = deltamaker({"samples", samples()});
    ASSERT_EQ(again.code, 0);
    EXPECT_TRUE(again.out.contains("zn3150/partition.bin"));
    EXPECT_TRUE(again.out.contains("klm4410/ab_new.bin"));
    // The samples are deterministic.
    QFile a(samples() + "/klm4410/diff_new.bin");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    const QByteArray first = a.readAll();
    EXPECT_EQ(first.size(), QFile(samples() + "/klm4410/cz_new.bin").size());
}

TEST_F(Cli, EveryMethodBuildsVerifiesAndShows)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.package);
        QStringList build = {"build", "--method", QString::number(c.method)};
        build << c.inputs << "--output" << c.package;
        const CliRun b = deltamaker(build, samples());
        ASSERT_EQ(b.code, 0) << b.out.toStdString() << b.err.toStdString();
        EXPECT_TRUE(b.out.contains("[INFO] Partition Init ok \n"));
        EXPECT_TRUE(b.out.contains("[INFO] package verified\n"));
        EXPECT_TRUE(b.out.contains("partsize check pass"));

        QStringList verify = {"verify", c.package};
        verify << c.inputs;
        const CliRun v = deltamaker(verify, samples());
        EXPECT_EQ(v.code, 0) << v.out.toStdString();
        EXPECT_TRUE(v.out.endsWith("package is sound\n"));

        const CliRun info = deltamaker({"info", c.package}, samples());
        EXPECT_EQ(info.code, 0) << info.out.toStdString();
        EXPECT_TRUE(info.out.contains("CRC-32:          0x"));
        EXPECT_TRUE(info.out.contains(" valid\n"));

        const CliRun json = deltamaker({"info", c.package, "--json"}, samples());
        ASSERT_EQ(json.code, 0);
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(json.out.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        EXPECT_TRUE(doc.object().value("crc32_valid").toBool());
        EXPECT_EQ(doc.object().value("size").toInt(), QFile(samples() + "/" + c.package).size());
    }
}

TEST_F(Cli, OptimisedPackagesAreSoundAndNoLarger)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.package);
        const QString optimised = c.package + QStringLiteral(".opt");
        QStringList build = {"build", "--optimize", "--method", QString::number(c.method)};
        build << c.inputs << "--output" << optimised;
        const CliRun b = deltamaker(build, samples());
        ASSERT_EQ(b.code, 0) << b.out.toStdString() << b.err.toStdString();
        EXPECT_TRUE(b.out.contains("[INFO] optimising encoder"));

        QStringList verify = {"verify", optimised};
        verify << c.inputs;
        const CliRun v = deltamaker(verify, samples());
        EXPECT_EQ(v.code, 0) << v.out.toStdString();
        EXPECT_TRUE(v.out.endsWith("package is sound\n"));

        QStringList plain = {"build", "--method", QString::number(c.method)};
        plain << c.inputs << "--output" << c.package;
        ASSERT_EQ(deltamaker(plain, samples()).code, 0);
        EXPECT_LE(QFile(samples() + "/" + optimised).size(),
                  QFile(samples() + "/" + c.package).size());
    }
}

TEST_F(Cli, FailuresGiveExitCode1)
{
    // A ZN3150 method without a layout, and a package checked against other inputs.
    const CliRun b = deltamaker({"build", "--method", "4", "--partition", "zn3150/partition.bin", "--new",
                              "zn3150/new.bin", "--output", "none.pkg"},
                             samples());
    EXPECT_EQ(b.code, 1);
    EXPECT_TRUE(b.out.contains("[ERROR] ZN3150 images cannot be built with method 4: ZN3150 takes methods 1 and 3\n"))
        << b.out.toStdString();
    EXPECT_FALSE(QFile::exists(samples() + "/none.pkg"));

    const CliRun m = deltamaker({"build", "--method", "1", "--partition", "klm4410/partition.bin", "--old",
                              "klm4410/ab_old.bin", "--new", "klm4410/diff_new.bin", "--output", "none.pkg"},
                             samples());
    EXPECT_EQ(m.code, 1);
    EXPECT_TRUE(m.out.contains("[ERROR] update method 0x1 not match. A method 0x82 B method 0x42\n"));

    const Case &c = cases()[3];
    QStringList build = {"build", "--method", "1"};
    build << c.inputs << "--output" << "k1.pkg";
    ASSERT_EQ(deltamaker(build, samples()).code, 0);
    const CliRun v = deltamaker({"verify", "k1.pkg", "--partition", "klm4410/partition.bin", "--old",
                              "klm4410/diff_old.bin", "--new", "klm4410/cz_new.bin"},
                             samples());
    EXPECT_EQ(v.code, 1);
    EXPECT_TRUE(v.out.contains("package is NOT sound")) << v.out.toStdString();
    const CliRun i = deltamaker({"info", "klm4410/boot.bin"}, samples());
    EXPECT_EQ(i.code, 1);
}

TEST_F(Cli, PartitionsCreateAndList)
{
    const QString table = dir->path() + "/made.bin";
    const CliRun c = deltamaker({"partitions", "--create", table, "uboot:0:0x40000", "cpu:0x40000:3145728"});
    ASSERT_EQ(c.code, 0) << c.err.toStdString();
    EXPECT_EQ(QFile(table).size(), 4096);
    const CliRun l = deltamaker({"partitions", table});
    ASSERT_EQ(l.code, 0);
    EXPECT_TRUE(l.out.contains("uboot            0x00000000 0x00040000\n")) << l.out.toStdString();
    EXPECT_TRUE(l.out.contains("cpu              0x00040000 0x00300000\n"));
    const CliRun z = deltamaker({"partitions", samples() + "/zn3150/partition.bin", "--board", "zn3150"});
    ASSERT_EQ(z.code, 0);
    EXPECT_TRUE(z.out.contains("boot             0x00000000 0x00006000\n")) << z.out.toStdString();
    const CliRun bad = deltamaker({"partitions", samples() + "/zn3150/boot.bin"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.out.contains("partition size 0x4000 error")) << bad.out.toStdString();
}

TEST_F(Cli, UsageErrorsGiveExitCode2)
{
    const std::vector<QStringList> bad = {
        {},
        {"frobnicate"},
        {"build"},
        {"build", "--method", "1", "--partition", "p", "--new", "n"},
        {"build", "--method", "one", "--partition", "p", "--new", "n", "--output", "o"},
        {"build", "--method", "1", "--partition", "p", "--new", "n", "--output", "o", "--colour", "red"},
        {"build", "--method", "1", "--partition", "p", "--new", "n", "--output"},
        {"build", "--method", "1", "--method", "2", "--partition", "p", "--new", "n", "--output", "o"},
        {"build", "--method", "1", "--partition", QString(300, 'x'), "--new", "n", "--output", "o"},
        {"info"},
        {"info", "a.pkg", "b.pkg"},
        {"info", "a.pkg", "--method", "9"},
        {"verify", "a.pkg", "--new", "n"},
        {"verify", "--partition", "p", "--new", "n"},
        {"partitions"},
        {"partitions", "--create", "t.bin"},
        {"partitions", "--create", "t.bin", "cpu:0x40000"},
        {"partitions", "--create", "t.bin", "seventeen_bytes_x:0:1"},
        {"partitions", "t.bin", "--board", "other"},
        {"samples"},
        {"build", "--method", "abc"},
        {"build", "--method", "5", "--partition", "p", "--new", "n", "--output", "o"},
        {"build", "--method", "-1", "--partition", "p", "--new", "n", "--output", "o"},
        {"build", "--method", "3", "--partition", "p", "--new", "n", "--output", "o"},
    };
    for (const QStringList &args : bad) {
        SCOPED_TRACE(args.join(' ').left(80).toStdString());
        const CliRun r = deltamaker(args, dir->path());
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.startsWith("deltamaker: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("usage: deltamaker"));
    }
    for (const char *cmd : {"build", "info", "verify", "partitions", "samples"}) {
        const CliRun r = deltamaker({cmd, "--help"});
        EXPECT_EQ(r.code, 0) << cmd;
        EXPECT_TRUE(r.out.startsWith(QString("usage: deltamaker ") + cmd)) << r.out.toStdString();
    }
    EXPECT_EQ(deltamaker({"--help"}).code, 0);

    // The message names what is wrong.
    const CliRun m = deltamaker({"build", "--method", "abc"});
    EXPECT_TRUE(m.err.startsWith("deltamaker: --method must be 0, 1, 2, 3 or 4, not \"abc\"\n")) << m.err.toStdString();
    const CliRun o = deltamaker({"build", "--method", "2", "--partition", "p", "--new", "n", "--output", "x"});
    EXPECT_TRUE(o.err.startsWith("deltamaker: --old is required for method 2\n")) << o.err.toStdString();
    std::vector<QString> many;
    QStringList create = {"partitions", "--create", dir->path() + "/many.bin"};
    for (int i = 0; i < 65; ++i)
        create << QString("p%1:%2:0x100").arg(i).arg(i * 0x100);
    const CliRun t = deltamaker(create);
    EXPECT_EQ(t.code, 2);
    EXPECT_TRUE(t.err.startsWith("deltamaker: a partition table holds at most 64 partitions, not 65\n")) << t.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir->path() + "/many.bin"));
    create.removeLast();
    EXPECT_EQ(deltamaker(create).code, 0);
    const CliRun listed = deltamaker({"partitions", dir->path() + "/many.bin"});
    EXPECT_EQ(listed.code, 0) << listed.out.toStdString();

    const CliRun help = deltamaker({"--help"});
    EXPECT_TRUE(help.out.contains("ZN3150 images take methods 1 and 3; KLM4410 images take methods 0 to 4."));
}

// --threads takes a whole number from 1 to 64 and says so otherwise; any accepted count builds
// the same package as the default (every core).
TEST_F(Cli, ThreadsOptionIsCheckedAndKeepsTheBytes)
{
    const Case &c = cases()[3]; // KLM4410 blocks: the most parallel build
    for (const QString &bad : QStringList{"0", "65", "-1", "abc", "2x", "", " 2", "+2", "0x2", "99999999999"}) {
        SCOPED_TRACE(bad.toStdString());
        QStringList build = {"build", "--threads", bad, "--method", QString::number(c.method)};
        build << c.inputs << "--output" << "never.pkg";
        const CliRun r = deltamaker(build, samples());
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.startsWith("deltamaker: --threads must be a whole number from 1 to 64, "
                                     "not \"" + bad + "\"\n"))
            << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(samples() + "/never.pkg"));
    }
    EXPECT_TRUE(deltamaker({"build", "--help"}).out.contains("--threads N"));

    QByteArray reference;
    for (const QString &threads : {QString(), QString("1"), QString("3"), QString("64")}) {
        SCOPED_TRACE(threads.toStdString());
        QStringList build = {"build", "--method", QString::number(c.method)};
        if (!threads.isEmpty())
            build << "--threads" << threads;
        build << c.inputs << "--output" << "threads.pkg";
        const CliRun r = deltamaker(build, samples());
        ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
        QFile f(samples() + "/threads.pkg");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (reference.isEmpty())
            reference = bytes;
        EXPECT_EQ(bytes, reference);
    }
}

// Folders, FIFOs and devices given for every input of every subcommand fail at once with a
// message naming the path; nothing hangs or aborts.
TEST_F(Cli, SpecialFilesAreRefusedAsInputs)
{
    const QString folder = dir->path() + "/a_folder";
    const QString fifo = dir->path() + "/a_fifo";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QString s = samples();
    const auto with = [](QStringList args, const QString &opt, const QString &path) {
        const int at = args.indexOf(opt);
        if (at >= 0)
            args[at + 1] = path;
        else
            args << opt << path;
        return args;
    };
    const QStringList build = {"build", "--method", "1", "--partition", s + "/zn3150/partition.bin", "--old",
                               s + "/zn3150/old.bin", "--new", s + "/zn3150/new.bin", "--output", dir->path() + "/x.pkg"};
    QStringList made = {"build", "--method", "1"};
    made << cases()[0].inputs << "--output" << "special.pkg";
    ASSERT_EQ(deltamaker(made, s).code, 0);
    QStringList verify = {"verify", s + "/special.pkg"};
    for (const QString &arg : cases()[0].inputs)
        verify << (arg.startsWith("--") ? arg : s + "/" + arg);
    for (const QString &special : {folder, fifo, QString("/dev/null")}) {
        std::vector<QStringList> runs;
        for (const char *opt : {"--partition", "--old", "--new", "--boot", "--nv1", "--nv2"})
            runs.push_back(with(build, opt, special));
        for (const char *opt : {"--partition", "--old", "--new", "--boot", "--nv1", "--nv2"})
            runs.push_back(with(verify, opt, special));
        QStringList pkgIsSpecial = verify;
        pkgIsSpecial[1] = special;
        runs.push_back(pkgIsSpecial);
        runs.push_back({"info", special});
        runs.push_back({"partitions", special});
        for (const QStringList &args : runs) {
            SCOPED_TRACE(args.join(' ').toStdString());
            const CliRun r = deltamaker(args);
            EXPECT_EQ(r.code, 1) << r.out.toStdString() << r.err.toStdString();
            EXPECT_TRUE((r.out + r.err).contains(special + " is a ")) << r.out.toStdString() << r.err.toStdString();
            EXPECT_TRUE((r.out + r.err).contains(", not a regular file"));
        }
    }
    EXPECT_FALSE(QFile::exists(dir->path() + "/x.pkg"));
}

TEST_F(Cli, SpecialOutputsAreLeftAlone)
{
    const QString folder = dir->path() + "/out_folder";
    const QString fifo = dir->path() + "/out_fifo";
    const QString device = dir->path() + "/out_null";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/null", device));
    const Case &c = cases()[1];
    for (const QString &out : {folder, fifo, device}) {
        QStringList build = {"build", "--method", QString::number(c.method)};
        build << c.inputs << "--output" << out;
        const CliRun r = deltamaker(build, samples());
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.out.contains("[ERROR] output " + out + " exists and is a")) << r.out.toStdString();
        const CliRun t = deltamaker({"partitions", "--create", out, "cpu:0:0x1000"});
        EXPECT_EQ(t.code, 1);
        EXPECT_TRUE(t.err.contains(out + " exists and is not a regular file")) << t.err.toStdString();
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(QFileInfo(device).isSymLink());
    struct stat st;
    ASSERT_EQ(::stat(fifo.toLocal8Bit().constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Two processes building to one output at once: each either fails or succeeded with its own
// verified package; the file in place is a whole package of one that succeeded.
TEST_F(Cli, TwoBuildsToOneOutput)
{
    const Case &m1 = cases()[3];
    const Case &m3 = cases()[5];
    const QString out = samples() + "/same.pkg";
    for (int round = 0; round < 3; ++round) {
        QProcess a, b;
        a.setWorkingDirectory(samples());
        b.setWorkingDirectory(samples());
        a.start(TestPaths::binDir() + "/deltamaker", QStringList{"build", "--method", "1"} + m1.inputs + QStringList{"--output", "same.pkg"});
        b.start(TestPaths::binDir() + "/deltamaker", QStringList{"build", "--method", "3"} + m3.inputs + QStringList{"--output", "same.pkg"});
        ASSERT_TRUE(a.waitForFinished(120000) && b.waitForFinished(120000));
        const bool aOk = a.exitCode() == 0, bOk = b.exitCode() == 0;
        ASSERT_TRUE(aOk || bOk);
        for (QProcess *p : {&a, &b}) {
            if (p->exitCode() != 0) {
                EXPECT_TRUE(p->readAllStandardOutput().contains("is being written by another build"));
            }
        }
        QStringList verify = {"verify", "same.pkg"};
        const CliRun v1 = deltamaker(verify + m1.inputs + QStringList{"--method", "1"}, samples());
        const CliRun v3 = deltamaker(verify + m3.inputs + QStringList{"--method", "3"}, samples());
        EXPECT_TRUE((aOk && v1.code == 0) || (bOk && v3.code == 0)) << v1.out.toStdString() << v3.out.toStdString();
        const QStringList left = QDir(samples()).entryList({".same.pkg*"}, QDir::Files | QDir::Hidden);
        EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    }
    QFile::remove(out);
}

TEST_F(Cli, ReadersSayWhatTheyNeed)
{
    const Case &c = cases()[0]; // ZN3150 method 1 with boot and NV files
    QStringList build = {"build", "--method", "1"};
    build << c.inputs << "--output" << "full.pkg";
    const CliRun b = deltamaker(build, samples());
    ASSERT_EQ(b.code, 0) << b.out.toStdString();
    EXPECT_TRUE(b.err.isEmpty()) << "no progress line when standard error is not a terminal";
    const CliRun v = deltamaker({"verify", "full.pkg", "--partition", "zn3150/partition.bin", "--old", "zn3150/old.bin",
                                 "--new", "zn3150/new.bin", "--nv1", "zn3150/nv_usr.bin", "--nv2", "zn3150/nv_amt.bin"},
                                samples());
    EXPECT_EQ(v.code, 1);
    EXPECT_TRUE(v.out.contains("verifying it needs the boot image (--boot)")) << v.out.toStdString();

    // The board comes from the table.
    const CliRun z = deltamaker({"partitions", "zn3150/partition.bin"}, samples());
    EXPECT_EQ(z.code, 0);
    EXPECT_TRUE(z.out.startsWith("board: ZN3150 (worked out from the table; --board sets it)\n")) << z.out.toStdString();
    EXPECT_TRUE(z.out.contains("boot             0x00000000 0x00006000\n"));
    const CliRun k = deltamaker({"partitions", "klm4410/partition.bin"}, samples());
    EXPECT_TRUE(k.out.startsWith("board: KLM4410")) << k.out.toStdString();

    // CRCs are hexadecimal everywhere.
    QFile f(samples() + "/full.pkg");
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(12);
    f.write("\x01\x02\x03\x04", 4);
    f.close();
    const CliRun i = deltamaker({"info", "full.pkg"}, samples());
    EXPECT_EQ(i.code, 1);
    EXPECT_TRUE(QRegularExpression("CRC-32: +0x04030201 INVALID, computed 0x[0-9a-f]{8}\n").match(i.out).hasMatch())
        << i.out.toStdString();
    const CliRun j = deltamaker({"info", "full.pkg", "--json"}, samples());
    EXPECT_TRUE(QRegularExpression("\"old_crc32\": \"0x[0-9a-f]{8}\"").match(j.out).hasMatch()) << j.out.toStdString();
}

} // namespace

namespace {
// Reads and rewrites files of the samples folder.
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// A 4096-byte partition table of one record (`name`, `value` as stored), erased after it.
QByteArray tableOfOneRecord(const QByteArray &name, const QByteArray &value)
{
    std::vector<uint8_t> t(4096, 0xFF);
    std::fill(t.begin(), t.begin() + 36, 0);
    const auto pad4 = [](size_t n) { return (n + 3) & ~size_t(3); };
    const size_t len = 36 + pad4(size_t(name.size())) + pad4(size_t(value.size()) + 1);
    uint8_t *rec = t.data() + 36;
    std::fill(rec, rec + len, 0);
    const auto put32 = [](uint8_t *p, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            p[i] = uint8_t(v >> (8 * i));
    };
    put32(rec + 20, uint32_t(len));
    put32(rec + 28, uint32_t(name.size()));
    put32(rec + 32, uint32_t(value.size()));
    std::memcpy(rec + 36, name.constData(), size_t(name.size()));
    std::memcpy(rec + 36 + pad4(size_t(name.size())), value.constData(), size_t(value.size()));
    put32(rec + 24, uint32_t(::crc32(0, rec + 28, uInt(len - 28))));
    return QByteArray(reinterpret_cast<const char *>(t.data()), int(t.size()));
}
} // namespace

namespace {
// The lines of `text` that start with `prefix`, without it.
QStringList linesAfter(const QString &text, const QString &prefix)
{
    QStringList out;
    for (const QString &line : text.split('\n'))
        if (line.startsWith(prefix))
            out << line.mid(prefix.size());
    return out;
}

QStringList specArgs(const std::vector<Samples::PartitionSpec> &parts)
{
    QStringList out;
    for (const Samples::PartitionSpec &p : parts)
        out << QString("%1:0x%2:0x%3").arg(QString::fromStdString(p.name)).arg(p.addr, 0, 16).arg(p.size, 0, 16);
    return out;
}
} // namespace

// --create writes only a table the builder takes: a table every build refuses is refused before
// anything is written, in the builder's own words, and listing such a table names the same faults.
TEST_F(Cli, PartitionsCreateRefusesWhatTheBuilderRefuses)
{
    struct Refused {
        const Case &build;
        QStringList board;
        std::vector<Samples::PartitionSpec> parts;
    };
    const Case &klm = cases()[3]; // KLM4410 blocks
    const Case &zn = cases()[1];  // ZN3150 in place
    const std::vector<Refused> refused = {
        {klm, {}, {{"uboot", 0, 0x40000}, {"cpu", 0x20000, 0x300000}}},
        {klm, {"--board", "klm4410"}, {{"uboot", 0, 0x40000}, {"cpu", 0x40000, 16}}},
        {zn, {}, {{"cpu1", 0, 0x100000}, {"data_ota", 0x100000, 0x80000}}},
        {zn, {"--board", "zn3150"}, {{"cpu1", 0xfffff000, 0x200000}, {"data_ota", 0x108000, 0x80000}}},
        {zn, {}, {{"cpu1", 0x8000, 0xffffffff}, {"data_ota", 0x108000, 0x80000}}},
        {zn, {}, {{"cpu1", 0x8000, 0x100000}, {"data_ota", 0x108000, 16}}},
    };
    const QString made = dir->path() + "/refused-made.bin";
    for (const Refused &r : refused) {
        const QStringList specs = specArgs(r.parts);
        SCOPED_TRACE(specs.join(' ').toStdString());
        std::vector<uint8_t> table;
        std::string error;
        ASSERT_TRUE(Samples::makePartitionTable(r.parts, table, error)) << error;
        ASSERT_TRUE(writeAll(samples() + "/refused.bin",
                             QByteArray(reinterpret_cast<const char *>(table.data()), int(table.size()))));
        QStringList build = {"build", "--method", QString::number(r.build.method)};
        QStringList inputs = r.build.inputs;
        inputs[inputs.indexOf("--partition") + 1] = "refused.bin";
        build << inputs << "--output" << "refused.pkg";
        const CliRun b = deltamaker(build, samples());
        EXPECT_EQ(b.code, 1);
        const QStringList faults = linesAfter(b.out, "[ERROR] partition");
        ASSERT_FALSE(faults.isEmpty()) << b.out.toStdString();

        const CliRun c = deltamaker(QStringList{"partitions", "--create", made} + specs + r.board);
        EXPECT_EQ(c.code, 1);
        EXPECT_EQ(linesAfter(c.err, "deltamaker: partition"), faults) << c.err.toStdString();
        EXPECT_TRUE(c.err.endsWith(made + " not written: the builder refuses this table\n"));
        EXPECT_FALSE(QFile::exists(made));

        const CliRun l = deltamaker(QStringList{"partitions", "refused.bin"} + r.board, samples());
        EXPECT_EQ(l.code, 1);
        EXPECT_EQ(linesAfter(l.out, "error: partition"), faults) << l.out.toStdString();
    }

    // The builder's predefined ZN3150 entries count: cpu1 over "partition" is refused, next to
    // it the table is written and builds.
    const CliRun over = deltamaker({"partitions", "--create", made, "cpu1:0x6000:0x100000",
                                    "data_ota:0x108000:0x80000", "--board", "zn3150"});
    EXPECT_EQ(over.code, 1);
    EXPECT_TRUE(over.err.contains("deltamaker: partitions partition (0x6000..0x7000) and cpu1 "
                                  "(0x6000..0x106000) overlap\n")) << over.err.toStdString();
    const CliRun next = deltamaker({"partitions", "--create", made, "cpu1:0x8000:0x100000",
                                    "data_ota:0x108000:0x80000"});
    ASSERT_EQ(next.code, 0) << next.err.toStdString();
    EXPECT_EQ(next.out, "board: ZN3150 (worked out from the table; --board sets it)\nwrote " + made
                            + " with 2 partitions\n");
    QStringList build = {"build", "--method", QString::number(zn.method)};
    QStringList inputs = zn.inputs;
    inputs[inputs.indexOf("--partition") + 1] = made;
    build << inputs << "--output" << "made.pkg";
    const CliRun b = deltamaker(build, samples());
    EXPECT_EQ(b.code, 0) << b.out.toStdString();
}

// Names --create writes are printed as they are by every reader: each once, without control
// characters (nor bytes that are not UTF-8, which a test cannot pass through QProcess); the
// refusal shows the name escaped.
TEST_F(Cli, PartitionsCreateRefusesNamesThatCannotBePrinted)
{
    const QString made = dir->path() + "/names-made.bin";
    const std::vector<std::pair<QByteArray, QString>> refused = {
        {"\x1b[2J", "partition name \"\\x1b[2J\" holds control characters or bytes that are not UTF-8"},
        {"cpu\x7f", "partition name \"cpu\\x7f\" holds control characters or bytes that are not UTF-8"},
        {"cpu\xc2\x9b" "1", "partition name \"cpu\\xc2\\x9b1\" holds control characters or bytes that are not UTF-8"},
        {"cpu\tx", "partition name \"cpu\\x09x\" holds control characters or bytes that are not UTF-8"},
    };
    for (const auto &[name, message] : refused) {
        SCOPED_TRACE(message.toStdString());
        const CliRun r = deltamaker({"partitions", "--create", made,
                                     QString::fromUtf8(name + ":0:0x1000")});
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.err.startsWith("deltamaker: " + message + "\n")) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(made));
    }
    const CliRun twice = deltamaker({"partitions", "--create", made, "cpu:0:0x1000", "uboot:0x1000:0x1000",
                                     "cpu:0x2000:0x1000"});
    EXPECT_EQ(twice.code, 2);
    EXPECT_TRUE(twice.err.startsWith("deltamaker: partition name \"cpu\" is given twice\n")) << twice.err.toStdString();
    EXPECT_FALSE(QFile::exists(made));
    // Chinese names are text like any other.
    const CliRun chinese = deltamaker({"partitions", "--create", made, QString::fromUtf8("中文:0:0x1000")});
    EXPECT_EQ(chinese.code, 0) << chinese.err.toStdString();
}

// Files without a single record read as a table of none (erased space ends the records): they
// are refused, for either board, instead of being listed as an empty table.
TEST_F(Cli, PartitionsRefuseAFileWithoutEntries)
{
    QByteArray random(4096, '\0');
    std::mt19937 rng(27);
    for (char &c : random)
        c = char(rng());
    for (int at : {36, 1024}) // erased-looking at both places where records start
        for (int i = at; i < at + 6; ++i)
            random[i] = random[i] ? random[i] : '\x5a';
    ASSERT_TRUE(writeAll(samples() + "/random.bin", random));
    ASSERT_TRUE(writeAll(samples() + "/erased.bin", QByteArray(4096, '\xff')));
    for (const char *file : {"random.bin", "erased.bin"}) {
        for (const QStringList &board : {QStringList(), QStringList{"--board", "zn3150"},
                                         QStringList{"--board", "klm4410"}}) {
            SCOPED_TRACE(file + board.join(' ').toStdString());
            const CliRun r = deltamaker(QStringList{"partitions", file} + board, samples());
            EXPECT_EQ(r.code, 1);
            EXPECT_EQ(r.out, QString("error: %1 holds no partition entry: it is erased or not a "
                                     "partition table\n").arg(file));
        }
    }
    // One valid record is a table.
    ASSERT_TRUE(writeAll(samples() + "/one.bin", tableOfOneRecord("cpu", "0x40000 0x300000")));
    const CliRun one = deltamaker({"partitions", "one.bin"}, samples());
    EXPECT_EQ(one.code, 0) << one.out.toStdString();
    EXPECT_TRUE(one.out.endsWith("\ncpu              0x00040000 0x00300000\n")) << one.out.toStdString();
}

// Names, versions and values read from files reach the terminal with their control characters
// (and bytes that are not UTF-8) escaped, in every command that prints them.
TEST_F(Cli, NamesFromFilesArePrintedEscaped)
{
    const auto isClean = [](const QString &text) {
        for (const QChar c : text)
            if ((c.unicode() < 0x20 && c != '\n' && c != '\t') || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
                return false;
        return !text.contains(QChar::ReplacementCharacter);
    };
    // partitions: the names of a table, and the value of a record the parser refuses.
    // Such a table does not come from --create, which refuses these names.
    const QString table = dir->path() + "/escapes.bin";
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(Samples::makePartitionTable({{"\x1b[2J\x1b[H", 0, 0x1000},
                                             {"cpu\xc2\x9b" "31m", 0x1000, 0x1000},
                                             {"\xe4\xb8\xad\xe6\x96\x87", 0x2000, 0x1000}},
                                            bytes, error)) << error;
    ASSERT_TRUE(writeAll(table, QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()))));
    const CliRun listed = deltamaker({"partitions", table});
    EXPECT_EQ(listed.code, 0);
    EXPECT_TRUE(listed.out.contains("\n\\x1b[2J\\x1b[H    0x00000000 0x00001000\n")) << listed.out.toStdString();
    EXPECT_TRUE(listed.out.contains("\ncpu\\xc2\\x9b31m  ")) << listed.out.toStdString(); // C1 CSI
    EXPECT_TRUE(listed.out.contains(QString::fromUtf8("\n\xe4\xb8\xad\xe6\x96\x87"))); // UTF-8 text stays
    EXPECT_TRUE(isClean(listed.out));
    ASSERT_TRUE(writeAll(samples() + "/badvalue.bin", tableOfOneRecord("cpu", "\x1b[2J\nsize\x7f\xff")));
    const CliRun bad = deltamaker({"partitions", "badvalue.bin"}, samples());
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.out.endsWith("error: part parser failed(\\x1b[2J\\x0asize\\x7f\\xff)\n")) << bad.out.toStdString();

    // info and verify: a record name and a version text of a package.
    const Case &c = cases()[3]; // KLM4410 blocks: "uboot" is the first record
    QStringList build = {"build", "--method", "1"};
    build << c.inputs << "--output" << "names.pkg";
    ASSERT_EQ(deltamaker(build, samples()).code, 0);
    QByteArray pkg = readAll(samples() + "/names.pkg");
    ASSERT_GT(pkg.size(), 128);
    pkg.replace(112, 6, QByteArray("\x1b[2J\0\0", 6));    // the first record's name
    pkg.replace(80, 5, QByteArray("\x1b]0;x", 5));        // the target version
    ASSERT_TRUE(writeAll(samples() + "/names.pkg", pkg));
    const CliRun info = deltamaker({"info", "names.pkg"}, samples());
    EXPECT_EQ(info.code, 1); // the CRC no longer matches
    EXPECT_TRUE(info.out.contains("\n  0   \\x1b[2J ")) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains("target version:  \"\\x1b]0;x")) << info.out.toStdString();
    EXPECT_TRUE(isClean(info.out)) << info.out.toStdString();
    QStringList verify = {"verify", "names.pkg"};
    verify << c.inputs;
    const CliRun v = deltamaker(verify, samples());
    EXPECT_EQ(v.code, 1);
    EXPECT_TRUE(v.out.contains("record is named \"\\x1b[2J\"")) << v.out.toStdString();
    EXPECT_TRUE(isClean(v.out)) << v.out.toStdString();

    // build: the version text of an image goes into the log.
    QByteArray image = readAll(samples() + "/klm4410/cz_new.bin");
    ASSERT_GT(image.size(), 112);
    image.replace(96, 8, QByteArray("\x1b[2Jv9\0\0", 8));
    ASSERT_TRUE(writeAll(samples() + "/escaped_new.bin", image));
    const CliRun b = deltamaker({"build", "--method", "0", "--partition", "klm4410/partition.bin", "--new",
                                 "escaped_new.bin", "--output", "escaped.pkg"},
                                samples());
    EXPECT_EQ(b.code, 0) << b.out.toStdString();
    EXPECT_TRUE(b.out.contains("version \\x1b[2Jv9")) << b.out.toStdString();
    EXPECT_TRUE(isClean(b.out)) << b.out.toStdString();
}

// The A/B layout has no checksum over its boot image: info says so instead of calling every CRC
// valid as if that covered the package, and only verify --boot catches a changed boot byte.
TEST_F(Cli, AbPackageSaysItsBootImageIsCoveredByNoChecksum)
{
    const Case &c = cases()[4];
    ASSERT_EQ(c.method, 2);
    QStringList build = {"build", "--method", "2"};
    build << c.inputs << "--output" << "ab.pkg";
    ASSERT_EQ(deltamaker(build, samples()).code, 0);
    const qint64 boot = QFile(samples() + "/klm4410/boot.bin").size();
    const QString note = QString("note: in the A/B layout no checksum covers the boot image (bytes 112-%1): the\n"
                                 "      CRC-32s above say nothing of it, and only a comparison with the boot file,\n"
                                 "      \"deltamaker verify FILE --boot BOOT ...\", can check it.\n")
                             .arg(111 + boot);
    QByteArray pkg = readAll(samples() + "/ab.pkg");
    for (const qint64 at : {qint64(112), 112 + boot / 2, 111 + boot}) {
        SCOPED_TRACE(at);
        QByteArray flipped = pkg;
        flipped[int(at)] = char(flipped[int(at)] ^ 0x01);
        ASSERT_TRUE(writeAll(samples() + "/ab_flipped.pkg", flipped));
        const CliRun info = deltamaker({"info", "ab_flipped.pkg"}, samples());
        EXPECT_EQ(info.code, 0) << info.out.toStdString(); // nothing it can see is wrong
        EXPECT_TRUE(info.out.contains("CRC-32:          0x")) << info.out.toStdString();
        EXPECT_TRUE(info.out.contains(" valid (covers header bytes 16-111 only)\n"));
        EXPECT_TRUE(info.out.contains(QString("boot image:      %1 bytes at 112, covered by no checksum\n").arg(boot)));
        EXPECT_TRUE(info.out.endsWith(note)) << info.out.toStdString();
        QStringList verify = {"verify", "ab_flipped.pkg"};
        verify << c.inputs;
        const CliRun v = deltamaker(verify, samples());
        EXPECT_EQ(v.code, 1);
        EXPECT_TRUE(v.out.contains("boot image")) << v.out.toStdString();
    }
    const CliRun json = deltamaker({"info", "ab.pkg", "--json"}, samples());
    const QJsonObject doc = QJsonDocument::fromJson(json.out.toUtf8()).object();
    const QJsonArray unchecked = doc.value("unchecked").toArray();
    ASSERT_EQ(unchecked.size(), 1) << json.out.toStdString();
    EXPECT_EQ(unchecked[0].toObject().value("what").toString(), "boot image");
    EXPECT_EQ(unchecked[0].toObject().value("offset").toInt(), 112);
    EXPECT_EQ(unchecked[0].toObject().value("size").toInt(), boot);
    EXPECT_TRUE(doc.value("findings").isArray()) << json.out.toStdString();

    // Every other layout's checksums cover the whole package.
    for (const Case &other : cases()) {
        if (other.method == 2)
            continue;
        SCOPED_TRACE(other.package);
        QStringList b = {"build", "--method", QString::number(other.method)};
        b << other.inputs << "--output" << other.package;
        ASSERT_EQ(deltamaker(b, samples()).code, 0);
        const CliRun i = deltamaker({"info", other.package}, samples());
        EXPECT_FALSE(i.out.contains("no checksum")) << i.out.toStdString();
        EXPECT_FALSE(i.out.contains("note:"));
        const CliRun j = deltamaker({"info", other.package, "--json"}, samples());
        EXPECT_TRUE(QJsonDocument::fromJson(j.out.toUtf8()).object().value("unchecked").toArray().isEmpty());
    }
}

// deltamaker simulate and info --html on the sample packages, through the real bin/deltamaker.
#include "deltamaker/format/patch_layout.h"
#include "deltamaker/verify/inplace_apply.h"
#include "deltamaker/verify/package_verify.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace {

struct CliResult {
    int code = -1;
    QString out;
    QString err;
};

CliResult run(const QStringList &args, const QString &cwd)
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.start(TestPaths::binDir() + "/deltamaker", args);
    CliResult r;
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

struct Sample {
    const char *package;
    int method;
    QStringList inputs;
};

// The sample packages with their inputs, as the samples' README builds them.
const std::vector<Sample> &samples()
{
    static const std::vector<Sample> all = {
        {"zn3150_m1.pkg", 1,
         {"--partition", "zn3150/partition.bin", "--boot", "zn3150/boot.bin", "--old",
          "zn3150/old.bin", "--new", "zn3150/new.bin", "--nv1", "zn3150/nv_usr.bin", "--nv2",
          "zn3150/nv_amt.bin"}},
        {"zn3150_m3.pkg", 3,
         {"--partition", "zn3150/partition.bin", "--old", "zn3150/old.bin", "--new",
          "zn3150/new.bin"}},
        {"klm4410_m0.pkg", 0,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--new",
          "klm4410/cz_new.bin"}},
        {"klm4410_m1.pkg", 1,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--old",
          "klm4410/diff_old.bin", "--new", "klm4410/diff_new.bin"}},
        {"klm4410_m2.pkg", 2,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--old",
          "klm4410/ab_old.bin", "--new", "klm4410/ab_new.bin"}},
        {"klm4410_m3.pkg", 3,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--old",
          "klm4410/diff_old.bin", "--new", "klm4410/diff_new.bin"}},
        {"klm4410_m4.pkg", 4,
         {"--partition", "klm4410/partition.bin", "--boot", "klm4410/boot.bin", "--new",
          "klm4410/cz_new.bin"}},
    };
    return all;
}

class DeviceCli : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        ASSERT_EQ(run({"samples", "."}, dir->path()).code, 0);
        for (const Sample &s : samples()) {
            QStringList args = {"build", "--quiet", "--method", QString::number(s.method),
                                "--output", s.package};
            const CliResult r = run(args + s.inputs, dir->path());
            ASSERT_EQ(r.code, 0) << s.package << ": " << r.out.toStdString();
        }
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    static QString path(const QString &name) { return dir->path() + "/" + name; }
    static QTemporaryDir *dir;
};
QTemporaryDir *DeviceCli::dir = nullptr;

QSet<QString> keys(const QJsonObject &o)
{
    QSet<QString> k;
    for (auto it = o.begin(); it != o.end(); ++it)
        k.insert(it.key());
    return k;
}

QSet<QString> set(const QStringList &l) { return QSet<QString>(l.begin(), l.end()); }

} // namespace

TEST_F(DeviceCli, EverySampleRunsAndMatches)
{
    for (const Sample &s : samples()) {
        const CliResult r = run(QStringList{"simulate", s.package, "--power-cuts"} + s.inputs,
                          dir->path());
        EXPECT_EQ(r.code, 0) << s.package << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.out.contains("summary: ")) << s.package;
        EXPECT_FALSE(r.out.contains("DIFFERS")) << s.package;
    }
    // The stored-alone methods read nothing from the flash: no unsafe step.
    const CliResult m4 = run(QStringList{"simulate", "klm4410_m4.pkg", "--power-cuts"} +
                           samples()[6].inputs,
                       dir->path());
    EXPECT_TRUE(m4.out.contains(", 0 unsafe, 0 bytes at risk")) << m4.out.toStdString();
}

TEST_F(DeviceCli, JsonSchemaIsStable)
{
    const Sample &s = samples()[5]; // KLM4410 in place, with a boot image
    const CliResult r = run(QStringList{"simulate", s.package, "--json", "--power-cuts"} + s.inputs,
                      dir->path());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonObject top = doc.object();
    EXPECT_EQ(keys(top), set({"version", "package", "layout", "flash", "old_image", "completed",
                              "matches", "images", "total", "notes", "power_cuts", "steps"}));
    EXPECT_EQ(top["version"].toInt(), 1);
    EXPECT_EQ(top["layout"].toString(), "K-inplace");
    EXPECT_TRUE(top["matches"].toBool());
    EXPECT_EQ(keys(top["flash"].toObject()),
              set({"profile", "erase_unit", "program_unit", "erase_ms", "program_ms",
                   "read_mbps", "note"}));
    const QStringList figures = {"size", "steps", "sectors_erased", "bytes_programmed",
                                 "bytes_moved", "max_erase_count", "bytes_read", "time_ms",
                                 "peak_ram", "unsafe_steps", "bytes_at_risk", "matches"};
    const QJsonArray images = top["images"].toArray();
    ASSERT_EQ(images.size(), 2);
    EXPECT_EQ(keys(images[0].toObject()),
              set(figures + QStringList{"image", "partition", "partition_address",
                                        "partition_size", "address", "sha256",
                                        "expected_sha256"}));
    EXPECT_EQ(images[1].toObject()["partition"].toString(), "cpu");
    EXPECT_EQ(images[1].toObject()["sha256"], images[1].toObject()["expected_sha256"]);
    const QJsonObject total = top["total"].toObject();
    EXPECT_EQ(keys(total), set(figures));
    // The total adds up the images.
    for (const char *k : {"steps", "sectors_erased", "bytes_programmed", "bytes_moved"})
        EXPECT_EQ(total[k].toDouble(),
                  images[0].toObject()[k].toDouble() + images[1].toObject()[k].toDouble())
            << k;
    const QJsonObject cuts = top["power_cuts"].toObject();
    EXPECT_EQ(keys(cuts), set({"model", "steps", "unsafe_steps", "bytes_at_risk", "unsafe"}));
    EXPECT_EQ(cuts["unsafe_steps"].toInt(), cuts["unsafe"].toArray().size());
    EXPECT_EQ(cuts["unsafe_steps"], total["unsafe_steps"]);
    const QStringList step = {"step", "kind", "what", "partition", "window", "move", "record",
                              "patched", "address", "length", "source", "erases", "programs",
                              "bytes_read", "time_ms", "ram", "unsafe"};
    const QJsonArray steps = top["steps"].toArray();
    ASSERT_EQ(steps.size(), cuts["steps"].toInt());
    bool sawSafe = false, sawUnsafe = false;
    for (const QJsonValue &v : steps) {
        const QJsonObject o = v.toObject();
        if (o["unsafe"].toBool()) {
            sawUnsafe = true;
            EXPECT_EQ(keys(o), set(step + QStringList{"risk_address", "risk_end",
                                                      "bytes_at_risk", "reason"}));
        } else {
            sawSafe = true;
            EXPECT_EQ(keys(o), set(step));
        }
    }
    EXPECT_TRUE(sawSafe && sawUnsafe); // the boot image is safe, the default windows are not
    // Without --power-cuts the analysis is left out, the keys stay.
    const CliResult plain = run(QStringList{"simulate", s.package, "--json"} + s.inputs, dir->path());
    const QJsonObject p = QJsonDocument::fromJson(plain.out.toUtf8()).object();
    EXPECT_EQ(keys(p), keys(top));
    EXPECT_TRUE(p["power_cuts"].isNull());
    EXPECT_TRUE(p["steps"].toArray()[0].toObject()["unsafe"].isNull());
}

TEST_F(DeviceCli, UsageErrors)
{
    const QStringList in = samples()[5].inputs;
    EXPECT_EQ(run({"simulate", "klm4410_m3.pkg"}, dir->path()).code, 2);
    EXPECT_EQ(run(QStringList{"simulate", "klm4410_m3.pkg", "--flash", "nor-9k"} + in,
                  dir->path()).code,
              2);
    EXPECT_EQ(run(QStringList{"simulate", "klm4410_m3.pkg", "--flash", "erase_unit=100"} + in,
                  dir->path()).code,
              2);
    // A package that patches the device's image cannot be run without it.
    const CliResult noOld = run({"simulate", "klm4410_m3.pkg", "--partition", "klm4410/partition.bin"},
                          dir->path());
    EXPECT_EQ(noOld.code, 1);
    EXPECT_TRUE(noOld.err.contains("--old")) << noOld.err.toStdString();
    EXPECT_EQ(run({"info", "klm4410_m3.pkg", "--old", "klm4410/diff_old.bin"}, dir->path()).code,
              2);
    // The wrong old image: the loader checks it and writes nothing.
    const CliResult wrong = run({"simulate", "klm4410_m3.pkg", "--partition", "klm4410/partition.bin",
                           "--old", "klm4410/ab_old.bin", "--new", "klm4410/diff_new.bin"},
                          dir->path());
    EXPECT_EQ(wrong.code, 1);
    EXPECT_TRUE(wrong.out.contains("writes nothing")) << wrong.out.toStdString();
    EXPECT_TRUE(run({"simulate", "--help"}, dir->path()).out.contains("resume model"));
}

TEST_F(DeviceCli, HtmlPageParsesAndDrawsOneShapePerRecord)
{
    for (const Sample &s : samples()) {
        const QString out = path(QString(s.package) + ".html");
        const CliResult r = run(QStringList{"info", s.package, "--html", out} + s.inputs, dir->path());
        ASSERT_EQ(r.code, 0) << s.package << r.err.toStdString();
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray page = f.readAll();
        EXPECT_FALSE(page.contains("<script")) << s.package;
        EXPECT_FALSE(page.contains("src=")) << s.package;
        EXPECT_FALSE(page.contains("href=")) << s.package;
        // Well-formed: every element closed, every text escaped.
        QXmlStreamReader xml(page);
        QMap<QString, int> shapes;
        int svgs = 0, rows = 0;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1String("svg"))
                ++svgs;
            if (xml.name() == QLatin1String("tr"))
                ++rows;
            if (xml.name() == QLatin1String("rect"))
                ++shapes[xml.attributes().value("class").toString()];
        }
        ASSERT_FALSE(xml.hasError()) << s.package << ": " << xml.errorString().toStdString();
        EXPECT_EQ(svgs, 1);
        EXPECT_GE(rows, 10); // the facts
        // One shape per record, window and move.
        const QByteArray pkg = [&] {
            QFile p(path(s.package));
            p.open(QIODevice::ReadOnly);
            return p.readAll();
        }();
        PackageInfo info;
        std::vector<std::string> findings;
        ASSERT_TRUE(package_read(reinterpret_cast<const uint8_t *>(pkg.constData()),
                                 size_t(pkg.size()), info, findings, s.method));
        EXPECT_EQ(shapes["record"], int(info.records.size())) << s.package;
        if (info.layout == PackageLayout::Z3 || info.layout == PackageLayout::KInplace) {
            InplacePatchContents c;
            std::string error;
            ASSERT_TRUE(decode_inplace_patch(
                reinterpret_cast<const uint8_t *>(pkg.constData()) + info.streamOffset,
                info.streamSize, info.words[2], c, error));
            int moves = 0;
            for (const InplaceWindow &w : c.windows)
                moves += int(w.moves.size());
            EXPECT_EQ(shapes["window"], int(c.windows.size())) << s.package;
            EXPECT_EQ(shapes["move"], moves) << s.package;
        }
        const int stored = (info.bootSize ? 1 : 0) + (info.layout == PackageLayout::AB ? 2 : 0) +
                           (info.layout == PackageLayout::KWhole ? 1 : 0);
        EXPECT_EQ(shapes["stored"], stored) << s.package;
        // Every step is on the time line.
        EXPECT_EQ(shapes["step"], shapes["record"] + shapes["window"] + shapes["move"] +
                                      shapes["stored"])
            << s.package;
    }
    // Without a partition table or old image the page is drawn all the same.
    const CliResult bare = run({"info", "zn3150_m1.pkg", "--html", path("bare.html")}, dir->path());
    EXPECT_EQ(bare.code, 0) << bare.err.toStdString();
}

TEST_F(DeviceCli, PowerSafeBuildHasNoUnsafeStep)
{
    const Sample &s = samples()[5]; // KLM4410 in place
    const CliResult b = run(QStringList{"build", "--quiet", "--method", "3", "--power-safe",
                                        "--output", "safe.pkg"} +
                                s.inputs,
                            dir->path());
    ASSERT_EQ(b.code, 0) << b.out.toStdString();
    EXPECT_TRUE(b.out.contains("power-safe in-place patch")) << b.out.toStdString();
    const CliResult r =
        run(QStringList{"simulate", "safe.pkg", "--power-cuts"} + s.inputs, dir->path());
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(" 0 unsafe, 0 bytes at risk")) << r.out.toStdString();
    // Method 1 cannot be made safe: refused before anything is written.
    const CliResult m1 = run(QStringList{"build", "--quiet", "--method", "1", "--power-safe",
                                         "--output", "m1safe.pkg"} +
                                 samples()[3].inputs,
                             dir->path());
    EXPECT_EQ(m1.code, 1);
    EXPECT_TRUE(m1.out.contains("use method 3")) << m1.out.toStdString();
    EXPECT_FALSE(QFile::exists(path("m1safe.pkg")));
}

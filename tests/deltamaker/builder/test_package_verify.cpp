#include "builder_test_util.h"

#include "deltamaker/builder/fota.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/package_verify.h"

#include <zlib.h>

using namespace BuilderTest;

namespace {

struct Built {
    std::string name;
    PackageLayout layout;
    std::vector<uint8_t> pkg;
    PackageInputs inputs;
};

// Builds one small package of every layout once for the whole suite.
class PackageVerify : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        SinkRecorder sink;
        auto path = [](const std::string &n) { return dir->filePath(QString::fromStdString(n)).toStdString(); };
        auto file = [&](const std::string &n, const std::vector<uint8_t> &b) {
            writeBytes(path(n), b);
            return path(n);
        };
        std::vector<uint8_t> t;
        std::string error;
        Samples::makePartitionTable({{"cpu1", 0x8000, 0x100000}, {"data_ota", 0x108000, 0x80000},
                                     {"nv_usr", 0x188000, 0x8000}, {"nv_amt", 0x190000, 0x4000}},
                                    t, error);
        const std::string zPart = file("z.part", t);
        Samples::makePartitionTable({{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x300000}}, t, error);
        const std::string kPart = file("k.part", t);

        std::vector<uint8_t> zOld = noise(1, 45000, 3);
        std::vector<uint8_t> zNew = zOld;
        for (size_t i = 100; i < zNew.size(); i += 1777)
            zNew[i] ^= 0x33;
        zNew.resize(47000, 0x11);
        Samples::stampZn3150(zOld, "1.0.0");
        Samples::stampZn3150(zNew, "1.0.1");
        std::vector<uint8_t> kOld = zOld, kNew = zNew, kCz = zNew, kA = zOld, kB = zNew;
        Samples::stampKlm4410(kOld, "K1", 0x42);
        Samples::stampKlm4410(kNew, "K2", 0x42);
        Samples::stampKlm4410(kCz, "K2", 0x22);
        Samples::stampKlm4410(kA, "K1", 0x82);
        Samples::stampKlm4410(kB, "K2", 0x82);
        const std::string boot = file("boot", noise(2, 3000, 2));
        const std::string nv1 = file("nv1", noise(3, 900, 2));
        const std::string nv2 = file("nv2", noise(4, 100, 2));
        const std::string zo = file("zo", zOld), zn = file("zn", zNew);
        const std::string ko = file("ko", kOld), kn = file("kn", kNew), kc = file("kc", kCz);
        const std::string ka = file("ka", kA), kb = file("kb", kB);

        struct Spec {
            const char *name;
            PackageLayout layout;
            int method;
            std::string part, newPath, oldPath, boot, nv1, nv2;
        };
        const std::vector<Spec> specs = {
            {"Z1", PackageLayout::Z1, 1, zPart, zn, zo, boot, nv1, nv2},
            {"Z3", PackageLayout::Z3, 3, zPart, zn, zo, "", "", ""},
            {"K0", PackageLayout::KBlocks, 0, kPart, kc, "", boot, "", ""},
            {"K1", PackageLayout::KBlocks, 1, kPart, kn, ko, boot, "", ""},
            {"K3", PackageLayout::KInplace, 3, kPart, kn, ko, boot, "", ""},
            {"K4", PackageLayout::KWhole, 4, kPart, kc, ko, boot, "", ""},
            {"AB", PackageLayout::AB, 2, kPart, kb, ka, boot, "", ""},
        };
        for (const Spec &s : specs) {
            const std::string out = path(std::string(s.name) + ".pkg");
            if (fota_make_package(request(s.method, s.part, s.newPath, s.oldPath, out, s.boot, s.nv1, s.nv2)) != 0) {
                ADD_FAILURE() << s.name << ": " << sink.joined();
                continue;
            }
            Built b{s.name, s.layout, readBytes(out), {}};
            b.inputs.partition = s.part;
            b.inputs.newImage = s.newPath;
            b.inputs.oldImage = s.oldPath;
            b.inputs.boot = s.boot;
            b.inputs.nv1 = s.nv1;
            b.inputs.nv2 = s.nv2;
            b.inputs.method = s.method;
            packages->push_back(b);
        }
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
        packages->clear();
    }
    static QTemporaryDir *dir;
    static std::vector<Built> *packages;
};

QTemporaryDir *PackageVerify::dir = nullptr;
std::vector<Built> *PackageVerify::packages = new std::vector<Built>;

// Recomputes the header CRC so that only the deeper checks can see a change.
void fixCrc(std::vector<uint8_t> &pkg, PackageLayout layout)
{
    const size_t end = layout == PackageLayout::AB ? 112 : pkg.size();
    put32(pkg, 12, static_cast<uint32_t>(::crc32(0, &pkg[16], static_cast<uInt>(end - 16))));
}

TEST_F(PackageVerify, BuiltPackagesAreSoundAndReadAsTheirLayout)
{
    ASSERT_EQ(packages->size(), 7u);
    for (const Built &b : *packages) {
        SCOPED_TRACE(b.name);
        EXPECT_TRUE(package_verify(b.pkg.data(), b.pkg.size(), b.inputs).empty());
        PackageInfo info;
        std::vector<std::string> findings;
        ASSERT_TRUE(package_read(b.pkg.data(), b.pkg.size(), info, findings));
        EXPECT_EQ(info.layout, b.layout) << "told apart without a method";
        EXPECT_TRUE(findings.empty());
        // Without the method the full check infers it too.
        PackageInputs noMethod = b.inputs;
        noMethod.method = -1;
        EXPECT_TRUE(package_verify(b.pkg.data(), b.pkg.size(), noMethod).empty());
    }
}

// One flipped bit anywhere, with the header CRC left alone or made to match again.
TEST_F(PackageVerify, CorruptionInEveryRegionIsFound)
{
    for (const Built &b : *packages) {
        SCOPED_TRACE(b.name);
        const size_t header = (b.layout == PackageLayout::Z1 || b.layout == PackageLayout::Z3) ? 64 : 112;
        std::vector<size_t> positions;
        // Every header and record byte (a sample of them under the sanitizers), then a stride
        // through the data: streams, images and filler.
        const size_t near = sanitized() ? 7 : 1;
        for (size_t i = 0; i < header; i += near)
            positions.push_back(i);
        const size_t samples = sanitized() ? 20 : 150;
        const size_t step = std::max<size_t>(1, (b.pkg.size() - header) / samples);
        for (size_t i = header; i < b.pkg.size(); i += (i < header + 224 ? near : step))
            positions.push_back(i);
        positions.push_back(b.pkg.size() - 1);
        size_t missed = 0;
        std::string missedAt;
        for (size_t pos : positions) {
            if (pos >= 12 && pos < 16)
                continue; // the CRC word itself: covered by the unfixed pass
            for (int fix = 0; fix < 2; ++fix) {
                std::vector<uint8_t> bad = b.pkg;
                bad[pos] ^= 0x10;
                if (fix)
                    fixCrc(bad, b.layout);
                if (package_verify(bad.data(), bad.size(), b.inputs).empty()) {
                    ++missed;
                    missedAt += " " + std::to_string(pos) + (fix ? "f" : "");
                }
            }
        }
        EXPECT_EQ(missed, 0u) << "undetected at" << missedAt;
    }
}

TEST_F(PackageVerify, CrcWordTruncationAndExtensionAreFound)
{
    for (const Built &b : *packages) {
        SCOPED_TRACE(b.name);
        std::vector<uint8_t> bad = b.pkg;
        bad[13] ^= 1;
        EXPECT_FALSE(package_verify(bad.data(), bad.size(), b.inputs).empty());
        for (size_t cut : {size_t(1), size_t(16), b.pkg.size() / 2, b.pkg.size() - 8}) {
            bad.assign(b.pkg.begin(), b.pkg.end() - static_cast<std::ptrdiff_t>(cut));
            EXPECT_FALSE(package_verify(bad.data(), bad.size(), b.inputs).empty()) << "cut " << cut;
            if (bad.size() < 112)
                continue;
            put32(bad, 8, static_cast<uint32_t>(bad.size()));
            fixCrc(bad, b.layout);
            EXPECT_FALSE(package_verify(bad.data(), bad.size(), b.inputs).empty()) << "cut " << cut << " fixed";
        }
        bad = b.pkg;
        bad.insert(bad.end(), 16, 0xFF);
        put32(bad, 8, static_cast<uint32_t>(bad.size()));
        fixCrc(bad, b.layout);
        EXPECT_FALSE(package_verify(bad.data(), bad.size(), b.inputs).empty());
        EXPECT_FALSE(package_verify(b.pkg.data(), 7, b.inputs).empty());
    }
}

TEST_F(PackageVerify, OtherInputsAreFound)
{
    for (const Built &b : *packages) {
        SCOPED_TRACE(b.name);
        PackageInputs in = b.inputs;
        std::swap(in.newImage, in.oldImage);
        if (in.newImage.empty())
            in.newImage = in.oldImage.empty() ? in.boot : in.oldImage;
        EXPECT_FALSE(package_verify(b.pkg.data(), b.pkg.size(), in).empty());
        if (b.layout != PackageLayout::Z3) { // an in-place ZN3150 package carries no boot image
            in = b.inputs;
            in.boot = in.boot.empty() ? in.newImage : "";
            EXPECT_FALSE(package_verify(b.pkg.data(), b.pkg.size(), in).empty());
        }
        in = b.inputs;
        in.method = b.inputs.method == 2 ? 1 : 2;
        EXPECT_FALSE(package_verify(b.pkg.data(), b.pkg.size(), in).empty());
        in = b.inputs;
        in.partition = in.newImage; // not a partition table
        EXPECT_FALSE(package_verify(b.pkg.data(), b.pkg.size(), in).empty());
    }
}

} // namespace

namespace {

// Damaged lengths and offsets, with the CRC made to match: findings, never an overrun.
TEST_F(PackageVerify, HostileFieldsAreReportedSafely)
{
    const uint32_t hostile[] = {0, 1, 15, 16, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFF};
    for (const Built &b : *packages) {
        SCOPED_TRACE(b.name);
        const bool z = b.layout == PackageLayout::Z1 || b.layout == PackageLayout::Z3;
        std::vector<size_t> fields = {8, 16, 20, 24, 28, 32};
        if (b.layout == PackageLayout::Z1 || b.layout == PackageLayout::KBlocks) {
            const size_t rec = z ? 64 : 112;
            for (size_t f : {16, 20, 24, 28, 32, 36})
                fields.push_back(rec + f);
            fields.push_back(rec + 112 + 32);
            fields.push_back(rec + 112 + 36);
        }
        for (size_t f : fields) {
            for (uint32_t v : hostile) {
                std::vector<uint8_t> bad = b.pkg;
                if (le32(bad, f) == v)
                    continue;
                put32(bad, f, v);
                fixCrc(bad, b.layout);
                EXPECT_FALSE(package_verify(bad.data(), bad.size(), b.inputs).empty())
                    << "field " << f << " = " << v;
                PackageInfo info;
                std::vector<std::string> findings;
                package_read(bad.data(), bad.size(), info, findings);
            }
        }
    }
}

// Seeded random damage of several bytes at once never crashes the reader or the verifier.
TEST_F(PackageVerify, RandomDamageIsFound)
{
    const int rounds = sanitized() ? 15 : 120;
    for (const Built &b : *packages) {
        SCOPED_TRACE(b.name);
        std::vector<uint8_t> rnd = noise(static_cast<uint32_t>(b.pkg.size()), rounds * 8);
        for (int r = 0; r < rounds; ++r) {
            std::vector<uint8_t> bad = b.pkg;
            const size_t limit = r % 2 ? std::min<size_t>(bad.size(), 400) : bad.size();
            for (int k = 0; k < 3; ++k) {
                const size_t pos = (size_t(rnd[r * 8 + 2 * k]) << 8 | rnd[r * 8 + 2 * k + 1]) * 7919 % limit;
                bad[pos] = static_cast<uint8_t>(bad[pos] + 1 + rnd[r * 8 + 6] % 255);
            }
            if (r % 3)
                fixCrc(bad, b.layout);
            EXPECT_FALSE(package_verify(bad.data(), bad.size(), b.inputs).empty()) << "round " << r;
        }
    }
}

} // namespace

namespace {

// A block record whose patch claims a new size far beyond the record's: refused from the patch
// header, before its stream is decoded.
TEST_F(PackageVerify, PatchClaimingMoreThanItsRecordIsRefused)
{
    for (const Built &b : *packages) {
        if (b.name != "K1")
            continue;
        std::vector<uint8_t> pkg = b.pkg;
        const uint32_t records = le32(pkg, 16);
        size_t patched = 0;
        for (uint32_t i = 0; i < records && !patched; ++i) {
            const size_t rec = 112 + 112 * i;
            if (pkg[rec + 40] == 1)
                patched = rec;
        }
        ASSERT_NE(patched, 0u);
        const size_t data = le32(pkg, patched + 32);
        const uint32_t newLen = le32(pkg, patched + 28);
        put32(pkg, data + 24, 0x7fffffff); // new size, 8-byte sign-magnitude form
        fixCrc(pkg, b.layout);
        const std::vector<std::string> findings = package_verify(pkg.data(), pkg.size(), b.inputs);
        bool refused = false;
        for (const std::string &f : findings)
            refused = refused || f.find("block patch: header says 2147483647 new bytes, the record " +
                                        std::to_string(newLen)) != std::string::npos;
        EXPECT_TRUE(refused) << ::testing::PrintToString(findings);
    }
}

} // namespace

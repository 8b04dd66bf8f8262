#include "builder_test_util.h"

#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/builder/fota.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/verify/inplace_apply.h"
#include "deltamaker/verify/package_verify_p.h"

#include <openssl/sha.h>
#include <zlib.h>

namespace detail = deltamaker::detail;

using namespace BuilderTest;

namespace {

constexpr size_t kBlock = 20480;
const uint8_t kProps[5] = {0x00, 0x00, 0x20, 0x00, 0x00};

uint32_t crcOf(const uint8_t *p, size_t n) { return static_cast<uint32_t>(::crc32(0, p, static_cast<uInt>(n))); }
uint32_t crcOf(const std::vector<uint8_t> &v) { return crcOf(v.data(), v.size()); }

std::string text(const std::vector<uint8_t> &b, size_t at, size_t width)
{
    return std::string(reinterpret_cast<const char *>(&b[at]), strnlen(reinterpret_cast<const char *>(&b[at]), width));
}

bool zeroPadded(const std::vector<uint8_t> &b, size_t at, size_t width)
{
    const size_t n = strnlen(reinterpret_cast<const char *>(&b[at]), width);
    for (size_t i = n; i < width; ++i)
        if (b[at + i] != 0)
            return false;
    return true;
}

std::string fmt(const char *f, long long a)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, f, a);
    return buf;
}

class Builder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string path(const std::string &name) { return dir.filePath(QString::fromStdString(name)).toStdString(); }
    std::string table(const std::string &name, const std::vector<Samples::PartitionSpec> &parts)
    {
        std::vector<uint8_t> t;
        std::string error;
        EXPECT_TRUE(Samples::makePartitionTable(parts, t, error)) << error;
        const std::string p = path(name);
        writeBytes(p, t);
        return p;
    }
    // cpu1 from 0x8000, then data_ota, nv_usr and nv_amt one after the other.
    std::string zTable(uint32_t cpu1 = 0x100000, uint32_t ota = 0x80000)
    {
        const uint32_t otaAt = 0x8000 + cpu1;
        return table("zpart.bin", {{"cpu1", 0x8000, cpu1}, {"data_ota", otaAt, ota},
                                   {"nv_usr", otaAt + ota, 0x8000}, {"nv_amt", otaAt + ota + 0x8000, 0x4000}});
    }
    std::string kTable(uint32_t uboot = 0x40000, uint32_t cpu = 0x300000)
    {
        return table("kpart.bin", {{"uboot", 0, uboot}, {"cpu", 0x40000, cpu}});
    }
    // A compressible image with a ZN3150 trailer.
    std::vector<uint8_t> zImage(uint32_t seed, size_t size, const char *version)
    {
        return zn3150Image(seed, size, version);
    }
    std::vector<uint8_t> kImage(uint32_t seed, size_t size, const char *version, uint8_t code)
    {
        return klm4410Image(seed, size, version, code);
    }
    std::string file(const std::string &name, const std::vector<uint8_t> &bytes)
    {
        const std::string p = path(name);
        writeBytes(p, bytes);
        return p;
    }
    // Derives an update: a few changed bytes and an inserted run.
    static std::vector<uint8_t> update(std::vector<uint8_t> img, size_t grow)
    {
        for (size_t i = 200; i < img.size(); i += 3001)
            img[i] ^= 0x5A;
        const std::vector<uint8_t> ins = noise(99, grow, 3);
        img.insert(img.begin() + static_cast<std::ptrdiff_t>(img.size() / 2), ins.begin(), ins.end());
        return img;
    }

    // Checks a block record against its expected content and decodes its data.
    void expectRecord(const std::vector<uint8_t> &pkg, size_t rec, const char *name, uint32_t addr,
                      const uint8_t *oldBlock, size_t oldLen, const uint8_t *newBlock, size_t newLen,
                      size_t expectedOffset)
    {
        SCOPED_TRACE(std::string("record ") + name + " at " + std::to_string(rec));
        ASSERT_LE(rec + 112, pkg.size());
        char padded[16] = {};
        std::memcpy(padded, name, std::strlen(name));
        EXPECT_EQ(std::memcmp(&pkg[rec], padded, 16), 0);
        EXPECT_EQ(le32(pkg, rec + 16), addr);
        EXPECT_EQ(le32(pkg, rec + 20), oldLen);
        EXPECT_EQ(le32(pkg, rec + 24), addr);
        EXPECT_EQ(le32(pkg, rec + 28), newLen);
        EXPECT_EQ(le32(pkg, rec + 32), expectedOffset);
        const uint32_t dataLen = le32(pkg, rec + 36);
        EXPECT_EQ(pkg[rec + 40], oldBlock ? 1 : 0);
        EXPECT_EQ(pkg[rec + 41], 1);
        EXPECT_EQ(std::memcmp(&pkg[rec + 42], kProps, 5), 0);
        EXPECT_EQ(pkg[rec + 47], 0);
        uint8_t hash[32] = {};
        if (oldBlock)
            SHA256(oldBlock, oldLen, hash);
        EXPECT_EQ(std::memcmp(&pkg[rec + 48], hash, 32), 0);
        SHA256(newBlock, newLen, hash);
        EXPECT_EQ(std::memcmp(&pkg[rec + 80], hash, 32), 0);
        ASSERT_LE(expectedOffset + dataLen, pkg.size());
        const size_t rounded = (dataLen + 15) & ~size_t(15);
        for (size_t i = dataLen; i < rounded; ++i)
            EXPECT_EQ(pkg[expectedOffset + i], 0xFF) << "filler byte " << i;
        std::vector<uint8_t> rebuilt;
        std::string error;
        if (oldBlock)
            ASSERT_TRUE(apply_block_patch(oldBlock, oldLen, &pkg[expectedOffset], dataLen, newLen, rebuilt, error)) << error;
        else
            ASSERT_TRUE(detail::lzma_decode_exact(&pkg[expectedOffset], dataLen, newLen, rebuilt, error)) << error;
        EXPECT_TRUE(rebuilt == std::vector<uint8_t>(newBlock, newBlock + newLen));
        nextOffset = expectedOffset + rounded;
    }

    QTemporaryDir dir;
    SinkRecorder sink;
    size_t nextOffset = 0;
};

TEST_F(Builder, MissingInputsAreRefused)
{
    const std::string part = zTable();
    const std::string img = file("new.bin", zImage(1, 3000, "1.0.0"));
    const std::string out = path("out.pkg");
    EXPECT_EQ(fota_make_package(request(1, "", img, img, out)), -1);
    EXPECT_EQ(fota_make_package(request(1, part, "", img, out)), -1);
    EXPECT_EQ(fota_make_package(request(1, part, img, "", out)), -1);
    EXPECT_EQ(fota_make_package(request(3, part, img, "", out)), -1);
    EXPECT_EQ(fota_make_package(request(2, part, img, "", out)), -1);
    PackRequest r = request(4, part, img, "", out);
    r.output_path = nullptr;
    EXPECT_EQ(fota_make_package(r), -1);
    size_t count = 0;
    for (const auto &l : sink.lines)
        count += l == std::make_pair(1, std::string("please input firmware and patch bin\n"));
    EXPECT_EQ(count, 6u) << sink.joined();
    EXPECT_FALSE(exists(out));
}

TEST_F(Builder, BoardsMustMatchAndBoardIsReportedOnce)
{
    const std::string zn = file("zn.bin", zImage(1, 3000, "1.0.0"));
    const std::string klm = file("klm.bin", kImage(2, 3000, "K1", 0x42));
    EXPECT_EQ(fota_make_package(request(1, kTable(), klm, zn, path("o.pkg"))), -1);
    EXPECT_TRUE(sink.has(1, "image type not match\n"));
    sink.lines.clear();
    fota_make_package(request(5, zTable(), zn, "", path("o.pkg")));
    fota_make_package(request(5, zTable(), zn, "", path("o.pkg")));
    int boards = 0;
    for (const auto &l : sink.lines)
        boards += l.second.rfind("Board ", 0) == 0;
    EXPECT_LE(boards, 1);
    sink.lines.clear();
    fota_make_package(request(5, kTable(), klm, "", path("o.pkg")));
    EXPECT_FALSE(sink.hasText("Board KLM4410\n")) << "reported once per lifetime only";
}

TEST_F(Builder, Zn3150MethodCheck)
{
    const std::string part = zTable();
    const std::string img = file("new.bin", zImage(1, 3000, "1.0.0"));
    const std::string out = path("out.pkg");
    EXPECT_EQ(fota_make_package(request(5, part, img, img, out)), -1);
    EXPECT_TRUE(sink.has(1, "ZN3150 not support the update method\n"));
    EXPECT_EQ(fota_make_package(request(-1, part, img, img, out)), -1);
    // Methods the board cannot build are refused before the table is even read.
    for (int m : {0, 2, 4}) {
        sink.lines.clear();
        EXPECT_EQ(fota_make_package(request(m, part, img, img, out)), -1);
        EXPECT_TRUE(sink.has(1, fmt("ZN3150 images cannot be built with method %lld: ZN3150 takes methods 1 and 3\n", m)))
            << sink.joined();
        EXPECT_FALSE(sink.hasText("Partition Init ok \n"));
        EXPECT_FALSE(exists(out));
    }
}

TEST_F(Builder, Klm4410MethodCheck)
{
    const std::string part = kTable();
    const std::string a42 = file("a42.bin", kImage(1, 3000, "A", 0x42));
    const std::string b42 = file("b42.bin", kImage(2, 3000, "B", 0x42));
    const std::string b22 = file("b22.bin", kImage(3, 3000, "B", 0x22));
    const std::string b82 = file("b82.bin", kImage(4, 3000, "B", 0x82));
    std::vector<uint8_t> shortBytes = kImage(5, 3000, "S", 0x42);
    shortBytes.resize(120); // ends before the method byte's 128-byte read
    const std::string shortImg = file("short.bin", shortBytes);
    const std::string out = path("out.pkg");
    struct Case {
        int method;
        std::string oldPath, newPath;
        std::string message;
    };
    const std::vector<Case> cases = {
        {4, "", b82, "update method 0x4 not match. A method 0x0 B method 0x82\n"},
        {0, a42, b82, "update method 0x0 not match. A method 0x42 B method 0x82\n"},
        {1, a42, b82, "update method 0x1 not match. A method 0x42 B method 0x82\n"},
        {3, b82, b42, "update method 0x3 not match. A method 0x82 B method 0x42\n"},
        {2, a42, b42, "update method 0x2 not match. A method 0x42 B method 0x42\n"},
        {2, b82, b42, "update method 0x2 not match. A method 0x82 B method 0x42\n"},
        {7, a42, b42, "update method 0x7 not match. A method 0x42 B method 0x42\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        sink.lines.clear();
        EXPECT_EQ(fota_make_package(request(c.method, part, c.newPath, c.oldPath, out)), -1);
        EXPECT_TRUE(sink.has(1, c.message)) << sink.joined();
    }
    sink.lines.clear();
    EXPECT_EQ(fota_make_package(request(1, part, shortImg, a42, out)), -1);
    EXPECT_FALSE(sink.joined().find("not match") != std::string::npos) << sink.joined();
    EXPECT_TRUE(sink.has(1, shortImg + " is shorter than 128 bytes\n")) << sink.joined();
    // 0x22 and 0x42 both count as difference images.
    sink.lines.clear();
    EXPECT_EQ(fota_make_package(request(1, part, b22, a42, out)), 0) << sink.joined();
    EXPECT_TRUE(sink.has(3, "update method DIFF\n"));
    sink.lines.clear();
    EXPECT_EQ(fota_make_package(request(4, part, b42, "", out)), 0) << sink.joined();
    EXPECT_TRUE(sink.has(3, "update method CZ\n"));
}

TEST_F(Builder, Klm4410RefusesNvFilesBeforeWriting)
{
    const std::string a = file("a.bin", kImage(1, 3000, "A", 0x42));
    const std::string b = file("b.bin", kImage(2, 3000, "B", 0x42));
    const std::string nv = file("nv.bin", noise(3, 100));
    const std::string out = path("out.pkg");
    EXPECT_EQ(fota_make_package(request(1, kTable(), b, a, out, "", nv)), -1);
    EXPECT_TRUE(sink.has(1, "KLM4410 not support NV update\n"));
    EXPECT_EQ(fota_make_package(request(1, kTable(), b, a, out, "", "", nv)), -1);
    EXPECT_FALSE(exists(out));
}

TEST_F(Builder, Z1LayoutByteForByte)
{
    const std::vector<uint8_t> boot = noise(10, 100, 3);
    const std::vector<uint8_t> oldImg = zImage(11, 30000, "1.0.3");
    std::vector<uint8_t> newImg = update(oldImg, 11000);
    Samples::stampZn3150(newImg, "1.1.0");
    ASSERT_EQ(newImg.size(), 41000u);
    const std::vector<uint8_t> nv1 = noise(12, 5000, 2);
    const std::vector<uint8_t> nv2 = noise(13, 300, 2);
    const std::string out = path("z1.pkg");
    ASSERT_EQ(fota_make_package(request(1, zTable(), file("new.bin", newImg), file("old.bin", oldImg), out,
                                        file("boot.bin", boot), file("nv1.bin", nv1), file("nv2.bin", nv2))),
              0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    ASSERT_GE(pkg.size(), 64u + 6 * 112);
    EXPECT_EQ(std::memcmp(pkg.data(), "FotaPKG\x01", 8), 0);
    EXPECT_EQ(le32(pkg, 8), pkg.size());
    EXPECT_EQ(le32(pkg, 12), crcOf(&pkg[16], pkg.size() - 16));
    EXPECT_EQ(le32(pkg, 16), 6u); // boot, cpu1 x3, nv_usr, nv_amt
    EXPECT_EQ(le32(pkg, 20), oldImg.size());
    EXPECT_EQ(le32(pkg, 24), newImg.size());
    EXPECT_EQ(le32(pkg, 28), crcOf(oldImg));
    EXPECT_EQ(text(pkg, 32, 16), "1.0.3");
    EXPECT_EQ(text(pkg, 48, 16), "1.1.0");
    EXPECT_TRUE(zeroPadded(pkg, 32, 16) && zeroPadded(pkg, 48, 16));

    nextOffset = 64 + 6 * 112;
    size_t rec = 64;
    expectRecord(pkg, rec, "boot", 0, nullptr, 0, boot.data(), boot.size(), nextOffset);
    rec += 112;
    expectRecord(pkg, rec, "cpu1", 0x8000, oldImg.data(), kBlock, newImg.data(), kBlock, nextOffset);
    rec += 112;
    expectRecord(pkg, rec, "cpu1", 0x8000 + kBlock, oldImg.data() + kBlock, 30000 - kBlock,
                 newImg.data() + kBlock, kBlock, nextOffset);
    rec += 112;
    // The new image outgrows the old: no old counterpart, old length 0 and a zero hash.
    expectRecord(pkg, rec, "cpu1", 0x8000 + 2 * kBlock, nullptr, 0, newImg.data() + 2 * kBlock, 40, nextOffset);
    rec += 112;
    expectRecord(pkg, rec, "nv_usr", 0x188000, nullptr, 0, nv1.data(), nv1.size(), nextOffset);
    rec += 112;
    expectRecord(pkg, rec, "nv_amt", 0x190000, nullptr, 0, nv2.data(), nv2.size(), nextOffset);
    EXPECT_EQ(nextOffset, pkg.size());

    // The messages, in order, after the board line.
    std::vector<std::string> texts;
    for (const auto &l : sink.lines)
        if (l.second.rfind("Board ", 0) != 0)
            texts.push_back(l.second);
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "Partition Init ok \n");
    EXPECT_EQ(texts[1], "update method DIFF\n");
    EXPECT_EQ(texts[2], "source version 1.0.3 target version 1.1.0\n");
    EXPECT_EQ(texts[3], "packsize:\t\t 12K\n");
    // Verification is the last step before success.
    EXPECT_EQ(texts[texts.size() - 2].rfind("partsize check pass, extra ", 0), 0u);
    EXPECT_EQ(texts.back(), "package verified\n");
}

TEST_F(Builder, BuildsAreDeterministic)
{
    const std::string oldPath = file("old.bin", zImage(11, 30000, "1.0.3"));
    const std::string newPath = file("new.bin", update(readBytes(oldPath), 500));
    const std::string a = path("a.pkg"), b = path("b.pkg");
    ASSERT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, a)), 0);
    ASSERT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, b)), 0);
    EXPECT_TRUE(readBytes(a) == readBytes(b));
}

TEST_F(Builder, KBlocks20481BytesMakeTwoRecords)
{
    const std::vector<uint8_t> img = kImage(20, 20481, "KLM_V1", 0x22);
    const std::string out = path("k0.pkg");
    ASSERT_EQ(fota_make_package(request(0, kTable(), file("new.bin", img), "", out)), 0) << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    EXPECT_EQ(std::memcmp(pkg.data(), "FotaPKG\x22", 8), 0);
    EXPECT_EQ(le32(pkg, 8), pkg.size());
    EXPECT_EQ(le32(pkg, 12), crcOf(&pkg[16], pkg.size() - 16));
    EXPECT_EQ(le32(pkg, 16), 2u);
    EXPECT_EQ(le32(pkg, 20), 0u);
    EXPECT_EQ(le32(pkg, 24), 20481u);
    EXPECT_EQ(le32(pkg, 28), 0u);
    EXPECT_EQ(le32(pkg, 32), crcOf(img));
    for (size_t i = 36; i < 48; ++i)
        EXPECT_EQ(pkg[i], 0);
    for (size_t i = 48; i < 80; ++i)
        EXPECT_EQ(pkg[i], 0) << "no source version without an old image";
    EXPECT_EQ(text(pkg, 80, 32), "KLM_V1");
    EXPECT_TRUE(sink.has(3, "target version KLM_V1\n"));
    nextOffset = 112 + 2 * 112;
    expectRecord(pkg, 112, "cpu", 0x40000, nullptr, 0, img.data(), kBlock, nextOffset);
    expectRecord(pkg, 224, "cpu", 0x40000 + kBlock, nullptr, 0, img.data() + kBlock, 1, nextOffset);
    EXPECT_EQ(nextOffset, pkg.size());
}

TEST_F(Builder, KMethod0CompressesEveryRecordAloneEvenWithAnOldImage)
{
    const std::vector<uint8_t> boot = noise(30, 3000, 3);
    const std::vector<uint8_t> oldImg = kImage(31, 45000, "KLM_V1", 0x42);
    const std::vector<uint8_t> newImg = kImage(32, 42000, "KLM_V2", 0x42);
    const std::string out = path("k0.pkg");
    ASSERT_EQ(fota_make_package(request(0, kTable(), file("new.bin", newImg), file("old.bin", oldImg), out,
                                        file("boot.bin", boot))),
              0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    EXPECT_EQ(le32(pkg, 16), 4u);
    EXPECT_EQ(le32(pkg, 20), oldImg.size());
    EXPECT_EQ(le32(pkg, 28), crcOf(oldImg));
    EXPECT_EQ(text(pkg, 48, 32), "KLM_V1");
    nextOffset = 112 + 4 * 112;
    expectRecord(pkg, 112, "uboot", 0, nullptr, 0, boot.data(), boot.size(), nextOffset);
    for (size_t k = 0; k < 3; ++k)
        expectRecord(pkg, 224 + k * 112, "cpu", 0x40000 + k * kBlock, nullptr, 0, newImg.data() + k * kBlock,
                     std::min(kBlock, newImg.size() - k * kBlock), nextOffset);
}

TEST_F(Builder, KMethod1PatchesAgainstTheOldImage)
{
    const std::vector<uint8_t> oldImg = kImage(41, 30000, "KLM_V1", 0x42);
    std::vector<uint8_t> newImg = update(oldImg, 300);
    Samples::stampKlm4410(newImg, "KLM_V2", 0x42);
    const std::string out = path("k1.pkg");
    ASSERT_EQ(fota_make_package(request(1, kTable(), file("new.bin", newImg), file("old.bin", oldImg), out)), 0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    EXPECT_EQ(pkg[7], 0x42);
    EXPECT_EQ(le32(pkg, 32), crcOf(newImg));
    EXPECT_TRUE(sink.has(3, "source version KLM_V1 target version KLM_V2\n"));
    nextOffset = 112 + 2 * 112;
    expectRecord(pkg, 112, "cpu", 0x40000, oldImg.data(), kBlock, newImg.data(), kBlock, nextOffset);
    expectRecord(pkg, 224, "cpu", 0x40000 + kBlock, oldImg.data() + kBlock, oldImg.size() - kBlock,
                 newImg.data() + kBlock, newImg.size() - kBlock, nextOffset);
}

TEST_F(Builder, KWholeImageLayout)
{
    const std::vector<uint8_t> boot = noise(50, 777, 8);
    const std::vector<uint8_t> img = kImage(51, 50000, "KLM_V3", 0x22);
    const std::string out = path("k4.pkg");
    ASSERT_EQ(fota_make_package(request(4, kTable(), file("new.bin", img), "", out, file("boot.bin", boot))), 0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    EXPECT_EQ(std::memcmp(pkg.data(), "FotaPKG\x22", 8), 0);
    EXPECT_EQ(le32(pkg, 8), pkg.size());
    EXPECT_EQ(le32(pkg, 12), crcOf(&pkg[16], pkg.size() - 16));
    EXPECT_EQ(le32(pkg, 16), boot.size());
    EXPECT_EQ(le32(pkg, 20), 0u);
    EXPECT_EQ(le32(pkg, 24), img.size());
    EXPECT_EQ(le32(pkg, 28), 0u);
    EXPECT_EQ(le32(pkg, 32), 0u);
    EXPECT_TRUE(std::equal(boot.begin(), boot.end(), pkg.begin() + 112));
    std::vector<uint8_t> rebuilt;
    std::string error;
    ASSERT_TRUE(detail::lzma_decode_exact(&pkg[112 + boot.size()], pkg.size() - 112 - boot.size(), img.size(),
                                          rebuilt, error))
        << error;
    EXPECT_TRUE(rebuilt == img);
    EXPECT_TRUE(sink.has(3, "partsize check pass, extra 2948K\n") || sink.joined().find("partsize check pass") != std::string::npos);
}

TEST_F(Builder, KInplaceLayout)
{
    const std::vector<uint8_t> boot = noise(60, 500, 8);
    const std::vector<uint8_t> oldImg = kImage(61, 70000, "KLM_V1", 0x42);
    std::vector<uint8_t> newImg = update(oldImg, 3000);
    Samples::stampKlm4410(newImg, "KLM_V2", 0x42);
    const std::string out = path("k3.pkg");
    ASSERT_EQ(fota_make_package(request(3, kTable(), file("new.bin", newImg), file("old.bin", oldImg), out,
                                        file("boot.bin", boot))),
              0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    EXPECT_EQ(std::memcmp(pkg.data(), "FotaPKG\x42", 8), 0);
    EXPECT_EQ(le32(pkg, 8), pkg.size());
    EXPECT_EQ(le32(pkg, 12), crcOf(&pkg[16], pkg.size() - 16));
    EXPECT_EQ(le32(pkg, 16), boot.size());
    EXPECT_EQ(le32(pkg, 20), oldImg.size());
    EXPECT_EQ(le32(pkg, 24), newImg.size());
    EXPECT_EQ(le32(pkg, 28), crcOf(oldImg));
    EXPECT_EQ(le32(pkg, 32), 0u);
    EXPECT_EQ(text(pkg, 48, 32), "KLM_V1");
    EXPECT_EQ(text(pkg, 80, 32), "KLM_V2");
    EXPECT_TRUE(std::equal(boot.begin(), boot.end(), pkg.begin() + 112));
    const size_t at = 112 + boot.size();
    EXPECT_EQ(std::memcmp(&pkg[at], "BSDIFF40", 8), 0);
    std::vector<uint8_t> rebuilt;
    std::string error;
    ASSERT_TRUE(apply_inplace_patch(oldImg.data(), oldImg.size(), newImg.size(), &pkg[at], pkg.size() - at,
                                    rebuilt, error))
        << error;
    EXPECT_TRUE(rebuilt == newImg);
}

TEST_F(Builder, Z3Layout)
{
    const std::vector<uint8_t> oldImg = zImage(71, 60000, "2.0.0");
    std::vector<uint8_t> newImg = update(oldImg, 2000);
    Samples::stampZn3150(newImg, "2.1.0");
    const std::string out = path("z3.pkg");
    ASSERT_EQ(fota_make_package(request(3, zTable(), file("new.bin", newImg), file("old.bin", oldImg), out)), 0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    EXPECT_EQ(std::memcmp(pkg.data(), "FotaPKG\x03", 8), 0);
    EXPECT_EQ(le32(pkg, 8), pkg.size());
    EXPECT_EQ(le32(pkg, 12), crcOf(&pkg[16], pkg.size() - 16));
    EXPECT_EQ(le32(pkg, 16), 0u);
    EXPECT_EQ(le32(pkg, 20), oldImg.size());
    EXPECT_EQ(le32(pkg, 24), newImg.size());
    EXPECT_EQ(le32(pkg, 28), crcOf(oldImg));
    EXPECT_EQ(text(pkg, 32, 16), "2.0.0");
    EXPECT_EQ(text(pkg, 48, 16), "2.1.0");
    std::vector<uint8_t> rebuilt;
    std::string error;
    ASSERT_TRUE(apply_inplace_patch(oldImg.data(), oldImg.size(), newImg.size(), &pkg[64], pkg.size() - 64,
                                    rebuilt, error))
        << error;
    EXPECT_TRUE(rebuilt == newImg);
}

TEST_F(Builder, ABLayout)
{
    const std::vector<uint8_t> boot = noise(80, 333);
    const std::vector<uint8_t> a = kImage(81, 5000, "KLM_A", 0x82);
    const std::vector<uint8_t> b = kImage(82, 6001, "KLM_B", 0x82);
    const std::string out = path("ab.pkg");
    ASSERT_EQ(fota_make_package(request(2, kTable(), file("b.bin", b), file("a.bin", a), out, file("boot.bin", boot))),
              0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    ASSERT_EQ(pkg.size(), 112 + boot.size() + a.size() + b.size());
    EXPECT_EQ(std::memcmp(pkg.data(), "FotaPKG\x82", 8), 0);
    EXPECT_EQ(le32(pkg, 8), pkg.size());
    EXPECT_EQ(le32(pkg, 12), crcOf(&pkg[16], 96)); // the header only
    EXPECT_EQ(le32(pkg, 16), boot.size());
    EXPECT_EQ(le32(pkg, 20), a.size());
    EXPECT_EQ(le32(pkg, 24), b.size());
    EXPECT_EQ(le32(pkg, 28), crcOf(a));
    EXPECT_EQ(le32(pkg, 32), crcOf(b));
    EXPECT_EQ(text(pkg, 48, 32), "KLM_A");
    EXPECT_EQ(text(pkg, 80, 32), "KLM_B");
    EXPECT_TRUE(std::equal(boot.begin(), boot.end(), pkg.begin() + 112));
    EXPECT_TRUE(std::equal(a.begin(), a.end(), pkg.begin() + 112 + 333));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), pkg.begin() + 112 + 333 + 5000));
    EXPECT_TRUE(sink.has(3, "update method AB\n"));
    EXPECT_TRUE(sink.has(3, "partsize check pass\n"));
}

TEST_F(Builder, ABSizeCheckFailures)
{
    const std::vector<uint8_t> boot = noise(80, 0x2001);
    const std::string a = file("a.bin", kImage(81, 5000, "KLM_A", 0x82));
    const std::string b = file("b.bin", kImage(82, 6001, "KLM_B", 0x82));
    const std::string out = path("ab.pkg");
    EXPECT_EQ(fota_make_package(request(2, kTable(0x40000, 0x2000), b, a, out)), -1);
    EXPECT_TRUE(sink.has(1, "master part size 0x1000 not enough, firmware size:0x1771\n")) << sink.joined();
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(fota_make_package(request(2, kTable(0x2000, 0x300000), b, a, out, file("boot.bin", boot))), -1);
    EXPECT_TRUE(sink.has(1, "boot size 0x2001 too big\n")) << sink.joined();
    EXPECT_FALSE(exists(out));
}

TEST_F(Builder, ZSizeCheckPassAndFailLines)
{
    const std::vector<uint8_t> oldImg = zImage(90, 30000, "1.0.0");
    const std::vector<uint8_t> newImg = zImage(91, 41000, "1.0.1");
    const std::string oldPath = file("old.bin", oldImg), newPath = file("new.bin", newImg);
    const std::string out = path("z.pkg");
    ASSERT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out)), 0) << sink.joined();
    const std::vector<uint8_t> built = readBytes(out);
    const long long pack = (static_cast<long long>(built.size()) + 4095) & ~4095ll;
    const long long fw = (41000 + 4097) & ~4095ll;
    EXPECT_TRUE(sink.has(3, fmt("packsize:\t\t %lldK\n", pack >> 10))) << sink.joined();
    EXPECT_TRUE(sink.has(3, fmt("firamwaresize:\t %lldK\n", fw >> 10)));
    EXPECT_TRUE(sink.has(3, "mastersize:\t 1024K\n"));
    EXPECT_TRUE(sink.has(3, "otasize:\t\t 512K\n"));
    EXPECT_TRUE(sink.has(3, fmt("partsize check pass, extra %lldK\n",
                                (0x100000 + 0x80000 - pack - fw - 0x7000) >> 10)));

    // master + ota one 4 KiB step short of pack + fw + reserve.
    sink.lines.clear();
    const uint32_t ota = static_cast<uint32_t>(pack + fw + 0x7000 - 0x10000 - 0x1000);
    ASSERT_EQ(fota_make_package(request(1, zTable(0x10000, ota), newPath, oldPath, out)), -1);
    EXPECT_TRUE(sink.has(1, fmt("packsize:\t\t %lldK\n", pack >> 10))) << sink.joined();
    EXPECT_TRUE(sink.has(1, fmt("firmwaresize:\t %lldK\n", fw >> 10)));
    EXPECT_TRUE(sink.has(1, "mastersize:\t 64K\n"));
    EXPECT_TRUE(sink.has(1, fmt("otasize:\t\t %lldK\n", ota >> 10)));
    EXPECT_TRUE(sink.has(1, "size not enough for upgrade, also need 4K\n"));
    EXPECT_TRUE(readBytes(out) == built) << "a failed build leaves the earlier package alone";

    sink.lines.clear();
    ASSERT_EQ(fota_make_package(request(1, zTable(40000), newPath, oldPath, out)), -1);
    EXPECT_TRUE(sink.has(1, "master part 0x9c40 not enough, new file size:0xa028\n")) << sink.joined();
    EXPECT_TRUE(readBytes(out) == built) << "a failed build leaves the earlier package alone";

    sink.lines.clear();
    const std::string boot = file("boot.bin", noise(92, 0x6001, 2));
    ASSERT_EQ(fota_make_package(request(1, zTable(), newPath, oldPath, out, boot)), -1);
    EXPECT_TRUE(sink.has(1, "boot file 0x6001 too big than boot part 0x6000\n")) << sink.joined();
    EXPECT_TRUE(readBytes(out) == built) << "a failed build leaves the earlier package alone";
}

TEST_F(Builder, KSizeCheckLinesAndFirmwareRounding)
{
    // 4094 gives 4096; 4095 and 4096 both give 8192.
    const std::vector<std::pair<size_t, int>> sizes = {{4094, 4}, {4095, 8}, {4096, 8}};
    for (const auto &s : sizes) {
        SCOPED_TRACE(s.first);
        sink.lines.clear();
        const std::string img = file("img.bin", kImage(100, s.first, "KLM_V1", 0x22));
        const std::string out = path("k.pkg");
        ASSERT_EQ(fota_make_package(request(4, kTable(), img, "", out)), 0) << sink.joined();
        const long long pack = (static_cast<long long>(readBytes(out).size()) + 4095) & ~4095ll;
        EXPECT_TRUE(sink.has(3, fmt("packsize:\t %lldK\n", pack >> 10))) << sink.joined();
        EXPECT_TRUE(sink.has(3, fmt("firamwaresize:\t %lldK\n", s.second)));
        EXPECT_TRUE(sink.has(3, "mastersize:\t 3072K\n"));
        EXPECT_TRUE(sink.has(3, fmt("partsize check pass, extra %lldK\n",
                                    (0x300000 - pack - s.second * 1024 - 8192) >> 10)));
    }
    sink.lines.clear();
    const std::string img = file("img.bin", kImage(100, 4096, "KLM_V1", 0x22));
    const std::string out = path("k.pkg");
    std::remove(out.c_str());
    ASSERT_EQ(fota_make_package(request(4, kTable(0x40000, 0x4000), img, "", out)), -1);
    EXPECT_TRUE(sink.has(1, "packsize:\t 4K\n")) << sink.joined();
    EXPECT_TRUE(sink.has(1, "firamwaresize:\t 8K\n"));
    EXPECT_TRUE(sink.has(1, "mastersize:\t 16K\n"));
    EXPECT_TRUE(sink.has(1, "size not enough for upgrade, also need 4K\n"));
    EXPECT_FALSE(sink.hasText("package verified\n")) << "no verification after a failed size check";
    EXPECT_FALSE(exists(out));
}

TEST_F(Builder, OversizedBlockDataFailsBeforeWriting)
{
    // An incompressible block does not fit in 20480 bytes.
    const std::vector<uint8_t> oldImg = zImage(110, 3000, "1.0.0");
    std::vector<uint8_t> newImg = noise(111, 30000, 8);
    Samples::stampZn3150(newImg, "1.0.1");
    const std::string out = path("z.pkg");
    ASSERT_EQ(fota_make_package(request(1, zTable(), file("new.bin", newImg), file("old.bin", oldImg), out)), -1);
    bool found = false;
    for (const auto &l : sink.lines)
        found = found || (l.first == 1 && l.second.rfind("patchlen size 2", 0) == 0 &&
                          l.second.size() > 10 && l.second.substr(l.second.size() - 11) == " too long \n");
    EXPECT_TRUE(found) << sink.joined();
    EXPECT_FALSE(exists(out));
}

TEST_F(Builder, PackageOver1MiBFailsBeforeWriting)
{
    if (sanitized())
        GTEST_SKIP() << "1.3 MiB of compression is slow under the sanitizers";
    const std::vector<uint8_t> oldImg = zImage(120, 3000, "1.0.0");
    std::vector<uint8_t> newImg = noise(121, 1300 * 1024, 7); // about 7/8 per block
    Samples::stampZn3150(newImg, "1.0.1");
    const std::string out = path("z.pkg");
    ASSERT_EQ(fota_make_package(request(1, zTable(0x200000), file("new.bin", newImg), file("old.bin", oldImg), out)),
              -1);
    bool found = false;
    for (const auto &l : sink.lines)
        found = found || (l.first == 1 && l.second.rfind("patch size bigger than 1M, patchlen=0x", 0) == 0);
    EXPECT_TRUE(found) << sink.joined();
    EXPECT_FALSE(exists(out));
}

} // namespace

namespace {

TEST_F(Builder, DefaultVersionWarningsDoNotStopTheBuild)
{
    std::vector<uint8_t> oldImg = zImage(130, 30000, "1.0.0");
    oldImg[oldImg.size() - 24] = 'r'; // no "REL_V:" trailer
    std::vector<uint8_t> newImg = update(oldImg, 100);
    Samples::stampZn3150(newImg, "1.1.0");
    const std::string out = path("z.pkg");
    ASSERT_EQ(fota_make_package(request(1, zTable(), file("new.bin", newImg), file("old.bin", oldImg), out)), 0)
        << sink.joined();
    EXPECT_TRUE(sink.has(3, "Warning !!! Has default version source x.x.x target 1.1.0\n")) << sink.joined();
    EXPECT_EQ(text(readBytes(out), 32, 16), "x.x.x");

    sink.lines.clear();
    const std::string img = file("k.bin", kImage(131, 5000, "x.x.x", 0x22));
    ASSERT_EQ(fota_make_package(request(4, kTable(), img, "", out)), 0) << sink.joined();
    EXPECT_TRUE(sink.has(3, "Warning !!! Has default version x.x.x better supply src file\n")) << sink.joined();
}

TEST_F(Builder, UnterminatedVersionTrailerFailsTheBuild)
{
    const std::vector<uint8_t> oldImg = zImage(140, 30000, "1.0.0");
    std::vector<uint8_t> newImg = update(oldImg, 100);
    Samples::stampZn3150(newImg, "1.1.0");
    std::memset(&newImg[newImg.size() - 18], '7', 18);
    const std::string newPath = file("new.bin", newImg);
    const std::string out = path("z.pkg");
    EXPECT_EQ(fota_make_package(request(1, zTable(), newPath, file("old.bin", oldImg), out)), -1);
    EXPECT_TRUE(sink.has(1, newPath + ": version text has no terminator in the image trailer\n")) << sink.joined();
    EXPECT_FALSE(exists(out));
}

// A package that the read-back check rejects is reported, removed and never passed as built.
TEST_F(Builder, RejectedPackageIsRemoved)
{
    const std::string oldPath = file("old.bin", zImage(150, 30000, "1.0.0"));
    const std::string newPath = file("new.bin", update(readBytes(oldPath), 100));
    const std::string out = path("z.pkg");
    PackageInputs seen;
    detail::set_package_check([&](const std::string &p, const PackageInputs &in) {
        seen = in;
        EXPECT_TRUE(exists(p));
        return std::vector<std::string>{"record 1 (cpu1 block 0): injected fault", "second"};
    });
    const int rc = fota_make_package(request(1, zTable(), newPath, oldPath, out));
    detail::set_package_check(nullptr);
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(sink.has(1, "package verification failed: record 1 (cpu1 block 0): injected fault\n"))
        << sink.joined();
    EXPECT_FALSE(sink.hasText("package verified\n"));
    EXPECT_EQ(sink.lines.back().second.rfind("package verification failed: ", 0), 0u)
        << "the size check comes first, verification last";
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(seen.newImage, newPath);
    EXPECT_EQ(seen.oldImage, oldPath);
    EXPECT_EQ(seen.method, 1);
}

} // namespace

namespace {

// The build removes and rewrites its output: an output naming an input must not destroy it.
TEST_F(Builder, OutputNamingAnInputIsRefused)
{
    const std::vector<uint8_t> oldImg = zImage(160, 30000, "1.0.0");
    const std::string oldPath = file("old.bin", oldImg);
    const std::string newPath = file("new.bin", update(oldImg, 100));
    for (int method : {1, 3}) {
        sink.lines.clear();
        EXPECT_EQ(fota_make_package(request(method, zTable(), newPath, oldPath, path("./old.bin"))), -1);
        EXPECT_TRUE(sink.has(1, "output " + path("./old.bin") + " is one of the input files\n")) << sink.joined();
        EXPECT_TRUE(readBytes(oldPath) == oldImg);
    }
}

} // namespace

namespace {

TEST_F(Builder, DataAreaOverflowFailsCleanly)
{
    std::vector<uint8_t> a = noise(170, 3 * 1024 * 1024, 8);
    std::vector<uint8_t> b = noise(171, 2 * 1024 * 1024, 8);
    Samples::stampKlm4410(a, "KLM_A", 0x82);
    Samples::stampKlm4410(b, "KLM_B", 0x82);
    const std::string bPath = file("b.bin", b);
    const std::string out = path("ab.pkg");
    EXPECT_EQ(fota_make_package(request(2, kTable(0x40000, 0x1000000), bPath, file("a.bin", a), out)), -1);
    EXPECT_TRUE(sink.has(1, "data area full: " + bPath + " needs 0x200000 bytes, 0x100000 left\n")) << sink.joined();
    EXPECT_FALSE(exists(out));
}

} // namespace

namespace {

// The CRC of an image over 4 MiB is its true CRC, not 0.
TEST_F(Builder, OldImageOver4MiBGetsItsTrueCrc)
{
    const std::vector<uint8_t> oldImg = kImage(180, 0x400000 + 4321, "KLM_V1", 0x42);
    const std::vector<uint8_t> newImg = kImage(181, 30000, "KLM_V2", 0x22);
    const std::string out = path("k4.pkg");
    ASSERT_EQ(fota_make_package(request(4, kTable(0x40000, 0x1000000), file("new.bin", newImg),
                                        file("old.bin", oldImg), out)),
              0)
        << sink.joined();
    const std::vector<uint8_t> pkg = readBytes(out);
    EXPECT_EQ(le32(pkg, 20), oldImg.size());
    EXPECT_EQ(le32(pkg, 28), crcOf(oldImg));
    EXPECT_NE(le32(pkg, 28), 0u);
}

} // namespace

// The package bytes are pinned: the same inputs give the same package on every run and every
// machine. Any change of these hashes changes what devices receive and must be deliberate.
#include "builder_test_util.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/verify/package_verify.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cstdio>

namespace {

std::string sha256Hex(const std::vector<uint8_t> &bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    std::string hex;
    char buf[3];
    for (unsigned char c : digest) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        hex += buf;
    }
    return hex;
}

struct PinnedBuild {
    const char *board;
    int method;
    const char *oldFile;
    const char *newFile;
    bool boot;
    bool nv;
    const char *sha256;
};

void copyPath(char (&field)[256], const std::string &path)
{
    ASSERT_LT(path.size(), sizeof field);
    std::strcpy(field, path.c_str());
}

void writeSamples(const std::string &dir)
{
    std::vector<Samples::WrittenSample> written;
    std::string error;
    ASSERT_TRUE(Samples::writeBoardSamples(dir, written, error)) << error;
}

void fillRequest(const PinnedBuild &b, const std::string &base, PackRequest &req)
{
    std::memset(&req, 0, sizeof req);
    copyPath(req.partition_path, base + "partition.bin");
    if (b.boot)
        copyPath(req.boot_path, base + "boot.bin");
    if (*b.oldFile)
        copyPath(req.old_path, base + b.oldFile);
    copyPath(req.new_path, base + b.newFile);
    if (b.nv) {
        copyPath(req.nv1_path, base + "nv_usr.bin");
        copyPath(req.nv2_path, base + "nv_amt.bin");
    }
    req.method = b.method;
}

const PinnedBuild kBuilds[] = {
    {"zn3150", 1, "old.bin", "new.bin", true, true,
     "458e2b812d9bf2976fc41e07d040fbc40eb84849ba0474f4cd6ff4642b697d3b"},
    {"zn3150", 3, "old.bin", "new.bin", false, false,
     "6931e4729a94aba9e37b5a9816eb47affd4850f8d6a2fb2c346b746a40165cb6"},
    {"klm4410", 0, "diff_old.bin", "cz_new.bin", true, false,
     "58f257a37117eceb56907646ffea674d91c055fa996a860ef3493b3493c3133c"},
    {"klm4410", 1, "diff_old.bin", "diff_new.bin", true, false,
     "ecaf0926e9d659ddd399e02e62ad32b739da32a2884e47015f6743a6983cee42"},
    {"klm4410", 2, "ab_old.bin", "ab_new.bin", true, false,
     "e3df3a76274fa1db9ef7de79091f0769786232963f391153b93e4533dfdb794c"},
    {"klm4410", 3, "diff_old.bin", "diff_new.bin", true, false,
     "c7c5e9918e3947b97483bc2d3341a96ab35ff5de7332dd33bfeb78e2ddebfab6"},
    {"klm4410", 4, "", "cz_new.bin", true, false,
     "0c8884736412beee0fe55e5abb3070bfe17141169576190b106b240b20cba9df"},
};

} // namespace

// The thread counts every pinned build is made with: one after the other, and in parallel.
const int kThreadCounts[] = {1, 2, 4};

TEST(ReproduciblePackages, SampleBuildsHaveTheirPinnedBytes)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    ASSERT_NO_FATAL_FAILURE(writeSamples(dir));

    for (const PinnedBuild &b : kBuilds) {
        const std::string base = dir + "/" + b.board + "/";
        PackRequest req;
        fillRequest(b, base, req);
        for (int threads : kThreadCounts) {
            SCOPED_TRACE(std::string(b.board) + " method " + std::to_string(b.method) +
                         " threads " + std::to_string(threads));
            const std::string out = dir + "/pkg_" + std::to_string(threads) + ".bin";
            req.output_path = out.c_str();
            req.threads = threads;
            ASSERT_EQ(fota_make_package(req), 0);
            EXPECT_EQ(sha256Hex(BuilderTest::readBytes(out)), b.sha256);
        }
    }
}

// The optimising encoder writes the same format: every sample package it builds passes the
// builder's read-back verification, is never larger than the default one, and is the same on
// every run and with every thread count.
TEST(ReproduciblePackages, OptimisedBuildsVerifyAndAreNeverLarger)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    ASSERT_NO_FATAL_FAILURE(writeSamples(dir));
    for (const PinnedBuild &b : kBuilds) {
        SCOPED_TRACE(std::string(b.board) + " method " + std::to_string(b.method));
        PackRequest req;
        fillRequest(b, dir + "/" + b.board + "/", req);
        const std::string plainOut = dir + "/pkg_plain.bin";
        req.output_path = plainOut.c_str();
        ASSERT_EQ(fota_make_package(req), 0);
        const std::vector<uint8_t> plain = BuilderTest::readBytes(plainOut);
        std::vector<uint8_t> first;
        for (int threads : kThreadCounts) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            const std::string out = dir + "/pkg_" + std::to_string(threads) + ".bin";
            req.output_path = out.c_str();
            req.optimize = 1;
            req.threads = threads;
            ASSERT_EQ(fota_make_package(req), 0);
            const std::vector<uint8_t> optimised = BuilderTest::readBytes(out);
            EXPECT_LE(optimised.size(), plain.size());
            if (first.empty())
                first = optimised;
            EXPECT_EQ(optimised, first);
        }
    }
}

// A block whose patch is larger than the block compressed alone (old is noise, new is mostly
// zeros) is stored as a block without an old counterpart by the optimising encoder; the other
// blocks keep their patches. The package verifies and is smaller than the default one.
TEST(ReproduciblePackages, OptimisedBlockIsStoredAloneWhenThatIsSmaller)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    std::vector<uint8_t> table;
    std::string error;
    ASSERT_TRUE(Samples::makePartitionTable({{"uboot", 0, 0x40000}, {"cpu", 0x40000, 0x300000}},
                                            table, error))
        << error;
    std::vector<uint8_t> oldImage = BuilderTest::noise(3, 3 * 20480, 3);
    std::vector<uint8_t> newImage = oldImage;
    const std::vector<uint8_t> noisy = BuilderTest::noise(4, 20480, 8);
    std::copy(noisy.begin(), noisy.end(), oldImage.begin() + 20480); // block 1: old is noise
    std::fill(newImage.begin() + 20480, newImage.begin() + 2 * 20480 - 7, 0); // new is not
    newImage[100] ^= 0x5A;
    Samples::stampKlm4410(oldImage, "V1.0.0", 0x42);
    Samples::stampKlm4410(newImage, "V1.1.0", 0x42);
    const std::string partPath = dir + "/part.bin", oldPath = dir + "/old.bin",
                      newPath = dir + "/new.bin";
    BuilderTest::writeBytes(partPath, table);
    BuilderTest::writeBytes(oldPath, oldImage);
    BuilderTest::writeBytes(newPath, newImage);

    std::vector<uint8_t> packages[2];
    for (int run = 0; run < 2; ++run) {
        const std::string out = dir + "/pkg_" + std::to_string(run) + ".bin";
        PackRequest req = BuilderTest::request(1, partPath, newPath, oldPath, out);
        req.optimize = run;
        ASSERT_EQ(fota_make_package(req), 0);
        packages[run] = BuilderTest::readBytes(out);
    }
    ASSERT_LT(packages[1].size(), packages[0].size());
    PackageInputs inputs;
    inputs.partition = partPath;
    inputs.oldImage = oldPath;
    inputs.newImage = newPath;
    inputs.method = 1;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const std::vector<uint8_t> &pkg = packages[run];
        EXPECT_TRUE(package_verify(pkg.data(), pkg.size(), inputs).empty());
        PackageInfo info;
        std::vector<std::string> findings;
        ASSERT_TRUE(package_read(pkg.data(), pkg.size(), info, findings, 1));
        ASSERT_EQ(info.records.size(), 3u);
        const std::vector<uint8_t> zeros(32, 0);
        for (size_t i = 0; i < 3; ++i) {
            const PackageRecord &r = info.records[i];
            const bool alone = run == 1 && i == 1;
            EXPECT_EQ(r.type, alone ? 0 : 1) << i;
            EXPECT_EQ(r.oldLen, alone ? 0u : 20480u) << i;
            EXPECT_EQ(std::memcmp(r.oldHash, zeros.data(), 32) == 0, alone) << i;
        }
    }
}

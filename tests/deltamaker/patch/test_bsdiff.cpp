// Block patch generator: header and stream layout, diagnostics, LZMA settings, round trips.
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/patch/match_scan.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/patch/suffix_sort.h"
#include "deltamaker/samples/firmware_gen.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/verify/lzma_unpack.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

bool sanitizing()
{
    const char *v = std::getenv("TESSEL_SANITIZE");
    return v && *v && std::strcmp(v, "0") != 0;
}

struct Result {
    int rc = -1;
    Bytes patch;
    std::string out; // what the call printed
};

Result diff(const Bytes &oldB, const Bytes &newB)
{
    Result r;
    r.patch.assign(32 + 2 * newB.size(), 0xCC);
    int64_t len = -1;
    CaptureStdout();
    r.rc = sw_bsdiff(oldB.data(), static_cast<int64_t>(oldB.size()), newB.data(),
                     static_cast<int64_t>(newB.size()), r.patch.data(), &len);
    r.out = GetCapturedStdout();
    if (r.rc == 0) {
        EXPECT_GE(len, 32);
        EXPECT_LE(len, static_cast<int64_t>(r.patch.size()));
        r.patch.resize(static_cast<size_t>(len));
    }
    return r;
}

// Control, diff and extra blocks of a patch, decoded.
struct Blocks {
    std::vector<int64_t> ctrl; // x, y, z, x, y, z, ...
    Bytes diff;
    Bytes extra;
};

Blocks unpack(const Bytes &patch, size_t extraLen)
{
    Blocks b;
    const int64_t ctrlLen = get_sm8(patch.data() + 8);
    const int64_t diffLen = get_sm8(patch.data() + 16);
    Bytes joined(static_cast<size_t>(ctrlLen + diffLen) + extraLen);
    std::string error;
    EXPECT_TRUE(lzma_unpack(patch.data() + 32, patch.size() - 32, joined.data(), joined.size(), error))
        << error;
    for (int64_t i = 0; i < ctrlLen; i += 8)
        b.ctrl.push_back(get_sm8(joined.data() + i));
    b.diff.assign(joined.begin() + ctrlLen, joined.begin() + ctrlLen + diffLen);
    b.extra.assign(joined.begin() + ctrlLen + diffLen, joined.end());
    return b;
}

Bytes randomBytes(std::mt19937 &rng, size_t n, int lo = 0, int hi = 255)
{
    Bytes b(n);
    for (auto &c : b)
        c = static_cast<uint8_t>(lo + rng() % (hi - lo + 1));
    return b;
}

// Number of triples the scan makes for this pair.
int64_t tripleCount(const Bytes &oldB, const Bytes &newB)
{
    std::vector<int32_t> I(oldB.size() + 1), V(oldB.size() + 1);
    qsufsort(I.data(), V.data(), oldB.data(), static_cast<int32_t>(oldB.size()));
    int64_t k = 0;
    match_scan(I.data(), oldB.data(), static_cast<int32_t>(oldB.size()), newB.data(),
               static_cast<int32_t>(newB.size()), [&](const ScanStretch &) {
                   ++k;
                   return true;
               });
    return k;
}

bool fitsOutput(const Bytes &oldB, const Bytes &newB)
{
    const int64_t n = static_cast<int64_t>(newB.size());
    return 24 * tripleCount(oldB, newB) + n + 32 <= 2 * n;
}

TEST(LzmaPack, PropertyBytesAndSettings)
{
    std::memset(g_lzma_props, 0xEE, sizeof(g_lzma_props));
    const Bytes src(5000, 'a');
    Bytes dst(6000);
    size_t len = dst.size();
    ASSERT_EQ(lzma_pack(src.data(), src.size(), dst.data(), &len), 0);
    EXPECT_EQ(Bytes(g_lzma_props, g_lzma_props + 5), Bytes({0x00, 0x00, 0x20, 0x00, 0x00}));
    Bytes back(src.size());
    std::string error;
    ASSERT_TRUE(lzma_unpack(dst.data(), len, back.data(), back.size(), error)) << error;
    EXPECT_EQ(back, src);
}

TEST(LzmaPack, FailureKeepsPropertiesAndPrints)
{
    std::memset(g_lzma_props, 0x11, sizeof(g_lzma_props));
    std::mt19937 rng(1);
    const Bytes src = randomBytes(rng, 4000);
    Bytes dst(100);
    size_t len = dst.size();
    CaptureStdout();
    EXPECT_EQ(lzma_pack(src.data(), src.size(), dst.data(), &len), -1);
    EXPECT_EQ(GetCapturedStdout(), "LzmaCompress error\n");
    EXPECT_EQ(Bytes(g_lzma_props, g_lzma_props + 5), Bytes(5, 0x11));
    EXPECT_EQ(len, 100u);
    // Restore the store for later tests.
    size_t ok = dst.size();
    const Bytes small(10, 1);
    ASSERT_EQ(lzma_pack(small.data(), small.size(), dst.data(), &ok), 0);
}

TEST(SwBsdiff, IdenticalBlocksGiveOneCopyTriple)
{
    std::mt19937 rng(2);
    for (size_t n : {64, 1000, 20480}) {
        const Bytes data = randomBytes(rng, n);
        const Result r = diff(data, data);
        ASSERT_EQ(r.rc, 0) << r.out;
        EXPECT_EQ(r.out, "");
        ASSERT_EQ(std::memcmp(r.patch.data(), "BSDIFF40", 8), 0);
        EXPECT_EQ(get_sm8(r.patch.data() + 8), 24);
        EXPECT_EQ(get_sm8(r.patch.data() + 16), static_cast<int64_t>(n));
        EXPECT_EQ(get_sm8(r.patch.data() + 24), static_cast<int64_t>(n));
        const Blocks b = unpack(r.patch, 0);
        EXPECT_EQ(b.ctrl, (std::vector<int64_t>{int64_t(n), 0, -int64_t(n)}));
        EXPECT_EQ(b.diff, Bytes(n, 0));
        EXPECT_TRUE(b.extra.empty());
        // The old seek is written with the sign bit: bytes 16..23 of the control block.
        Bytes joined(24 + n);
        std::string error;
        ASSERT_TRUE(lzma_unpack(r.patch.data() + 32, r.patch.size() - 32, joined.data(),
                                joined.size(), error));
        EXPECT_EQ(joined[23], 0x80);
    }
}

TEST(SwBsdiff, DisjointBlocksGiveOneLiteralTriple)
{
    std::mt19937 rng(3);
    const Bytes oldB = randomBytes(rng, 3000, 0, 127);
    const Bytes newB = randomBytes(rng, 2500, 128, 255);
    const Result r = diff(oldB, newB);
    ASSERT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(get_sm8(r.patch.data() + 8), 24);
    EXPECT_EQ(get_sm8(r.patch.data() + 16), 0);
    const Blocks b = unpack(r.patch, newB.size());
    ASSERT_EQ(b.ctrl.size(), 3u);
    EXPECT_EQ(b.ctrl[0], 0);
    EXPECT_EQ(b.ctrl[1], 2500);
    EXPECT_EQ(b.extra, newB);
}

TEST(SwBsdiff, NegativeSeekForm)
{
    // Old "ABC...": new repeats an early part, so the old position moves back.
    std::mt19937 rng(4);
    const Bytes oldB = randomBytes(rng, 400);
    Bytes newB(oldB.begin(), oldB.begin() + 300);
    newB.insert(newB.end(), oldB.begin() + 50, oldB.begin() + 250);
    const Result r = diff(oldB, newB);
    ASSERT_EQ(r.rc, 0) << r.out;
    const Blocks b = unpack(r.patch, 0);
    ASSERT_GE(b.ctrl.size(), 6u);
    EXPECT_EQ(b.ctrl[0], 300);
    EXPECT_EQ(b.ctrl[2], 50 - 300);
}

TEST(SwBsdiff, OutBuffNotEnoughExactlyAtTheBoundary)
{
    // New = 50 chunks of 22 bytes copied from scattered old places, then a literal tail.
    // Each chunk costs a 24-byte triple, so the tail length moves the patch across the limit.
    std::mt19937 rng(5);
    const Bytes oldB = randomBytes(rng, 8192, 0, 127);
    Bytes body;
    for (int i = 0; i < 50; ++i) {
        const size_t at = rng() % (oldB.size() - 22);
        body.insert(body.end(), oldB.begin() + at, oldB.begin() + at + 22);
    }
    const Bytes tail = randomBytes(rng, 200, 128, 255);
    bool sawExactFit = false;
    bool sawJustOver = false;
    for (size_t t = 100; t < 170; ++t) {
        Bytes newB = body;
        newB.insert(newB.end(), tail.begin(), tail.begin() + t);
        const int64_t n = static_cast<int64_t>(newB.size());
        const int64_t ctrl = 24 * tripleCount(oldB, newB);
        const Result r = diff(oldB, newB);
        if (ctrl + n + 32 > 2 * n) {
            EXPECT_EQ(r.rc, -1) << t;
            EXPECT_EQ(r.out, "outBuff not enough\n") << t;
            sawJustOver |= ctrl + n + 32 == 2 * n + 1;
        } else {
            EXPECT_EQ(r.rc, 0) << t;
            EXPECT_EQ(r.out, "") << t;
            EXPECT_EQ(get_sm8(r.patch.data() + 8), ctrl);
            sawExactFit |= ctrl + n + 32 == 2 * n;
        }
    }
    EXPECT_TRUE(sawExactFit);
    EXPECT_TRUE(sawJustOver);
}

TEST(SwBsdiff, TinyAndEmptyBlocks)
{
    // No patch fits in 2 x newSize bytes below 56 new bytes: one triple and the header
    // already take 56.
    for (size_t n = 0; n < 56; ++n) {
        for (size_t o : {size_t(0), size_t(1), n, n + 7}) {
            std::mt19937 rng(static_cast<unsigned>(n * 100 + o));
            const Bytes oldB = randomBytes(rng, o);
            const Bytes newB = randomBytes(rng, n);
            const Result r = diff(oldB, newB);
            EXPECT_EQ(r.rc, -1);
            EXPECT_EQ(r.out, "outBuff not enough\n");
        }
    }
    std::mt19937 rng(6);
    const Bytes newB = randomBytes(rng, 56);
    const Result r = diff(Bytes{}, newB); // empty old block
    ASSERT_EQ(r.rc, 0) << r.out;
    Bytes back;
    std::string error;
    ASSERT_TRUE(apply_block_patch(nullptr, 0, r.patch.data(), r.patch.size(), newB.size(), back, error)) << error;
    EXPECT_EQ(back, newB);
}

TEST(SwBsdiff, InvalidArguments)
{
    uint8_t out[64];
    int64_t len = 0;
    const uint8_t data[4] = {1, 2, 3, 4};
    CaptureStdout();
    EXPECT_EQ(sw_bsdiff(data, -1, data, 4, out, &len), -1);
    EXPECT_EQ(sw_bsdiff(data, 4, data, -4, out, &len), -1);
    EXPECT_EQ(sw_bsdiff(nullptr, 4, data, 4, out, &len), -1);
    EXPECT_EQ(sw_bsdiff(data, 4, data, 4, nullptr, &len), -1);
    std::string expected;
    for (int i = 0; i < 4; ++i)
        expected += "sw_bsdiff: invalid arguments\n";
    EXPECT_EQ(GetCapturedStdout(), expected);
}

TEST(SwBsdiff, OutputStaysInsideItsBuffer)
{
    // The output is exactly 32 + 2 x newSize bytes; ASan catches any write past it.
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        const Bytes oldB = randomBytes(rng, rng() % 3000, 0, round % 2 ? 3 : 255);
        const Bytes newB = randomBytes(rng, 56 + rng() % 3000, 0, round % 2 ? 3 : 255);
        const size_t cap = 32 + 2 * newB.size();
        std::unique_ptr<uint8_t[]> out(new uint8_t[cap]);
        int64_t len = 0;
        CaptureStdout();
        const int rc = sw_bsdiff(oldB.data(), oldB.size(), newB.data(), newB.size(), out.get(), &len);
        GetCapturedStdout();
        if (rc == 0) {
            EXPECT_LE(len, static_cast<int64_t>(cap));
        }
    }
}

void roundTrip(const Bytes &oldB, const Bytes &newB, const std::string &what, int &done)
{
    const Result r = diff(oldB, newB);
    if (!fitsOutput(oldB, newB)) {
        EXPECT_EQ(r.rc, -1) << what;
        EXPECT_EQ(r.out, "outBuff not enough\n") << what;
        return;
    }
    ASSERT_EQ(r.rc, 0) << what << ": " << r.out;
    EXPECT_EQ(r.out, "") << what;
    EXPECT_EQ(get_sm8(r.patch.data() + 24), static_cast<int64_t>(newB.size()));
    Bytes back;
    std::string error;
    ASSERT_TRUE(apply_block_patch(oldB.data(), oldB.size(), r.patch.data(), r.patch.size(),
                                  newB.size(), back, error))
        << what << ": " << error;
    ASSERT_EQ(back, newB) << what;
    ++done;
}

TEST(SwBsdiff, RoundTripsOnGeneratedPairs)
{
    const int pairs = sanitizing() ? 300 : 1100;
    int done = 0;
    std::mt19937 rng(8);
    for (int i = 0; i < pairs; ++i) {
        const size_t size = 1 + rng() % 20480;
        auto p = Samples::makePair(static_cast<uint64_t>(i), size, i % 3 == 0);
        if (p.newImage.size() > 20480)
            p.newImage.resize(20480);
        roundTrip(p.oldImage, p.newImage, std::to_string(i) + " " + p.description, done);
    }
    EXPECT_GE(done, pairs * 9 / 10);
}

TEST(SwBsdiff, RoundTripsOnEveryMutation)
{
    int done = 0;
    for (int k = 0; k < Samples::kMutationCount; ++k) {
        for (uint64_t seed = 0; seed < (sanitizing() ? 2u : 6u); ++seed) {
            Samples::PairSpec spec;
            spec.size = 20480;
            spec.keepSize = true;
            spec.kinds = {static_cast<Samples::Mutation>(k)};
            const auto p = Samples::makePair(seed, spec);
            roundTrip(p.oldImage, p.newImage, p.description, done);
        }
    }
    EXPECT_EQ(done, Samples::kMutationCount * (sanitizing() ? 2 : 6));
}

TEST(SwBsdiff, RoundTripsOnExtremeSizes)
{
    int done = 0;
    const Bytes big = Samples::makeFirmware(9, 20480);
    const Bytes big2 = Samples::makePair(9, 20480, true).newImage;
    roundTrip(Bytes{0x42}, big, "old 1 byte", done);
    roundTrip(Bytes{}, big, "old empty", done);
    roundTrip(big, big2, "20480", done);
    roundTrip(Bytes(20480, 0), Bytes(20480, 0xFF), "constant", done);
    roundTrip(Bytes(20480, 0), Bytes(20480, 0), "zeros", done);
    EXPECT_EQ(done, 5);
    // A 1-byte new block never fits its 2-byte output area.
    const Result r = diff(Bytes{0x42}, Bytes{0x42});
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, "outBuff not enough\n");
}

TEST(SwBsdiff, RandomDataNearTheLimit)
{
    // Random 20480-byte blocks against unrelated data: one literal triple, fits.
    std::mt19937 rng(10);
    int done = 0;
    for (int i = 0; i < 3; ++i)
        roundTrip(randomBytes(rng, 20480), randomBytes(rng, 20480), "random", done);
    EXPECT_EQ(done, 3);
}

} // namespace

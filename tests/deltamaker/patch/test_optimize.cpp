// Optimising encoders: every patch rebuilds the new data through the device-side decoders, is
// never larger than the default patch, and comes out the same on every run.
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/bsdiff_opt.h"
#include "deltamaker/patch/cost_scan.h"
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/patch/suffix_sort.h"
#include "deltamaker/samples/firmware_gen.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/verify/inplace_apply.h"
#include "deltamaker/verify/lzma_unpack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace detail = deltamaker::detail;

namespace {

using Bytes = std::vector<uint8_t>;

bool sanitizing() { return std::getenv("TESSEL_SANITIZE") != nullptr; }

Bytes randomBytes(std::mt19937 &rng, size_t n)
{
    Bytes v(n);
    for (auto &b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// New data made of `piece`-byte copies from random places in old's first `region` bytes, each
// followed by a few literal bytes: many small stretches that all read the same old bytes.
Bytes manyPieces(std::mt19937 &rng, const Bytes &old, size_t size, size_t piece, size_t region)
{
    Bytes nw;
    while (nw.size() < size) {
        const size_t at = rng() % (region - piece);
        nw.insert(nw.end(), old.begin() + long(at), old.begin() + long(at + piece));
        const Bytes lit = randomBytes(rng, 4);
        nw.insert(nw.end(), lit.begin(), lit.end());
    }
    nw.resize(size);
    return nw;
}

struct BlockResult {
    int defaultRc = -1;
    int64_t defaultLen = 0;
    int optRc = -1;
    Bytes patch; // the optimised patch
};

BlockResult makeBlockPatches(const Bytes &old, const Bytes &nw)
{
    BlockResult r;
    Bytes out(32 + 2 * nw.size());
    r.defaultRc = sw_bsdiff(old.data(), int64_t(old.size()), nw.data(), int64_t(nw.size()),
                            out.data(), &r.defaultLen);
    int64_t len = 0;
    r.optRc = sw_bsdiff_opt(old.data(), int64_t(old.size()), nw.data(), int64_t(nw.size()),
                            out.data(), &len);
    if (r.optRc == 0)
        r.patch.assign(out.begin(), out.begin() + len);
    return r;
}

// The optimised block patch rebuilds new and is no larger than the default one. True when it
// is strictly smaller.
bool checkBlock(const Bytes &old, const Bytes &nw, const std::string &what)
{
    const BlockResult r = makeBlockPatches(old, nw);
    if (r.defaultRc == 0) {
        EXPECT_EQ(0, r.optRc) << what;
    }
    if (r.optRc != 0)
        return false;
    Bytes rebuilt;
    std::string error;
    EXPECT_TRUE(apply_block_patch(old.data(), old.size(), r.patch.data(), r.patch.size(),
                                  nw.size(), rebuilt, error))
        << what << ": " << error;
    EXPECT_TRUE(rebuilt == nw) << what;
    if (r.defaultRc != 0)
        return true;
    EXPECT_LE(int64_t(r.patch.size()), r.defaultLen) << what;
    return int64_t(r.patch.size()) < r.defaultLen;
}

TEST(OptimizedBlockPatch, RoundTripsAndNeverGrowsOnSeededPairs)
{
    const size_t sizes[] = {200, 1500, 6000, 20480};
    const int pairs = sanitizing() ? 24 : 240;
    int smaller = 0;
    for (int seed = 0; seed < pairs; ++seed) {
        const size_t size = sizes[seed % 4];
        Samples::FirmwarePair p = Samples::makePair(uint64_t(seed), size, seed % 3 == 0);
        // A record holds at most one 20 KiB block.
        if (p.newImage.size() > 20480)
            p.newImage.resize(20480);
        if (p.oldImage.size() > 20480)
            p.oldImage.resize(20480);
        smaller += checkBlock(p.oldImage, p.newImage,
                              "seed " + std::to_string(seed) + " " + p.description);
        if (HasFailure())
            return;
    }
    // Most pairs gain something: the harder compression alone is smaller on nearly every block.
    EXPECT_GT(smaller, pairs / 2);
}

TEST(OptimizedBlockPatch, EdgeShapesRoundTrip)
{
    std::mt19937 rng(11);
    const Bytes old = randomBytes(rng, 20480);
    checkBlock(old, old, "identical");
    checkBlock(old, randomBytes(rng, 20480), "nothing in common");
    checkBlock({}, randomBytes(rng, 5000), "no old bytes");
    checkBlock(old, manyPieces(rng, old, 20480, 32, 4096), "32-byte pieces of one region");
    checkBlock(old, manyPieces(rng, old, 20480, 9, 20480), "9-byte pieces");
    Bytes shifted(old.begin() + 100, old.end());
    checkBlock(old, shifted, "shifted by 100");
    Bytes prefix(old.begin(), old.begin() + 6000);
    checkBlock(old, prefix, "prefix");
    // Too small for any patch: both refuse alike.
    const BlockResult tiny = makeBlockPatches(old, Bytes{1, 2, 3});
    EXPECT_EQ(tiny.defaultRc, tiny.optRc);
}

TEST(OptimizedBlockPatch, RefusesWhatTheDefaultRefuses)
{
    Bytes out(64);
    int64_t len = 0;
    const uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(-1, sw_bsdiff_opt(bytes, -1, bytes, 4, out.data(), &len));
    EXPECT_EQ(-1, sw_bsdiff_opt(nullptr, 4, bytes, 4, out.data(), &len));
    EXPECT_EQ(-1, sw_bsdiff_opt(bytes, 4, bytes, 4, nullptr, &len));
    EXPECT_EQ(-1, sw_bsdiff_opt(bytes, 4, bytes, 4, out.data(), nullptr));
}

TEST(OptimizedBlockPatch, SameBytesOnEveryRun)
{
    const Samples::FirmwarePair p = Samples::makePair(3, 20480, true);
    const BlockResult a = makeBlockPatches(p.oldImage, p.newImage);
    const BlockResult b = makeBlockPatches(p.oldImage, p.newImage);
    ASSERT_EQ(0, a.optRc);
    EXPECT_EQ(a.patch, b.patch);
}

// Stretches of the cost-driven scan tile new, read inside old, and their seeks chain from old
// position 0 (the block patch rule).
void checkStretches(const Bytes &old, const Bytes &nw, const std::string &what)
{
    std::vector<int32_t> I(old.size() + 1);
    ASSERT_TRUE(suffix_sort(I.data(), old.data(), int32_t(old.size())));
    std::vector<ScanStretch> st;
    ASSERT_TRUE(detail::cost_scan(I.data(), old.data(), int32_t(old.size()), nw.data(),
                                  int32_t(nw.size()), detail::CostModel(), st));
    int64_t n = 0;
    int64_t o = 0;
    for (size_t k = 0; k < st.size(); ++k) {
        const ScanStretch &s = st[k];
        ASSERT_EQ(n, s.lastScan) << what << " stretch " << k;
        ASSERT_GE(s.diffLen, 0);
        ASSERT_GE(s.extraLen, 0);
        if (k > 0) {
            EXPECT_GT(s.diffLen, 0) << what << " stretch " << k;
        }
        if (s.diffLen > 0) {
            ASSERT_EQ(o, s.lastPos) << what << " stretch " << k;
            ASSERT_LE(int64_t(s.lastPos) + s.diffLen, int64_t(old.size())) << what;
        }
        n += s.diffLen + s.extraLen;
        o = int64_t(s.lastPos) + s.diffLen + s.oldSeek;
    }
    EXPECT_EQ(int64_t(nw.size()), n) << what;
}

TEST(CostScan, StretchesTileNewAndChainTheirSeeks)
{
    for (int seed = 0; seed < 40; ++seed) {
        const Samples::FirmwarePair p = Samples::makePair(uint64_t(100 + seed), 8192);
        checkStretches(p.oldImage, p.newImage, p.description);
    }
    std::mt19937 rng(4);
    const Bytes old = randomBytes(rng, 4096);
    checkStretches(old, manyPieces(rng, old, 8192, 16, 4096), "pieces");
    checkStretches({}, randomBytes(rng, 100), "no old");
    checkStretches(old, {}, "no new");
}

TEST(CostScan, IdenticalDataIsOneCopy)
{
    std::mt19937 rng(8);
    const Bytes data = randomBytes(rng, 10000);
    std::vector<int32_t> I(data.size() + 1);
    ASSERT_TRUE(suffix_sort(I.data(), data.data(), int32_t(data.size())));
    std::vector<ScanStretch> st;
    ASSERT_TRUE(detail::cost_scan(I.data(), data.data(), int32_t(data.size()), data.data(),
                                  int32_t(data.size()), detail::CostModel(), st));
    ASSERT_EQ(1u, st.size());
    EXPECT_EQ(0, st[0].lastPos);
    EXPECT_EQ(10000, st[0].diffLen);
    EXPECT_EQ(0, st[0].extraLen);
}

// The in-place form of the cost-driven scan: non-empty stretches that tile new across the
// pieces it is scanned in, read inside old, and come out the same over either suffix array form.
TEST(CostScan, InplaceStretchesTileNewAcrossPieces)
{
    Samples::PairSpec spec;
    spec.size = 200 * 1024; // several scan pieces
    spec.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::MoveBlock,
                  Samples::Mutation::ChangeConstants};
    const Samples::FirmwarePair p = Samples::makePair(31, spec);
    std::mt19937 rng(3);
    const Bytes small = randomBytes(rng, 3000);
    const std::pair<Bytes, Bytes> pairs[] = {{p.oldImage, p.newImage},
                                             {small, manyPieces(rng, small, 9000, 20, 3000)},
                                             {small, Bytes{1}}};
    for (const auto &[old, nw] : pairs) {
        const int32_t oldN = int32_t(old.size());
        const int32_t newN = int32_t(nw.size());
        std::vector<int32_t> I(old.size() + 1);
        ASSERT_TRUE(suffix_sort(I.data(), old.data(), oldN));
        std::vector<detail::InplaceStretch> plain;
        ASSERT_TRUE(detail::inplaceCostedScan(I.data(), old.data(), oldN, nw.data(), newN, plain));
        int64_t n = 0;
        for (const detail::InplaceStretch &s : plain) {
            ASSERT_EQ(n, s.newPos);
            ASSERT_TRUE(s.diffLen > 0 || s.extraLen > 0);
            ASSERT_GE(s.diffLen, 0);
            ASSERT_GE(s.extraLen, 0);
            if (s.diffLen > 0) {
                ASSERT_GE(s.oldPos, 0);
                ASSERT_LE(int64_t(s.oldPos) + s.diffLen, int64_t(old.size()));
            }
            n += s.diffLen + s.extraLen;
        }
        EXPECT_EQ(int64_t(newN), n);

        std::vector<int32_t> copy = I;
        PackedSuffixArray::pack(copy.data(), int64_t(copy.size()));
        PackedSuffixArray packed;
        packed.bytes = reinterpret_cast<const uint8_t *>(copy.data());
        std::vector<detail::InplaceStretch> fromPacked;
        ASSERT_TRUE(
            detail::inplaceCostedScan(packed, old.data(), oldN, nw.data(), newN, fromPacked));
        ASSERT_EQ(plain.size(), fromPacked.size());
        for (size_t k = 0; k < plain.size(); ++k) {
            EXPECT_EQ(plain[k].newPos, fromPacked[k].newPos);
            EXPECT_EQ(plain[k].oldPos, fromPacked[k].oldPos);
            EXPECT_EQ(plain[k].diffLen, fromPacked[k].diffLen);
        }
    }
}

TEST(LzmaPackStrong, SamePropertiesAndDecodesWithTheStrictReader)
{
    std::mt19937 rng(2);
    Bytes data(50000, 0);
    for (size_t i = 0; i < data.size(); i += 1 + rng() % 40)
        data[i] = static_cast<uint8_t>(rng());
    using Pack = int (*)(const uint8_t *, size_t, uint8_t *, size_t *);
    for (const Bytes &src : {data, randomBytes(rng, 3000), Bytes{}}) {
        size_t sizes[3] = {0, 0, 0};
        const Pack packs[3] = {lzma_pack, lzma_pack_strong, lzma_pack_smallest};
        for (int k = 0; k < 3; ++k) {
            Bytes packed(src.size() * 2 + 4096);
            size_t len = packed.size();
            ASSERT_EQ(0, packs[k](src.data(), src.size(), packed.data(), &len));
            const uint8_t expected[kLzmaPropsSize] = {0x00, 0x00, 0x20, 0x00, 0x00};
            EXPECT_EQ(0, std::memcmp(g_lzma_props, expected, kLzmaPropsSize));
            LzmaReader reader(packed.data(), len);
            Bytes back;
            std::string error;
            ASSERT_TRUE(reader.readAppend(back, src.size(), error)) << error;
            EXPECT_TRUE(reader.finish(error)) << error;
            EXPECT_EQ(src, back);
            sizes[k] = len;
        }
        EXPECT_EQ(std::min(sizes[0], sizes[1]), sizes[2]);
    }
    // The sparse data compresses smaller with the harder search.
    Bytes a(data.size() * 2 + 4096);
    Bytes b(a.size());
    size_t la = a.size();
    size_t lb = b.size();
    ASSERT_EQ(0, lzma_pack(data.data(), data.size(), a.data(), &la));
    ASSERT_EQ(0, lzma_pack_strong(data.data(), data.size(), b.data(), &lb));
    EXPECT_LT(lb, la);
}

bool sameWindows(const InplacePatchContents &a, const InplacePatchContents &b)
{
    if (a.windows.size() != b.windows.size() || a.diff != b.diff || a.extra != b.extra)
        return false;
    for (size_t w = 0; w < a.windows.size(); ++w) {
        const InplaceWindow &x = a.windows[w];
        const InplaceWindow &y = b.windows[w];
        if (x.entries.size() != y.entries.size() || x.moves.size() != y.moves.size())
            return false;
        for (size_t i = 0; i < x.entries.size(); ++i)
            if (x.entries[i].oldPos != y.entries[i].oldPos ||
                x.entries[i].diffLen != y.entries[i].diffLen ||
                x.entries[i].extraLen != y.entries[i].extraLen)
                return false;
        for (size_t i = 0; i < x.moves.size(); ++i)
            if (x.moves[i].src != y.moves[i].src || x.moves[i].dst != y.moves[i].dst ||
                x.moves[i].flag != y.moves[i].flag || x.moves[i].len != y.moves[i].len)
                return false;
    }
    return true;
}

// What checkInplace found of one pair.
struct InplaceCheck {
    bool smaller = false; // the optimised patch is strictly smaller
    bool recut = false;   // its records differ from the default patch's (other stretches won)
};

// The optimised in-place patch is no larger than the default one and the device simulator
// rebuilds new from it; when it keeps the default stretches, it carries the default patch's
// records and blocks.
InplaceCheck checkInplace(const Bytes &old, const Bytes &nw, const std::string &what)
{
    InplaceCheck result;
    Bytes plain;
    Bytes opt;
    InplaceOptions options;
    options.optimize = true;
    EXPECT_EQ(0, sw_bsdiff_new_mem(old.data(), int64_t(old.size()), nw.data(),
                                   int64_t(nw.size()), plain))
        << what;
    EXPECT_EQ(0, sw_bsdiff_new_mem(old.data(), int64_t(old.size()), nw.data(),
                                   int64_t(nw.size()), opt, options))
        << what;
    Bytes rebuilt;
    std::string error;
    EXPECT_TRUE(apply_inplace_patch(old.data(), old.size(), nw.size(), opt.data(), opt.size(),
                                    rebuilt, error))
        << what << ": " << error;
    EXPECT_TRUE(rebuilt == nw) << what;
    InplacePatchContents a;
    InplacePatchContents b;
    EXPECT_TRUE(decode_inplace_patch(plain.data(), plain.size(), nw.size(), a, error)) << error;
    EXPECT_TRUE(decode_inplace_patch(opt.data(), opt.size(), nw.size(), b, error)) << error;
    EXPECT_LE(opt.size(), plain.size()) << what;
    result.recut = !sameWindows(a, b);
    result.smaller = opt.size() < plain.size();
    return result;
}

TEST(OptimizedInplacePatch, NeverLargerOnSeededPairs)
{
    const size_t sizes[] = {1000, 4000, 12000, 40000};
    const int pairs = sanitizing() ? 16 : 160;
    int smaller = 0;
    int recut = 0;
    for (int seed = 0; seed < pairs; ++seed) {
        const Samples::FirmwarePair p = Samples::makePair(uint64_t(500 + seed), sizes[seed % 4],
                                                          seed % 2 == 0);
        const InplaceCheck c = checkInplace(p.oldImage, p.newImage,
                                            "seed " + std::to_string(seed) + " " + p.description);
        smaller += c.smaller;
        recut += c.recut;
        if (HasFailure())
            return;
    }
    EXPECT_GT(smaller, 0);
    // Both kinds of stretches win on some pairs (the cost-driven ones on 7 of the 160).
    if (!sanitizing()) {
        EXPECT_GT(recut, 0);
    }
    EXPECT_LT(recut, pairs);
}

TEST(OptimizedInplacePatch, CostDrivenStretchesWinAndRoundTrip)
{
    // A pair on which the cost-driven stretches pack smaller than the default ones.
    const Samples::FirmwarePair p = Samples::makePair(585, 4000, false);
    const InplaceCheck c = checkInplace(p.oldImage, p.newImage, p.description);
    EXPECT_TRUE(c.recut);
    EXPECT_TRUE(c.smaller);
}

TEST(OptimizedInplacePatch, EdgeShapesRoundTrip)
{
    std::mt19937 rng(12);
    const Bytes old = randomBytes(rng, 30000);
    checkInplace(old, old, "identical");
    checkInplace(old, randomBytes(rng, 30000), "nothing in common");
    checkInplace({}, randomBytes(rng, 3000), "no old bytes");
    checkInplace(old, Bytes{7}, "1-byte new");
    checkInplace(Bytes{7}, old, "1-byte old");
    Bytes longer = old;
    longer.insert(longer.begin() + 1000, old.begin(), old.begin() + 9000);
    checkInplace(old, longer, "new longer than old");
    checkInplace(old, manyPieces(rng, old, 60000, 25, 30000), "25-byte pieces");
}

TEST(OptimizedInplacePatch, LargeAndManyPiecePairsRoundTrip)
{
    const size_t size = sanitizing() ? 96 * 1024 : 512 * 1024;
    Samples::PairSpec spec;
    spec.size = size;
    spec.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::SwapRegions,
                  Samples::Mutation::ChangeConstants};
    const Samples::FirmwarePair p = Samples::makePair(21, spec);
    EXPECT_TRUE(checkInplace(p.oldImage, p.newImage, "large " + p.description).smaller);

    std::mt19937 rng(6);
    const Bytes old = randomBytes(rng, size);
    checkInplace(old, manyPieces(rng, old, size / 2, 32, 4096), "32-byte pieces of one region");
}

TEST(OptimizedInplacePatch, SameBytesOnEveryRun)
{
    const Samples::FirmwarePair p = Samples::makePair(9, 64 * 1024);
    InplaceOptions options;
    options.optimize = true;
    Bytes a;
    Bytes b;
    ASSERT_EQ(0, sw_bsdiff_new_mem(p.oldImage.data(), int64_t(p.oldImage.size()),
                                   p.newImage.data(), int64_t(p.newImage.size()), a, options));
    ASSERT_EQ(0, sw_bsdiff_new_mem(p.oldImage.data(), int64_t(p.oldImage.size()),
                                   p.newImage.data(), int64_t(p.newImage.size()), b, options));
    EXPECT_EQ(a, b);
}

} // namespace

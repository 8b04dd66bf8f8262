// The in-place conflict resolver on hand-made scan results: window cutting, relocation, move
// flags, the container, and the entry-table limit.
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/verify/inplace_apply.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace detail = deltamaker::detail;

using detail::InplaceStretch;

namespace {

constexpr int32_t W = kInplaceWindowSize;

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// The new image that `stretches` describe over `old`, with `diffByte` added to every copied
// byte and literals taken from `lit`.
std::vector<uint8_t> imageOf(const std::vector<uint8_t> &old,
                             const std::vector<InplaceStretch> &stretches, uint8_t diffByte,
                             const std::vector<uint8_t> &lit)
{
    std::vector<uint8_t> out;
    for (const auto &s : stretches) {
        for (int32_t i = 0; i < s.diffLen; ++i)
            out.push_back(static_cast<uint8_t>(old[s.oldPos + i] + diffByte));
        for (int32_t i = 0; i < s.extraLen; ++i)
            out.push_back(lit[out.size() % lit.size()]);
    }
    return out;
}

struct Built {
    std::vector<uint8_t> patch;
    InplacePatchContents contents;
    detail::InplaceBuildStats stats;
};

// Builds the patch, checks that the simulator rebuilds `nw` from `old`, and decodes it.
Built buildAndCheck(const std::vector<uint8_t> &old, const std::vector<uint8_t> &nw,
                    const std::vector<InplaceStretch> &stretches)
{
    Built b;
    EXPECT_EQ(0, detail::buildInplacePatch(old.data(), int32_t(old.size()), nw.data(),
                                           int32_t(nw.size()), stretches, b.patch, &b.stats));
    std::vector<uint8_t> rebuilt;
    std::string error;
    EXPECT_TRUE(apply_inplace_patch(old.data(), old.size(), nw.size(), b.patch.data(),
                                    b.patch.size(), rebuilt, error))
        << error;
    EXPECT_TRUE(rebuilt == nw);
    EXPECT_TRUE(decode_inplace_patch(b.patch.data(), b.patch.size(), nw.size(), b.contents, error))
        << error;
    return b;
}

int32_t sm4(const std::vector<uint8_t> &p, size_t at)
{
    const int32_t mag = p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | ((p[at + 3] & 0x7f) << 24);
    return (p[at + 3] & 0x80) ? -mag : mag;
}

} // namespace

TEST(InplaceResolver, IdenticalImagesGiveOneEntryPerWindowAndNoMoves)
{
    const auto old = randomBytes(3 * W + 1000, 1);
    const Built b = buildAndCheck(old, old, {{0, 0, int32_t(old.size()), 0}});
    ASSERT_EQ(4u, b.contents.windows.size());
    for (size_t k = 0; k < 4; ++k) {
        const InplaceWindow &w = b.contents.windows[k];
        ASSERT_EQ(1u, w.entries.size());
        EXPECT_TRUE(w.moves.empty());
        EXPECT_EQ(int32_t(k) * W, w.entries[0].oldPos);
        EXPECT_EQ(k < 3 ? W : 1000, w.entries[0].diffLen);
        EXPECT_EQ(0, w.entries[0].extraLen);
    }
    EXPECT_EQ(0, b.stats.moves);
    for (uint8_t d : b.contents.diff)
        ASSERT_EQ(0, d);
}

TEST(InplaceResolver, AllFromDifferenceRunsHasNoExtraStream)
{
    const auto old = randomBytes(W + 77, 2);
    const Built b = buildAndCheck(old, old, {{0, 0, int32_t(old.size()), 0}});
    ASSERT_GE(b.patch.size(), 20u);
    EXPECT_EQ(0, std::memcmp(b.patch.data(), "BSDIFF40", 8));
    const int32_t c = sm4(b.patch, 8);
    const int32_t d = sm4(b.patch, 12);
    EXPECT_EQ(0, sm4(b.patch, 16));
    EXPECT_EQ(b.patch.size(), size_t(20 + c + d));
}

TEST(InplaceResolver, LiteralOnlyImageHasExtraStreamAndEmptyDiff)
{
    const auto old = randomBytes(500, 3);
    const auto nw = randomBytes(W + 10, 4);
    const Built b = buildAndCheck(old, nw, {{0, 0, 0, int32_t(nw.size())}});
    EXPECT_GT(sm4(b.patch, 16), 0);
    EXPECT_TRUE(b.contents.diff.empty());
    ASSERT_EQ(2u, b.contents.windows.size());
    // The scan's own empty-diff piece keeps its old position; the cut-off rest is pure literal.
    EXPECT_EQ(0, b.contents.windows[0].entries[0].diffLen);
    EXPECT_EQ(W, b.contents.windows[0].entries[0].extraLen);
    EXPECT_EQ(0, b.contents.windows[1].entries[0].oldPos);
    EXPECT_EQ(10, b.contents.windows[1].entries[0].extraLen);
}

TEST(InplaceResolver, DifferenceRunCrossingTheBoundaryIsCutThere)
{
    const auto old = randomBytes(2 * W + 500, 5);
    // New: a literal head of 300 bytes, then old[100..) for 2W bytes, then 200 literals.
    const std::vector<InplaceStretch> st = {{0, 0, 0, 300}, {300, 100, 2 * W, 200}};
    const auto nw = imageOf(old, st, 7, randomBytes(999, 6));
    const Built b = buildAndCheck(old, nw, st);
    ASSERT_EQ(3u, b.contents.windows.size());
    const auto &w0 = b.contents.windows[0].entries;
    const auto &w1 = b.contents.windows[1].entries;
    ASSERT_EQ(2u, w0.size());
    EXPECT_EQ(W - 300, w0[1].diffLen);
    EXPECT_EQ(0, w0[1].extraLen);
    // The next window continues from the following old byte: its first 200 bytes still lay in
    // window 0's range and were moved out before the write, the rest follows in place.
    const int32_t firstOld = w0[1].oldPos;
    ASSERT_EQ(100, firstOld);
    const auto &m0 = b.contents.windows[0].moves;
    ASSERT_EQ(1u, m0.size());
    EXPECT_EQ(firstOld + W - 300, m0[0].src);
    EXPECT_EQ(200, m0[0].len);
    EXPECT_EQ(0, m0[0].flag);
    ASSERT_EQ(2u, w1.size());
    EXPECT_EQ(m0[0].dst, w1[0].oldPos);
    EXPECT_EQ(200, w1[0].diffLen);
    EXPECT_EQ(W, w1[1].oldPos);
    EXPECT_EQ(W - 200, w1[1].diffLen);
    for (uint8_t d : b.contents.diff)
        ASSERT_EQ(7, d);
}

TEST(InplaceResolver, LiteralRunCrossingTheBoundaryKeepsItsOrder)
{
    // A stretch whose copy part ends before the boundary and whose literal run crosses it:
    // the window must end exactly at the boundary with the pair first, the rest of the
    // literals opening the next window.
    const auto old = randomBytes(2 * W, 8);
    const std::vector<InplaceStretch> st = {{0, 1000, W - 4000, 9000},
                                            {W + 5000, 3000, W - 5000, 0}};
    const auto nw = imageOf(old, st, 3, randomBytes(4096, 9));
    ASSERT_EQ(size_t(2 * W), nw.size());
    const Built b = buildAndCheck(old, nw, st);
    ASSERT_EQ(2u, b.contents.windows.size());
    const auto &w0 = b.contents.windows[0].entries;
    const auto &w1 = b.contents.windows[1].entries;
    ASSERT_EQ(1u, w0.size());
    EXPECT_EQ(1000, w0[0].oldPos);
    EXPECT_EQ(W - 4000, w0[0].diffLen);
    EXPECT_EQ(4000, w0[0].extraLen);
    ASSERT_EQ(2u, w1.size());
    EXPECT_EQ(0, w1[0].oldPos);
    EXPECT_EQ(0, w1[0].diffLen);
    EXPECT_EQ(5000, w1[0].extraLen);
    EXPECT_EQ(W - 5000, w1[1].diffLen);
    // Difference bytes are taken against the right old bytes: all equal to the added value.
    for (uint8_t d : b.contents.diff)
        ASSERT_EQ(3, d);
}

TEST(InplaceResolver, GrowthRelocatesIntoTheRoomAboveTheOldImageWithRunFlags)
{
    // Window 1 needs three separate old stretches from window 0's range; the new image is a
    // window longer than the old one, so the one region above the old image takes all three
    // in one pass: flags 1, 2, 3. Window 1's write then moves window 2's source alone: flag 0.
    const auto old = randomBytes(2 * W, 10);
    const std::vector<InplaceStretch> st = {
        {0, 0, 0, W},            // window 0: literals only
        {W, 0, 100, 0},          // window 1 takes old[0..100), [200..300), [400..500)
        {W + 100, 200, 100, 0},
        {W + 200, 400, 100, W - 300},
        {2 * W, W, W, 0},        // window 2: old window 1
    };
    const auto nw = imageOf(old, st, 1, randomBytes(5000, 11));
    const Built b = buildAndCheck(old, nw, st);
    ASSERT_EQ(3u, b.contents.windows.size());
    const auto &m0 = b.contents.windows[0].moves;
    ASSERT_EQ(3u, m0.size());
    EXPECT_EQ(1, m0[0].flag);
    EXPECT_EQ(2, m0[1].flag);
    EXPECT_EQ(3, m0[2].flag);
    const int32_t top = 3 * W;
    EXPECT_EQ(0, m0[0].src);
    EXPECT_EQ(top - 300, m0[0].dst);
    EXPECT_EQ(200, m0[1].src);
    EXPECT_EQ(top - 200, m0[1].dst);
    EXPECT_EQ(400, m0[2].src);
    EXPECT_EQ(top - 100, m0[2].dst);
    for (const auto &m : m0) {
        EXPECT_EQ(100, m.len);
        EXPECT_GE(m.dst, int32_t(old.size()));
    }
    const auto &w1 = b.contents.windows[1].entries;
    ASSERT_EQ(3u, w1.size());
    EXPECT_EQ(top - 300, w1[0].oldPos);
    EXPECT_EQ(top - 200, w1[1].oldPos);
    EXPECT_EQ(top - 100, w1[2].oldPos);
    const auto &m1 = b.contents.windows[1].moves;
    ASSERT_EQ(1u, m1.size());
    EXPECT_EQ(0, m1[0].flag);
    EXPECT_EQ(W, m1[0].src);
    EXPECT_EQ(2 * W, m1[0].dst);
    EXPECT_EQ(W, m1[0].len);
    EXPECT_TRUE(b.contents.windows[2].moves.empty());
    EXPECT_EQ(2 * W, b.contents.windows[2].entries[0].oldPos);
    EXPECT_EQ(4, b.stats.moves);
}

TEST(InplaceResolver, SwappedHalvesRelocateIntoTheFreedHalf)
{
    const auto old = randomBytes(2 * W, 12);
    const std::vector<InplaceStretch> st = {{0, W, W, 0}, {W, 0, W, 0}};
    const auto nw = imageOf(old, st, 0, {0});
    const Built b = buildAndCheck(old, nw, st);
    ASSERT_EQ(1u, b.contents.windows[0].moves.size());
    const InplaceMove m = b.contents.windows[0].moves[0];
    EXPECT_EQ(0, m.src);
    EXPECT_EQ(W, m.dst);
    EXPECT_EQ(W, m.len);
    EXPECT_EQ(0, m.flag);
    EXPECT_EQ(W, b.contents.windows[1].entries[0].oldPos);
}

TEST(InplaceResolver, RotatedThirdsPassThroughTheNeedingWindow)
{
    const auto old = randomBytes(3 * W, 13);
    const std::vector<InplaceStretch> st = {{0, W, W, 0}, {W, 2 * W, W, 0}, {2 * W, 0, W, 0}};
    const auto nw = imageOf(old, st, 9, {0});
    const Built b = buildAndCheck(old, nw, st);
    EXPECT_GE(b.stats.moves, 2);
}

TEST(InplaceResolver, RelocationLandingOnAPureLiteralsOldPositionSucceeds)
{
    // Window 2 is literals only; its piece keeps an empty old-side node at 3W - 50, inside the
    // spare room at the top. Window 0's write forces old[0..100) up to [3W - 100, 3W), across
    // that point: the empty node holds no bytes and must not stop the patch.
    const auto old = randomBytes(3 * W, 14);
    const std::vector<InplaceStretch> st = {
        {0, 0, 0, W},              // window 0: literals only
        {W, 0, 100, W - 100},      // window 1 takes old[0..100)
        {2 * W, 3 * W - 50, 0, W}, // window 2: literals only
    };
    const auto nw = imageOf(old, st, 3, randomBytes(7000, 15));
    const Built b = buildAndCheck(old, nw, st);
    ASSERT_EQ(3u, b.contents.windows.size());
    const auto &m0 = b.contents.windows[0].moves;
    ASSERT_EQ(1u, m0.size());
    EXPECT_EQ(0, m0[0].src);
    EXPECT_EQ(3 * W - 100, m0[0].dst);
    EXPECT_EQ(100, m0[0].len);
    EXPECT_EQ(3 * W - 100, b.contents.windows[1].entries[0].oldPos);
}

TEST(InplaceResolver, WindowNeedingTooManyEntriesFailsCleanly)
{
    const auto old = randomBytes(W, 14);
    std::vector<InplaceStretch> st;
    for (int32_t x = 0; x < W; x += 4)
        st.push_back({x, x, 2, 2});
    const auto nw = imageOf(old, st, 0, {5});
    std::vector<uint8_t> patch;
    testing::internal::CaptureStdout();
    const int rc = detail::buildInplacePatch(old.data(), W, nw.data(), W, st, patch);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(-1, rc);
    EXPECT_NE(std::string::npos,
              out.find("\nsw_bsdiff_new: window 0 needs more than 6666 entries, no patch written\n"))
        << out;
}

TEST(InplaceResolver, PrintsTheStatisticsLines)
{
    const auto old = randomBytes(1000, 15);
    // Two pieces overlapping in old (one group with a member) and a literal-only piece.
    const std::vector<InplaceStretch> st = {{0, 0, 600, 0}, {600, 100, 300, 50}, {950, 0, 0, 50}};
    const auto nw = imageOf(old, st, 0, {1});
    std::vector<uint8_t> patch;
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, detail::buildInplacePatch(old.data(), 1000, nw.data(), 1000, st, patch));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("\n Totail = 3                Node = 2    Lab = 1\n diff = 2    ext = 2\n", out);
}

TEST(InplaceResolver, OptimisedPatchPrintsTheStatisticsOnce)
{
    // The optimising encoder resolves a second set of stretches; only the first says its figures.
    const auto old = randomBytes(1000, 16);
    const std::vector<InplaceStretch> st = {{0, 0, 600, 0}, {600, 100, 300, 50}, {950, 0, 0, 50}};
    const std::vector<InplaceStretch> other = {{0, 0, 1000, 0}};
    const auto nw = imageOf(old, st, 0, {1});
    std::vector<uint8_t> patch;
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, detail::buildOptimizedInplacePatch(old.data(), 1000, nw.data(), 1000, st, other,
                                                    patch));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("\n Totail = 3                Node = 2    Lab = 1\n diff = 2    ext = 2\n", out);
    std::vector<uint8_t> rebuilt;
    std::string error;
    EXPECT_TRUE(apply_inplace_patch(old.data(), old.size(), nw.size(), patch.data(), patch.size(),
                                    rebuilt, error))
        << error;
    EXPECT_TRUE(rebuilt == nw);
}

TEST(InplaceResolver, RejectsScanResultsThatDoNotTileTheNewImage)
{
    const auto old = randomBytes(100, 16);
    std::vector<uint8_t> patch;
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, detail::buildInplacePatch(old.data(), 100, old.data(), 100,
                                            {{0, 0, 50, 0}, {60, 0, 40, 0}}, patch));
    EXPECT_EQ(-1, detail::buildInplacePatch(old.data(), 100, old.data(), 100,
                                            {{0, 80, 50, 50}}, patch));
    EXPECT_EQ(-1, detail::buildInplacePatch(old.data(), 100, old.data(), 100,
                                            {{0, 0, 50, 0}}, patch));
    testing::internal::GetCapturedStdout();
}

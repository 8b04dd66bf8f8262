// Device side of the block patch: the meaning of a patch and strict rejection of bad ones.
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/samples/firmware_gen.h"
#include "deltamaker/verify/block_patch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

bool sanitizing()
{
    const char *v = std::getenv("TESSEL_SANITIZE");
    return v && *v && std::strcmp(v, "0") != 0;
}

struct Triple {
    int64_t x, y, z;
};

// Builds a patch by hand: header fields as given, stream = ctrl + diff + extra (+ tail).
Bytes makePatch(const std::vector<Triple> &triples, const Bytes &diff, const Bytes &extra,
                int64_t newSize, int64_t ctrlLen = -1, int64_t diffLen = -1)
{
    Bytes joined;
    for (const Triple &t : triples) {
        uint8_t b[24];
        put_sm8(b, t.x);
        put_sm8(b + 8, t.y);
        put_sm8(b + 16, t.z);
        joined.insert(joined.end(), b, b + 24);
    }
    joined.insert(joined.end(), diff.begin(), diff.end());
    joined.insert(joined.end(), extra.begin(), extra.end());
    Bytes patch(32 + joined.size() * 2 + 64);
    std::memcpy(patch.data(), "BSDIFF40", 8);
    put_sm8(patch.data() + 8, ctrlLen < 0 ? int64_t(24 * triples.size()) : ctrlLen);
    put_sm8(patch.data() + 16, diffLen < 0 ? int64_t(diff.size()) : diffLen);
    put_sm8(patch.data() + 24, newSize);
    size_t len = patch.size() - 32;
    EXPECT_EQ(lzma_pack(joined.data(), joined.size(), patch.data() + 32, &len), 0);
    patch.resize(32 + len);
    return patch;
}

bool apply(const Bytes &oldB, const Bytes &patch, Bytes &out, std::string &error)
{
    // The size the record would promise: the header's own, so that other checks are reached.
    const int64_t said = patch.size() >= 32 ? get_sm8(patch.data() + 24) : 0;
    const size_t promised = said >= 0 && said <= 20480 ? static_cast<size_t>(said) : 0;
    return apply_block_patch(oldB.data(), oldB.size(), patch.data(), patch.size(), promised, out, error);
}

TEST(ApplyBlockPatch, FollowsTheMeaningOfAPatch)
{
    const Bytes oldB = {10, 20, 30, 40, 50, 60, 70, 80};
    // (3, 2, +2): new[0..3) = old[0..3) + diff; 2 literals; old moves to 5.
    // (2, 0, -6): new[5..7) = old[5..7) + diff; old moves to 1.
    // (1, 1, 0):  new[7] = old[1] + diff; 1 literal.
    const std::vector<Triple> t = {{3, 2, 2}, {2, 0, -6}, {1, 1, 0}};
    const Bytes diff = {1, 2, 0xFF, 0, 5, 0x80};
    const Bytes extra = {0xAA, 0xBB, 0xCC};
    const Bytes patch = makePatch(t, diff, extra, 9);
    Bytes out;
    std::string error;
    ASSERT_TRUE(apply(oldB, patch, out, error)) << error;
    EXPECT_EQ(out, (Bytes{11, 22, 29, 0xAA, 0xBB, 60, 75, 20 + 0x80, 0xCC}));
    EXPECT_TRUE(error.empty());
}

TEST(ApplyBlockPatch, RejectsBadHeaders)
{
    const Bytes oldB(16, 7);
    const Bytes good = makePatch({{16, 0, -16}}, Bytes(16, 0), {}, 16);
    Bytes out;
    std::string error;
    ASSERT_TRUE(apply(oldB, good, out, error)) << error;

    EXPECT_FALSE(apply(oldB, Bytes(good.begin(), good.begin() + 31), out, error));
    EXPECT_EQ(error, "block patch: shorter than its 32-byte header");
    Bytes p = good;
    p[7] = '1';
    EXPECT_FALSE(apply(oldB, p, out, error));
    EXPECT_EQ(error, "block patch: wrong magic");
    p = good;
    p[15] |= 0x80;
    EXPECT_FALSE(apply(oldB, p, out, error));
    EXPECT_EQ(error, "block patch: negative or oversized control length");
    p = good;
    p[20] = 1;
    EXPECT_FALSE(apply(oldB, p, out, error));
    EXPECT_EQ(error, "block patch: negative or oversized diff length");
    p = good;
    p[27] = 0x80;
    EXPECT_FALSE(apply(oldB, p, out, error));
    EXPECT_EQ(error, "block patch: negative or oversized new size");
    EXPECT_TRUE(out.empty());
}

TEST(ApplyBlockPatch, RejectsTriplesOutsideTheirBlocks)
{
    const Bytes oldB(16, 7);
    Bytes out;
    std::string error;
    struct Case {
        std::vector<Triple> t;
        int64_t diffLen;
        int64_t extraLen;
        int64_t newSize;
        const char *error;
    } cases[] = {
        {{{17, 0, 0}}, 17, 0, 17, "block patch: triple 0: reads outside the old block"},
        {{{4, 0, 14}, {4, 0, 0}}, 8, 0, 8, "block patch: triple 1: reads outside the old block"},
        {{{4, 0, -10}, {4, 0, 0}}, 8, 0, 8, "block patch: triple 1: reads outside the old block"},
        {{{8, 0, 0}}, 8, 0, 7, "block patch: diff length exceeds the new size"},
        {{{4, 4, 0}}, 4, 4, 7, "block patch: triple 0: writes past the end of the new block"},
        {{{4, 4, 0}}, 4, 4, 9, "block patch: triples build 8 bytes, the header says 9"},
        {{{-1, 4, 0}}, 0, 4, 4, "block patch: triple 0: negative or oversized length"},
        {{{0, int64_t(1) << 32, 0}}, 0, 0, 4, "block patch: triple 0: negative or oversized length"},
        {{{0, 4, int64_t(1) << 40}}, 0, 4, 4, "block patch: triple 0: oversized old seek"},
    };
    for (const Case &c : cases) {
        const Bytes patch = makePatch(c.t, Bytes(c.diffLen, 0), Bytes(c.extraLen, 1), c.newSize);
        EXPECT_FALSE(apply(oldB, patch, out, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
    // Diff length in the header larger than the triples use.
    const Bytes p = makePatch({{4, 0, 0}}, Bytes(5, 0), {}, 5, -1, 5);
    EXPECT_FALSE(apply(oldB, p, out, error));
    // Diff block shorter than the triples need.
    const Bytes q = makePatch({{4, 0, 0}}, Bytes(3, 0), {}, 4, -1, 3);
    EXPECT_FALSE(apply(oldB, q, out, error));
    EXPECT_EQ(error, "block patch: triple 0: reads past the end of the diff block");
    // A control length that is no whole number of triples.
    const Bytes r = makePatch({{4, 0, 0}}, Bytes(4, 0), {}, 4, 25);
    EXPECT_FALSE(apply(oldB, r, out, error));
    EXPECT_EQ(error, "block patch: control length 25 is not a whole number of triples");
    // A negative zero length is no length.
    Bytes s = makePatch({{0, 4, 0}}, {}, Bytes(4, 1), 4);
    s[23] |= 0x80;
    EXPECT_FALSE(apply(oldB, s, out, error));
}

TEST(ApplyBlockPatch, RejectsStreamsOfTheWrongLength)
{
    const Bytes oldB(64, 3);
    Bytes out;
    std::string error;
    // The stream holds one byte more than the triples take.
    const Bytes longer = makePatch({{0, 4, 0}}, {}, Bytes(5, 1), 4);
    EXPECT_FALSE(apply(oldB, longer, out, error));
    // And one byte less.
    const Bytes shorter = makePatch({{0, 4, 0}}, {}, Bytes(3, 1), 4);
    EXPECT_FALSE(apply(oldB, shorter, out, error));
    // Garbage after the stream.
    Bytes good = makePatch({{0, 4, 0}}, {}, Bytes(4, 1), 4);
    ASSERT_TRUE(apply(oldB, good, out, error)) << error;
    good.push_back(0);
    EXPECT_FALSE(apply(oldB, good, out, error));
    EXPECT_EQ(error, "block patch: LZMA stream has 1 bytes left over");
}

TEST(ApplyBlockPatch, EmptyPatchBuildsEmptyBlock)
{
    // No triples and no stream bytes beyond the encoder's flush: an empty new block.
    const Bytes patch = makePatch({}, {}, {}, 0);
    Bytes out(3, 9);
    std::string error;
    EXPECT_TRUE(apply(Bytes{}, patch, out, error)) << error;
    EXPECT_TRUE(out.empty());
}

Bytes generatedPatch(uint64_t seed, Bytes &oldB, Bytes &newB)
{
    const auto pair = Samples::makePair(seed, 2048 + seed * 512 % 18000, true);
    oldB = pair.oldImage;
    newB = pair.newImage;
    Bytes patch(32 + 2 * newB.size());
    int64_t len = 0;
    EXPECT_EQ(sw_bsdiff(oldB.data(), oldB.size(), newB.data(), newB.size(), patch.data(), &len), 0);
    patch.resize(static_cast<size_t>(len));
    return patch;
}

TEST(ApplyBlockPatch, EveryHeaderBitFlipIsRejected)
{
    Bytes oldB, newB;
    const Bytes patch = generatedPatch(1, oldB, newB);
    Bytes out;
    std::string error;
    ASSERT_TRUE(apply(oldB, patch, out, error)) << error;
    ASSERT_EQ(out, newB);
    for (size_t byte = 0; byte < 32; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes p = patch;
            p[byte] ^= static_cast<uint8_t>(1 << bit);
            EXPECT_FALSE(apply(oldB, p, out, error)) << byte << "/" << bit;
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(ApplyBlockPatch, EveryTruncationIsRejected)
{
    Bytes oldB, newB;
    const Bytes patch = generatedPatch(2, oldB, newB);
    Bytes out;
    std::string error;
    for (size_t n = 0; n < patch.size(); ++n) {
        EXPECT_FALSE(apply_block_patch(oldB.data(), oldB.size(), patch.data(), n, newB.size(), out, error)) << n;
    }
}

// Random damage of valid patches: each must be rejected or decode to a block of the header's
// size; nothing may read or write out of bounds (run under ASan).
TEST(ApplyBlockPatch, RandomDamageNeverCrashes)
{
    std::mt19937 rng(12345);
    const int patches = sanitizing() ? 6 : 25;
    const int damages = sanitizing() ? 60 : 200;
    int rejected = 0;
    int total = 0;
    for (int k = 0; k < patches; ++k) {
        Bytes oldB, newB;
        const Bytes patch = generatedPatch(100 + k, oldB, newB);
        for (int d = 0; d < damages; ++d) {
            Bytes p = patch;
            const int edits = 1 + rng() % 4;
            for (int e = 0; e < edits && !p.empty(); ++e) {
                const size_t at = rng() % p.size();
                switch (rng() % 5) {
                case 0: p[at] ^= static_cast<uint8_t>(1 << (rng() % 8)); break;
                case 1: p[at] = static_cast<uint8_t>(rng()); break;
                case 2: p.erase(p.begin() + at); break;
                case 3: p.insert(p.begin() + at, static_cast<uint8_t>(rng())); break;
                case 4: p.resize(at); break;
                }
            }
            Bytes out;
            std::string error;
            const bool ok = apply(oldB, p, out, error);
            ++total;
            if (ok) {
                EXPECT_EQ(static_cast<int64_t>(out.size()), get_sm8(p.data() + 24));
                EXPECT_TRUE(error.empty());
            } else {
                ++rejected;
                EXPECT_FALSE(error.empty());
                EXPECT_TRUE(out.empty());
            }
        }
    }
    // Nearly all damage is caught by the exact-length checks.
    EXPECT_GT(rejected, total * 9 / 10);
}

} // namespace

namespace {

// A small patch whose header claims far more than its record promises: refused from the header
// alone, before its stream (which really expands to a megabyte) is decoded or anything sized by
// the claim is allocated.
TEST(ApplyBlockPatch, ClaimsBeyondTheRecordAreRefusedBeforeDecoding)
{
    const Bytes zeros(1 << 20, 0);
    const Bytes huge = makePatch({}, zeros, {}, 0x7fffffff, int64_t(zeros.size()), 0);
    ASSERT_LT(huge.size(), 4096u);
    const Bytes oldB(kBlockPatchMaxNewSize, 1);
    Bytes out;
    std::string error;
    EXPECT_FALSE(apply_block_patch(oldB.data(), oldB.size(), huge.data(), huge.size(), 20480, out, error));
    EXPECT_EQ(error, "block patch: header says 2147483647 new bytes, the record 20480");

    // The record's own size, but a control block no 20480-byte block can have.
    const Bytes longControl = makePatch({}, zeros, {}, 20480, int64_t(zeros.size()), 0);
    EXPECT_FALSE(apply_block_patch(oldB.data(), oldB.size(), longControl.data(), longControl.size(), 20480, out,
                                   error));
    EXPECT_EQ(error, "block patch: control length 1048576 is more than 20480 new bytes allow");

    // A record promising more than a block holds.
    EXPECT_FALSE(apply_block_patch(oldB.data(), oldB.size(), huge.data(), huge.size(), 20481, out, error));
    EXPECT_EQ(error, "block patch: record promises 20481 new bytes, more than a block holds");
    EXPECT_TRUE(out.empty());
}

} // namespace

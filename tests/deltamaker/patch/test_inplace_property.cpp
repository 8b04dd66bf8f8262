// Property test of sw_bsdiff_new: generated image pairs of every kind and size must give a patch
// that the device simulator turns into the new image, and the set must exercise relocations.
#include "deltamaker/patch/inplace.h"
#include "deltamaker/verify/inplace_apply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

bool sanitizing() { return std::getenv("TESSEL_SANITIZE") != nullptr; }

class PairMaker {
public:
    explicit PairMaker(uint32_t seed) : rng_(seed) {}

    uint32_t next(uint32_t n) { return n ? static_cast<uint32_t>(rng_() % n) : 0; }

    Bytes random(size_t n)
    {
        Bytes v(n);
        for (auto &b : v)
            b = static_cast<uint8_t>(rng_());
        return v;
    }

    // Code-like bytes: 4-byte words, many of them pointers into a 1 MiB flash window, with
    // repeated instruction patterns.
    Bytes firmware(size_t n)
    {
        Bytes v;
        v.reserve(n + 4);
        const uint32_t ops[] = {0x4770bd10u, 0xb5104604u, 0x68004b02u, 0xe7fe2000u, 0x46c0bf00u};
        while (v.size() < n) {
            uint32_t w;
            const uint32_t k = next(10);
            if (k < 4)
                w = 0x08000000u + (next(1u << 20) & ~3u); // pointer
            else if (k < 8)
                w = ops[next(5)];
            else
                w = static_cast<uint32_t>(rng_());
            for (int i = 0; i < 4; ++i)
                v.push_back(static_cast<uint8_t>(w >> (8 * i)));
        }
        v.resize(n);
        return v;
    }

    // A firmware update: functions inserted and removed, and every pointer past an insertion
    // shifted by the inserted length.
    Bytes firmwareUpdate(const Bytes &old)
    {
        Bytes nw = old;
        const int edits = 1 + int(next(6));
        for (int e = 0; e < edits && !nw.empty(); ++e) {
            const size_t at = next(uint32_t(nw.size())) & ~size_t(3);
            if (next(3) == 0 && nw.size() > 64) {
                const size_t len = std::min(nw.size() - at, size_t(4 + (next(2048) & ~3u)));
                nw.erase(nw.begin() + long(at), nw.begin() + long(at + len));
            } else {
                const Bytes fn = firmware(4 + (next(4096) & ~3u));
                nw.insert(nw.begin() + long(at), fn.begin(), fn.end());
                const uint32_t shift = uint32_t(fn.size());
                for (size_t i = at + fn.size(); i + 4 <= nw.size(); i += 4) {
                    uint32_t w = 0;
                    std::memcpy(&w, &nw[i], 4);
                    if ((w & 0xfff00000u) == 0x08000000u && (w & 0xfffffu) >= at) {
                        w += shift;
                        std::memcpy(&nw[i], &w, 4);
                    }
                }
            }
        }
        for (int k = int(next(8)); k > 0 && !nw.empty(); --k) // a few patched constants
            nw[next(uint32_t(nw.size()))] ^= static_cast<uint8_t>(1 + next(255));
        if (nw.empty())
            nw.push_back(0);
        return nw;
    }

    Bytes insertions(const Bytes &old)
    {
        Bytes nw = old;
        for (int k = 1 + int(next(5)); k > 0; --k) {
            const Bytes add = random(1 + next(uint32_t(std::max<size_t>(2, old.size() / 8))));
            nw.insert(nw.begin() + long(next(uint32_t(nw.size() + 1))), add.begin(), add.end());
        }
        return nw;
    }

    Bytes deletions(const Bytes &old)
    {
        Bytes nw = old;
        for (int k = 1 + int(next(5)); k > 0 && nw.size() > 1; --k) {
            const size_t at = next(uint32_t(nw.size()));
            const size_t len = std::min(nw.size() - at, size_t(1 + next(uint32_t(nw.size() / 4 + 1))));
            nw.erase(nw.begin() + long(at), nw.begin() + long(at + len));
        }
        if (nw.empty())
            nw.push_back(1);
        return nw;
    }

    // Moves one block elsewhere.
    Bytes blockMove(const Bytes &old)
    {
        Bytes nw = old;
        const size_t len = 1 + next(uint32_t(old.size() / 2 + 1));
        const size_t from = next(uint32_t(old.size() - std::min(len, old.size()) + 1));
        Bytes blk(nw.begin() + long(from), nw.begin() + long(std::min(nw.size(), from + len)));
        nw.erase(nw.begin() + long(from), nw.begin() + long(from + blk.size()));
        nw.insert(nw.begin() + long(next(uint32_t(nw.size() + 1))), blk.begin(), blk.end());
        return nw;
    }

    // Exchanges two large regions: each one's data is needed where the other lies.
    Bytes swapRegions(const Bytes &old)
    {
        const size_t n = old.size();
        const size_t a = next(uint32_t(n / 3 + 1));
        const size_t alen = n / 4 + next(uint32_t(n / 8 + 1));
        const size_t b = std::min(n, a + alen + next(uint32_t(n / 8 + 1)));
        const size_t blen = std::min(n - b, n / 4 + next(uint32_t(n / 8 + 1)));
        Bytes nw(old.begin(), old.begin() + long(a));
        nw.insert(nw.end(), old.begin() + long(b), old.begin() + long(b + blen));
        nw.insert(nw.end(), old.begin() + long(std::min(n, a + alen)), old.begin() + long(b));
        nw.insert(nw.end(), old.begin() + long(a), old.begin() + long(std::min(n, a + alen)));
        nw.insert(nw.end(), old.begin() + long(b + blen), old.end());
        if (nw.empty())
            nw.push_back(2);
        return nw;
    }

    Bytes rotate(const Bytes &old)
    {
        Bytes nw = old;
        std::rotate(nw.begin(), nw.begin() + long(next(uint32_t(nw.size()))), nw.end());
        return nw;
    }

    Bytes repeated(size_t n)
    {
        const Bytes unit = random(1 + next(64));
        Bytes v;
        while (v.size() < n)
            v.insert(v.end(), unit.begin(), unit.end());
        v.resize(n);
        return v;
    }

    // Sparse byte edits.
    Bytes edits(const Bytes &old)
    {
        Bytes nw = old;
        for (int k = 1 + int(next(uint32_t(old.size() / 64 + 2))); k > 0; --k)
            nw[next(uint32_t(nw.size()))] = static_cast<uint8_t>(rng_());
        return nw;
    }

    // A pair of kind `kind` with an old image of about `size` bytes.
    void make(int kind, size_t size, Bytes &old, Bytes &nw)
    {
        size = std::max<size_t>(size, 1);
        switch (kind) {
        case 0: old = random(size); nw = random(1 + next(uint32_t(size * 2))); break;
        case 1: old = firmware(size); nw = insertions(old); break;
        case 2: old = firmware(size); nw = deletions(old); break;
        case 3: old = firmware(size); nw = blockMove(old); break;
        case 4: old = random(size); nw = swapRegions(old); break;
        case 5: old = firmware(size); nw = rotate(old); break;
        case 6: old = repeated(size); nw = edits(insertions(repeated(size))); break;
        case 7: old = firmware(size); nw = edits(old); break;
        case 8: old = firmware(size); nw = old; break;
        default: old = firmware(size); nw = firmwareUpdate(old); break;
        }
    }

private:
    std::mt19937 rng_;
};

constexpr int kKinds = 10;

struct Tally {
    int pairs = 0;
    size_t moves = 0;
    size_t movedBytes = 0;
};

// Makes and checks the patch of one pair; returns false (with a failure recorded) on error.
bool roundTrip(const Bytes &old, const Bytes &nw, Tally &t, const std::string &what)
{
    Bytes patch;
    testing::internal::CaptureStdout();
    const int rc = sw_bsdiff_new_mem(old.data(), int64_t(old.size()), nw.data(),
                                     int64_t(nw.size()), patch);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0, rc) << what << "\n" << out;
    if (rc != 0)
        return false;
    Bytes rebuilt;
    std::string error;
    InplaceApplyStats stats;
    const bool ok = apply_inplace_patch(old.data(), old.size(), nw.size(), patch.data(),
                                        patch.size(), rebuilt, error, &stats);
    EXPECT_TRUE(ok) << what << ": " << error;
    EXPECT_TRUE(rebuilt == nw) << what;
    EXPECT_EQ((nw.size() + kInplaceWindowSize - 1) / kInplaceWindowSize, stats.windows) << what;
    ++t.pairs;
    t.moves += stats.moves;
    t.movedBytes += stats.movedBytes;
    return ok && rebuilt == nw;
}

// Runs `count` pairs with old sizes drawn log-uniformly from [minSize, maxSize].
Tally runSet(uint32_t seed, int count, size_t minSize, size_t maxSize)
{
    PairMaker pm(seed);
    std::mt19937 pick(seed * 7 + 1);
    std::uniform_real_distribution<double> logSize(std::log(double(minSize)),
                                                   std::log(double(maxSize)));
    Tally t;
    for (int i = 0; i < count; ++i) {
        const size_t size = size_t(std::exp(logSize(pick)));
        const int kind = i % kKinds;
        Bytes old;
        Bytes nw;
        pm.make(kind, size, old, nw);
        const std::string what = "seed " + std::to_string(seed) + " pair " + std::to_string(i) +
                                 " kind " + std::to_string(kind) + " old " +
                                 std::to_string(old.size()) + " new " + std::to_string(nw.size());
        if (!roundTrip(old, nw, t, what))
            break;
    }
    return t;
}

} // namespace

// 600 pairs from 1 byte to 128 KiB, every kind.
TEST(InplaceProperty, SmallPairsRoundTrip)
{
    const int count = sanitizing() ? 120 : 600;
    const Tally t = runSet(1, count, 1, 128 * 1024);
    EXPECT_EQ(count, t.pairs);
    EXPECT_GT(t.moves, size_t(count / 10));
    std::printf("small pairs: %d, moves %zu, moved bytes %zu\n", t.pairs, t.moves, t.movedBytes);
}

// 60 pairs from 128 KiB to 1 MiB.
TEST(InplaceProperty, MediumPairsRoundTrip)
{
    const int count = sanitizing() ? 6 : 60;
    const Tally t = runSet(2, count, 128 * 1024, 1024 * 1024);
    EXPECT_EQ(count, t.pairs);
    EXPECT_GT(t.moves, size_t(count));
    std::printf("medium pairs: %d, moves %zu, moved bytes %zu\n", t.pairs, t.moves,
                t.movedBytes);
}

// A few pairs up to 2 MiB: a firmware update, swapped regions, a rotation, unrelated data.
TEST(InplaceProperty, LargePairsRoundTrip)
{
    const size_t size = sanitizing() ? 256 * 1024 : 2 * 1024 * 1024;
    PairMaker pm(3);
    Tally t;
    for (int kind : {9, 4, 5, 0}) {
        Bytes old;
        Bytes nw;
        pm.make(kind, size - pm.next(4096), old, nw);
        if (nw.size() > 2 * 1024 * 1024)
            nw.resize(2 * 1024 * 1024);
        ASSERT_TRUE(roundTrip(old, nw, t, "large kind " + std::to_string(kind)));
    }
    EXPECT_GT(t.moves, 10u);
    std::printf("large pairs: %d, moves %zu, moved bytes %zu\n", t.pairs, t.moves, t.movedBytes);
}

// Window edges: new sizes around multiples of the window, one byte on either side.
TEST(InplaceProperty, WindowEdgeSizesRoundTrip)
{
    PairMaker pm(4);
    Tally t;
    for (int k = 1; k <= 3; ++k)
        for (int d = -1; d <= 1; ++d) {
            const size_t n = size_t(k * kInplaceWindowSize + d);
            const Bytes old = pm.firmware(n + size_t(pm.next(200)));
            Bytes nw = pm.swapRegions(old);
            nw.resize(n, 0x5a);
            ASSERT_TRUE(roundTrip(old, nw, t, "edge " + std::to_string(n)));
            ASSERT_TRUE(roundTrip(nw, old, t, "edge back " + std::to_string(n)));
        }
    Tally tiny;
    for (size_t n = 1; n <= 8; ++n) {
        const Bytes a = pm.random(n);
        const Bytes b = pm.random(9 - n);
        ASSERT_TRUE(roundTrip(a, b, tiny, "tiny " + std::to_string(n)));
        ASSERT_TRUE(roundTrip(a, a, tiny, "tiny same " + std::to_string(n)));
        ASSERT_TRUE(roundTrip({}, a, tiny, "empty old " + std::to_string(n)));
    }
}

// Thousands of pieces copied from one small old region form a single huge group; retiring its
// nodes one by one once took minutes (regrouping was quadratic per node).
TEST(InplaceProperty, ManyPiecesOfOneOldRegionRoundTrip)
{
    PairMaker pm(5);
    const Bytes old = pm.random(sanitizing() ? 64 * 1024 : 1024 * 1024);
    Bytes nw;
    const size_t target = sanitizing() ? 128 * 1024 : 1024 * 1024;
    while (nw.size() < target) {
        const size_t at = pm.next(4096);
        nw.insert(nw.end(), old.begin() + long(at), old.begin() + long(at + 128));
        const Bytes lit = pm.random(16);
        nw.insert(nw.end(), lit.begin(), lit.end());
    }
    Tally t;
    EXPECT_TRUE(roundTrip(old, nw, t, "many pieces"));
    EXPECT_GT(t.moves, 0u);
}

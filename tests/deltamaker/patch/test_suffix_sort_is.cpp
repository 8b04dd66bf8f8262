// The induced suffix sort gives qsufsort's suffix array entry for entry on every kind of input
// the generators meet: random, repetitive, periodic and firmware-like data of many sizes. The
// packed (3-byte) form reads back every entry, and the scan over it emits the same stretches.
#include "deltamaker/patch/match_scan.h"
#include "deltamaker/patch/suffix_sort.h"
#include "deltamaker/samples/firmware_gen.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void expectSameArray(const Bytes &data, const std::string &what)
{
    const int32_t n = static_cast<int32_t>(data.size());
    std::vector<int32_t> ref(size_t(n) + 1), rank(size_t(n) + 1), fast(size_t(n) + 1, -7);
    qsufsort(ref.data(), rank.data(), data.data(), n);
    ASSERT_TRUE(suffix_sort(fast.data(), data.data(), n)) << what;
    ASSERT_EQ(fast, ref) << what;
}

TEST(InducedSuffixSort, EqualsQsufsortOnSmallAndRandomInputs)
{
    std::mt19937 rng(99);
    for (int32_t n = 0; n <= 70; ++n) {
        for (int alphabet : {1, 2, 3, 256}) {
            Bytes b(static_cast<size_t>(n));
            for (auto &c : b)
                c = static_cast<uint8_t>(rng() % alphabet);
            expectSameArray(b, "n=" + std::to_string(n) + " a=" + std::to_string(alphabet));
        }
    }
    for (size_t n : {1000u, 4096u, 20480u, 65537u}) {
        for (int alphabet : {2, 4, 16, 256}) {
            Bytes b(n);
            for (auto &c : b)
                c = static_cast<uint8_t>(rng() % alphabet);
            expectSameArray(b, "random n=" + std::to_string(n));
        }
    }
}

TEST(InducedSuffixSort, EqualsQsufsortOnRepetitiveInputs)
{
    // Runs, periods and byte values at both ends of the range (0x00 and 0xFF).
    for (size_t n : {2u, 17u, 300u, 20480u}) {
        expectSameArray(Bytes(n, 0x00), "zeros");
        expectSameArray(Bytes(n, 0xFF), "ones");
        for (size_t period : {2u, 3u, 7u, 64u}) {
            Bytes b(n);
            for (size_t i = 0; i < n; ++i)
                b[i] = static_cast<uint8_t>((i % period) * 37 +
                                            (i % period == period - 1 ? 0xC8 : 0));
            expectSameArray(b, "period " + std::to_string(period));
        }
        Bytes fib;
        Bytes a{0}, c{0, 1};
        while (c.size() < n) {
            Bytes next = c;
            next.insert(next.end(), a.begin(), a.end());
            a = c;
            c = next;
        }
        c.resize(n);
        expectSameArray(c, "fibonacci word");
    }
}

TEST(InducedSuffixSort, EqualsQsufsortOnFirmwareLikeImages)
{
    for (uint64_t seed = 0; seed < 40; ++seed) {
        const Samples::FirmwarePair p = Samples::makePair(seed, 20480, true);
        expectSameArray(p.oldImage, "block pair " + std::to_string(seed));
        expectSameArray(p.newImage, "block pair new " + std::to_string(seed));
    }
    for (uint64_t seed = 0; seed < 4; ++seed)
        expectSameArray(Samples::makeFirmware(seed, 300000 + seed * 7919), "image");
}

TEST(PackedSuffixArray, PacksInPlaceAndScansAlike)
{
    std::vector<int32_t> values{0, 1, 255, 256, 65535, 65536, 0xABCDEF, 0xFFFFFF, 7};
    std::vector<int32_t> packed = values;
    PackedSuffixArray::pack(packed.data(), int64_t(values.size()));
    PackedSuffixArray view;
    view.bytes = reinterpret_cast<const uint8_t *>(packed.data());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(view[int64_t(i)], values[i]) << i;

    for (uint64_t seed = 0; seed < 12; ++seed) {
        Samples::PairSpec shape;
        shape.size = 60000 + seed * 1000;
        const Samples::FirmwarePair p = Samples::makePair(300 + seed, shape);
        const int32_t n = static_cast<int32_t>(p.oldImage.size());
        const int32_t m = static_cast<int32_t>(p.newImage.size());
        std::vector<int32_t> I(size_t(n) + 1);
        ASSERT_TRUE(suffix_sort(I.data(), p.oldImage.data(), n));
        std::vector<ScanStretch> plain, fromPacked;
        auto into = [](std::vector<ScanStretch> &v) {
            return [&v](const ScanStretch &s) {
                v.push_back(s);
                return true;
            };
        };
        ASSERT_TRUE(match_scan(I.data(), p.oldImage.data(), n, p.newImage.data(), m, into(plain)));
        PackedSuffixArray::pack(I.data(), int64_t(n) + 1);
        PackedSuffixArray sa;
        sa.bytes = reinterpret_cast<const uint8_t *>(I.data());
        ASSERT_TRUE(match_scan(sa, p.oldImage.data(), n, p.newImage.data(), m, into(fromPacked)));
        ASSERT_EQ(plain.size(), fromPacked.size()) << seed;
        for (size_t k = 0; k < plain.size(); ++k) {
            EXPECT_EQ(plain[k].lastScan, fromPacked[k].lastScan);
            EXPECT_EQ(plain[k].lastPos, fromPacked[k].lastPos);
            EXPECT_EQ(plain[k].diffLen, fromPacked[k].diffLen);
            EXPECT_EQ(plain[k].extraLen, fromPacked[k].extraLen);
            EXPECT_EQ(plain[k].oldSeek, fromPacked[k].oldSeek);
        }
    }
}

} // namespace

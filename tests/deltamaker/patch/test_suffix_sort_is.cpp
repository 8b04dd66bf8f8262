// The induced suffix sort gives qsufsort's suffix array entry for entry on every kind of input
// the generators meet: random, repetitive, periodic and firmware-like data of many sizes.
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

} // namespace

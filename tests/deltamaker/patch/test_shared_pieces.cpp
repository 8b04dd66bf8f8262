// Sign-magnitude forms, suffix sort, match search and scan.
#include "deltamaker/patch/match_scan.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/patch/suffix_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes sm8(int64_t v)
{
    Bytes b(8);
    put_sm8(b.data(), v);
    return b;
}

Bytes sm4(int64_t v)
{
    Bytes b(4);
    put_sm4(b.data(), v);
    return b;
}

TEST(SignMagnitude, EightByteForms)
{
    EXPECT_EQ(sm8(0), Bytes({0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sm8(1), Bytes({1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sm8(-1), Bytes({1, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(sm8(-5), Bytes({5, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(sm8(INT32_MAX), Bytes({0xff, 0xff, 0xff, 0x7f, 0, 0, 0, 0}));
    EXPECT_EQ(sm8(INT32_MIN + 1), Bytes({0xff, 0xff, 0xff, 0x7f, 0, 0, 0, 0x80}));
    EXPECT_EQ(sm8(20480), Bytes({0x00, 0x50, 0, 0, 0, 0, 0, 0}));
}

TEST(SignMagnitude, FourByteForms)
{
    EXPECT_EQ(sm4(0), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(sm4(1), Bytes({1, 0, 0, 0}));
    EXPECT_EQ(sm4(-1), Bytes({1, 0, 0, 0x80}));
    EXPECT_EQ(sm4(-5), Bytes({5, 0, 0, 0x80}));
    EXPECT_EQ(sm4(INT32_MAX), Bytes({0xff, 0xff, 0xff, 0x7f}));
    EXPECT_EQ(sm4(INT32_MIN + 1), Bytes({0xff, 0xff, 0xff, 0xff}));
}

TEST(SignMagnitude, RoundTrips)
{
    const int64_t values[] = {0, 1, -1, -5, 255, -256, 65536, -20480, INT32_MAX, INT32_MIN + 1};
    for (int64_t v : values) {
        EXPECT_EQ(get_sm8(sm8(v).data()), v) << v;
        EXPECT_EQ(get_sm4(sm4(v).data()), v) << v;
    }
    // Negative zero reads as zero.
    const uint8_t negZero8[8] = {0, 0, 0, 0, 0, 0, 0, 0x80};
    const uint8_t negZero4[4] = {0, 0, 0, 0x80};
    EXPECT_EQ(get_sm8(negZero8), 0);
    EXPECT_EQ(get_sm4(negZero4), 0);
    // The reader reports magnitudes beyond 32 bits so that callers can reject them.
    const uint8_t big[8] = {0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(get_sm8(big), int64_t(1) << 32);
}

std::vector<int32_t> suffixArray(const Bytes &data)
{
    const int32_t n = static_cast<int32_t>(data.size());
    std::vector<int32_t> I(n + 1), V(n + 1);
    qsufsort(I.data(), V.data(), data.data(), n);
    return I;
}

std::vector<int32_t> plainSort(const Bytes &data)
{
    std::vector<int32_t> I(data.size() + 1);
    for (size_t i = 0; i < I.size(); ++i)
        I[i] = static_cast<int32_t>(i);
    std::sort(I.begin(), I.end(), [&](int32_t a, int32_t b) {
        return std::lexicographical_compare(data.begin() + a, data.end(), data.begin() + b,
                                            data.end());
    });
    return I;
}

Bytes randomBytes(std::mt19937 &rng, size_t n, int alphabet)
{
    Bytes b(n);
    for (auto &c : b)
        c = static_cast<uint8_t>(rng() % alphabet);
    return b;
}

TEST(SuffixSort, MatchesPlainSortOnRandomData)
{
    std::mt19937 rng(17);
    const size_t sizes[] = {0, 1, 2, 3, 15, 16, 17, 31, 32, 33, 100, 257, 3000, 4096};
    for (size_t n : sizes) {
        for (int alphabet : {1, 2, 4, 256}) {
            const Bytes data = randomBytes(rng, n, alphabet);
            ASSERT_EQ(suffixArray(data), plainSort(data)) << "n=" << n << " alphabet=" << alphabet;
        }
    }
}

TEST(SuffixSort, MatchesPlainSortOnRepetitiveData)
{
    for (size_t n : {0, 1, 2, 15, 16, 17, 64, 1000, 3001}) {
        const Bytes zeros(n, 0x00);
        ASSERT_EQ(suffixArray(zeros), plainSort(zeros)) << n;
        const Bytes ff(n, 0xff);
        ASSERT_EQ(suffixArray(ff), plainSort(ff)) << n;
        for (size_t period : {2, 3, 7, 16, 17}) {
            Bytes p(n);
            for (size_t i = 0; i < n; ++i)
                p[i] = static_cast<uint8_t>((i % period) * 37);
            ASSERT_EQ(suffixArray(p), plainSort(p)) << n << "/" << period;
        }
    }
}

TEST(SuffixSort, EmptySuffixComesFirst)
{
    const Bytes data = {3, 1, 2};
    const auto I = suffixArray(data);
    EXPECT_EQ(I, (std::vector<int32_t>{3, 1, 2, 0}));
    EXPECT_EQ(suffixArray(Bytes{}), std::vector<int32_t>{0});
}

TEST(MatchSearch, FindsLongestMatch)
{
    const Bytes old = {'a', 'b', 'c', 'a', 'b', 'd', 'x', 'y'};
    const auto I = suffixArray(old);
    const Bytes probe = {'a', 'b', 'd', 'q'};
    int32_t pos = -1;
    EXPECT_EQ(match_search(I.data(), old.data(), 8, probe.data(), 4, 0, 8, &pos), 3);
    EXPECT_EQ(pos, 3);
    const Bytes none = {'z'};
    EXPECT_EQ(match_search(I.data(), old.data(), 8, none.data(), 1, 0, 8, &pos), 0);
}

TEST(MatchSearch, EmptyOldBlock)
{
    const std::vector<int32_t> I = {0};
    const Bytes probe = {1, 2, 3};
    int32_t pos = -1;
    EXPECT_EQ(match_search(I.data(), nullptr, 0, probe.data(), 3, 0, 0, &pos), 0);
    EXPECT_EQ(pos, 0);
}

std::vector<ScanStretch> scanAll(const Bytes &oldB, const Bytes &newB)
{
    const auto I = suffixArray(oldB);
    std::vector<ScanStretch> out;
    EXPECT_TRUE(match_scan(I.data(), oldB.data(), static_cast<int32_t>(oldB.size()), newB.data(),
                           static_cast<int32_t>(newB.size()), [&](const ScanStretch &s) {
                               out.push_back(s);
                               return true;
                           }));
    return out;
}

TEST(MatchScan, IdenticalBlocksGiveOneStretch)
{
    std::mt19937 rng(5);
    const Bytes data = randomBytes(rng, 5000, 256);
    const auto st = scanAll(data, data);
    ASSERT_EQ(st.size(), 1u);
    EXPECT_EQ(st[0].lastScan, 0);
    EXPECT_EQ(st[0].lastPos, 0);
    EXPECT_EQ(st[0].diffLen, 5000);
    EXPECT_EQ(st[0].extraLen, 0);
    EXPECT_EQ(st[0].oldSeek, -5000);
}

TEST(MatchScan, StretchesTileTheNewBlockAndStayInsideOld)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round) {
        Bytes oldB = randomBytes(rng, rng() % 3000, round % 3 == 0 ? 4 : 256);
        Bytes newB = oldB;
        for (int m = 0; m < 5 && !newB.empty(); ++m) {
            const size_t at = rng() % newB.size();
            const size_t n = std::min<size_t>(rng() % 64, newB.size() - at);
            if (rng() % 2)
                newB.erase(newB.begin() + at, newB.begin() + at + n);
            else
                newB.insert(newB.begin() + at, n, static_cast<uint8_t>(rng()));
        }
        const auto st = scanAll(oldB, newB);
        int64_t n = 0;
        int64_t o = 0;
        for (const auto &s : st) {
            ASSERT_EQ(s.lastScan, n);
            ASSERT_EQ(s.lastPos, o);
            ASSERT_GE(s.diffLen, 0);
            ASSERT_GE(s.extraLen, 0);
            ASSERT_LE(s.lastPos + s.diffLen, static_cast<int64_t>(oldB.size()));
            n += s.diffLen + s.extraLen;
            o += s.diffLen + s.oldSeek;
        }
        ASSERT_EQ(n, static_cast<int64_t>(newB.size()));
    }
}

TEST(MatchScan, VisitorCanStop)
{
    const Bytes oldB(100, 1);
    Bytes newB(300, 2);
    std::copy(oldB.begin(), oldB.end(), newB.begin() + 100);
    const auto I = suffixArray(oldB);
    int calls = 0;
    EXPECT_FALSE(match_scan(I.data(), oldB.data(), 100, newB.data(), 300, [&](const ScanStretch &) {
        ++calls;
        return false;
    }));
    EXPECT_EQ(calls, 1);
}

} // namespace

// The in-place device simulator: container checks, window spans, moves and tampered patches.
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/verify/inplace_apply.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

std::vector<uint8_t> encodeControl(const InplacePatchContents &c)
{
    std::vector<uint8_t> out;
    for (const auto &w : c.windows) {
        detail::putSm4(out, int64_t(w.entries.size()));
        detail::putSm4(out, int64_t(w.moves.size()));
        for (const auto &e : w.entries) {
            detail::putSm4(out, e.oldPos);
            detail::putSm4(out, e.diffLen);
            detail::putSm4(out, e.extraLen);
        }
        for (const auto &m : w.moves) {
            detail::putSm4(out, m.src);
            detail::putSm4(out, int64_t(m.dst) | (int64_t(m.flag) << 29));
            detail::putSm4(out, m.len);
        }
    }
    return out;
}

std::vector<uint8_t> pack(const InplacePatchContents &c)
{
    std::vector<uint8_t> patch;
    EXPECT_EQ(0, detail::packInplaceContainer(encodeControl(c), c.diff, c.extra, patch));
    return patch;
}

// A pair that needs relocations, literals and difference runs: old = A|B|C (3 windows),
// new = B' | lits + A' | C' | lits, where ' marks added difference bytes.
struct Fixture {
    std::vector<uint8_t> old = randomBytes(3 * W, 100);
    std::vector<uint8_t> nw;
    std::vector<uint8_t> patch;
    InplacePatchContents contents;

    Fixture()
    {
        const std::vector<InplaceStretch> st = {
            {0, W, W, 0}, {W, 0, W - 1000, 1000}, {2 * W, 2 * W, W, 500}};
        const auto lit = randomBytes(1500, 101);
        size_t l = 0;
        for (const auto &s : st) {
            for (int32_t i = 0; i < s.diffLen; ++i)
                nw.push_back(static_cast<uint8_t>(old[s.oldPos + i] + (i % 3)));
            for (int32_t i = 0; i < s.extraLen; ++i)
                nw.push_back(lit[l++]);
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(0, detail::buildInplacePatch(old.data(), int32_t(old.size()), nw.data(),
                                               int32_t(nw.size()), st, patch));
        testing::internal::GetCapturedStdout();
        std::string error;
        EXPECT_TRUE(decode_inplace_patch(patch.data(), patch.size(), nw.size(), contents, error))
            << error;
    }

    // Applies `p`; returns the simulator's error, or "" when it rebuilt the new image.
    std::string apply(const std::vector<uint8_t> &p, InplaceApplyStats *stats = nullptr) const
    {
        std::vector<uint8_t> out;
        std::string error;
        if (!apply_inplace_patch(old.data(), old.size(), nw.size(), p.data(), p.size(), out,
                                 error, stats))
            return error.empty() ? std::string("rejected without a reason") : error;
        return out == nw ? std::string() : std::string("wrong image");
    }
};

void setSm4(std::vector<uint8_t> &p, size_t at, int32_t v)
{
    std::vector<uint8_t> b;
    detail::putSm4(b, v);
    std::memcpy(&p[at], b.data(), 4);
}

} // namespace

TEST(InplaceApply, RebuildsTheFixtureAndCountsItsWork)
{
    Fixture f;
    InplaceApplyStats stats;
    EXPECT_EQ("", f.apply(f.patch, &stats));
    EXPECT_EQ(4u, stats.windows);
    EXPECT_GT(stats.moves, 0u);
    EXPECT_GT(stats.movedBytes, 0u);
    EXPECT_EQ("", f.apply(pack(f.contents))); // the re-encoding round trip is exact
}

TEST(InplaceApply, RejectsBrokenContainers)
{
    Fixture f;
    auto p = f.patch;
    p[0] = 'C';
    EXPECT_NE(std::string::npos, f.apply(p).find("magic"));

    p = f.patch;
    p.push_back(0);
    EXPECT_NE(std::string::npos, f.apply(p).find("do not match"));
    p = f.patch;
    p.pop_back();
    EXPECT_NE(std::string::npos, f.apply(p).find("do not match"));
    p = f.patch;
    p.resize(19);
    EXPECT_NE(std::string::npos, f.apply(p).find("magic"));

    // Negative and zero stream lengths.
    p = f.patch;
    setSm4(p, 8, -5);
    EXPECT_NE(std::string::npos, f.apply(p).find("bad stream lengths"));
    p = f.patch;
    setSm4(p, 12, 0);
    EXPECT_NE(std::string::npos, f.apply(p).find("bad stream lengths"));

    // Lengths shifted between the streams: the sum is right but the streams are not.
    p = f.patch;
    const int32_t c = p[8] | (p[9] << 8) | (p[10] << 16);
    const int32_t d = p[12] | (p[13] << 8) | (p[14] << 16);
    setSm4(p, 8, c + 1);
    setSm4(p, 12, d - 1);
    EXPECT_NE("", f.apply(p));
}

TEST(InplaceApply, ChecksTheExtraStreamAgainstTheEntries)
{
    Fixture f;
    // X = 0 while entries take literals: the third stream is missing.
    auto c = f.contents;
    std::vector<uint8_t> p;
    ASSERT_EQ(0, detail::packInplaceContainer(encodeControl(c), c.diff, {}, p));
    EXPECT_NE(std::string::npos, f.apply(p).find("extra stream missing"));

    // A third stream that no entry uses.
    for (auto &w : c.windows)
        for (auto &e : w.entries)
            e.extraLen = 0;
    ASSERT_EQ(0, detail::packInplaceContainer(encodeControl(c), c.diff, f.contents.extra, p));
    EXPECT_NE(std::string::npos, f.apply(p).find("no entry uses it"));
}

TEST(InplaceApply, RejectsStreamsShortOrWithBytesLeftOver)
{
    Fixture f;
    auto c = f.contents;
    c.diff.push_back(1);
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("diff stream has bytes left over")) << f.apply(pack(c));
    c = f.contents;
    c.extra.pop_back();
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("extra stream is damaged or too short"));

    auto control = encodeControl(f.contents);
    control.push_back(0);
    std::vector<uint8_t> p;
    ASSERT_EQ(0, detail::packInplaceContainer(control, f.contents.diff, f.contents.extra, p));
    EXPECT_NE(std::string::npos, f.apply(p).find("control stream has bytes left over")) << f.apply(p);
    control.resize(control.size() - 13);
    ASSERT_EQ(0, detail::packInplaceContainer(control, f.contents.diff, f.contents.extra, p));
    EXPECT_NE(std::string::npos, f.apply(p).find("control stream too short"));
}

TEST(InplaceApply, RejectsTamperedEntries)
{
    Fixture f;
    // One more literal byte: window 1 builds more than its span.
    auto c = f.contents;
    ASSERT_EQ(4u, c.windows.size());
    ASSERT_GT(c.windows[3].entries.back().extraLen, 0);
    c.windows[1].entries.back().extraLen += 1;
    c.windows[3].entries.back().extraLen -= 1;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("window 1: builds more bytes")) << f.apply(pack(c));

    // One difference byte fewer: window 0 builds less than its span.
    c = f.contents;
    c.windows[0].entries[0].diffLen -= 1;
    c.diff.erase(c.diff.begin());
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("window 0: builds 28671 bytes"));

    // A read that runs past the working image.
    c = f.contents;
    c.windows[0].entries[0].oldPos = 3 * W - 10;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("reads outside the image"));
    c.windows[0].entries[0].oldPos = -1;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("reads outside the image"));

    // An in-range read from the wrong place is not detectable by the device, but the image
    // it rebuilds is wrong.
    c = f.contents;
    c.windows[0].entries[0].oldPos += 1;
    EXPECT_EQ("wrong image", f.apply(pack(c)));

    // Entry counts beyond the device's table.
    c = f.contents;
    c.windows[2].entries.resize(kInplaceMaxEntries + 1);
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("bad entry counts"));
}

TEST(InplaceApply, RejectsTamperedMoves)
{
    Fixture f;
    size_t wi = 0;
    while (wi < f.contents.windows.size() && f.contents.windows[wi].moves.empty())
        ++wi;
    ASSERT_LT(wi, f.contents.windows.size());
    const std::string at = "window " + std::to_string(wi) + ": move 0";

    auto c = f.contents;
    c.windows[wi].moves[0].len = 3 * W;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find(at + " is out of range"));
    c = f.contents;
    c.windows[wi].moves[0].dst = 3 * W - 1;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find(at + " is out of range"));
    c = f.contents;
    c.windows[wi].moves[0].src = -4;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find(at + " is out of range"));

    // Flags out of sequence: a run that is never opened, or never closed.
    c = f.contents;
    c.windows[wi].moves[0].flag = 2;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("inconsistent flag 2"));
    c = f.contents;
    c.windows[wi].moves.back().flag = 1;
    EXPECT_NE(std::string::npos, f.apply(pack(c)).find("not closed"));

    // A destination moved by one byte stays in range but corrupts the image.
    c = f.contents;
    c.windows[wi].moves[0].dst -= 1;
    EXPECT_EQ("wrong image", f.apply(pack(c)));

    // A negative destination field (flag bits cannot make it so).
    auto control = encodeControl(f.contents);
    size_t off = 0;
    for (size_t k = 0; k < wi; ++k)
        off += 8 + 12 * (f.contents.windows[k].entries.size() + f.contents.windows[k].moves.size());
    off += 8 + 12 * f.contents.windows[wi].entries.size() + 4;
    control[off + 3] |= 0x80;
    std::vector<uint8_t> p;
    ASSERT_EQ(0, detail::packInplaceContainer(control, f.contents.diff, f.contents.extra, p));
    EXPECT_NE(std::string::npos, f.apply(p).find("negative move destination"));
}

TEST(InplaceApply, SurvivesRandomDamage)
{
    // Damaged patches are rejected or rebuild something; they never read or write out of
    // bounds (the sanitizer build checks that).
    Fixture f;
    std::mt19937 rng(7);
    const int rounds = std::getenv("TESSEL_SANITIZE") ? 40 : 300;
    int rejected = 0;
    for (int i = 0; i < rounds; ++i) {
        auto p = f.patch;
        const int flips = 1 + int(rng() % 4);
        for (int k = 0; k < flips; ++k)
            p[rng() % p.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
        rejected += f.apply(p) != "";
    }
    EXPECT_EQ(rounds, rejected);
}

TEST(InplaceApply, RejectsAnEmptyNewImage)
{
    Fixture f;
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_FALSE(apply_inplace_patch(f.old.data(), f.old.size(), 0, f.patch.data(),
                                     f.patch.size(), out, error));
    EXPECT_EQ("new size is 0", error);
}

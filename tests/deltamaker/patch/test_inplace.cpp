// sw_bsdiff_new and sw_bsdiff_new_mem with the real match scan: window records, relocations into
// the growth room, the file form, and the self-check that keeps bad patches from being written.
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/samples/firmware_gen.h"
#include "deltamaker/verify/inplace_apply.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace detail = deltamaker::detail;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int32_t W = kInplaceWindowSize;

Bytes randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto &b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

int makePatch(const Bytes &old, const Bytes &nw, Bytes &patch, std::string *out = nullptr)
{
    testing::internal::CaptureStdout();
    const int rc = sw_bsdiff_new_mem(old.data(), int64_t(old.size()), nw.data(),
                                     int64_t(nw.size()), patch);
    const std::string text = testing::internal::GetCapturedStdout();
    if (out)
        *out = text;
    return rc;
}

InplacePatchContents decode(const Bytes &patch, size_t newSize)
{
    InplacePatchContents c;
    std::string error;
    EXPECT_TRUE(decode_inplace_patch(patch.data(), patch.size(), newSize, c, error)) << error;
    return c;
}

struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/tessel_inplace_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const char *name) const { return path + "/" + name; }
};

void writeFile(const std::string &path, const Bytes &data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
}

bool readFile(const std::string &path, Bytes &data)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

} // namespace

TEST(InplacePatch, IdenticalImagesNeedNoMoves)
{
    const Bytes img = Samples::makeFirmware(1, 5 * W + 123);
    Bytes patch;
    ASSERT_EQ(0, makePatch(img, img, patch));
    const auto c = decode(patch, img.size());
    ASSERT_EQ(6u, c.windows.size());
    for (size_t k = 0; k < c.windows.size(); ++k) {
        ASSERT_EQ(1u, c.windows[k].entries.size()) << k;
        EXPECT_TRUE(c.windows[k].moves.empty());
        EXPECT_EQ(int32_t(k) * W, c.windows[k].entries[0].oldPos);
        EXPECT_EQ(0, c.windows[k].entries[0].extraLen);
    }
    // Everything comes from difference runs: no third stream.
    EXPECT_EQ(0, patch[16] | patch[17] | patch[18] | patch[19]);
    EXPECT_TRUE(c.extra.empty());
}

TEST(InplacePatch, GrowthRelocatesIntoTheRoomAboveTheOldImage)
{
    // New = a window of new data, then the whole old image: writing window 0 overwrites old
    // bytes that window 1 needs, and the only free space is the room above the old image.
    const Bytes old = randomBytes(3 * W, 2);
    Bytes nw = randomBytes(W, 3);
    nw.insert(nw.end(), old.begin(), old.end());
    Bytes patch;
    ASSERT_EQ(0, makePatch(old, nw, patch));
    const auto c = decode(patch, nw.size());
    ASSERT_FALSE(c.windows[0].moves.empty());
    EXPECT_EQ(0, c.windows[0].moves[0].src);
    EXPECT_GE(c.windows[0].moves[0].dst, int32_t(old.size()));
    InplaceApplyStats stats;
    Bytes out;
    std::string error;
    ASSERT_TRUE(apply_inplace_patch(old.data(), old.size(), nw.size(), patch.data(), patch.size(),
                                    out, error, &stats))
        << error;
    EXPECT_TRUE(out == nw);
}

TEST(InplacePatch, MoveFlagsMarkRunsFillingOneRegion)
{
    // Four separate old stretches of window 0 are needed by window 1 and all fit above the
    // old image: one pass, flags 1, 2, 2, 3.
    const Bytes old = randomBytes(2 * W, 4);
    Bytes nw = randomBytes(W, 5);
    for (size_t at : {1000u, 8000u, 15000u, 22000u}) {
        nw.insert(nw.end(), old.begin() + long(at), old.begin() + long(at + 3000));
        const Bytes lit = randomBytes(64, uint32_t(at));
        nw.insert(nw.end(), lit.begin(), lit.end());
    }
    nw.resize(2 * W, 0x11);
    nw.insert(nw.end(), old.begin() + W, old.end());
    Bytes patch;
    ASSERT_EQ(0, makePatch(old, nw, patch));
    const auto c = decode(patch, nw.size());
    const auto &m = c.windows[0].moves;
    ASSERT_EQ(4u, m.size());
    EXPECT_EQ(1, m[0].flag);
    EXPECT_EQ(2, m[1].flag);
    EXPECT_EQ(2, m[2].flag);
    EXPECT_EQ(3, m[3].flag);
    for (size_t i = 1; i < m.size(); ++i)
        EXPECT_EQ(m[i - 1].dst + m[i - 1].len, m[i].dst); // back to back
    EXPECT_EQ(int32_t(nw.size()), m[3].dst + m[3].len);    // at the top of the growth room
}

TEST(InplacePatch, SameInputGivesTheSameBytes)
{
    const auto pair = Samples::makePair(7, 200000);
    Bytes a;
    Bytes b;
    ASSERT_EQ(0, makePatch(pair.oldImage, pair.newImage, a));
    ASSERT_EQ(0, makePatch(pair.oldImage, pair.newImage, b));
    EXPECT_TRUE(a == b);
}

TEST(InplacePatch, FileFormWritesTheBufferFormsPatch)
{
    TempDir dir;
    const auto pair = Samples::makePair(8, 150000);
    writeFile(dir.file("old.bin"), pair.oldImage);
    writeFile(dir.file("new.bin"), pair.newImage);
    // A longer stale file at the output path must not leave bytes behind.
    writeFile(dir.file("out.patch"), Bytes(2 * 1024 * 1024, 0xEE));
    testing::internal::CaptureStdout();
    const int rc = sw_bsdiff_new(dir.file("old.bin").c_str(), dir.file("new.bin").c_str(),
                                 dir.file("out.patch").c_str());
    const std::string text = testing::internal::GetCapturedStdout();
    ASSERT_EQ(0, rc) << text;
    EXPECT_NE(std::string::npos, text.find("\n Totail = "));
    EXPECT_NE(std::string::npos, text.find("\n diff = "));
    Bytes written;
    ASSERT_TRUE(readFile(dir.file("out.patch"), written));
    Bytes expected;
    ASSERT_EQ(0, makePatch(pair.oldImage, pair.newImage, expected));
    EXPECT_TRUE(written == expected);
}

TEST(InplacePatch, FailuresWriteNoFile)
{
    TempDir dir;
    writeFile(dir.file("old.bin"), randomBytes(1000, 9));
    writeFile(dir.file("empty.bin"), {});
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, sw_bsdiff_new(dir.file("missing.bin").c_str(), dir.file("old.bin").c_str(),
                                dir.file("a.patch").c_str()));
    EXPECT_EQ(-1, sw_bsdiff_new(dir.file("old.bin").c_str(), dir.file("empty.bin").c_str(),
                                dir.file("b.patch").c_str()));
    EXPECT_EQ(-1, sw_bsdiff_new(dir.file("old.bin").c_str(), dir.file("old.bin").c_str(),
                                dir.file("no/such/dir.patch").c_str()));
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(exists(dir.file("a.patch")));
    EXPECT_FALSE(exists(dir.file("b.patch")));
    EXPECT_NE(std::string::npos, text.find("sw_bsdiff_new: cannot read old image "));
    EXPECT_NE(std::string::npos, text.find("sw_bsdiff_new: empty new image, no patch written\n"));
    EXPECT_NE(std::string::npos, text.find("sw_bsdiff_new: cannot write "));
}

TEST(InplacePatch, SelfCheckRefusesPatchesThatDoNotRebuild)
{
    const auto pair = Samples::makePair(10, 3 * W);
    Bytes patch;
    ASSERT_EQ(0, makePatch(pair.oldImage, pair.newImage, patch));
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, detail::verifyInplacePatch(pair.oldImage.data(), int64_t(pair.oldImage.size()),
                                            pair.newImage.data(),
                                            int64_t(pair.newImage.size()), patch));
    // A patch for another image rebuilds, but not this image.
    Bytes other = pair.newImage;
    other[other.size() / 2] ^= 1;
    EXPECT_EQ(-1, detail::verifyInplacePatch(pair.oldImage.data(), int64_t(pair.oldImage.size()),
                                             other.data(), int64_t(other.size()), patch));
    // A damaged patch does not even apply.
    Bytes bad = patch;
    bad.pop_back();
    EXPECT_EQ(-1, detail::verifyInplacePatch(pair.oldImage.data(), int64_t(pair.oldImage.size()),
                                             pair.newImage.data(),
                                             int64_t(pair.newImage.size()), bad));
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos,
              text.find("\nsw_bsdiff_new: self-check failed: the patch does not rebuild the new "
                        "image, no patch written\n"));
    EXPECT_NE(std::string::npos, text.find("\nsw_bsdiff_new: self-check failed: stream lengths"));
}

TEST(InplacePatch, FirmwareUpdatesOfEveryMutationRoundTrip)
{
    const Samples::Mutation kinds[] = {
        Samples::Mutation::InsertFunction, Samples::Mutation::ChangeConstants,
        Samples::Mutation::RemoveRun,      Samples::Mutation::AppendData,
        Samples::Mutation::MoveBlock,      Samples::Mutation::SwapRegions,
        Samples::Mutation::Rotate,         Samples::Mutation::RepeatContent,
        Samples::Mutation::FullyRandom};
    size_t moves = 0;
    uint64_t seed = 20;
    for (const auto kind : kinds)
        for (bool keep : {false, true}) {
            Samples::PairSpec spec;
            spec.size = 180000 + size_t(seed) * 1000;
            spec.kinds = {kind};
            spec.keepSize = keep;
            const auto pair = Samples::makePair(seed++, spec);
            Bytes patch;
            ASSERT_EQ(0, makePatch(pair.oldImage, pair.newImage, patch)) << pair.description;
            Bytes out;
            std::string error;
            InplaceApplyStats stats;
            ASSERT_TRUE(apply_inplace_patch(pair.oldImage.data(), pair.oldImage.size(),
                                            pair.newImage.size(), patch.data(), patch.size(), out,
                                            error, &stats))
                << pair.description << ": " << error;
            EXPECT_TRUE(out == pair.newImage) << pair.description;
            moves += stats.moves;
        }
    EXPECT_GT(moves, 10u);
}

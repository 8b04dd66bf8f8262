// The firmware-like sample generator: determinism, sizes and the effect of each mutation.
#include "deltamaker/samples/firmware_gen.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace Samples;

TEST(FirmwareGen, SameSeedSameBytes)
{
    EXPECT_EQ(makeFirmware(7, 20480), makeFirmware(7, 20480));
    EXPECT_NE(makeFirmware(7, 20480), makeFirmware(8, 20480));
    const auto a = makePair(42, 20480);
    const auto b = makePair(42, 20480);
    EXPECT_EQ(a.oldImage, b.oldImage);
    EXPECT_EQ(a.newImage, b.newImage);
    EXPECT_EQ(a.description, b.description);
}

TEST(FirmwareGen, ExactSizes)
{
    for (size_t n : {0, 1, 2, 3, 4, 5, 100, 20480, 65537})
        EXPECT_EQ(makeFirmware(n, n).size(), n);
    for (uint64_t seed = 0; seed < 50; ++seed) {
        const auto p = makePair(seed, 1 + seed * 97, true);
        EXPECT_EQ(p.oldImage.size(), 1 + seed * 97);
        EXPECT_EQ(p.newImage.size(), 1 + seed * 97);
    }
}

TEST(FirmwareGen, LooksLikeFirmware)
{
    const auto img = makeFirmware(3, 65536);
    // Pointers into the image at the load address are frequent.
    int pointers = 0;
    for (size_t i = 0; i + 4 <= img.size(); i += 4) {
        const uint32_t w = img[i] | (img[i + 1] << 8) | (img[i + 2] << 16) | (uint32_t(img[i + 3]) << 24);
        if ((w & 0xFFFF0000u) == 0x08000000u)
            ++pointers;
    }
    EXPECT_GT(pointers, 100);
    // Far from random: a byte histogram dominated by few values.
    const auto zeros = std::count(img.begin(), img.end(), 0);
    EXPECT_GT(zeros, 65536 / 20);
}

TEST(FirmwareGen, EveryMutationChangesTheImage)
{
    for (int k = 0; k < kMutationCount; ++k) {
        PairSpec spec;
        spec.size = 20480;
        spec.kinds = {static_cast<Mutation>(k)};
        const auto p = makePair(11, spec);
        EXPECT_NE(p.oldImage, p.newImage) << mutationName(spec.kinds[0]);
        EXPECT_EQ(p.description, mutationName(spec.kinds[0]));
    }
}

TEST(FirmwareGen, InsertedFunctionShiftsLaterPointers)
{
    PairSpec spec;
    spec.size = 8192;
    spec.kinds = {Mutation::InsertFunction};
    const auto p = makePair(5, spec);
    const size_t grown = p.newImage.size() - p.oldImage.size();
    ASSERT_GT(grown, 0u);
    EXPECT_EQ(grown % 4, 0u);
    // Some old pointer reappears with the inserted length added.
    auto word = [](const std::vector<uint8_t> &b, size_t i) {
        return uint32_t(b[i]) | (uint32_t(b[i + 1]) << 8) | (uint32_t(b[i + 2]) << 16)
               | (uint32_t(b[i + 3]) << 24);
    };
    int shifted = 0;
    for (size_t i = 0; i + 4 <= std::min<size_t>(256, p.oldImage.size()); i += 4) {
        if (word(p.newImage, i) == word(p.oldImage, i) + grown)
            ++shifted;
    }
    EXPECT_GT(shifted, 0);
}

TEST(FirmwareGen, TinyImagesSurviveEveryMutation)
{
    for (size_t n = 0; n < 40; ++n) {
        for (int k = 0; k < kMutationCount; ++k) {
            PairSpec spec;
            spec.size = n;
            spec.kinds = {static_cast<Mutation>(k), static_cast<Mutation>((k + 3) % kMutationCount)};
            const auto p = makePair(n * 31 + k, spec);
            EXPECT_EQ(p.oldImage.size(), n);
        }
    }
}

} // namespace

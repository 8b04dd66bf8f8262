// Strict raw LZMA decoding: exact lengths, exact consumption.
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/verify/lzma_unpack.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pack(const Bytes &src)
{
    Bytes out(src.size() * 2 + 64);
    size_t len = out.size();
    EXPECT_EQ(lzma_pack(src.data(), src.size(), out.data(), &len), 0);
    out.resize(len);
    return out;
}

Bytes sample(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = (i % 7 == 0) ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(i / 13);
    return b;
}

TEST(LzmaUnpack, RoundTripsAndConsumesExactly)
{
    for (size_t n : {0, 1, 2, 100, 8191, 8192, 8193, 40000}) {
        const Bytes src = sample(n, static_cast<unsigned>(n));
        const Bytes packed = pack(src);
        Bytes back(n);
        std::string error;
        ASSERT_TRUE(lzma_unpack(packed.data(), packed.size(), back.data(), n, error)) << n << error;
        EXPECT_EQ(back, src);
    }
}

TEST(LzmaUnpack, ReadsInPieces)
{
    const Bytes src = sample(30000, 3);
    const Bytes packed = pack(src);
    LzmaReader reader(packed.data(), packed.size());
    Bytes back;
    std::string error;
    for (size_t piece : {1, 24, 0, 999, 10000})
        ASSERT_TRUE(reader.readAppend(back, piece, error)) << error;
    ASSERT_TRUE(reader.readAppend(back, src.size() - back.size(), error)) << error;
    EXPECT_TRUE(reader.finish(error)) << error;
    EXPECT_EQ(back, src);
}

TEST(LzmaUnpack, RejectsWrongLengths)
{
    const Bytes src = sample(5000, 4);
    const Bytes packed = pack(src);
    Bytes back(src.size() + 1);
    std::string error;
    // Asking for more than the stream holds.
    EXPECT_FALSE(lzma_unpack(packed.data(), packed.size(), back.data(), src.size() + 1, error));
    EXPECT_FALSE(error.empty());
    // Asking for less: the stream does not end there.
    EXPECT_FALSE(lzma_unpack(packed.data(), packed.size(), back.data(), src.size() - 1, error));
    EXPECT_FALSE(error.empty());
}

TEST(LzmaUnpack, RejectsTrailingAndMissingBytes)
{
    const Bytes src = sample(5000, 5);
    Bytes packed = pack(src);
    Bytes back(src.size());
    std::string error;
    Bytes longer = packed;
    longer.push_back(0);
    EXPECT_FALSE(lzma_unpack(longer.data(), longer.size(), back.data(), back.size(), error));
    EXPECT_EQ(error, "LZMA stream has 1 bytes left over");
    for (size_t cut = 0; cut < packed.size(); ++cut) {
        EXPECT_FALSE(lzma_unpack(packed.data(), cut, back.data(), back.size(), error)) << cut;
    }
}

TEST(LzmaUnpack, EmptyInput)
{
    std::string error;
    uint8_t b = 0;
    EXPECT_FALSE(lzma_unpack(nullptr, 0, &b, 1, error));
    EXPECT_EQ(error, "LZMA stream ends early");
}

} // namespace

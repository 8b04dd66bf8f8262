// The block hash of the package records is SHA-256, digest for digest the same as OpenSSL's
// one-call SHA256(), at every length around the 64-byte block and padding boundaries.
#include "deltamaker/builder/firmware_input_p.h"

#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace detail = deltamaker::detail;

namespace {

std::string hex(const uint8_t *d)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < 32; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

std::string blockHash(const std::vector<uint8_t> &data)
{
    uint8_t out[32];
    detail::block_sha256(data.data(), data.size(), out);
    return hex(out);
}

TEST(BlockHash, KnownDigests)
{
    EXPECT_EQ(blockHash({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const char *abc = "abc";
    EXPECT_EQ(blockHash(std::vector<uint8_t>(abc, abc + 3)),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(BlockHash, EqualsOneCallSha256AtEveryBoundary)
{
    std::mt19937 rng(5);
    std::vector<size_t> sizes;
    for (size_t n = 0; n <= 200; ++n)
        sizes.push_back(n);
    for (size_t n : {1000u, 4096u, 20479u, 20480u, 65536u, 1000003u})
        sizes.push_back(n);
    for (size_t n : sizes) {
        std::vector<uint8_t> data(n);
        for (auto &b : data)
            b = static_cast<uint8_t>(rng());
        uint8_t ref[32];
        SHA256(data.data(), data.size(), ref);
        EXPECT_EQ(blockHash(data), hex(ref)) << "size " << n;
    }
}

} // namespace

// Layout constants of the "FotaPKG" upgrade package, shared by the builder and the verifier.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kPackageMagic[] = "FotaPKG"; // 7 bytes in the file, no terminator
constexpr size_t kPackageMagicSize = 7;
constexpr size_t kZHeaderSize = 64;  // ZN3150 layouts
constexpr size_t kKHeaderSize = 112; // KLM4410 layouts
constexpr size_t kBuildAreaSize = 0x400000;
constexpr size_t kBlockSize = 20480;
constexpr size_t kBlockRecordSize = 112;
constexpr size_t kBlockDataAlign = 16;
constexpr size_t kZVersionSize = 16;
constexpr size_t kKVersionSize = 32;
constexpr uint32_t kZPackageLimit = 0x100000;
constexpr uint32_t kKPackageLimit = 0x400000;

// Method codes of the 112-byte header (also byte 112 of a KLM4410 image).
constexpr uint8_t kMethodCodeCZ = 0x22;
constexpr uint8_t kMethodCodeDiff = 0x42;
constexpr uint8_t kMethodCodeAB = 0x82;
constexpr uint8_t kMethodCodeOther = 5;

// Offsets inside a block record.
enum BlockRecordField : size_t {
    kRecName = 0,
    kRecAddr = 16,
    kRecOldLen = 20,
    kRecAddr2 = 24,
    kRecNewLen = 28,
    kRecOffset = 32,
    kRecDataLen = 36,
    kRecType = 40,
    kRecOne = 41,
    kRecProps = 42,
    kRecZero = 47,
    kRecOldHash = 48,
    kRecNewHash = 80,
};

inline uint8_t fota_method_code(int32_t method)
{
    switch (method) {
    case 0:
    case 4:
        return kMethodCodeCZ;
    case 1:
    case 3:
        return kMethodCodeDiff;
    case 2:
        return kMethodCodeAB;
    default:
        return kMethodCodeOther;
    }
}

inline uint32_t fota_get32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void fota_put32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline size_t fota_round16(size_t n) { return (n + kBlockDataAlign - 1) & ~(kBlockDataAlign - 1); }

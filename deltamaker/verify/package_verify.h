// Reads a "FotaPKG" package back and checks it against the inputs it was built from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class PackageLayout { Unknown, Z1, Z3, KBlocks, KInplace, KWhole, AB };

// Short name of a layout ("Z1", "Z3", "K-blocks", "K-inplace", "K-whole", "AB").
const char *package_layout_name(PackageLayout layout);

struct PackageRecord {
    std::string name;
    uint32_t addr = 0;
    uint32_t oldLen = 0;
    uint32_t addr2 = 0;
    uint32_t newLen = 0;
    uint32_t offset = 0;
    uint32_t dataLen = 0;
    uint8_t type = 0;
    uint8_t one = 0;
    uint8_t props[5] = {};
    uint8_t zero = 0;
    uint8_t oldHash[32] = {};
    uint8_t newHash[32] = {};
};

// The package as read, with the structural checks' results.
struct PackageInfo {
    PackageLayout layout = PackageLayout::Unknown;
    size_t fileSize = 0;
    size_t headerSize = 0;
    uint8_t method = 0;
    uint32_t total = 0;
    uint32_t crc = 0;
    uint32_t crcComputed = 0;
    uint32_t words[8] = {}; // header words at 16, 20, ..., 44
    std::string srcVersion;
    std::string tgtVersion;
    std::vector<PackageRecord> records;
    // Regions after the header (offsets from the file start).
    size_t bootOffset = 0, bootSize = 0;     // K in-place, whole and AB
    size_t streamOffset = 0, streamSize = 0; // in-place patch or whole-image stream
    size_t aOffset = 0, aSize = 0, bOffset = 0, bSize = 0; // AB
};

// The inputs a package is checked against (file paths; empty = none) and the method asked
// for (-1: infer it from the package).
struct PackageInputs {
    std::string partition;
    std::string boot;
    std::string oldImage;
    std::string newImage;
    std::string nv1;
    std::string nv2;
    int method = -1;
};

// Structural read: header fields, total length, CRC, records and their data ranges. Findings
// are appended; returns false when the package cannot be read as any layout. `methodHint`
// (-1 = none) tells methods that share a header code apart.
bool package_read(const uint8_t *pkg, size_t size, PackageInfo &info,
                  std::vector<std::string> &findings, int methodHint = -1);

// Full verification: the structural read, then every field against the inputs, every stream
// decoded, every block patch applied, in-place patches run through the device simulator, and
// the rebuilt images compared byte for byte. Empty result: the package is sound.
std::vector<std::string> package_verify(const uint8_t *pkg, size_t size,
                                        const PackageInputs &inputs);
std::vector<std::string> package_verify_file(const std::string &path, const PackageInputs &inputs);

// Deterministic inputs shared by the fuzz targets and the program that seeds their corpora:
// small images, partition tables and the packages built from them for every board and method.
#pragma once

#include "deltamaker/verify/package_verify.h"

#include <cstdint>
#include <string>
#include <vector>

namespace FuzzSamples {

// One package kind: the inputs it is built from (paths below the folder given) and the method.
struct PackageCase {
    std::string name; // "zn3150_m1", "klm4410_m0", ...
    PackageInputs inputs;
};

// Writes the inputs of every board and method below `dir` (created if needed); the same bytes
// on every call. False with the reason on a write failure.
bool writePackageInputs(const std::string &dir, std::vector<PackageCase> &cases,
                        std::string &error);
// Builds one case's package into `output` with the program's builder (verified on the way).
bool buildPackage(const PackageCase &c, const std::string &output, std::string &error);
// The packages of every case, each built in a temporary folder; failures are reported on
// standard error and left out.
void builtPackages(std::vector<std::vector<uint8_t>> &packages);
// The case whose inputs suit a package, chosen from its bytes as `verify` would need them;
// null when the bytes name no known layout.
const PackageCase *caseForPackage(const std::vector<PackageCase> &cases, const uint8_t *pkg,
                                  size_t size);

// The fixed old data of the patch targets: one 20 KiB block, and a 64 KiB image.
const std::vector<uint8_t> &oldBlock();
const std::vector<uint8_t> &oldImage();
// New data close to the old, for seeds: `variant` picks the mutation.
std::vector<uint8_t> newBlock(int variant);
std::vector<uint8_t> newImage(int variant);

// Little-endian helpers for the small headers the targets put in front of their inputs.
uint32_t le32(const uint8_t *p);
// `v` as 4 little-endian bytes, then `size` bytes of `data`.
std::vector<uint8_t> withLe32(uint32_t v, const uint8_t *data, size_t size);
bool writeBytes(const std::string &path, const std::vector<uint8_t> &bytes);
bool readBytes(const std::string &path, std::vector<uint8_t> &out);

} // namespace FuzzSamples

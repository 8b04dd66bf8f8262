// Demo inputs for both boards: partition tables, boot images, NV files and image pairs that
// every update method accepts. Written by `deltamaker samples`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Samples {

struct PartitionSpec {
    std::string name; // at most 16 bytes
    uint32_t addr = 0;
    uint32_t size = 0;
};

// A valid 4096-byte partition table holding the entries in order. False (with the reason)
// when a name is empty or over 16 bytes or the records do not fit.
bool makePartitionTable(const std::vector<PartitionSpec> &parts, std::vector<uint8_t> &table,
                        std::string &error);

// Board header of a KLM4410 image: board word at 0, version text at 96, method byte at 112.
void stampKlm4410(std::vector<uint8_t> &image, const char *version, uint8_t methodByte);
// ZN3150 version trailer: the last 24 bytes become "REL_V:" and the text, zero padded.
void stampZn3150(std::vector<uint8_t> &image, const char *version);

struct WrittenSample {
    std::string path;
    std::string description;
};

// Writes the demo inputs below `dir` (created if needed): zn3150/... and klm4410/... and a
// README.txt with one build command per method. False with the reason on a write failure.
bool writeBoardSamples(const std::string &dir, std::vector<WrittenSample> &written,
                       std::string &error);

} // namespace Samples

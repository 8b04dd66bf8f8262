// Pieces of the package verifier shared with its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Internal {
// Decodes a raw LZMA stream (fixed package properties) into exactly `size` bytes, consuming
// exactly `srcLen` input bytes. False with the reason otherwise.
bool lzma_decode_exact(const uint8_t *src, size_t srcLen, size_t size, std::vector<uint8_t> &out,
                       std::string &error);
// Largest file read as a package: a 112-byte header and a full 4 MiB area.
constexpr uint64_t kMaxPackageFile = 0x400000 + 112;
// Largest image or NV file: sizes are 32-bit words in packages.
constexpr uint64_t kMaxInputFile = 0xFFFFFFFFull;

// Whole file into memory; false when it cannot be read. Only a regular file of at most
// `maxSize` bytes is read: folders, FIFOs and devices are refused before they are opened, and
// the size is checked before anything is allocated. `error` says why, naming the path.
bool read_file_bytes(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                     uint64_t maxSize);
inline bool read_file_bytes(const std::string &path, std::vector<uint8_t> &out)
{
    std::string error;
    return read_file_bytes(path, out, error, kMaxInputFile);
}
} // namespace Internal

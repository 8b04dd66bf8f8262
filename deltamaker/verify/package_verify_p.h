// Pieces of the package verifier shared with its tests.
#pragma once

#include "deltamaker/io/whole_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace deltamaker::detail {
// Decodes a raw LZMA stream (fixed package properties) into exactly `size` bytes, consuming
// exactly `srcLen` input bytes. False with the reason otherwise.
bool lzma_decode_exact(const uint8_t *src, size_t srcLen, size_t size, std::vector<uint8_t> &out,
                       std::string &error);
} // namespace deltamaker::detail

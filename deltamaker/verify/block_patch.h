// Device side of the block patch: rebuilds the new block from the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Largest new block a block patch may build: the block size of the package records.
constexpr size_t kBlockPatchMaxNewSize = 20480;

// Applies a "BSDIFF40" block patch that must build exactly `newSize` bytes (the size its record
// promises, at most kBlockPatchMaxNewSize). False (with the reason in `error`) for any
// inconsistency: wrong magic, a header whose new size differs from `newSize` or whose control
// length is more than that size allows (both refused before anything is decoded or
// allocated), truncated or over-long stream, negative or oversized length, a triple that reads
// or writes outside its block. Never reads or writes out of bounds.
bool apply_block_patch(const uint8_t *oldData, size_t oldSize, const uint8_t *patch,
                       size_t patchSize, size_t newSize, std::vector<uint8_t> &newData,
                       std::string &error);

// Device side of the block patch: rebuilds the new block from the old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Applies a "BSDIFF40" block patch. False (with the reason in `error`) for any inconsistency:
// wrong magic, truncated or over-long stream, negative or oversized length, a triple that reads
// or writes outside its block. Never reads or writes out of bounds.
bool apply_block_patch(const uint8_t *oldData, size_t oldSize, const uint8_t *patch,
                       size_t patchSize, std::vector<uint8_t> &newData, std::string &error);

// Device simulator for in-place patches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct InplaceApplyStats {
    size_t windows = 0;
    size_t diffEntries = 0;
    size_t moves = 0;
    size_t movedBytes = 0;
};

// Applies an in-place patch the way the device does: a working image of max(oldSize, newSize)
// bytes that starts as the old image, then per window: decode its entries reading old bytes at
// their current positions, carry out its moves, write its new bytes. On success `newData` holds
// the first newSize bytes. False (with the first inconsistency in `error`) otherwise.
bool apply_inplace_patch(const uint8_t *oldData, size_t oldSize, size_t newSize,
                         const uint8_t *patch, size_t patchSize, std::vector<uint8_t> &newData,
                         std::string &error, InplaceApplyStats *stats = nullptr);

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

// One diff entry of a window: `diffLen` bytes made from old bytes at `oldPos` plus difference
// bytes, then `extraLen` literal bytes.
struct InplaceDiffEntry {
    int32_t oldPos = 0;
    int32_t diffLen = 0;
    int32_t extraLen = 0;
};

// One move entry: `len` bytes copied from `src` to `dst` before the window is written.
// `flag` is 0 for a single move, else 1 (first), 2 (between), 3 (last) of one pass.
struct InplaceMove {
    int32_t src = 0;
    int32_t dst = 0;
    int32_t flag = 0;
    int32_t len = 0;
};

struct InplaceWindow {
    std::vector<InplaceDiffEntry> entries;
    std::vector<InplaceMove> moves;
};

// The decoded content of a patch: the window records and the two data blocks.
struct InplacePatchContents {
    std::vector<InplaceWindow> windows;
    std::vector<uint8_t> diff;
    std::vector<uint8_t> extra;
};

// Checks the container and decodes all three streams of a patch for a new image of `newSize`
// bytes. Every stream must be consumed exactly. False with the reason in `error` otherwise.
// No image-level check is made here (apply_inplace_patch does those).
bool decode_inplace_patch(const uint8_t *patch, size_t patchSize, size_t newSize,
                          InplacePatchContents &contents, std::string &error);

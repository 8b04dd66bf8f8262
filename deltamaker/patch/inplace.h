// In-place patch: rebuilt by the device window by window over its only copy of the image.
#pragma once

#include "deltamaker/format/patch_layout.h"

#include <cstdint>
#include <vector>

// Choices of the in-place generator that leave the patch format alone.
struct InplaceOptions {
    // The optimising encoder: the default scan's stretches and the cost-driven scan's are both
    // resolved, the smaller is kept, and every stream is also compressed with lzma_pack_strong
    // and the smaller form kept. Same format and property bytes, never larger than the default
    // patch; several times slower.
    bool optimize = false;
    // Threads for the independent compressions: 0 every core, 1 one after the other. The patch
    // bytes do not depend on it.
    int threads = 0;
    // A patch with no step that a power cut can spoil under the loader's resume model (flash
    // erased in units of 4 KiB or less, the image at a unit boundary): same format, larger and
    // with more moves. Checked on the device's flash model before it is handed out.
    bool powerSafe = false;
};

// Makes the in-place patch of old -> new and writes it to outPath (created without truncation;
// the caller removes any old file first). Returns 0, or -1 after printing the reason on stdout.
int sw_bsdiff_new(const char *oldPath, const char *newPath, const char *outPath);
int sw_bsdiff_new(const char *oldPath, const char *newPath, const char *outPath,
                  const InplaceOptions &options);

// The same patch, made from buffers into `patch`.
int sw_bsdiff_new_mem(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData,
                      int64_t newSize, std::vector<uint8_t> &patch);
int sw_bsdiff_new_mem(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData,
                      int64_t newSize, std::vector<uint8_t> &patch, const InplaceOptions &options);

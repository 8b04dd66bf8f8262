// Block patch "BSDIFF40": a bsdiff-style patch of one block, held in memory.
#pragma once

#include "deltamaker/format/patch_layout.h"

#include <cstdint>

// Makes the patch that turns old into new. `out` must hold 32 + 2 * newSize bytes.
// Returns 0 and the patch length in *outLen, or -1 after printing the reason on stdout.
int sw_bsdiff(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData, int64_t newSize,
              uint8_t *out, int64_t *outLen);

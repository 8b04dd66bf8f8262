// Optimising block patch: the same "BSDIFF40" format and decoder as sw_bsdiff, smaller.
#pragma once

#include <cstdint>

// Same contract as sw_bsdiff (out holds 32 + 2 * newSize bytes; 0 and *outLen, or -1 after
// printing the reason on stdout). The default stretches and those of the cost-driven scan under
// two models are each compressed as sw_bsdiff does; the smallest of them is also compressed with
// lzma_pack_strong, and the smallest patch is kept: never larger than sw_bsdiff's patch.
// Deterministic.
int sw_bsdiff_opt(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData,
                  int64_t newSize, uint8_t *out, int64_t *outLen);

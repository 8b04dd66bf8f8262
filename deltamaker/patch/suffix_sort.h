// Suffix sorting of the old block (Larsson-Sadakane doubling sort).
#pragma once

#include <cstdint>

// Sorts all suffixes of old[0..oldSize), the empty suffix included. I and V must each hold
// oldSize + 1 entries; on return I is the suffix array (I[0] == oldSize, the empty suffix)
// and V holds each position's rank (scratch: callers free it as soon as this returns).
void qsufsort(int32_t *I, int32_t *V, const uint8_t *oldData, int32_t oldSize);

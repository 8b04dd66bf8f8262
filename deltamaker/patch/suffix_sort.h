// Suffix sorting of the old data.
#pragma once

#include <cstdint>

// Sorts all suffixes of old[0..oldSize), the empty suffix included. I and V must each hold
// oldSize + 1 entries; on return I is the suffix array (I[0] == oldSize, the empty suffix)
// and V holds each position's rank (scratch: callers free it as soon as this returns).
// Larsson-Sadakane doubling sort; kept as the reference that suffix_sort is checked against.
void qsufsort(int32_t *I, int32_t *V, const uint8_t *oldData, int32_t oldSize);

// The same suffix array as qsufsort, entry for entry (a suffix array is unique), made by
// libdivsufsort: I must hold oldSize + 1 entries and no rank array is needed, so the working
// memory is about 4 bytes per old byte instead of 8. False when memory runs out.
bool suffix_sort(int32_t *I, const uint8_t *oldData, int32_t oldSize);

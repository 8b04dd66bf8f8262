// Cost-driven match scan of the optimising block encoder: the same kind of stretches as match_scan
// (copy-with-difference, then literals), chosen by an estimate of their compressed size.
#pragma once

#include "deltamaker/patch/match_scan.h"

#include <cstdint>
#include <vector>

namespace deltamaker::detail {

// Estimated compressed cost of each choice, in sixteenths of a bit. The defaults are tuned on
// block patches of generated firmware pairs and shared-library updates. The minimum is 1 for
// every field.
struct CostModel {
    int32_t equalByte = 2;    // a copied byte whose difference byte is 0
    int32_t changedByte = 160; // a non-zero difference byte after another one
    int32_t firstChange = 320; // a non-zero difference byte after a zero one (ends a zero run)
    int32_t literal = 104;    // a literal byte
    int32_t piece = 560;      // one more control record (triple or diff entry)
    int32_t minMatch = 8;     // shortest exact match that proposes a new offset
};

// Splits new into stretches that minimise the estimated cost under `model`, over the longest
// matches found with the suffix array I of old. The stretches tile [0, newSize) in order; each
// copies inside old; oldSeek of each stretch leads to the next stretch's old start (0 for the
// last). Only the first stretch may have diffLen == 0 (an empty one when the first copy does not
// start at old position 0). Returns false when memory runs out.
bool cost_scan(const int32_t *I, const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
               int32_t newSize, const CostModel &model, std::vector<ScanStretch> &out);
// The same scan over a packed suffix array.
bool cost_scan(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
               const uint8_t *newData, int32_t newSize, const CostModel &model,
               std::vector<ScanStretch> &out);

} // namespace deltamaker::detail

// Longest-match search and the match scan shared by both patch generators.
#pragma once

#include <cstdint>
#include <functional>

// Longest common prefix of new[0..newLen) with the old suffixes I[low..high] (a sorted
// slice of the suffix array from qsufsort). Returns the match length and sets *pos to its
// old position; on equal lengths the suffix at I[high] wins.
int32_t match_search(const int32_t *I, const uint8_t *oldData, int32_t oldSize,
                     const uint8_t *newData, int32_t newLen, int32_t low, int32_t high,
                     int32_t *pos);

// One emitted stretch of the scan: new[lastScan, lastScan + diffLen) is made from
// old[lastPos, ...) plus difference bytes, then extraLen literal bytes new[lastScan + diffLen ..]
// follow; oldSeek is how far the old read position moves after the diffLen bytes.
// The stretches tile [0, newSize) in order. A stretch may have diffLen == extraLen == 0.
struct ScanStretch {
    int32_t lastScan = 0;
    int32_t lastPos = 0;
    int32_t diffLen = 0;  // lenf
    int32_t extraLen = 0; // (scan - lenb) - (lastScan + lenf)
    int32_t oldSeek = 0;  // (pos - lenb) - (lastPos + lenf)
};

// Visitor of the scan. Returning false stops the scan at once (match_scan then returns false).
using ScanVisitor = std::function<bool(const ScanStretch &)>;

// Splits new into copy-with-difference and literal stretches against old (I is the suffix
// array of old) and hands each stretch to `visit`, in order. True when the scan ran to the end.
bool match_scan(const int32_t *I, const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                int32_t newSize, const ScanVisitor &visit);

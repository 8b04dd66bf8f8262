// Longest-match search and the match scan shared by both patch generators.
#pragma once

#include <cstdint>
#include <cstring>
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

// A suffix array of old data below 16 MiB kept in 3 bytes per entry (little-endian), followed by
// one padding byte: a quarter less memory during the scan of a whole image. pack() turns a plain
// array of `count` entries into this form in place.
struct PackedSuffixArray {
    static constexpr int64_t kMaxEntries = int64_t(1) << 24;
    static constexpr size_t bytesFor(int64_t count) { return static_cast<size_t>(3 * count + 1); }
    // Packs entries[0, count) (each below kMaxEntries) into the first bytesFor(count) bytes.
    static void pack(int32_t *entries, int64_t count);

    const uint8_t *bytes = nullptr;
    int32_t operator[](int64_t i) const
    {
        uint32_t v;
        std::memcpy(&v, bytes + 3 * i, sizeof v);
        return static_cast<int32_t>(v & 0xFFFFFFu);
    }
};

// match_search over a packed suffix array.
int32_t match_search(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                     const uint8_t *newData, int32_t newLen, int32_t low, int32_t high,
                     int32_t *pos);

// Splits new into copy-with-difference and literal stretches against old (I is the suffix
// array of old) and hands each stretch to `visit`, in order. True when the scan ran to the end.
bool match_scan(const int32_t *I, const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                int32_t newSize, const ScanVisitor &visit);
// The same scan over a packed suffix array.
bool match_scan(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                const uint8_t *newData, int32_t newSize, const ScanVisitor &visit);

// Layouts of the two patch formats inside a package: the block patch of a record and the
// in-place patch of a whole image. Both start with the same 8-byte magic.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kPatchMagic[] = "BSDIFF40"; // 8 bytes in the file, no terminator
constexpr size_t kPatchMagicSize = 8;

// Block patch: magic, then control, diff and new sizes as 8-byte sign-magnitude integers; the
// control stream holds triples of three such integers (diff length, extra length, old seek).
constexpr int kBlockPatchHeaderSize = 32;
constexpr int kBlockPatchTripleSize = 24;

// In-place patch: magic, then control, diff and extra stream lengths as 4-byte sign-magnitude
// integers.
constexpr int kInplaceHeaderSize = 20;
constexpr int32_t kInplaceWindowSize = 28672; // 0x7000
// The device's entry table per window: diff and move entries together.
constexpr int32_t kInplaceMaxEntries = 6666;
// Window record: diff and move counts, then the entries, each three 4-byte integers.
constexpr size_t kInplaceCountsSize = 8;
constexpr size_t kInplaceEntrySize = 12;

// A move entry's second word holds the destination in its low 29 bits and the move flag above:
// 0 for a single move, else 1 (first), 2 (between), 3 (last) of one relocation pass.
constexpr int kInplaceMoveFlagShift = 29;
constexpr int64_t kInplaceMoveDstMask = (int64_t(1) << kInplaceMoveFlagShift) - 1;

inline int64_t inplace_move_word(int32_t dst, int32_t flag)
{
    return static_cast<int64_t>(dst) | (static_cast<int64_t>(flag) << kInplaceMoveFlagShift);
}

// Splits a non-negative move word.
inline void inplace_move_split(int64_t word, int32_t &dst, int32_t &flag)
{
    flag = static_cast<int32_t>(word >> kInplaceMoveFlagShift);
    dst = static_cast<int32_t>(word & kInplaceMoveDstMask);
}

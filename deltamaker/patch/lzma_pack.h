// LZMA compression with the fixed settings of every Deltamaker stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace deltamaker::detail {
class TaskPool;
}

// Fixed encoder settings: every package stream depends on them.
constexpr int kLzmaLevel = 5;
constexpr unsigned kLzmaDictSize = 0x2000;
constexpr int kLzmaLc = 0;
constexpr int kLzmaLp = 0;
constexpr int kLzmaPb = 0;
constexpr int kLzmaFb = 32;
constexpr int kLzmaThreads = 2;
constexpr size_t kLzmaPropsSize = 5;

// Property bytes of the most recent successful compression (00 00 20 00 00 with the settings
// above), one per thread, so that a build on a worker thread shares nothing with other
// threads. A failed call leaves it unchanged.
extern thread_local uint8_t g_lzma_props[kLzmaPropsSize];

// Compresses src into a raw LZMA stream at dst. In: *dstLen is the capacity; out: the stream
// length. Returns 0, or -1 after printing "LzmaCompress error\n".
int lzma_pack(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen);

// The same stream format and property bytes (dictionary, lc, lp, pb) as lzma_pack, read by the
// same decoder, with the encoder searching harder (longest fast-byte length; the match finder
// looks at every candidate of the 8 KiB dictionary instead of 152: 4-10% smaller streams of
// difference bytes for little more time): smaller and slower. Same contract as lzma_pack.
constexpr int kLzmaStrongFb = 273;
constexpr unsigned kLzmaStrongCycles = 4096;
int lzma_pack_strong(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen);

// The smaller of lzma_pack's and lzma_pack_strong's streams (lzma_pack's on a tie): never larger
// than lzma_pack's. Same contract as lzma_pack; needs scratch room of *dstLen bytes.
int lzma_pack_smallest(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen);
// The same, with both streams made at once on `pool` (null: one after the other). Same bytes,
// same messages, and the calling thread's property bytes are set as by the call above.
int lzma_pack_smallest(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen,
                       deltamaker::detail::TaskPool *pool);

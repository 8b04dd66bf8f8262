/* One-call LZMA compression and decoding over the LZMA SDK (LzmaLib interface).
   Return codes are the SDK's SRes values: 0 (SZ_OK) on success. */
#ifndef TESSEL_LZMA_LIB_H
#define TESSEL_LZMA_LIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LZMA_PROPS_SIZE_BYTES 5

enum {
  LZMA_LIB_OK = 0,
  LZMA_LIB_ERROR_DATA = 1,
  LZMA_LIB_ERROR_MEM = 2,
  LZMA_LIB_ERROR_UNSUPPORTED = 4,
  LZMA_LIB_ERROR_PARAM = 5,
  LZMA_LIB_ERROR_INPUT_EOF = 6,
  LZMA_LIB_ERROR_OUTPUT_EOF = 7
};

/* Compresses src into a raw LZMA stream (no size, no end marker, properties kept apart).
   In: *destLen is the capacity of dest, *outPropsSize at least 5.
   Out: *destLen the stream length, outProps the 5 property bytes. */
int LzmaCompress(unsigned char *dest, size_t *destLen, const unsigned char *src, size_t srcLen,
                 unsigned char *outProps, size_t *outPropsSize, /* *outPropsSize must be = 5 */
                 int level, unsigned dictSize, int lc, int lp, int pb, int fb, int numThreads);

/* LzmaCompress with the match finder's search depth set: matchCycles candidates are looked at
   for each position (0: the level's default). Deeper finds more matches within the dictionary
   and is slower; the stream format and property bytes do not change. */
int LzmaCompressCycles(unsigned char *dest, size_t *destLen, const unsigned char *src,
                       size_t srcLen, unsigned char *outProps, size_t *outPropsSize, int level,
                       unsigned dictSize, int lc, int lp, int pb, int fb, int numThreads,
                       unsigned matchCycles);

/* Frees the encoder tables that LzmaCompress keeps for its next call (about 870 KiB). Call it
   when a run of compressions is over. */
void LzmaReleaseCache(void);

/* Decoder status after LzmaDecodeRaw, mirroring the SDK's ELzmaStatus. */
enum {
  LZMA_RAW_STATUS_NOT_SPECIFIED = 0,
  LZMA_RAW_STATUS_FINISHED_WITH_MARK = 1,
  LZMA_RAW_STATUS_NOT_FINISHED = 2,
  LZMA_RAW_STATUS_NEEDS_MORE_INPUT = 3,
  LZMA_RAW_STATUS_MAYBE_FINISHED_WITHOUT_MARK = 4
};

/* Decodes a raw LZMA stream. In: *destLen output capacity, *srcLen input length.
   Out: *destLen bytes written, *srcLen bytes consumed, *status as above.
   finishEnd != 0 asks that the stream end exactly after *destLen output bytes. */
int LzmaDecodeRaw(unsigned char *dest, size_t *destLen, const unsigned char *src, size_t *srcLen,
                  const unsigned char *props, size_t propsSize, int finishEnd, int *status);

/* Incremental decoder of one raw LZMA stream (no size, no end marker needed). */
typedef struct LzmaRawDecoder LzmaRawDecoder;

/* NULL when the properties are invalid or memory runs out. Free with LzmaRawDecoderDestroy. */
LzmaRawDecoder *LzmaRawDecoderCreate(const unsigned char *props, size_t propsSize);

/* Decodes up to *destLen bytes from src. Out: *destLen bytes written, *srcLen bytes consumed,
   *status as above. Call again with the rest of the input to continue the stream.
   finishEnd != 0 asks that the stream end exactly after *destLen output bytes. */
int LzmaRawDecoderRun(LzmaRawDecoder *decoder, unsigned char *dest, size_t *destLen,
                      const unsigned char *src, size_t *srcLen, int finishEnd, int *status);

void LzmaRawDecoderDestroy(LzmaRawDecoder *decoder);

#ifdef __cplusplus
}
#endif

#endif

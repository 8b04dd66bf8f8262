/* LzmaLib-style one-call wrappers over the SDK's LzmaEnc and LzmaDec. */
#include "deltamaker/lzma/lzma_lib.h"

#include <pthread.h>
#include <stdlib.h>

#include "LzmaDec.h"
#include "LzmaEnc.h"

static void *sdkAlloc(void *p, size_t size)
{
  (void)p;
  return size == 0 ? NULL : malloc(size);
}

static void sdkFree(void *p, void *address)
{
  (void)p;
  free(address);
}

static ISzAlloc g_alloc = {sdkAlloc, sdkFree};

/* The encoder's tables (about 870 KiB with the fixed settings) are kept after a compression and
   handed to the next one that asks for the same sizes: a build compresses hundreds of 20 KiB
   blocks, and fresh tables cost a mapping and ~200 page faults each time. Only blocks of 64 KiB
   and more are kept, at most kKeep of them; LzmaReleaseCache gives them back. */
enum { kKeep = 4, kKeepMin = 64 * 1024, kLive = 16 };

typedef struct {
  void *p;
  size_t size;
} Block;

static pthread_mutex_t g_keepLock = PTHREAD_MUTEX_INITIALIZER;
static Block g_kept[kKeep];   /* free blocks waiting for reuse */
static Block g_live[kLive];   /* big blocks handed out, with their sizes */

static void *keptAlloc(void *p, size_t size)
{
  void *got = NULL;
  int i;
  (void)p;
  if (size == 0)
    return NULL;
  if (size < kKeepMin)
    return malloc(size);
  pthread_mutex_lock(&g_keepLock);
  for (i = 0; i < kKeep && !got; ++i) {
    if (g_kept[i].p && g_kept[i].size == size) {
      got = g_kept[i].p;
      g_kept[i].p = NULL;
    }
  }
  if (!got)
    got = malloc(size);
  if (got) {
    for (i = 0; i < kLive; ++i) {
      if (!g_live[i].p) {
        g_live[i].p = got;
        g_live[i].size = size;
        break;
      }
    }
  }
  pthread_mutex_unlock(&g_keepLock);
  return got;
}

static void keptFree(void *p, void *address)
{
  size_t size = 0;
  int i;
  (void)p;
  if (!address)
    return;
  pthread_mutex_lock(&g_keepLock);
  for (i = 0; i < kLive; ++i) {
    if (g_live[i].p == address) {
      size = g_live[i].size;
      g_live[i].p = NULL;
      break;
    }
  }
  if (size) {
    for (i = 0; i < kKeep; ++i) {
      if (!g_kept[i].p) {
        g_kept[i].p = address;
        g_kept[i].size = size;
        address = NULL;
        break;
      }
    }
  }
  pthread_mutex_unlock(&g_keepLock);
  free(address);
}

static ISzAlloc g_encAlloc = {keptAlloc, keptFree};

void LzmaReleaseCache(void)
{
  int i;
  pthread_mutex_lock(&g_keepLock);
  for (i = 0; i < kKeep; ++i) {
    free(g_kept[i].p);
    g_kept[i].p = NULL;
  }
  pthread_mutex_unlock(&g_keepLock);
}

int LzmaCompress(unsigned char *dest, size_t *destLen, const unsigned char *src, size_t srcLen,
                 unsigned char *outProps, size_t *outPropsSize, int level, unsigned dictSize,
                 int lc, int lp, int pb, int fb, int numThreads)
{
  return LzmaCompressCycles(dest, destLen, src, srcLen, outProps, outPropsSize, level, dictSize,
                            lc, lp, pb, fb, numThreads, 0);
}

int LzmaCompressCycles(unsigned char *dest, size_t *destLen, const unsigned char *src,
                       size_t srcLen, unsigned char *outProps, size_t *outPropsSize, int level,
                       unsigned dictSize, int lc, int lp, int pb, int fb, int numThreads,
                       unsigned matchCycles)
{
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  if (matchCycles)
    props.mc = matchCycles;
  props.level = level;
  props.dictSize = dictSize;
  props.lc = lc;
  props.lp = lp;
  props.pb = pb;
  props.fb = fb;
  props.numThreads = numThreads;
  return LzmaEncode(dest, destLen, src, srcLen, &props, outProps, outPropsSize, 0, NULL,
                    &g_encAlloc, &g_encAlloc);
}

int LzmaDecodeRaw(unsigned char *dest, size_t *destLen, const unsigned char *src, size_t *srcLen,
                  const unsigned char *props, size_t propsSize, int finishEnd, int *status)
{
  ELzmaStatus st = LZMA_STATUS_NOT_SPECIFIED;
  SRes res = LzmaDecode(dest, destLen, src, srcLen, props, (unsigned)propsSize,
                        finishEnd ? LZMA_FINISH_END : LZMA_FINISH_ANY, &st, &g_alloc);
  if (status)
    *status = (int)st;
  return res;
}

struct LzmaRawDecoder {
  CLzmaDec dec;
};

LzmaRawDecoder *LzmaRawDecoderCreate(const unsigned char *props, size_t propsSize)
{
  LzmaRawDecoder *d = (LzmaRawDecoder *)malloc(sizeof(LzmaRawDecoder));
  if (!d)
    return NULL;
  LzmaDec_Construct(&d->dec);
  if (LzmaDec_Allocate(&d->dec, props, (unsigned)propsSize, &g_alloc) != SZ_OK) {
    free(d);
    return NULL;
  }
  LzmaDec_Init(&d->dec);
  return d;
}

int LzmaRawDecoderRun(LzmaRawDecoder *decoder, unsigned char *dest, size_t *destLen,
                      const unsigned char *src, size_t *srcLen, int finishEnd, int *status)
{
  ELzmaStatus st = LZMA_STATUS_NOT_SPECIFIED;
  SRes res = LzmaDec_DecodeToBuf(&decoder->dec, dest, destLen, src, srcLen,
                                 finishEnd ? LZMA_FINISH_END : LZMA_FINISH_ANY, &st);
  if (status)
    *status = (int)st;
  return res;
}

void LzmaRawDecoderDestroy(LzmaRawDecoder *decoder)
{
  if (!decoder)
    return;
  LzmaDec_Free(&decoder->dec, &g_alloc);
  free(decoder);
}

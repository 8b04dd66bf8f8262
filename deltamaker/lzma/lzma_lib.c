/* LzmaLib-style one-call wrappers over the SDK's LzmaEnc and LzmaDec. */
#include "deltamaker/lzma/lzma_lib.h"

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

int LzmaCompress(unsigned char *dest, size_t *destLen, const unsigned char *src, size_t srcLen,
                 unsigned char *outProps, size_t *outPropsSize, int level, unsigned dictSize,
                 int lc, int lp, int pb, int fb, int numThreads)
{
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = level;
  props.dictSize = dictSize;
  props.lc = lc;
  props.lp = lp;
  props.pb = pb;
  props.fb = fb;
  props.numThreads = numThreads;
  return LzmaEncode(dest, destLen, src, srcLen, &props, outProps, outPropsSize, 0, NULL,
                    &g_alloc, &g_alloc);
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

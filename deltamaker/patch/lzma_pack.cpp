#include "deltamaker/patch/lzma_pack.h"

#include "deltamaker/lzma/lzma_lib.h"

#include <cstdio>
#include <cstring>

thread_local uint8_t g_lzma_props[kLzmaPropsSize] = {0x00, 0x00, 0x20, 0x00, 0x00};

namespace {

int pack(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen, int fb)
{
    uint8_t props[kLzmaPropsSize];
    size_t propsSize = kLzmaPropsSize;
    size_t outLen = *dstLen;
    const int rc = LzmaCompress(dst, &outLen, src, srcLen, props, &propsSize, kLzmaLevel,
                                kLzmaDictSize, kLzmaLc, kLzmaLp, kLzmaPb, fb, kLzmaThreads);
    if (rc != LZMA_LIB_OK) {
        std::printf("LzmaCompress error\n");
        return -1;
    }
    std::memcpy(g_lzma_props, props, kLzmaPropsSize);
    *dstLen = outLen;
    return 0;
}

} // namespace

int lzma_pack(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen)
{
    return pack(src, srcLen, dst, dstLen, kLzmaFb);
}

int lzma_pack_strong(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen)
{
    return pack(src, srcLen, dst, dstLen, kLzmaStrongFb);
}

#include "deltamaker/patch/lzma_pack.h"

#include "deltamaker/lzma/lzma_lib.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

thread_local uint8_t g_lzma_props[kLzmaPropsSize] = {0x00, 0x00, 0x20, 0x00, 0x00};

namespace {

int pack(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen, int fb, unsigned cycles)
{
    uint8_t props[kLzmaPropsSize];
    size_t propsSize = kLzmaPropsSize;
    size_t outLen = *dstLen;
    const int rc = LzmaCompressCycles(dst, &outLen, src, srcLen, props, &propsSize, kLzmaLevel,
                                      kLzmaDictSize, kLzmaLc, kLzmaLp, kLzmaPb, fb, kLzmaThreads,
                                      cycles);
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
    return pack(src, srcLen, dst, dstLen, kLzmaFb, 0);
}

int lzma_pack_strong(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen)
{
    return pack(src, srcLen, dst, dstLen, kLzmaStrongFb, kLzmaStrongCycles);
}

int lzma_pack_smallest(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen)
{
    size_t len = *dstLen;
    if (lzma_pack(src, srcLen, dst, &len) != 0)
        return -1;
    // Uninitialised scratch: only the pages the stream is written to are touched.
    size_t strongLen = *dstLen;
    std::unique_ptr<uint8_t[]> other(new (std::nothrow) uint8_t[strongLen ? strongLen : 1]);
    if (other && lzma_pack_strong(src, srcLen, other.get(), &strongLen) == 0 && strongLen < len) {
        std::memcpy(dst, other.get(), strongLen);
        len = strongLen;
    }
    *dstLen = len;
    return 0;
}

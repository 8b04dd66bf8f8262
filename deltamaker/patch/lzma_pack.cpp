#include "deltamaker/patch/lzma_pack.h"

#include "deltamaker/lzma/lzma_lib.h"
#include "deltamaker/parallel/task_pool_p.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

thread_local uint8_t g_lzma_props[kLzmaPropsSize] = {0x00, 0x00, 0x20, 0x00, 0x00};

namespace {

// One compression, silent, touching no thread-local state: the property bytes go to `props`.
bool compress(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen, int fb,
              unsigned cycles, uint8_t *props)
{
    size_t propsSize = kLzmaPropsSize;
    size_t outLen = *dstLen;
    const int rc = LzmaCompressCycles(dst, &outLen, src, srcLen, props, &propsSize, kLzmaLevel,
                                      kLzmaDictSize, kLzmaLc, kLzmaLp, kLzmaPb, fb, kLzmaThreads,
                                      cycles);
    if (rc != LZMA_LIB_OK)
        return false;
    *dstLen = outLen;
    return true;
}

int pack(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen, int fb, unsigned cycles)
{
    uint8_t props[kLzmaPropsSize];
    if (!compress(src, srcLen, dst, dstLen, fb, cycles, props)) {
        std::printf("LzmaCompress error\n");
        return -1;
    }
    std::memcpy(g_lzma_props, props, kLzmaPropsSize);
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
    return lzma_pack_smallest(src, srcLen, dst, dstLen, nullptr);
}

int lzma_pack_smallest(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen,
                       deltamaker::detail::TaskPool *pool)
{
    // Uninitialised scratch for the strong stream: only the pages written to are touched. When
    // it cannot be had, the default stream alone is the result.
    size_t strongLen = *dstLen;
    std::unique_ptr<uint8_t[]> other(new (std::nothrow) uint8_t[strongLen ? strongLen : 1]);
    size_t len = *dstLen;
    uint8_t props[2][kLzmaPropsSize];
    bool ok[2] = {false, false};
    const auto encode = [&](size_t i) {
        ok[i] = i == 0 ? compress(src, srcLen, dst, &len, kLzmaFb, 0, props[0])
                       : compress(src, srcLen, other.get(), &strongLen, kLzmaStrongFb,
                                  kLzmaStrongCycles, props[1]);
    };
    bool ran = true;
    if (other && pool && pool->threads() > 1) {
        ran = pool->run(2, encode);
    } else {
        encode(0);
        if (ok[0] && other)
            encode(1); // the strong stream is not tried after the default one failed
    }
    // Messages and property bytes as one encoding after the other leaves them.
    if (!ran || !ok[0]) {
        std::printf("LzmaCompress error\n");
        return -1;
    }
    if (other && !ok[1])
        std::printf("LzmaCompress error\n");
    std::memcpy(g_lzma_props, props[ok[1] ? 1 : 0], kLzmaPropsSize);
    if (ok[1] && strongLen < len) {
        std::memcpy(dst, other.get(), strongLen);
        len = strongLen;
    }
    *dstLen = len;
    return 0;
}

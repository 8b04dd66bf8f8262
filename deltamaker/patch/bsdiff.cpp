#include "deltamaker/patch/bsdiff.h"

#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/patch/match_scan.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/patch/suffix_sort.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Largest block accepted: every length of the patch is a signed 32-bit value, and the suffix
// arrays take 4 bytes per old byte.
constexpr int64_t kMaxBlockSize = int64_t(1) << 30;
constexpr int kTripleSize = kBlockPatchTripleSize;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using Buffer = std::unique_ptr<T[], FreeDeleter>;

template <typename T>
Buffer<T> allocate(int64_t count)
{
    // At least one element, so that a zero-sized request is not mistaken for failure.
    const size_t n = count > 0 ? static_cast<size_t>(count) : 1;
    return Buffer<T>(static_cast<T *>(std::malloc(n * sizeof(T))));
}

} // namespace

int sw_bsdiff(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData, int64_t newSize,
              uint8_t *out, int64_t *outLen)
{
    if (oldSize < 0 || newSize < 0 || oldSize > kMaxBlockSize || newSize > kMaxBlockSize
        || (oldSize > 0 && !oldData) || (newSize > 0 && !newData) || !out || !outLen) {
        std::printf("sw_bsdiff: invalid arguments\n");
        return -1;
    }
    const int32_t oldN = static_cast<int32_t>(oldSize);
    const int32_t newN = static_cast<int32_t>(newSize);

    static const uint8_t kNoBytes[1] = {0};
    const uint8_t *oldBytes = oldData ? oldData : kNoBytes;
    const uint8_t *newBytes = newData ? newData : kNoBytes;
    // The induced sort gives the doubling sort's suffix array without its rank array.
    Buffer<int32_t> I = allocate<int32_t>(oldSize + 1);
    if (!I || !suffix_sort(I.get(), oldBytes, oldN)) {
        std::printf("%s[%d] No Mem Left\n", "sw_bsdiff", 207);
        return -1;
    }

    // A successful patch has at most newSize - 32 control bytes (diff and extra together are
    // newSize bytes), so newSize + 1 bytes hold every control block that can succeed; a scan
    // that outgrows it is cut short and fails below exactly as the full check would.
    const int64_t ctrlCap = newSize + 1;
    Buffer<uint8_t> diff = allocate<uint8_t>(newSize + 1);
    Buffer<uint8_t> extra = allocate<uint8_t>(newSize + 1);
    Buffer<uint8_t> ctrl = allocate<uint8_t>(ctrlCap);
    Buffer<uint8_t> joined = allocate<uint8_t>(2 * newSize);
    if (!diff || !extra || !ctrl || !joined) {
        std::printf("%s[%d] No Mem Left\n", "sw_bsdiff", 214);
        return -1;
    }

    int64_t ctrlLen = 0;
    int64_t diffLen = 0;
    int64_t extraLen = 0;
    bool ctrlFull = false;
    match_scan(I.get(), oldBytes, oldN, newBytes, newN, [&](const ScanStretch &s) {
        if (ctrlLen + kTripleSize > ctrlCap) {
            ctrlFull = true;
            return false;
        }
        for (int32_t i = 0; i < s.diffLen; ++i)
            diff[diffLen + i] = static_cast<uint8_t>(newBytes[s.lastScan + i] - oldBytes[s.lastPos + i]);
        std::memcpy(extra.get() + extraLen, newBytes + s.lastScan + s.diffLen,
                    static_cast<size_t>(s.extraLen));
        diffLen += s.diffLen;
        extraLen += s.extraLen;
        put_sm8(ctrl.get() + ctrlLen, s.diffLen);
        put_sm8(ctrl.get() + ctrlLen + 8, s.extraLen);
        put_sm8(ctrl.get() + ctrlLen + 16, s.oldSeek);
        ctrlLen += kTripleSize;
        return true;
    });
    I.reset();

    uint8_t header[kBlockPatchHeaderSize];
    std::memcpy(header, kPatchMagic, kPatchMagicSize);
    put_sm8(header + 8, ctrlLen);
    put_sm8(header + 16, diffLen);
    put_sm8(header + 24, newSize);

    if (ctrlFull || 2 * newSize < ctrlLen + diffLen + extraLen + kBlockPatchHeaderSize) {
        std::printf("outBuff not enough\n");
        return -1;
    }

    std::memcpy(joined.get(), ctrl.get(), static_cast<size_t>(ctrlLen));
    std::memcpy(joined.get() + ctrlLen, diff.get(), static_cast<size_t>(diffLen));
    std::memcpy(joined.get() + ctrlLen + diffLen, extra.get(), static_cast<size_t>(extraLen));
    size_t packed = static_cast<size_t>(2 * newSize);
    if (lzma_pack(joined.get(), static_cast<size_t>(ctrlLen + diffLen + extraLen),
                  out + kBlockPatchHeaderSize, &packed) != 0)
        return -1;

    std::memcpy(out, header, sizeof(header));
    *outLen = static_cast<int64_t>(packed) + kBlockPatchHeaderSize;
    return 0;
}

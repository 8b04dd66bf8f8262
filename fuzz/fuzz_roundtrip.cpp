// Round trip: two images from the input bytes, a patch by each generator, applied by the
// device side, must give the new image back. Input: 2 bytes of old size (little-endian, cut
// to what follows), the old image, then the new image.
#include "deltamaker/format/package_layout.h"
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/inplace.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/verify/inplace_apply.h"
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void mismatch(const char *what, const std::string &error)
{
    std::fprintf(stderr, "round trip broken: %s %s\n", what, error.c_str());
    std::abort();
}
} // namespace

// Pieces of a firmware pair: small, so that the fuzzer's mutations stay cheap.
void fuzzSeeds(FuzzSeeds &seeds)
{
    const std::vector<uint8_t> &old = FuzzSamples::oldBlock();
    for (int variant = 0; variant < 3; ++variant) {
        const std::vector<uint8_t> block = FuzzSamples::newBlock(variant);
        for (size_t len : {size_t(64), size_t(700), size_t(3000)}) {
            std::vector<uint8_t> seed{uint8_t(len), uint8_t(len >> 8)};
            seed.insert(seed.end(), old.begin() + 256, old.begin() + 256 + len);
            seed.insert(seed.end(), block.begin() + 256, block.begin() + 256 + len + 33);
            seeds.push_back(seed);
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    size_t oldSize = size_t(data[0]) | size_t(data[1]) << 8;
    if (oldSize > size - 2)
        oldSize = size - 2;
    const uint8_t *oldData = data + 2;
    const uint8_t *newData = oldData + oldSize;
    const size_t newSize = size - 2 - oldSize;
    std::string error;

    // Block patch: one block of at most 20 KiB each side.
    const size_t blockOld = oldSize < kBlockSize ? oldSize : kBlockSize;
    const size_t blockNew = newSize < kBlockSize ? newSize : kBlockSize;
    if (blockOld > 0 && blockNew > 0) {
        std::vector<uint8_t> patch(kBlockPatchHeaderSize + 2 * blockNew);
        int64_t patchLen = 0;
        if (sw_bsdiff(oldData, int64_t(blockOld), newData, int64_t(blockNew), patch.data(),
                      &patchLen) == 0) {
            std::vector<uint8_t> rebuilt;
            if (!apply_block_patch(oldData, blockOld, patch.data(), size_t(patchLen), blockNew, rebuilt,
                                   error))
                mismatch("block patch refused:", error);
            if (rebuilt != std::vector<uint8_t>(newData, newData + blockNew))
                mismatch("block patch rebuilds other bytes", "");
        }
    }

    // In-place patch over the whole images.
    if (newSize > 0) {
        std::vector<uint8_t> patch;
        if (sw_bsdiff_new_mem(oldData, int64_t(oldSize), newData, int64_t(newSize), patch) == 0) {
            std::vector<uint8_t> rebuilt;
            if (!apply_inplace_patch(oldData, oldSize, newSize, patch.data(), patch.size(),
                                     rebuilt, error))
                mismatch("in-place patch refused:", error);
            if (rebuilt != std::vector<uint8_t>(newData, newData + newSize))
                mismatch("in-place patch rebuilds other bytes", "");
        }
    }
    return 0;
}

// The in-place patch decoder and the device simulator over the fixed old image. Input: 4 bytes
// of new image size (little-endian, modulo 256 KiB), then the patch.
#include "deltamaker/verify/inplace_apply.h"
#include "deltamaker/patch/inplace.h"
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

void fuzzSeeds(FuzzSeeds &seeds)
{
    const std::vector<uint8_t> &old = FuzzSamples::oldImage();
    for (int variant = 0; variant < 2; ++variant) {
        const std::vector<uint8_t> image = FuzzSamples::newImage(variant);
        std::vector<uint8_t> patch;
        if (sw_bsdiff_new_mem(old.data(), int64_t(old.size()), image.data(),
                              int64_t(image.size()), patch) != 0)
            continue;
        seeds.push_back(FuzzSamples::withLe32(uint32_t(image.size()), patch.data(), patch.size()));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const size_t newSize = FuzzSamples::le32(data) % (256 * 1024);
    const uint8_t *patch = data + 4;
    const size_t patchSize = size - 4;
    InplacePatchContents contents;
    std::string error;
    decode_inplace_patch(patch, patchSize, newSize, contents, error);
    const std::vector<uint8_t> &old = FuzzSamples::oldImage();
    std::vector<uint8_t> out;
    InplaceApplyStats stats;
    if (apply_inplace_patch(old.data(), old.size(), newSize, patch, patchSize, out, error, &stats)
        && out.size() != newSize)
        __builtin_trap();
    return 0;
}

// The device side of the block patch. Input: 2 bytes choosing how much of the fixed old block
// the record names (little-endian, modulo 20481), then the patch.
#include "deltamaker/format/package_layout.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/format/sign_magnitude.h"
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

// Patches of new blocks against the whole old block and against a part of it.
void fuzzSeeds(FuzzSeeds &seeds)
{
    const std::vector<uint8_t> &old = FuzzSamples::oldBlock();
    for (int variant = 0; variant < 3; ++variant) {
        for (size_t oldLen : {old.size(), old.size() / 3}) {
            const std::vector<uint8_t> block = FuzzSamples::newBlock(variant);
            std::vector<uint8_t> patch(kBlockPatchHeaderSize + 2 * block.size());
            int64_t len = 0;
            if (sw_bsdiff(old.data(), int64_t(oldLen), block.data(), int64_t(block.size()),
                          patch.data(), &len) != 0)
                continue;
            std::vector<uint8_t> seed{uint8_t(oldLen), uint8_t(oldLen >> 8)};
            seed.insert(seed.end(), patch.begin(), patch.begin() + len);
            seeds.push_back(seed);
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // The record's promise: the header's own new size where a record could promise it, so
    // that both agreeing and refused headers are reached.
    const uint8_t *header = data + 2;
    size_t promised = kBlockSize;
    if (size >= 2 + 32 && get_sm8(header + 24) >= 0 && get_sm8(header + 24) <= int64_t(kBlockSize))
        promised = size_t(get_sm8(header + 24));
    const std::vector<uint8_t> &old = FuzzSamples::oldBlock();
    const size_t oldLen = (size_t(data[0]) | size_t(data[1]) << 8) % (kBlockSize + 1);
    std::vector<uint8_t> out;
    std::string error;
    if (apply_block_patch(old.data(), oldLen, data + 2, size - 2, promised, out, error) &&
        out.size() != promised)
        __builtin_trap(); // a block is exactly what its record promises
    return 0;
}

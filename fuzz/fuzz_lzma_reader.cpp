// The strict LZMA reader. Input: 4 bytes of decoded size asked for (little-endian, modulo
// 1 MiB), then the raw stream. Read in pieces, at once and by the one-call decoder.
#include "deltamaker/verify/lzma_unpack.h"
#include "deltamaker/verify/package_verify_p.h"
#include "deltamaker/patch/lzma_pack.h"
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

namespace detail = deltamaker::detail;

// Streams of firmware, of text-like data, of one repeated byte and of a single byte.
void fuzzSeeds(FuzzSeeds &seeds)
{
    std::vector<std::vector<uint8_t>> plain = {FuzzSamples::oldBlock(),
                                               FuzzSamples::newBlock(1),
                                               std::vector<uint8_t>(5000, 0xFF), {0x42}};
    for (const auto &p : plain) {
        std::vector<uint8_t> packed(p.size() + p.size() / 2 + 1024);
        size_t len = packed.size();
        if (lzma_pack(p.data(), p.size(), packed.data(), &len) != 0)
            continue;
        seeds.push_back(FuzzSamples::withLe32(uint32_t(p.size()), packed.data(), len));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const size_t want = FuzzSamples::le32(data) % (1024 * 1024);
    const uint8_t *src = data + 4;
    const size_t srcLen = size - 4;
    std::string error;

    LzmaReader pieces(src, srcLen);
    std::vector<uint8_t> byPieces;
    bool ok = true;
    for (size_t done = 0, step = 1; ok && done < want; done += step, step = step * 3 + 1) {
        if (step > want - done)
            step = want - done;
        ok = pieces.readAppend(byPieces, step, error);
    }
    ok = ok && pieces.finish(error);

    std::vector<uint8_t> whole(want);
    const bool wholeOk = lzma_unpack(src, srcLen, whole.data(), whole.size(), error);
    std::vector<uint8_t> exact;
    const bool exactOk = detail::lzma_decode_exact(src, srcLen, want, exact, error);
    // The piecewise and the one-piece reader agree on every stream and on every byte.
    if (ok != wholeOk || (ok && byPieces != whole))
        __builtin_trap();
    if (ok && !(exactOk && exact == whole))
        __builtin_trap();
    return 0;
}

#include "deltamaker/verify/block_patch.h"

#include "deltamaker/format/patch_layout.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/verify/lzma_unpack.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kHeaderSize = kBlockPatchHeaderSize;
constexpr size_t kTripleSize = kBlockPatchTripleSize;

struct Triple {
    int64_t x; // diff length
    int64_t y; // extra length
    int64_t z; // old seek
};

bool fail(std::string &error, const std::string &why)
{
    error = "block patch: " + why;
    return false;
}

// A length: 0 .. INT32_MAX, without the sign bit (a "negative zero" is no length either).
bool readLength(const uint8_t *p, int64_t &v)
{
    v = get_sm8(p);
    return (p[7] & 0x80) == 0 && v <= INT32_MAX;
}

} // namespace

bool apply_block_patch(const uint8_t *oldData, size_t oldSize, const uint8_t *patch,
                       size_t patchSize, size_t expectedNewSize, std::vector<uint8_t> &newData,
                       std::string &error)
{
    newData.clear();
    error.clear();
    if (expectedNewSize > kBlockPatchMaxNewSize)
        return fail(error, "record promises " + std::to_string(expectedNewSize) +
                               " new bytes, more than a block holds");
    if (!patch || patchSize < kHeaderSize)
        return fail(error, "shorter than its 32-byte header");
    if (std::memcmp(patch, kPatchMagic, kPatchMagicSize) != 0)
        return fail(error, "wrong magic");
    if (oldSize > 0 && !oldData)
        return fail(error, "no old block");

    int64_t ctrlLen = 0;
    int64_t diffLen = 0;
    int64_t newSize = 0;
    if (!readLength(patch + 8, ctrlLen))
        return fail(error, "negative or oversized control length");
    if (!readLength(patch + 16, diffLen))
        return fail(error, "negative or oversized diff length");
    if (!readLength(patch + 24, newSize))
        return fail(error, "negative or oversized new size");
    if (newSize != static_cast<int64_t>(expectedNewSize))
        return fail(error, "header says " + std::to_string(newSize) +
                               " new bytes, the record " + std::to_string(expectedNewSize));
    // Bounded by the promised size before anything is decoded: one triple per new byte and one
    // more (the generator's own patches stay far below, at most 2 n bytes in all).
    if (ctrlLen > static_cast<int64_t>(kTripleSize) * (newSize + 1))
        return fail(error, "control length " + std::to_string(ctrlLen) + " is more than " +
                               std::to_string(newSize) + " new bytes allow");
    if (ctrlLen % kTripleSize != 0)
        return fail(error, "control length " + std::to_string(ctrlLen) + " is not a whole number of triples");
    if (diffLen > newSize)
        return fail(error, "diff length exceeds the new size");

    LzmaReader reader(patch + kHeaderSize, patchSize - kHeaderSize);
    std::vector<uint8_t> ctrl;
    if (!reader.readAppend(ctrl, static_cast<size_t>(ctrlLen), error))
        return fail(error, "control block: " + error);

    // Check every triple against the blocks before touching any data.
    std::vector<Triple> triples(ctrl.size() / kTripleSize);
    int64_t n = 0; // new position
    int64_t o = 0; // old position
    int64_t d = 0; // diff position
    int64_t e = 0; // extra position
    for (size_t t = 0; t < triples.size(); ++t) {
        const uint8_t *p = ctrl.data() + t * kTripleSize;
        Triple &tr = triples[t];
        tr.z = get_sm8(p + 16);
        const std::string where = "triple " + std::to_string(t) + ": ";
        if (!readLength(p, tr.x) || !readLength(p + 8, tr.y))
            return fail(error, where + "negative or oversized length");
        if (tr.z < -int64_t(INT32_MAX) || tr.z > INT32_MAX)
            return fail(error, where + "oversized old seek");
        if (tr.x + tr.y > newSize - n)
            return fail(error, where + "writes past the end of the new block");
        if (tr.x > 0 && (o < 0 || o > static_cast<int64_t>(oldSize)
                         || tr.x > static_cast<int64_t>(oldSize) - o))
            return fail(error, where + "reads outside the old block");
        if (tr.x > diffLen - d)
            return fail(error, where + "reads past the end of the diff block");
        n += tr.x + tr.y;
        d += tr.x;
        e += tr.y;
        o += tr.x + tr.z;
    }
    if (n != newSize)
        return fail(error, "triples build " + std::to_string(n) + " bytes, the header says "
                               + std::to_string(newSize));
    if (d != diffLen)
        return fail(error, "triples use " + std::to_string(d) + " diff bytes, the header says "
                               + std::to_string(diffLen));

    std::vector<uint8_t> diff;
    std::vector<uint8_t> extra;
    if (!reader.readAppend(diff, static_cast<size_t>(diffLen), error))
        return fail(error, "diff block: " + error);
    if (!reader.readAppend(extra, static_cast<size_t>(e), error))
        return fail(error, "extra block: " + error);
    if (!reader.finish(error))
        return fail(error, error);

    newData.resize(static_cast<size_t>(newSize));
    n = o = d = e = 0;
    for (const Triple &tr : triples) {
        for (int64_t i = 0; i < tr.x; ++i)
            newData[n + i] = static_cast<uint8_t>(oldData[o + i] + diff[d + i]);
        if (tr.y > 0)
            std::memcpy(newData.data() + n + tr.x, extra.data() + e, static_cast<size_t>(tr.y));
        n += tr.x + tr.y;
        d += tr.x;
        e += tr.y;
        o += tr.x + tr.z;
    }
    return true;
}

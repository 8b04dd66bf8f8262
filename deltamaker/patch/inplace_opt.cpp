// The optimising in-place encoder: more than one way to cut new into stretches, each resolved
// into the same kind of window records; the smallest patch is handed out.
#include "deltamaker/patch/inplace_p.h"

#include "deltamaker/patch/cost_scan.h"

#include <new>

namespace deltamaker::detail {

namespace {

// The cost-driven scan proposes a new old offset only for matches of this length: fewer, longer
// stretches, so fewer records and relocations. Measured against 8, 12, 16, 32 and 48 bytes on
// generated pairs and library updates, 24 gave the smallest patches where the scan wins.
constexpr int32_t kInplaceMinMatch = 24;

// The scan's path table takes about 20 bytes per new byte: new is scanned in pieces of this
// size, so that the scan adds little to the suffix array in memory. A piece boundary only
// forces a record boundary there.
constexpr int32_t kScanPiece = 64 * 1024;

template <typename SuffixArray>
bool costedScan(const SuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                const uint8_t *newData, int32_t newSize, std::vector<InplaceStretch> &out)
{
    out.clear();
    CostModel model;
    model.minMatch = kInplaceMinMatch;
    try {
        std::vector<ScanStretch> piece;
        for (int32_t at = 0; at < newSize; at += kScanPiece) {
            inplace_progress("in-place patch: second scan",
                             static_cast<int>(int64_t(at) * 100 / newSize));
            const int32_t len = newSize - at < kScanPiece ? newSize - at : kScanPiece;
            if (!cost_scan(I, oldData, oldSize, newData + at, len, model, piece)) {
                out.clear();
                return false;
            }
            // Old positions are absolute already; new positions count from the piece.
            for (const ScanStretch &s : piece)
                if (s.diffLen != 0 || s.extraLen != 0)
                    out.push_back(
                        InplaceStretch{at + s.lastScan, s.lastPos, s.diffLen, s.extraLen});
        }
    } catch (const std::bad_alloc &) {
        out.clear();
        return false;
    }
    return true;
}

// Size of the container of `streams` packed as the default encoder packs it, or -1.
int64_t defaultPackedSize(const InplaceStreams &streams, TaskPool *pool)
{
    std::vector<uint8_t> patch;
    if (packInplaceContainer(streams.control, streams.diff, streams.extra, patch, false, pool) !=
        0)
        return -1;
    return static_cast<int64_t>(patch.size());
}

} // namespace

bool inplaceCostedScan(const int32_t *I, const uint8_t *oldData, int32_t oldSize,
                       const uint8_t *newData, int32_t newSize, std::vector<InplaceStretch> &out)
{
    return costedScan(I, oldData, oldSize, newData, newSize, out);
}

bool inplaceCostedScan(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                       const uint8_t *newData, int32_t newSize, std::vector<InplaceStretch> &out)
{
    return costedScan(I, oldData, oldSize, newData, newSize, out);
}

int buildOptimizedInplacePatch(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                               int32_t newSize, const std::vector<InplaceStretch> &stretches,
                               const std::vector<InplaceStretch> &costed,
                               std::vector<uint8_t> &patch, TaskPool *pool, bool powerSafe)
{
    InplaceStreams best;
    if (resolveInplace(oldData, oldSize, newData, newSize, stretches, best, nullptr, true,
                       powerSafe) != 0)
        return -1;
    const int64_t bestSize = defaultPackedSize(best, pool);
    if (bestSize < 0)
        return -1;
    if (!costed.empty()) {
        InplaceStreams other;
        if (resolveInplace(oldData, oldSize, newData, newSize, costed, other, nullptr, false,
                           powerSafe) == 0) {
            const int64_t size = defaultPackedSize(other, pool);
            if (size >= 0 && size < bestSize)
                std::swap(best, other);
        }
    }
    // The winner packed smallest is no larger than the winner packed by default, which is no
    // larger than the default stretches packed by default: never larger than the default patch.
    return packInplaceContainer(best.control, best.diff, best.extra, patch, true, pool);
}

} // namespace deltamaker::detail

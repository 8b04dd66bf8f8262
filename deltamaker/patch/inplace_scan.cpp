// The match scan feeding the in-place generator: the block generator's suffix sort and scan,
// unchanged, with every non-empty stretch collected in order.
#include "deltamaker/patch/inplace_p.h"

#include "deltamaker/patch/match_scan.h"
#include "deltamaker/patch/suffix_sort.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace deltamaker::detail {

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

} // namespace

bool inplaceScan(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData, int32_t newSize,
                 std::vector<InplaceStretch> &stretches)
{
    return inplaceScanLoading(
        oldData, oldSize, newSize, [newData] { return newData; }, stretches);
}

bool inplaceScanLoading(const uint8_t *oldData, int32_t oldSize, int32_t newSize,
                        const std::function<const uint8_t *()> &loadNew,
                        std::vector<InplaceStretch> &stretches,
                        std::vector<InplaceStretch> *costed)
{
    stretches.clear();
    if (costed)
        costed->clear();
    inplace_progress("in-place patch: sorting", -1);
    // The induced sort needs no rank array: 4 bytes per old byte at the peak.
    const int64_t entries = int64_t(oldSize) + 1;
    std::unique_ptr<int32_t[], FreeDeleter> sorted(
        static_cast<int32_t *>(std::malloc(static_cast<size_t>(entries) * sizeof(int32_t))));
    if (!sorted || !suffix_sort(sorted.get(), oldData, oldSize)) {
        std::printf("%s[%d] No Mem Left\n", "sw_bsdiff_new", 1880);
        return false;
    }
    // Below 16 MiB every entry fits 3 bytes: the array shrinks by a quarter before the new image
    // joins it in memory (the shrink is done in place; realloc only gives the tail back).
    const bool packed = entries <= PackedSuffixArray::kMaxEntries;
    if (packed) {
        PackedSuffixArray::pack(sorted.get(), entries);
        if (void *smaller = std::realloc(sorted.get(), PackedSuffixArray::bytesFor(entries))) {
            sorted.release();
            sorted.reset(static_cast<int32_t *>(smaller));
        }
        releaseFreeMemory();
    }
    const uint8_t *newData = loadNew();
    if (!newData)
        return false;
    inplace_progress("in-place patch: matching", 0);
    const auto collect = [&](const ScanStretch &s) {
        if (newSize > 0)
            inplace_progress("in-place patch: matching",
                             static_cast<int>(int64_t(s.lastScan) * 100 / newSize));
        if (s.diffLen != 0 || s.extraLen != 0)
            stretches.push_back(InplaceStretch{s.lastScan, s.lastPos, s.diffLen, s.extraLen});
        return true;
    };
    // A failed cost-driven scan leaves `costed` empty: the default stretches alone will do.
    if (packed) {
        PackedSuffixArray view;
        view.bytes = reinterpret_cast<const uint8_t *>(sorted.get());
        match_scan(view, oldData, oldSize, newData, newSize, collect);
        if (costed && oldSize > 0)
            inplaceCostedScan(view, oldData, oldSize, newData, newSize, *costed);
    } else {
        match_scan(sorted.get(), oldData, oldSize, newData, newSize, collect);
        if (costed && oldSize > 0)
            inplaceCostedScan(sorted.get(), oldData, oldSize, newData, newSize, *costed);
    }
    return true;
}

} // namespace deltamaker::detail

// The match scan feeding the in-place generator: the block generator's suffix sort and scan,
// unchanged, with every non-empty stretch collected in order.
#include "deltamaker/patch/inplace_p.h"

#include "deltamaker/patch/match_scan.h"
#include "deltamaker/patch/suffix_sort.h"

#include <cstdio>
#include <new>

namespace Internal {

bool inplaceScan(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData, int32_t newSize,
                 std::vector<InplaceStretch> &stretches)
{
    stretches.clear();
    std::vector<int32_t> sorted;
    try {
        sorted.resize(static_cast<size_t>(oldSize) + 1);
    } catch (const std::bad_alloc &) {
        std::printf("%s[%d] No Mem Left\n", "sw_bsdiff_new", 1880);
        return false;
    }
    // The induced sort needs no rank array: 4 bytes per old byte instead of 8 at the peak.
    if (!suffix_sort(sorted.data(), oldData, oldSize)) {
        std::printf("%s[%d] No Mem Left\n", "sw_bsdiff_new", 1880);
        return false;
    }
    match_scan(sorted.data(), oldData, oldSize, newData, newSize, [&](const ScanStretch &s) {
        if (s.diffLen != 0 || s.extraLen != 0)
            stretches.push_back(InplaceStretch{s.lastScan, s.lastPos, s.diffLen, s.extraLen});
        return true;
    });
    return true;
}

} // namespace Internal

// The match scan feeding the in-place generator.
#include "deltamaker/patch/inplace_p.h"

#include <cstdio>

namespace Internal {

bool inplaceScan(const uint8_t *, int32_t, const uint8_t *, int32_t,
                 std::vector<InplaceStretch> &stretches)
{
    stretches.clear();
    std::printf("sw_bsdiff_new: match scan not available\n");
    return false;
}

} // namespace Internal

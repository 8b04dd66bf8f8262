// Suffix array by libdivsufsort: about twice as fast as a plain induced sort on firmware images
// and no working memory beyond the array itself and two bucket tables. The suffix array of a
// byte string is unique, so the result equals qsufsort's entry for entry.
#include "deltamaker/patch/suffix_sort.h"

#include <divsufsort.h>

static_assert(sizeof(saidx_t) == sizeof(int32_t), "32-bit suffix array entries");

bool suffix_sort(int32_t *I, const uint8_t *oldData, int32_t oldSize)
{
    if (oldSize < 0 || !I || (oldSize > 0 && !oldData))
        return false;
    // The empty suffix sorts first; the library sorts the others.
    I[0] = oldSize;
    if (oldSize == 0)
        return true;
    return divsufsort(oldData, reinterpret_cast<saidx_t *>(I + 1), oldSize) == 0;
}

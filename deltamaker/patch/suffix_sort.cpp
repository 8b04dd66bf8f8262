#include "deltamaker/patch/suffix_sort.h"

#include <utility>

namespace {

// Refines the unsorted group I[start, start+len) by the rank of the suffix h positions on.
// Every position of a finished group gets the group's last index as rank; a group of one
// is marked sorted with -1 in I.
void split(int32_t *I, int32_t *V, int32_t start, int32_t len, int32_t h)
{
    if (len < 16) {
        // Repeated selection of the smallest key.
        int32_t j = 1;
        for (int32_t k = start; k < start + len; k += j) {
            j = 1;
            int32_t x = V[I[k] + h];
            for (int32_t i = 1; k + i < start + len; ++i) {
                if (V[I[k + i] + h] < x) {
                    x = V[I[k + i] + h];
                    j = 0;
                }
                if (V[I[k + i] + h] == x) {
                    std::swap(I[k + j], I[k + i]);
                    ++j;
                }
            }
            for (int32_t i = 0; i < j; ++i)
                V[I[k + i]] = k + j - 1;
            if (j == 1)
                I[k] = -1;
        }
        return;
    }

    // Three-way partition around the key of the middle entry.
    const int32_t x = V[I[start + len / 2] + h];
    int32_t jj = 0;
    int32_t kk = 0;
    for (int32_t i = start; i < start + len; ++i) {
        if (V[I[i] + h] < x)
            ++jj;
        if (V[I[i] + h] == x)
            ++kk;
    }
    jj += start;
    kk += jj;

    int32_t i = start;
    int32_t j = 0;
    int32_t k = 0;
    while (i < jj) {
        if (V[I[i] + h] < x) {
            ++i;
        } else if (V[I[i] + h] == x) {
            std::swap(I[i], I[jj + j]);
            ++j;
        } else {
            std::swap(I[i], I[kk + k]);
            ++k;
        }
    }
    while (jj + j < kk) {
        if (V[I[jj + j] + h] == x) {
            ++j;
        } else {
            std::swap(I[jj + j], I[kk + k]);
            ++k;
        }
    }

    if (jj > start)
        split(I, V, start, jj - start, h);

    for (i = 0; i < kk - jj; ++i)
        V[I[jj + i]] = kk - 1;
    if (jj == kk - 1)
        I[jj] = -1;

    if (start + len > kk)
        split(I, V, kk, start + len - kk, h);
}

} // namespace

void qsufsort(int32_t *I, int32_t *V, const uint8_t *oldData, int32_t oldSize)
{
    int32_t buckets[256] = {};
    for (int32_t i = 0; i < oldSize; ++i)
        ++buckets[oldData[i]];
    for (int i = 1; i < 256; ++i)
        buckets[i] += buckets[i - 1];
    for (int i = 255; i > 0; --i)
        buckets[i] = buckets[i - 1];
    buckets[0] = 0;

    // Slot 0 is the empty suffix; bucket b then ends at buckets[b] after placement.
    for (int32_t i = 0; i < oldSize; ++i)
        I[++buckets[oldData[i]]] = i;
    I[0] = oldSize;
    for (int32_t i = 0; i < oldSize; ++i)
        V[i] = buckets[oldData[i]];
    V[oldSize] = 0;
    for (int i = 1; i < 256; ++i) {
        if (buckets[i] == buckets[i - 1] + 1)
            I[buckets[i]] = -1;
    }
    if (buckets[0] == 1)
        I[1] = -1;
    I[0] = -1;

    for (int32_t h = 1; I[0] != -(oldSize + 1); h += h) {
        int32_t len = 0;
        int32_t i = 0;
        while (i < oldSize + 1) {
            if (I[i] < 0) {
                // Skip a sorted run and merge it with the preceding one.
                len -= I[i];
                i -= I[i];
            } else {
                if (len)
                    I[i - len] = -len;
                len = V[I[i]] + 1 - i;
                split(I, V, i, len, h);
                i += len;
                len = 0;
            }
        }
        if (len)
            I[i - len] = -len;
    }

    for (int32_t i = 0; i < oldSize + 1; ++i)
        I[V[i]] = i;
}

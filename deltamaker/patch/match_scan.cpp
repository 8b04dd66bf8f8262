#include "deltamaker/patch/match_scan.h"

#include <cstring>

namespace {

// Common-prefix length of old[from..oldSize) and new[0..newLen).
int32_t matchLength(const uint8_t *oldData, int32_t from, int32_t oldSize, const uint8_t *newData,
                    int32_t newLen)
{
    int32_t i = 0;
    while (from + i < oldSize && i < newLen && oldData[from + i] == newData[i])
        ++i;
    return i;
}

// Both are templates over the suffix array's storage: plain 32-bit entries or 3-byte entries.
template <typename SuffixArray>
int32_t searchIn(const SuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                 const uint8_t *newData, int32_t newLen, int32_t low, int32_t high, int32_t *pos)
{
    while (high - low >= 2) {
        const int32_t mid = low + (high - low) / 2;
        const int32_t n = oldSize - I[mid] < newLen ? oldSize - I[mid] : newLen;
        if (n > 0 && std::memcmp(oldData + I[mid], newData, static_cast<size_t>(n)) < 0)
            low = mid;
        else
            high = mid;
    }
    const int32_t x = matchLength(oldData, I[low], oldSize, newData, newLen);
    const int32_t y = matchLength(oldData, I[high], oldSize, newData, newLen);
    if (x > y) {
        *pos = I[low];
        return x;
    }
    *pos = I[high];
    return y;
}

template <typename SuffixArray>
bool scanWith(const SuffixArray &I, const uint8_t *oldData, int32_t oldSize,
              const uint8_t *newData, int32_t newSize, const ScanVisitor &visit)
{
    // 64-bit arithmetic keeps the sums (2 * s - i, scan + lastOffset) clear of overflow.
    int64_t scan = 0;
    int64_t len = 0;
    int64_t lastScan = 0;
    int64_t lastPos = 0;
    int64_t lastOffset = 0;
    int32_t pos = 0;

    while (scan < newSize) {
        int64_t oldScore = 0;
        int64_t scsc = scan += len;
        for (; scan < newSize; ++scan) {
            len = searchIn(I, oldData, oldSize, newData + scan,
                           static_cast<int32_t>(newSize - scan), 0, oldSize, &pos);
            for (; scsc < scan + len; ++scsc) {
                if (scsc + lastOffset < oldSize && oldData[scsc + lastOffset] == newData[scsc])
                    ++oldScore;
            }
            if ((len == oldScore && len != 0) || len > oldScore + 8)
                break;
            if (scan + lastOffset < oldSize && oldData[scan + lastOffset] == newData[scan])
                --oldScore;
        }

        if (len == oldScore && scan != newSize)
            continue;

        // Forward extension from the previous match.
        int64_t s = 0;
        int64_t best = 0;
        int64_t lenf = 0;
        for (int64_t i = 0; lastScan + i < scan && lastPos + i < oldSize;) {
            if (oldData[lastPos + i] == newData[lastScan + i])
                ++s;
            ++i;
            if (s * 2 - i > best * 2 - lenf) {
                best = s;
                lenf = i;
            }
        }

        // Backward extension from the new match.
        int64_t lenb = 0;
        if (scan < newSize) {
            s = 0;
            best = 0;
            for (int64_t i = 1; scan >= lastScan + i && pos >= i; ++i) {
                if (oldData[pos - i] == newData[scan - i])
                    ++s;
                if (s * 2 - i > best * 2 - lenb) {
                    best = s;
                    lenb = i;
                }
            }
        }

        // Resolve an overlap of the two extensions.
        if (lastScan + lenf > scan - lenb) {
            const int64_t overlap = (lastScan + lenf) - (scan - lenb);
            s = 0;
            best = 0;
            int64_t lens = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (newData[lastScan + lenf - overlap + i] == oldData[lastPos + lenf - overlap + i])
                    ++s;
                if (newData[scan - lenb + i] == oldData[pos - lenb + i])
                    --s;
                if (s > best) {
                    best = s;
                    lens = i + 1;
                }
            }
            lenf += lens - overlap;
            lenb -= lens;
        }

        ScanStretch st;
        st.lastScan = static_cast<int32_t>(lastScan);
        st.lastPos = static_cast<int32_t>(lastPos);
        st.diffLen = static_cast<int32_t>(lenf);
        st.extraLen = static_cast<int32_t>((scan - lenb) - (lastScan + lenf));
        st.oldSeek = static_cast<int32_t>((pos - lenb) - (lastPos + lenf));
        if (!visit(st))
            return false;

        lastScan = scan - lenb;
        lastPos = pos - lenb;
        lastOffset = pos - scan;
    }
    return true;
}

} // namespace

int32_t match_search(const int32_t *I, const uint8_t *oldData, int32_t oldSize,
                     const uint8_t *newData, int32_t newLen, int32_t low, int32_t high,
                     int32_t *pos)
{
    return searchIn(I, oldData, oldSize, newData, newLen, low, high, pos);
}

int32_t match_search(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                     const uint8_t *newData, int32_t newLen, int32_t low, int32_t high,
                     int32_t *pos)
{
    return searchIn(I, oldData, oldSize, newData, newLen, low, high, pos);
}

bool match_scan(const int32_t *I, const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                int32_t newSize, const ScanVisitor &visit)
{
    return scanWith(I, oldData, oldSize, newData, newSize, visit);
}

bool match_scan(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                const uint8_t *newData, int32_t newSize, const ScanVisitor &visit)
{
    return scanWith(I, oldData, oldSize, newData, newSize, visit);
}

void PackedSuffixArray::pack(int32_t *entries, int64_t count)
{
    // Entry i moves from bytes [4i, 4i + 4) to [3i, 3i + 3): never past an entry not yet read.
    uint8_t *out = reinterpret_cast<uint8_t *>(entries);
    for (int64_t i = 0; i < count; ++i) {
        const uint32_t v = static_cast<uint32_t>(entries[i]);
        out[3 * i] = static_cast<uint8_t>(v);
        out[3 * i + 1] = static_cast<uint8_t>(v >> 8);
        out[3 * i + 2] = static_cast<uint8_t>(v >> 16);
    }
    out[3 * count] = 0;
}

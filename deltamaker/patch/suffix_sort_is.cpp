// Suffix array by induced sorting (SA-IS): linear time, and only the suffix array itself plus a
// type bitmap and bucket tables as working memory. The suffix array of a byte string is unique,
// so the result equals qsufsort's entry for entry.
#include "deltamaker/patch/suffix_sort.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// S/L types of the suffixes, one bit each: set for S (smaller than its successor).
class TypeBits {
public:
    bool init(int32_t n)
    {
        bits_ = static_cast<uint8_t *>(std::calloc(static_cast<size_t>(n) / 8 + 1, 1));
        return bits_ != nullptr;
    }
    ~TypeBits() { std::free(bits_); }
    bool isS(int32_t i) const { return (bits_[i >> 3] >> (i & 7)) & 1; }
    void setS(int32_t i) { bits_[i >> 3] |= uint8_t(1u << (i & 7)); }
    // A leftmost S position: an S suffix after an L suffix.
    bool isLms(int32_t i) const { return i > 0 && isS(i) && !isS(i - 1); }

private:
    uint8_t *bits_ = nullptr;
};

// Level 0: the old bytes shifted up by one, followed by a virtual sentinel 0 at position size.
struct ByteText {
    const uint8_t *data;
    int32_t size;
    int32_t operator()(int32_t i) const { return i < size ? int32_t(data[i]) + 1 : 0; }
};

// Deeper levels: names of the reduced string; its last name (0) is the unique smallest.
struct NameText {
    const int32_t *s;
    int32_t operator()(int32_t i) const { return s[i]; }
};

// Bucket bounds of the text's symbols. The symbol counts are kept when there is room for them
// (one table more), so that each of the four bound computations of a level is a walk over the
// alphabet instead of a pass over the text.
template <typename Text>
class Buckets {
public:
    Buckets(const Text &chr, int32_t n, int32_t *bkt, int32_t *cnt, int32_t alphabet)
        : chr_(chr), n_(n), bkt_(bkt), cnt_(cnt), alphabet_(alphabet)
    {
        if (cnt_)
            count(cnt_);
    }
    int32_t *starts() { return bounds(false); }
    int32_t *ends() { return bounds(true); }

private:
    void count(int32_t *into) const
    {
        std::memset(into, 0, sizeof(int32_t) * static_cast<size_t>(alphabet_));
        for (int32_t i = 0; i < n_; ++i)
            ++into[chr_(i)];
    }
    int32_t *bounds(bool atEnds)
    {
        const int32_t *cnt = cnt_;
        if (!cnt) {
            count(bkt_);
            cnt = bkt_;
        }
        int32_t sum = 0;
        for (int32_t c = 0; c < alphabet_; ++c) {
            const int32_t k = cnt[c];
            sum += k;
            bkt_[c] = atEnds ? sum : sum - k;
        }
        return bkt_;
    }

    const Text &chr_;
    int32_t n_;
    int32_t *bkt_;
    int32_t *cnt_;
    int32_t alphabet_;
};

template <typename Text>
void induce(const Text &chr, const TypeBits &t, int32_t *SA, int32_t n, Buckets<Text> &buckets)
{
    int32_t *bkt = buckets.starts();
    for (int32_t i = 0; i < n; ++i) {
        const int32_t j = SA[i] - 1;
        if (j >= 0 && !t.isS(j))
            SA[bkt[chr(j)]++] = j;
    }
    bkt = buckets.ends();
    for (int32_t i = n - 1; i >= 0; --i) {
        const int32_t j = SA[i] - 1;
        if (j >= 0 && t.isS(j))
            SA[--bkt[chr(j)]] = j;
    }
}

// Sorts the n suffixes of a text whose last symbol is a unique smallest sentinel. Symbols lie in
// [0, alphabet). SA must hold n entries. `spare` (spareLen entries, may be null) is free memory
// that the bucket table takes when it fits. False when memory runs out.
template <typename Text>
bool sais(const Text &chr, int32_t *SA, int32_t n, int32_t alphabet, int32_t *spare,
          int64_t spareLen)
{
    if (n == 1) {
        SA[0] = 0;
        return true;
    }
    TypeBits t;
    if (!t.init(n))
        return false;
    t.setS(n - 1);
    for (int32_t i = n - 2; i >= 0; --i) {
        const int32_t a = chr(i);
        const int32_t b = chr(i + 1);
        if (a < b || (a == b && t.isS(i + 1)))
            t.setS(i);
    }

    // Bucket table and, when it costs no more than a small table or fits the spare room, the
    // symbol counts beside it.
    const int64_t tables = alphabet <= 4096 || 2 * int64_t(alphabet) <= spareLen ? 2 : 1;
    std::unique_ptr<int32_t[], FreeDeleter> bktStore;
    int32_t *bkt = spare;
    if (tables * alphabet > spareLen) {
        bktStore.reset(static_cast<int32_t *>(
            std::malloc(sizeof(int32_t) * static_cast<size_t>(tables * alphabet))));
        if (!bktStore)
            return false;
        bkt = bktStore.get();
    }
    Buckets<Text> buckets(chr, n, bkt, tables == 2 ? bkt + alphabet : nullptr, alphabet);

    // Stage 1: sort the LMS substrings by one induced pass over their unsorted placements.
    bkt = buckets.ends();
    for (int32_t i = 0; i < n; ++i)
        SA[i] = -1;
    for (int32_t i = 1; i < n; ++i)
        if (t.isLms(i))
            SA[--bkt[chr(i)]] = i;
    induce(chr, t, SA, n, buckets);

    // Compact the sorted LMS substrings into SA[0, n1) and name them.
    int32_t n1 = 0;
    for (int32_t i = 0; i < n; ++i)
        if (t.isLms(SA[i]))
            SA[n1++] = SA[i];
    for (int32_t i = n1; i < n; ++i)
        SA[i] = -1;
    int32_t name = 0;
    int32_t prev = -1;
    for (int32_t i = 0; i < n1; ++i) {
        const int32_t pos = SA[i];
        bool differ = prev < 0;
        for (int32_t d = 0; !differ && d < n; ++d) {
            if (chr(pos + d) != chr(prev + d) || t.isS(pos + d) != t.isS(prev + d))
                differ = true;
            else if (d > 0 && (t.isLms(pos + d) || t.isLms(prev + d)))
                break;
        }
        if (differ) {
            ++name;
            prev = pos;
        }
        // LMS positions are at least two apart, so pos / 2 is a free slot of its own.
        SA[n1 + pos / 2] = name - 1;
    }
    for (int32_t i = n - 1, j = n - 1; i >= n1; --i)
        if (SA[i] >= 0)
            SA[j--] = SA[i];

    // Stage 2: sort the reduced string, recursively when names repeat. While it is sorted,
    // SA[n1, n - n1) is unused and holds the deeper level's bucket table when it fits.
    int32_t *SA1 = SA;
    int32_t *s1 = SA + n - n1;
    if (name < n1) {
        if (!sais(NameText{s1}, SA1, n1, name, SA + n1, int64_t(n) - 2 * int64_t(n1)))
            return false;
    } else {
        for (int32_t i = 0; i < n1; ++i)
            SA1[s1[i]] = i;
    }

    // Stage 3: place the LMS suffixes in their true order and induce the rest.
    bkt = buckets.ends();
    for (int32_t i = 1, j = 0; i < n; ++i)
        if (t.isLms(i))
            s1[j++] = i;
    for (int32_t i = 0; i < n1; ++i)
        SA1[i] = s1[SA1[i]];
    for (int32_t i = n1; i < n; ++i)
        SA[i] = -1;
    for (int32_t i = n1 - 1; i >= 0; --i) {
        const int32_t j = SA[i];
        SA[i] = -1;
        SA[--bkt[chr(j)]] = j;
    }
    induce(chr, t, SA, n, buckets);
    return true;
}

} // namespace

bool suffix_sort(int32_t *I, const uint8_t *oldData, int32_t oldSize)
{
    if (oldSize < 0 || !I)
        return false;
    // The virtual sentinel stands for the empty suffix, which sorts first: I[0] == oldSize.
    return sais(ByteText{oldData, oldSize}, I, oldSize + 1, 257, nullptr, 0);
}

// Cost-driven scan: a shortest-path parse of the new data over a small set of live old offsets.
//
// State after byte i is either "copying at offset d" (one per live offset) or "writing literals"
// (after the copy part of the current record). A new record costs `piece`; every byte costs by
// its kind. Live offsets come from the longest exact matches at the positions searched; a new
// offset may start up to kBack bytes before the match that proposed it, so the near-match in
// front of an exact match is covered too. An offset stays live while its run can still win.
#include "deltamaker/patch/cost_scan.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace deltamaker::detail {

namespace {

constexpr int64_t kInf = INT64_MAX / 4;
constexpr int64_t kBack = 64;       // how far a new offset may reach back
constexpr size_t kMaxLive = 24;     // live offsets kept at most
constexpr int32_t kLiteralTag = INT32_MIN;

struct Live {
    int64_t d = 0;        // old position minus new position
    int64_t until = 0;    // end of the exact match that proposed it
    int64_t cost = kInf;  // best cost of a run at d that covers new[runStart, i)
    int64_t runStart = 0;
};

// How new[0, i) ended on the cheapest path to i: a copy run new[a, i) at offset d, or (tag
// kLiteralTag) the literal part of record number `a` of the literal table.
struct Step {
    int32_t a;
    int32_t d;
};
struct LiteralRecord {
    int32_t a;        // record start
    int32_t b;        // literals start (copy part is [a, b))
    int32_t oldStart; // old position of the copy part
};

template <typename SuffixArray>
bool scanWith(const SuffixArray &I, const uint8_t *oldData, int32_t oldSize,
              const uint8_t *newData, int32_t newSize, const CostModel &m,
              std::vector<ScanStretch> &out)
{
    out.clear();
    if (newSize <= 0)
        return true;
    std::vector<Step> steps(static_cast<size_t>(newSize) + 1);
    std::vector<LiteralRecord> literals;

    // A changed byte right after an equal one (or at the start of new) also ends a zero run.
    const auto byteCost = [&](int64_t i, int64_t d) -> int64_t {
        if (newData[i] == oldData[i + d])
            return m.equalByte;
        return i > 0 && i + d > 0 && newData[i - 1] != oldData[i - 1 + d] ? m.changedByte
                                                                            : m.firstChange;
    };

    std::vector<Live> live;
    live.reserve(kMaxLive + 1);
    int64_t ring[kBack + 1];
    int64_t best = 0; // cheapest cost of new[0, i) ending a record at i
    int64_t litCost = kInf;
    int32_t litRecord = -1;
    int64_t nextSearch = 0;

    for (int64_t i = 0; i < newSize; ++i) {
        ring[i % (kBack + 1)] = best;

        if (i >= nextSearch) {
            int32_t pos = 0;
            const int32_t len =
                match_search(I, oldData, oldSize, newData + i, static_cast<int32_t>(newSize - i),
                             0, oldSize, &pos);
            // Inside a long match the same offset would be found again: search again near its end.
            nextSearch = len >= 32 ? i + len - 16 : i + 1;
            if (len >= m.minMatch) {
                const int64_t d = int64_t(pos) - i;
                auto it = std::find_if(live.begin(), live.end(),
                                       [d](const Live &l) { return l.d == d; });
                if (it != live.end()) {
                    it->until = std::max(it->until, i + len);
                } else {
                    Live l;
                    l.d = d;
                    l.until = i + len;
                    // The cheapest start of a run that reaches i, within kBack bytes back.
                    int64_t sum = 0;
                    for (int64_t a = i; a >= 0 && a >= i - kBack && a + d >= 0; --a) {
                        if (a < i)
                            sum += byteCost(a, d);
                        const int64_t c = ring[a % (kBack + 1)] + m.piece + sum;
                        if (c < l.cost) {
                            l.cost = c;
                            l.runStart = a;
                        }
                    }
                    live.push_back(l);
                }
            }
        }

        // Literals after the cheapest copy run so far, or a record of literals only.
        const Live *bestRun = nullptr;
        for (const Live &l : live)
            if (!bestRun || l.cost < bestRun->cost)
                bestRun = &l;
        int64_t lit = litCost;
        LiteralRecord from{0, 0, 0};
        bool fresh = false;
        if (bestRun && bestRun->cost < lit) {
            lit = bestRun->cost;
            from = LiteralRecord{int32_t(bestRun->runStart), int32_t(i),
                                 int32_t(bestRun->runStart + bestRun->d)};
            fresh = true;
        }
        if (best + m.piece < lit) {
            lit = best + m.piece;
            from = LiteralRecord{int32_t(i), int32_t(i), 0};
            fresh = true;
        }
        if (fresh) {
            literals.push_back(from);
            litRecord = int32_t(literals.size() - 1);
        }
        litCost = lit + m.literal;

        for (Live &l : live) {
            const int64_t p = i + l.d;
            if (p < 0 || p >= oldSize) {
                l.cost = kInf;
                continue;
            }
            const int64_t r = best + m.piece;
            if (r < l.cost) {
                l.cost = r;
                l.runStart = i;
            }
            l.cost += byteCost(i, l.d);
        }

        best = litCost;
        Step step{litRecord, kLiteralTag};
        for (const Live &l : live) {
            if (l.cost < best) {
                best = l.cost;
                step = Step{int32_t(l.runStart), int32_t(l.d)};
            }
        }
        steps[static_cast<size_t>(i) + 1] = step;

        // Drop offsets past their match whose run can no longer beat a fresh record, and the
        // dearest ones beyond the cap.
        live.erase(std::remove_if(live.begin(), live.end(),
                                  [&](const Live &l) {
                                      return l.cost >= kInf ||
                                             (i + 1 >= l.until && l.cost >= best + m.piece);
                                  }),
                   live.end());
        while (live.size() > kMaxLive) {
            auto worst = std::max_element(live.begin(), live.end(), [](const Live &a, const Live &b) {
                return a.cost < b.cost;
            });
            live.erase(worst);
        }
    }

    // Walk the cheapest path back from the end.
    for (int64_t i = newSize; i > 0;) {
        const Step s = steps[static_cast<size_t>(i)];
        const LiteralRecord r = s.d == kLiteralTag ? literals[static_cast<size_t>(s.a)]
                                                   : LiteralRecord{s.a, int32_t(i), s.a + s.d};
        out.push_back(ScanStretch{r.a, r.oldStart, r.b - r.a, int32_t(i) - r.b, 0});
        i = r.a;
    }
    std::reverse(out.begin(), out.end());
    // The old read position starts at 0: an empty first record seeks to the first copy.
    if (out.front().diffLen > 0 && out.front().lastPos != 0)
        out.insert(out.begin(), ScanStretch{0, 0, 0, 0, 0});

    // Old positions and seeks: a record without a copy part reads nothing and moves nothing.
    int64_t oldAt = 0;
    for (size_t k = 0; k < out.size(); ++k) {
        ScanStretch &s = out[k];
        if (s.diffLen == 0)
            s.lastPos = static_cast<int32_t>(oldAt);
        if (k > 0)
            out[k - 1].oldSeek = static_cast<int32_t>(s.lastPos - oldAt);
        oldAt = int64_t(s.lastPos) + s.diffLen;
    }
    return true;
}

template <typename SuffixArray>
bool guardedScan(const SuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                 const uint8_t *newData, int32_t newSize, const CostModel &model,
                 std::vector<ScanStretch> &out)
{
    try {
        return scanWith(I, oldData, oldSize, newData, newSize, model, out);
    } catch (const std::bad_alloc &) {
        out.clear();
        return false;
    }
}

} // namespace

bool cost_scan(const int32_t *I, const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
               int32_t newSize, const CostModel &model, std::vector<ScanStretch> &out)
{
    return guardedScan(I, oldData, oldSize, newData, newSize, model, out);
}

bool cost_scan(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
               const uint8_t *newData, int32_t newSize, const CostModel &model,
               std::vector<ScanStretch> &out)
{
    return guardedScan(I, oldData, oldSize, newData, newSize, model, out);
}

} // namespace deltamaker::detail

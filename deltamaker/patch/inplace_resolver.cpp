// Conflict resolver of the in-place patch: plays the device's window-by-window rewrite forward
// and relocates every old stretch that a later window still needs before it is overwritten.
//
// Every ordering rule below (pn order with new nodes before equal ones, group merging, the
// spare fit rule and search ranges, move flags) decides patch bytes: change none of them
// without regenerating every reference patch.
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/format/sign_magnitude.h"
#include "deltamaker/parallel/task_pool_p.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

namespace deltamaker::detail {

void putSm4(std::vector<uint8_t> &out, int64_t v)
{
    uint8_t b[kSm4Size];
    put_sm4(b, v);
    out.insert(out.end(), b, b + kSm4Size);
}

namespace {

constexpr int64_t kWin = kInplaceWindowSize;

struct PoNode;

// New side of a pair: new bytes [x, x + len + ext).
struct PnNode {
    int64_t x = 0;
    int64_t len = 0;
    int64_t ext = 0;
    PoNode *link = nullptr; // null for a pure-literal piece
    std::multimap<int64_t, PnNode *>::iterator self;
};

// Old side of a pair: the old bytes [x, x + len) at their current place in the working image.
struct PoNode {
    int64_t x = 0;
    int64_t len = 0;
    PnNode *pn = nullptr;
    int64_t end() const { return x + len; }
};

// Touching ranges do not overlap.
bool overlaps(int64_t ax, int64_t aEnd, int64_t bx, int64_t bEnd) { return bx < aEnd && ax < bEnd; }

// The A wins over B rule for sizes against a need: the smallest that fits, else the largest.
bool betterFit(int64_t best, int64_t cand, int64_t need)
{
    const int64_t b = best - need;
    const int64_t c = cand - need;
    return (b < c && b <= 0) || (c < b && c >= 0);
}

// Sweep order of po nodes: by x, then by end.
bool byPlace(const PoNode *a, const PoNode *b)
{
    return a->x != b->x ? a->x < b->x : a->end() < b->end();
}

// A leader and the po nodes that overlap it, directly or through each other. Its extent is
// [leader.x, end); the leader has the smallest x. Member order is never observable in a patch
// (every reader sorts or takes a maximum); members are kept in sweep order so that a group
// can be split again without sorting it.
struct Group {
    PoNode *leader = nullptr;
    std::vector<PoNode *> members; // in byPlace order
    int64_t end = 0;

    explicit Group(PoNode *n) : leader(n), end(n->end()) {}
    int64_t x() const { return leader->x; }
    int64_t extent() const { return end - leader->x; }
    void addMember(PoNode *n)
    {
        members.insert(std::upper_bound(members.begin(), members.end(), n, byPlace), n);
        end = std::max(end, n->end());
    }
    bool holds(const PoNode *n) const
    {
        return leader == n || std::find(members.begin(), members.end(), n) != members.end();
    }
    void shift(int64_t by)
    {
        leader->x += by;
        for (PoNode *m : members)
            m->x += by;
        end += by;
    }
};
using GroupPtr = std::unique_ptr<Group>;

// Groups ordered by x with no two extents overlapping. Keyed by (x, end) so that an empty group
// comes before a group starting at the same place; ends are then non-decreasing in key order.
// A group's key fields change only while it is out of the list.
class GroupList {
public:
    using Map = std::multimap<std::pair<int64_t, int64_t>, GroupPtr>;
    using It = Map::iterator;

    bool empty() const { return map_.empty(); }
    size_t size() const { return map_.size(); }
    It begin() { return map_.begin(); }
    It end() { return map_.end(); }

    // The first group that q at x does not lie wholly after (end > x).
    It firstNotBefore(int64_t x)
    {
        It it = map_.upper_bound({x, INT64_MAX});
        while (it != map_.begin() && std::prev(it)->second->end > x)
            --it;
        return it;
    }

    GroupPtr take(It it)
    {
        GroupPtr g = std::move(it->second);
        map_.erase(it);
        return g;
    }

    void put(GroupPtr g)
    {
        const auto key = std::make_pair(g->x(), g->end);
        map_.emplace(key, std::move(g));
    }

    // Puts a relocated group g back unless it overlaps a group that holds bytes. A pure-literal
    // piece leaves an empty po node at its old position; spare regions run across such points,
    // so a relocation can land on one. It needs no bytes and joins g, as the group insert would
    // have placed it, instead of failing the patch.
    bool putChecked(GroupPtr g)
    {
        It it = firstNotBefore(g->x());
        while (it != map_.end() && it->second->x() < g->end) {
            const Group &h = *it->second;
            if (!overlaps(g->x(), g->end, h.x(), h.end)) {
                ++it;
                continue;
            }
            if (h.extent() != 0)
                return false;
            GroupPtr empty = take(it++);
            for (PoNode *m : empty->members)
                g->addMember(m);
            g->addMember(empty->leader);
        }
        put(std::move(g));
        return true;
    }

    // Group insert: q joins (and merges) every group its extent overlaps, else starts its own.
    void insert(PoNode *q)
    {
        It it = firstNotBefore(q->x);
        if (it == map_.end() || !overlaps(q->x, q->end(), it->second->x(), it->second->end)) {
            put(std::make_unique<Group>(q));
            return;
        }
        GroupPtr g = std::move(it->second);
        It next = map_.erase(it);
        if (q->x < g->x()) {
            PoNode *former = g->leader;
            g->leader = q;
            g->end = std::max(g->end, q->end());
            g->addMember(former);
        } else {
            g->addMember(q);
        }
        while (next != map_.end() &&
               overlaps(g->x(), g->end, next->second->x(), next->second->end)) {
            GroupPtr h = std::move(next->second);
            next = map_.erase(next);
            for (PoNode *m : h->members)
                g->addMember(m);
            g->addMember(h->leader);
        }
        put(std::move(g));
    }

    // The group holding n, or end().
    It find(const PoNode *n)
    {
        It it = map_.upper_bound({n->x, INT64_MAX});
        while (it != map_.begin()) {
            --it;
            if (it->second->end < n->x)
                break;
            if (it->second->holds(n))
                return it;
        }
        return map_.end();
    }

    // Places nodes that all lie inside one former group's extent. The groups they form are the
    // overlap components of the nodes, whatever order they are inserted in, so they are found
    // by one sweep instead of node-by-node inserts (which cost quadratic time on large groups).
    // Member order inside a group and which of equal-x nodes leads are never observable in a
    // patch: only a group's x, extent and node set are. A component that would touch an
    // existing group's extent falls back to the group insert.
    // `nodes` may already be in byPlace order (`sorted`), which saves the sort.
    void insertAll(std::vector<PoNode *> &nodes, bool sorted = false)
    {
        if (!sorted)
            std::sort(nodes.begin(), nodes.end(), byPlace);
        size_t i = 0;
        while (i < nodes.size()) {
            size_t j = i + 1;
            int64_t end = nodes[i]->end();
            while (j < nodes.size() && overlaps(nodes[i]->x, end, nodes[j]->x, nodes[j]->end())) {
                end = std::max(end, nodes[j]->end());
                ++j;
            }
            It at = firstNotBefore(nodes[i]->x);
            if (at != map_.end() && overlaps(nodes[i]->x, end, at->second->x(), at->second->end)) {
                for (size_t k = i; k < j; ++k)
                    insert(nodes[k]);
            } else {
                auto g = std::make_unique<Group>(nodes[i]);
                g->members.assign(nodes.begin() + long(i) + 1, nodes.begin() + long(j));
                g->end = end;
                put(std::move(g));
            }
            i = j;
        }
        nodes.clear();
    }

    void moveAllInto(GroupList &dst)
    {
        for (auto &kv : map_)
            dst.put(std::move(kv.second));
        map_.clear();
    }

private:
    Map map_;
};

// Free regions of the working image; touching or overlapping regions are merged on adding.
// Visited from the highest address down.
class SpareList {
public:
    void add(int64_t a, int64_t b)
    {
        if (a >= b)
            return;
        auto it = regions_.upper_bound(b);
        while (it != regions_.begin()) {
            auto p = std::prev(it);
            if (p->second < a)
                break;
            a = std::min(a, p->first);
            b = std::max(b, p->second);
            it = regions_.erase(p);
        }
        regions_.emplace(a, b);
    }

    // Removes [a, b) from every region that overlaps it.
    void carve(int64_t a, int64_t b)
    {
        if (a >= b)
            return;
        auto it = regions_.upper_bound(a);
        if (it != regions_.begin() && std::prev(it)->second > a)
            --it;
        while (it != regions_.end() && it->first < b) {
            const int64_t x = it->first;
            const int64_t e = it->second;
            it = regions_.erase(it);
            if (x < a)
                regions_.emplace(x, a);
            if (e > b)
                it = regions_.emplace(b, e).first;
        }
    }

    struct Choice {
        bool found = false;
        int64_t x = 0;
        int64_t end = 0;
        int64_t usable = 0;
    };

    // Best region by the fit rule for `size` bytes, counting only its part inside [s, e).
    Choice search(int64_t s, int64_t e, int64_t size) const
    {
        Choice best;
        auto it = regions_.lower_bound(e);
        while (it != regions_.begin()) {
            --it;
            if (it->second <= s)
                break;
            const int64_t usable = std::min(it->second, e) - std::max(it->first, s);
            if (usable <= 0)
                continue;
            if (!best.found || betterFit(best.usable, usable, size))
                best = Choice{true, it->first, it->second, usable};
        }
        return best;
    }

    bool empty() const { return regions_.empty(); }
    const std::map<int64_t, int64_t> &regions() const { return regions_; }

private:
    std::map<int64_t, int64_t> regions_; // x -> end
};

struct Move {
    int64_t src;
    int64_t dst;
    int64_t flag;
    int64_t len;
};

class Resolver {
public:
    Resolver(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData, int64_t newSize)
        : old_(oldData), oldSize_(oldSize), new_(newData), newSize_(newSize),
          work_(std::max(oldSize, newSize))
    {
    }

    int run(const std::vector<InplaceStretch> &stretches, InplaceStreams &streams,
            InplaceBuildStats &stats);
    void setPrintStats(bool on) { printStats_ = on; }
    void setPowerSafe(bool on) { safe_ = on; }

private:
    PnNode *newPn(int64_t x, int64_t len, int64_t ext)
    {
        pnPool_.emplace_back();
        PnNode *n = &pnPool_.back();
        n->x = x;
        n->len = len;
        n->ext = ext;
        insertPn(n);
        return n;
    }
    // Into the pn list by x, before any node of equal x.
    void insertPn(PnNode *n) { n->self = pnList_.emplace_hint(pnList_.lower_bound(n->x), n->x, n); }
    void moveTo(PnNode *n, int64_t x)
    {
        pnList_.erase(n->self);
        n->x = x;
        insertPn(n);
    }
    // A pn/po pair; the caller places the po node.
    PoNode *makePair(int64_t newX, int64_t len, int64_t ext, int64_t oldX)
    {
        PnNode *pn = newPn(newX, len, ext);
        poPool_.emplace_back();
        PoNode *po = &poPool_.back();
        po->x = oldX;
        po->len = len;
        po->pn = pn;
        pn->link = po;
        return po;
    }
    // Cuts n at old position `at` (inside it): the part below becomes a new pair, returned;
    // n keeps the part above.
    PoNode *cutBelow(PoNode *n, int64_t at)
    {
        const int64_t k = at - n->x;
        PoNode *low = makePair(n->pn->x, k, 0, n->x);
        moveTo(n->pn, n->pn->x + k);
        n->pn->len -= k;
        n->x += k;
        n->len -= k;
        return low;
    }

    bool split(PnNode *h, int64_t room);
    bool removeOutOld(PoNode *o);
    bool retire(PoNode *o);
    void giveBack(int64_t a, int64_t b);
    void collectConflicts(int64_t limit, GroupList &conflict);
    bool relocate(int64_t pos, int64_t window);
    SpareList::Choice chooseSpare(int64_t size, int64_t cur, int64_t last) const;
    // The power-safe relocation and its pieces.
    bool relocateSafe(int64_t pos, int64_t window);
    SpareList::Choice chooseUnits(int64_t size, int64_t from, int64_t last) const;
    void literalize(Group &g);
    bool moveGroup(GroupPtr g, int64_t dst, int64_t flag, int64_t window);
    bool addEntryRoom(int64_t window) const;

    const uint8_t *old_;
    int64_t oldSize_;
    const uint8_t *new_;
    int64_t newSize_;
    std::vector<uint8_t> work_; // the device's image as the patch leaves it so far

    std::deque<PnNode> pnPool_; // owns every node; addresses stay valid
    std::deque<PoNode> poPool_;
    std::multimap<int64_t, PnNode *> pnList_;
    GroupList po_;
    SpareList spare_;

    std::vector<int64_t> entries_; // the window's diff entries, three values each
    std::vector<Move> moves_;
    InplaceBuildStats *stats_ = nullptr;
    bool printStats_ = true;
    bool safe_ = false;
    std::vector<std::pair<int64_t, int64_t>> retired_; // power-safe: given back after the pass
    // Power-safe: the whole units taken by moves; each is given back whole once no group is
    // left in it (the bytes between and after its groups would otherwise never be free again).
    std::vector<std::pair<int64_t, int64_t>> staged_;
    void releaseStaged();
};

bool Resolver::addEntryRoom(int64_t window) const
{
    if (entries_.size() / 3 + moves_.size() < static_cast<size_t>(kInplaceMaxEntries))
        return true;
    std::printf("\nsw_bsdiff_new: window %lld needs more than %d entries, no patch written\n",
                static_cast<long long>(window), kInplaceMaxEntries);
    return false;
}

// Takes o out of its group; the rest of the group is regrouped in its place.
bool Resolver::removeOutOld(PoNode *o)
{
    GroupList::It it = po_.find(o);
    if (it == po_.end()) {
        std::printf("\nerror removeOutOld() - can not find po\n");
        return false;
    }
    GroupPtr g = po_.take(it);
    // The members are in sweep order already: removing o and placing the leader keeps it, so a
    // removal costs one pass over its group instead of a sort.
    std::vector<PoNode *> rest;
    rest.reserve(g->members.size() + 1);
    for (PoNode *m : g->members)
        if (m != o)
            rest.push_back(m);
    if (g->leader != o)
        rest.insert(std::upper_bound(rest.begin(), rest.end(), g->leader, byPlace), g->leader);
    po_.insertAll(rest, true);
    return true;
}

// Returns [a, b) as spare except where groups still cover it.
void Resolver::giveBack(int64_t a, int64_t b)
{
    if (a >= b)
        return;
    int64_t cursor = a;
    for (GroupList::It it = po_.firstNotBefore(a); it != po_.end() && it->second->x() < b; ++it) {
        const Group &g = *it->second;
        if (!overlaps(a, b, g.x(), g.end))
            continue;
        if (cursor < g.x())
            spare_.add(cursor, g.x());
        cursor = std::max(cursor, g.end);
        if (g.end >= b)
            break;
    }
    if (cursor < b)
        spare_.add(cursor, b);
}

bool Resolver::retire(PoNode *o)
{
    if (!removeOutOld(o))
        return false;
    // Power-safe: the window's own sources stay out of the spare list until its moves are
    // placed, so that no move lands on bytes the window is built from.
    if (safe_)
        retired_.emplace_back(o->x, o->end());
    else
        giveBack(o->x, o->end());
    o->pn = nullptr;
    return true;
}

// Splits the head h so that exactly `room` bytes remain in this window. The piece that fills
// the room is placed before h; h keeps the rest at its true new position.
bool Resolver::split(PnNode *h, int64_t room)
{
    PoNode *o = h->link;
    if (!o) {
        newPn(h->x, 0, room); // pure literal, like h
        moveTo(h, h->x + room);
        h->ext -= room;
        return true;
    }
    if (!removeOutOld(o))
        return false;
    if (room < o->len) {
        po_.insert(makePair(h->x, room, 0, o->x));
        moveTo(h, h->x + room);
        h->len -= room;
        o->x += room;
        o->len -= room;
        po_.insert(o);
    } else {
        const int64_t rest = h->ext - (room - o->len);
        po_.insert(makePair(h->x, o->len, room - o->len, o->x));
        moveTo(h, h->x + room);
        h->len = 0;
        h->ext = rest;
        h->link = nullptr;
        o->pn = nullptr;
    }
    return true;
}

SpareList::Choice Resolver::chooseSpare(int64_t size, int64_t cur, int64_t last) const
{
    const int64_t windows = (static_cast<int64_t>(work_.size()) + kWin - 1) / kWin;
    SpareList::Choice c = spare_.search(last * kWin, (last + 1) * kWin, size);
    if (c.usable >= size && c.found)
        return c;
    if (last + 1 < windows) {
        c = spare_.search(last * kWin, windows * kWin, size);
        if (c.usable >= size && c.found)
            return c;
    }
    if (cur < last)
        c = spare_.search(cur * kWin, windows * kWin, size);
    return c;
}

// Takes every group that overlaps [0, limit) out of the po list into `conflict`, nodes that
// straddle the limit cut there (their upper parts stay).
void Resolver::collectConflicts(int64_t limit, GroupList &conflict)
{
    for (;;) {
        GroupList::It it = po_.begin();
        while (it != po_.end() && it->second->x() < limit &&
               !overlaps(0, limit, it->second->x(), it->second->end))
            ++it;
        if (it == po_.end() || it->second->x() >= limit)
            break;
        GroupPtr g = po_.take(it);
        std::vector<PoNode *> above;
        std::vector<PoNode *> below;
        auto route = [&](PoNode *n) {
            if (n->x >= limit) {
                above.push_back(n);
            } else if (n->end() <= limit) {
                below.push_back(n);
            } else {
                below.push_back(cutBelow(n, limit));
                above.push_back(n);
            }
        };
        for (PoNode *m : g->members)
            route(m);
        route(g->leader);
        po_.insertAll(above);
        conflict.insertAll(below);
    }
}

// Moves every group that still holds needed old bytes below pos into spare space above it.
bool Resolver::relocate(int64_t pos, int64_t window)
{
    GroupList conflict;
    collectConflicts(pos, conflict);
    if (conflict.empty())
        return true;
    ++stats_->relocationPasses;

    const int64_t cur = pos / kWin;
    while (!conflict.empty()) {
        int64_t total = 0;
        int64_t last = 0;
        for (auto &kv : conflict) {
            const Group &g = *kv.second;
            total += g.extent();
            last = std::max(last, g.leader->pn->x / kWin);
            for (const PoNode *m : g.members)
                last = std::max(last, m->pn->x / kWin);
        }
        const SpareList::Choice region = chooseSpare(total, cur, last);
        if (total > 0 && (!region.found || region.usable <= 0)) {
            std::printf("\nsw_bsdiff_new: no spare space left for %lld bytes in window %lld, "
                        "no patch written\n",
                        static_cast<long long>(total), static_cast<long long>(window));
            return false;
        }

        GroupList selected;
        int64_t size = total;
        if (region.usable >= total) {
            conflict.moveAllInto(selected);
        } else {
            size = region.usable;
            int64_t need = size;
            while (!conflict.empty()) {
                GroupList::It best = conflict.begin();
                for (GroupList::It it = std::next(best); it != conflict.end(); ++it)
                    if (betterFit(best->second->extent(), it->second->extent(), need))
                        best = it;
                GroupPtr g = conflict.take(best);
                const int64_t extent = g->extent();
                const int64_t cut = g->x() + need;
                std::vector<PoNode *> above;
                std::vector<PoNode *> below;
                auto route = [&](PoNode *n) {
                    if (n->x >= cut) {
                        above.push_back(n);
                    } else if (n->end() <= cut) {
                        below.push_back(n);
                    } else {
                        below.push_back(cutBelow(n, cut));
                        above.push_back(n);
                    }
                };
                for (PoNode *m : g->members)
                    route(m);
                route(g->leader);
                conflict.insertAll(above);
                selected.insertAll(below);
                if (extent >= need)
                    break;
                need -= extent;
            }
        }

        // An empty move set with no region left has nowhere to go and needs nowhere: keep pos.
        int64_t dst = (region.found ? region.end : pos) - size;
        spare_.carve(dst, dst + size);
        const size_t count = selected.size();
        for (size_t i = 0; i < count; ++i) {
            GroupPtr g = selected.take(selected.begin());
            const int64_t len = g->extent();
            const int64_t src = g->x();
            if (len)
                std::memmove(work_.data() + dst, work_.data() + src, static_cast<size_t>(len));
            const int64_t flag = count == 1 ? 0 : i == 0 ? 1 : i + 1 == count ? 3 : 2;
            if (!addEntryRoom(window))
                return false;
            moves_.push_back(Move{src, dst, flag, len});
            stats_->movedBytes += len;
            g->shift(dst - src);
            if (!po_.putChecked(std::move(g))) {
                std::printf("\n   Error!!! moveConflict_New3()-preInsertP return not null!");
                std::printf("\nsw_bsdiff_new: relocated data overlaps needed data, "
                            "no patch written\n");
                return false;
            }
            dst += len;
        }
    }
    return true;
}

int64_t roundUp(int64_t v, int64_t unit) { return (v + unit - 1) / unit * unit; }

// Power-safe relocation: groups at most this far apart move together.
constexpr int64_t kInplaceRunGap = 1024;
int64_t roundDown(int64_t v, int64_t unit) { return v / unit * unit; }

// The best run of whole erase units for `size` bytes (by the fit rule) in the spare regions at
// or above `from`: first above the window that needs the bytes (they never move again), then
// anywhere. `usable` is a multiple of the unit; not found when no region holds a whole unit.
SpareList::Choice Resolver::chooseUnits(int64_t size, int64_t from, int64_t last) const
{
    const int64_t unit = kInplacePowerSafeUnit;
    const int64_t top = static_cast<int64_t>(work_.size());
    SpareList::Choice best;
    for (const int64_t start : {std::max(from, roundUp((last + 1) * kWin, unit)), from}) {
        for (const auto &r : spare_.regions()) {
            const int64_t a = roundUp(std::max(r.first, start), unit);
            const int64_t b = roundDown(std::min(r.second, top), unit);
            if (b - a >= unit && (!best.found || betterFit(best.usable, b - a, size)))
                best = SpareList::Choice{true, a, b, b - a};
        }
        if (best.found && best.usable >= size)
            return best;
    }
    return best;
}

// The group's bytes are taken from the package instead: every piece that would read them
// becomes literal bytes of its window.
void Resolver::literalize(Group &g)
{
    auto drop = [](PoNode *n) {
        if (PnNode *p = n->pn) {
            p->ext += p->len;
            p->len = 0;
            p->link = nullptr;
        }
        n->pn = nullptr;
    };
    for (PoNode *m : g.members)
        drop(m);
    drop(g.leader);
}

bool Resolver::moveGroup(GroupPtr g, int64_t dst, int64_t flag, int64_t window)
{
    const int64_t len = g->extent();
    const int64_t src = g->x();
    if (len)
        std::memmove(work_.data() + dst, work_.data() + src, static_cast<size_t>(len));
    if (!addEntryRoom(window))
        return false;
    moves_.push_back(Move{src, dst, flag, len});
    stats_->movedBytes += len;
    g->shift(dst - src);
    if (!po_.putChecked(std::move(g))) {
        std::printf("\n   Error!!! moveConflict_New3()-preInsertP return not null!");
        std::printf("\nsw_bsdiff_new: relocated data overlaps needed data, no patch written\n");
        return false;
    }
    return true;
}

// Power-safe relocation after the window that ends at pos. Everything still needed that lies
// in the units the next window rewrites, or below, moves to whole spare units above them, one
// group per move (flag 0), so that:
//  - no window is built from bytes in the units it rewrites (the next window's sources are
//    moved out now; window 0's were made literal before);
//  - no move lands on its own window's sources (they are given back only after this pass);
//  - no move shares an erase unit with bytes still needed (its units are wholly spare and are
//    not handed out again while its bytes live).
// A group that finds no whole spare unit is made literal.
bool Resolver::relocateSafe(int64_t pos, int64_t window)
{
    const int64_t unit = kInplacePowerSafeUnit;
    if (pos >= newSize_)
        return true;
    const int64_t limit = roundUp(std::min(pos + kWin, newSize_), unit);
    GroupList conflict;
    collectConflicts(limit, conflict);
    if (conflict.empty())
        return true;
    ++stats_->relocationPasses;
    const auto lastWindow = [](const Group &g) {
        int64_t last = g.leader->pn->x / kWin;
        for (const PoNode *m : g.members)
            last = std::max(last, m->pn->x / kWin);
        return last;
    };
    while (!conflict.empty()) {
        GroupPtr g = conflict.take(conflict.begin());
        if (g->extent() == 0) { // pure-literal pieces only: nothing to keep
            literalize(*g);
            continue;
        }
        // Groups close together move as one run (the bytes between them travel along), so
        // that small groups do not each take a unit of their own.
        std::vector<GroupPtr> run;
        int64_t runEnd = g->end;
        int64_t last = lastWindow(*g);
        while (!conflict.empty()) {
            GroupList::It next = conflict.begin();
            const Group &h = *next->second;
            if (h.x() - runEnd > kInplaceRunGap || h.end - g->x() > kWin)
                break;
            if (h.extent() == 0) {
                literalize(*conflict.take(next));
                continue;
            }
            runEnd = std::max(runEnd, h.end);
            last = std::max(last, lastWindow(h));
            run.push_back(conflict.take(next));
        }
        if (!run.empty()) {
            const int64_t size = roundUp(runEnd - g->x(), unit);
            const SpareList::Choice c = chooseUnits(size, limit, last);
            if (c.found && c.usable >= size) {
                const int64_t src = g->x();
                const int64_t dst = c.end - size;
                spare_.carve(dst, dst + size);
                staged_.emplace_back(dst, dst + size);
                if (!addEntryRoom(window))
                    return false;
                std::memmove(work_.data() + dst, work_.data() + src,
                             static_cast<size_t>(runEnd - src));
                moves_.push_back(Move{src, dst, 0, runEnd - src});
                stats_->movedBytes += runEnd - src;
                run.push_back(std::move(g));
                for (GroupPtr &m : run) {
                    m->shift(dst - src);
                    if (!po_.putChecked(std::move(m))) {
                        std::printf("\n   Error!!! moveConflict_New3()-preInsertP return not "
                                    "null!");
                        std::printf("\nsw_bsdiff_new: relocated data overlaps needed data, no "
                                    "patch written\n");
                        return false;
                    }
                }
                continue;
            }
            for (GroupPtr &m : run) // no room for the run: its groups go one by one
                conflict.put(std::move(m));
        }
        const SpareList::Choice c = chooseUnits(roundUp(g->extent(), unit), limit, lastWindow(*g));
        if (!c.found) {
            literalize(*g);
            continue;
        }
        if (c.usable < g->extent()) {
            // The lower part fills the units found; the rest waits for the next choice.
            const int64_t cut = g->x() + c.usable;
            std::vector<PoNode *> above;
            std::vector<PoNode *> below;
            auto route = [&](PoNode *n) {
                if (n->x >= cut) {
                    above.push_back(n);
                } else if (n->end() <= cut) {
                    below.push_back(n);
                } else {
                    below.push_back(cutBelow(n, cut));
                    above.push_back(n);
                }
            };
            for (PoNode *m : g->members)
                route(m);
            route(g->leader);
            conflict.insertAll(above);
            GroupList lower;
            lower.insertAll(below);
            while (!lower.empty())
                conflict.put(lower.take(lower.begin()));
            continue;
        }
        const int64_t size = roundUp(g->extent(), unit);
        const int64_t dst = c.end - size;
        spare_.carve(dst, dst + size);
        staged_.emplace_back(dst, dst + size);
        if (!moveGroup(std::move(g), dst, 0, window))
            return false;
    }
    return true;
}

void Resolver::releaseStaged()
{
    size_t kept = 0;
    for (const auto &r : staged_) {
        GroupList::It it = po_.firstNotBefore(r.first);
        bool used = false;
        for (; it != po_.end() && it->second->x() < r.second && !used; ++it)
            used = overlaps(r.first, r.second, it->second->x(), it->second->end) ||
                   (it->second->extent() == 0 && it->second->x() >= r.first);
        if (used)
            staged_[kept++] = r;
        else
            spare_.add(r.first, r.second);
    }
    staged_.resize(kept);
}

int Resolver::run(const std::vector<InplaceStretch> &stretches, InplaceStreams &streams,
                  InplaceBuildStats &stats)
{
    stats_ = &stats;
    const int64_t workSize = static_cast<int64_t>(work_.size());
    if (oldSize_)
        std::memcpy(work_.data(), old_, static_cast<size_t>(oldSize_));

    // A. The pairs, grouped on the old side, and the spare space between the groups.
    int64_t expect = 0;
    for (const InplaceStretch &s : stretches) {
        if (s.newPos != expect || s.diffLen < 0 || s.extraLen < 0 || s.oldPos < 0 ||
            int64_t(s.oldPos) + s.diffLen > oldSize_) {
            std::printf("\nsw_bsdiff_new: scan result out of order, no patch written\n");
            return -1;
        }
        expect += int64_t(s.diffLen) + s.extraLen;
        if (s.diffLen == 0 && s.extraLen == 0)
            continue;
        po_.insert(makePair(s.newPos, s.diffLen, s.extraLen, s.oldPos));
        ++stats.pairs;
    }
    if (expect != newSize_) {
        std::printf("\nsw_bsdiff_new: scan result does not cover the new image, "
                    "no patch written\n");
        return -1;
    }
    int64_t cursor = 0;
    for (auto &kv : po_) {
        const Group &g = *kv.second;
        if (cursor < g.x())
            spare_.add(cursor, g.x());
        cursor = g.end;
        ++stats.groups;
        stats.members += static_cast<int32_t>(g.members.size());
    }
    if (cursor < workSize)
        spare_.add(cursor, workSize);
    int diffNodes = 0;
    int extNodes = 0;
    for (const auto &kv : pnList_) {
        diffNodes += kv.second->len != 0;
        extNodes += kv.second->ext != 0;
    }
    if (printStats_) {
        std::printf("\n Totail = %d                Node = %d    Lab = %d",
                    stats.groups + stats.members, stats.groups, stats.members);
        std::printf("\n diff = %d    ext = %d\n", diffNodes, extNodes);
    }

    // B. Window by window: the window's entries, then the relocations its write forces.
    std::vector<uint8_t> &control = streams.control;
    std::vector<uint8_t> &diff = streams.diff;
    std::vector<uint8_t> &extra = streams.extra;
    control.clear();
    diff.clear();
    extra.clear();
    diff.reserve(static_cast<size_t>(newSize_));
    int64_t pos = 0;
    int64_t window = 0;
    while (!pnList_.empty()) {
        inplace_progress("in-place patch: resolving", static_cast<int>(pos * 100 / newSize_));
        const int64_t end = pos + kWin;
        entries_.clear();
        moves_.clear();
        while (pos < end && !pnList_.empty()) {
            PnNode *h = pnList_.begin()->second;
            if (pos + h->len + h->ext > end && !split(h, end - pos))
                return -1;
            PnNode *p = pnList_.begin()->second;
            pnList_.erase(pnList_.begin());
            PoNode *o = p->link;
            if (p->x != pos || (o && (o->len != p->len || o->x < 0 || o->end() > workSize)) ||
                (!o && p->len != 0) || pos + p->len + p->ext > newSize_) {
                std::printf("\nsw_bsdiff_new: internal inconsistency at new offset %lld, "
                            "no patch written\n",
                            static_cast<long long>(pos));
                return -1;
            }
            if (!addEntryRoom(window))
                return -1;
            const uint8_t *src = new_ + pos;
            for (int64_t i = 0; i < p->len; ++i)
                diff.push_back(static_cast<uint8_t>(src[i] - work_[static_cast<size_t>(o->x + i)]));
            extra.insert(extra.end(), src + p->len, src + p->len + p->ext);
            entries_.push_back(o ? o->x : 0);
            entries_.push_back(o ? o->len : 0);
            entries_.push_back(p->ext);
            pos += p->len + p->ext;
            if (o && !retire(o))
                return -1;
        }
        if (!(safe_ ? relocateSafe(pos, window) : relocate(pos, window)))
            return -1;
        for (const auto &r : retired_)
            giveBack(r.first, r.second);
        retired_.clear();
        if (safe_)
            releaseStaged();
        const size_t n = entries_.size() / 3;
        putSm4(control, static_cast<int64_t>(n));
        putSm4(control, static_cast<int64_t>(moves_.size()));
        for (int64_t v : entries_)
            putSm4(control, v);
        for (const Move &m : moves_) {
            putSm4(control, m.src);
            putSm4(control, inplace_move_word(m.dst, m.flag));
            putSm4(control, m.len);
        }
        stats.diffEntries += static_cast<int32_t>(n);
        stats.moves += static_cast<int32_t>(moves_.size());
        spare_.carve(0, pos);
        ++window;
    }
    stats.windows = static_cast<int32_t>(window);
    if (pos != newSize_) {
        std::printf("\nsw_bsdiff_new: windows do not cover the new image, no patch written\n");
        return -1;
    }
    return 0;
}

// LZMA never grows data by more than a small fraction; this bound is generous.
size_t packCapacity(size_t n) { return n + n / 2 + 4096; }

bool packStream(const std::vector<uint8_t> &src, std::vector<uint8_t> &out, bool strong,
                TaskPool *pool)
{
    // The capacity is left uninitialised: only the pages the stream is written to are touched.
    size_t len = packCapacity(src.size());
    std::unique_ptr<uint8_t[]> room(new uint8_t[len]);
    const int rc = strong ? lzma_pack_smallest(src.data(), src.size(), room.get(), &len, pool)
                          : lzma_pack(src.data(), src.size(), room.get(), &len);
    if (rc != 0)
        return false;
    out.assign(room.get(), room.get() + len);
    return true;
}

} // namespace

int packInplaceContainer(const std::vector<uint8_t> &control, const std::vector<uint8_t> &diff,
                         const std::vector<uint8_t> &extra, std::vector<uint8_t> &patch,
                         bool strong, TaskPool *pool)
{
    std::vector<uint8_t> c;
    std::vector<uint8_t> d;
    std::vector<uint8_t> x;
    inplace_progress("in-place patch: compressing", -1);
    if (!pool || pool->threads() < 2) {
        if (!packStream(control, c, strong, nullptr) || !packStream(diff, d, strong, nullptr) ||
            (!extra.empty() && !packStream(extra, x, strong, nullptr)))
            return -1;
    } else {
        // The three streams are independent: compressed at once, the largest (diff) first.
        const std::vector<uint8_t> *src[3] = {&diff, &control, &extra};
        std::vector<uint8_t> *dst[3] = {&d, &c, &x};
        bool ok[3] = {false, false, false};
        std::atomic<bool> outOfMemory{false};
        const size_t count = extra.empty() ? 2 : 3;
        const bool ran = pool->run(count, [&](size_t i) {
            try {
                ok[i] = packStream(*src[i], *dst[i], strong, pool);
            } catch (const std::bad_alloc &) {
                outOfMemory = true;
            }
        });
        if (outOfMemory || !ran)
            throw std::bad_alloc(); // as the one-after-the-other path reports it
        if (!ok[0] || !ok[1] || (count == 3 && !ok[2]))
            return -1;
    }
    patch.clear();
    patch.reserve(kInplaceHeaderSize + c.size() + d.size() + x.size());
    patch.insert(patch.end(), kPatchMagic, kPatchMagic + kPatchMagicSize);
    putSm4(patch, static_cast<int64_t>(c.size()));
    putSm4(patch, static_cast<int64_t>(d.size()));
    putSm4(patch, static_cast<int64_t>(x.size()));
    patch.insert(patch.end(), c.begin(), c.end());
    patch.insert(patch.end(), d.begin(), d.end());
    patch.insert(patch.end(), x.begin(), x.end());
    return 0;
}

int buildInplacePatch(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                      int32_t newSize, const std::vector<InplaceStretch> &stretches,
                      std::vector<uint8_t> &patch, InplaceBuildStats *stats, bool strong,
                      TaskPool *pool, bool powerSafe)
{
    InplaceStreams streams;
    if (resolveInplace(oldData, oldSize, newData, newSize, stretches, streams, stats, true,
                       powerSafe) != 0)
        return -1;
    return packInplaceContainer(streams.control, streams.diff, streams.extra, patch, strong,
                                pool);
}

std::vector<InplaceStretch> powerSafeStretches(const std::vector<InplaceStretch> &stretches,
                                               int32_t newSize, int32_t oldSize)
{
    const int64_t unit = kInplacePowerSafeUnit;
    const int64_t window = std::min<int64_t>(kWin, newSize);
    const int64_t units = roundUp(window, unit);
    const int64_t above = std::max<int64_t>(oldSize, newSize) - roundUp(newSize, unit);
    const int64_t tail = std::max<int64_t>(window, newSize - std::max<int64_t>(0, 2 * kWin - above));
    std::vector<InplaceStretch> out;
    out.reserve(stretches.size() + 8);
    for (const InplaceStretch &s : stretches) {
        // The diff bytes i to make literal are a prefix (the first window's bytes that read its
        // units) or a suffix (the bytes from `tail` on) of the diff part.
        const int64_t head = s.newPos < window && s.oldPos < units
                                 ? std::min<int64_t>({s.diffLen, window - s.newPos,
                                                      units - s.oldPos})
                                 : 0;
        const int64_t keepEnd =
            std::max<int64_t>(head, std::min<int64_t>(s.diffLen, tail - s.newPos));
        // [0, head) literal, [head, keepEnd) kept, [keepEnd, diffLen) literal, then the extra.
        const int32_t h = static_cast<int32_t>(head);
        const int32_t k = static_cast<int32_t>(keepEnd);
        if (h == 0 && k == s.diffLen) {
            out.push_back(s);
            continue;
        }
        if (h > 0)
            out.push_back(InplaceStretch{s.newPos, 0, 0, h});
        if (k > h)
            out.push_back(InplaceStretch{s.newPos + h, s.oldPos + h, k - h, 0});
        out.push_back(InplaceStretch{s.newPos + k, 0, 0, s.diffLen - k + s.extraLen});
        if (out.back().extraLen == 0)
            out.pop_back();
    }
    return out;
}

int resolveInplace(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                   int32_t newSize, const std::vector<InplaceStretch> &stretches,
                   InplaceStreams &streams, InplaceBuildStats *stats, bool printStats,
                   bool powerSafe)
{
    InplaceBuildStats local;
    Resolver r(oldData, oldSize, newData, newSize);
    r.setPrintStats(printStats);
    r.setPowerSafe(powerSafe);
    const int rc = powerSafe ? r.run(powerSafeStretches(stretches, newSize, oldSize), streams,
                                     local)
                             : r.run(stretches, streams, local);
    if (stats)
        *stats = local;
    return rc;
}

} // namespace deltamaker::detail

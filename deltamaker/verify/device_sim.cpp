#include "deltamaker/verify/device_sim.h"

#include "deltamaker/format/package_layout.h"
#include "deltamaker/format/patch_layout.h"
#include "deltamaker/verify/block_patch.h"
#include "deltamaker/verify/inplace_apply.h"
#include "deltamaker/verify/package_verify_p.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

namespace detail = deltamaker::detail;
using detail::format_text;

namespace {

// Loader RAM figures. An LZMA decoder's probability table is 2 * (1846 + 0x300 << (lc + lp))
// bytes, lc = lp = 0 for every stream we make; a decoder that streams keeps the dictionary too.
constexpr uint64_t kLzmaProbBytes = 2 * (1846 + 0x300);
constexpr uint64_t kLzmaDictBytes = 0x2000;
constexpr uint64_t kWindow = static_cast<uint64_t>(kInplaceWindowSize);
// Images the model runs: firmware is megabytes, and a header may name any 32-bit size, which a
// stream of a few megabytes can nearly decode to.
constexpr uint64_t kMaxImage = uint64_t(256) << 20;

struct Range {
    uint64_t addr = 0;
    uint64_t len = 0;
    uint64_t end() const { return addr + len; }
};

// Disjoint ranges, merged when they touch.
class RangeSet {
public:
    void add(uint64_t a, uint64_t b)
    {
        if (a >= b)
            return;
        auto it = map_.upper_bound(b);
        while (it != map_.begin()) {
            auto p = std::prev(it);
            if (p->second < a)
                break;
            a = std::min(a, p->first);
            b = std::max(b, p->second);
            it = map_.erase(p);
        }
        map_.emplace(a, b);
    }
    void remove(uint64_t a, uint64_t b)
    {
        if (a >= b)
            return;
        auto it = map_.upper_bound(a);
        if (it != map_.begin() && std::prev(it)->second > a)
            --it;
        while (it != map_.end() && it->first < b) {
            const uint64_t x = it->first;
            const uint64_t e = it->second;
            it = map_.erase(it);
            if (x < a)
                map_.emplace(x, a);
            if (e > b)
                it = map_.emplace(b, e).first;
        }
    }
    std::vector<Range> clip(uint64_t a, uint64_t b) const
    {
        std::vector<Range> out;
        auto it = map_.upper_bound(a);
        if (it != map_.begin())
            --it;
        for (; it != map_.end() && it->first < b; ++it) {
            const uint64_t x = std::max(a, it->first);
            const uint64_t e = std::min(b, it->second);
            if (x < e)
                out.push_back({x, e - x});
        }
        return out;
    }

private:
    std::map<uint64_t, uint64_t> map_; // start -> end
};

bool inRanges(const std::vector<Range> &ranges, uint64_t p)
{
    auto it = std::upper_bound(ranges.begin(), ranges.end(), p,
                               [](uint64_t v, const Range &r) { return v < r.addr; });
    return it != ranges.begin() && p < std::prev(it)->end();
}

// Erase and program operations of one run, with an optional cut after `limit` of them.
struct Ops {
    uint64_t erases = 0;
    uint64_t programs = 0;
    uint64_t bytesRead = 0;
    uint64_t limit = 0; // 0: no cut
    uint64_t done = 0;
    bool cut = false;
    std::map<uint64_t, uint64_t> *eraseCounts = nullptr; // unit -> erases, when counted

    // Counts one operation; false when the power goes right after it.
    bool step()
    {
        ++done;
        if (limit != 0 && done >= limit) {
            cut = true;
            return false;
        }
        return true;
    }
};

// The flash, by erase unit; a unit never written reads as erased (0xFF).
class Flash {
public:
    Flash(uint32_t unit, uint32_t page) : unit_(unit), page_(page) {}

    uint32_t unit() const { return unit_; }

    void poke(uint64_t addr, const uint8_t *data, size_t n)
    {
        while (n > 0) {
            const uint64_t u = addr / unit_;
            const size_t off = static_cast<size_t>(addr % unit_);
            const size_t take = std::min<size_t>(n, unit_ - off);
            std::memcpy(unitBytes(u).data() + off, data, take);
            addr += take;
            data += take;
            n -= take;
        }
    }

    void read(uint64_t addr, uint8_t *out, size_t n) const
    {
        while (n > 0) {
            const uint64_t u = addr / unit_;
            const size_t off = static_cast<size_t>(addr % unit_);
            const size_t take = std::min<size_t>(n, unit_ - off);
            const auto it = units_.find(u);
            if (it == units_.end())
                std::memset(out, 0xFF, take);
            else
                std::memcpy(out, it->second.data() + off, take);
            addr += take;
            out += take;
            n -= take;
        }
    }

    std::vector<uint8_t> bytes(uint64_t addr, uint64_t n) const
    {
        std::vector<uint8_t> v(static_cast<size_t>(n));
        read(addr, v.data(), v.size());
        return v;
    }

    // Writes [addr, addr + n) unit by unit: the unit's other bytes are read, the unit erased and
    // programmed back page by page (pages left all 0xFF are skipped). False on a cut.
    bool write(uint64_t addr, const uint8_t *data, size_t n, bool descending, Ops &ops)
    {
        if (n == 0)
            return true;
        const uint64_t first = addr / unit_;
        const uint64_t last = (addr + n - 1) / unit_;
        for (uint64_t k = 0; k <= last - first; ++k) {
            const uint64_t u = descending ? last - k : first + k;
            const uint64_t a = std::max(addr, u * unit_);
            const uint64_t b = std::min<uint64_t>(addr + n, (u + 1) * unit_);
            if (!writeUnit(u, static_cast<size_t>(a - u * unit_), data + (a - addr),
                           static_cast<size_t>(b - a), ops))
                return false;
        }
        return true;
    }

    bool writeUnit(uint64_t u, size_t off, const uint8_t *data, size_t n, Ops &ops)
    {
        std::vector<uint8_t> &bytes = unitBytes(u);
        std::vector<uint8_t> merged = bytes;
        ops.bytesRead += unit_ - n; // the bytes the write keeps
        std::memcpy(merged.data() + off, data, n);
        std::fill(bytes.begin(), bytes.end(), 0xFF);
        ++ops.erases;
        if (ops.eraseCounts)
            ++(*ops.eraseCounts)[u];
        if (!ops.step())
            return false;
        for (size_t p = 0; p < unit_; p += page_) {
            const uint8_t *src = merged.data() + p;
            if (std::all_of(src, src + page_, [](uint8_t b) { return b == 0xFF; }))
                continue;
            std::memcpy(bytes.data() + p, src, page_);
            ++ops.programs;
            if (!ops.step())
                return false;
        }
        return true;
    }

private:
    std::vector<uint8_t> &unitBytes(uint64_t u)
    {
        auto it = units_.find(u);
        if (it == units_.end())
            it = units_.emplace(u, std::vector<uint8_t>(unit_, 0xFF)).first;
        return it->second;
    }

    uint32_t unit_;
    uint32_t page_;
    std::unordered_map<uint64_t, std::vector<uint8_t>> units_;
};

// ---- The plan: the steps a package makes the loader take --------------------------------------

struct ImageSlot {
    std::string partition;
    std::string image;
    uint64_t addr = 0;
    uint64_t size = 0;
    uint64_t partAddr = 0;
    uint64_t partSize = 0;
    DeviceImage expected;
};

struct PlanWindow {
    size_t firstEntry = 0;
    size_t diffAt = 0;
    size_t extraAt = 0;
    uint64_t start = 0; // flash address
    uint64_t span = 0;
    std::vector<Range> reads; // the flash bytes its entries read, in entry order
};

struct PlanStep {
    DeviceStep info;
    size_t slot = 0;
    const uint8_t *data = nullptr; // stored and stream steps: the bytes; records: the record data
    size_t dataLen = 0;
    const PackageRecord *record = nullptr;
    std::vector<Range> reads; // the step's own reads
    bool firstOfWindow = false;
    bool descending = false;
    Range write() const { return {info.addr, info.len}; }
};

struct Plan {
    std::vector<uint8_t> pkg;  // own copies: steps point into them
    std::vector<uint8_t> old;
    bool oldGiven = false;
    PackageLayout layout = PackageLayout::Unknown;
    std::vector<ImageSlot> slots;
    std::vector<PlanStep> steps;
    PackageInfo info;
    InplacePatchContents inplace;
    std::vector<PlanWindow> windows;
    uint64_t base = 0; // in-place image
    std::vector<uint8_t> streamImage;
    uint64_t oldAddr = 0;
    bool checkOldCrc = false; // in-place: the loader checks the image it patches first
    bool checkHashes = true;  // false: no old image to check against (figures only)
    uint32_t oldCrcSize = 0;
    uint32_t oldCrc = 0;
    std::vector<std::string> notes;
    // A record's new block, once decoded: it depends only on the record and on an old block
    // that its SHA-256 check has already pinned down.
    mutable std::map<size_t, std::vector<uint8_t>> decoded;
};

const PartEntry *findPart(const std::vector<PartEntry> &parts, const char *name)
{
    for (const PartEntry &e : parts)
        if (part_name_equals(e.name, name))
            return &e;
    return nullptr;
}

size_t addSlot(Plan &plan, const PartEntry &part, const char *image, uint64_t addr, uint64_t size,
               const DeviceImage &expected)
{
    ImageSlot s;
    s.partition = std::string(part.name, strnlen(part.name, kPartNameSize));
    s.image = image;
    s.addr = addr;
    s.size = size;
    s.partAddr = part.addr;
    s.partSize = part.size;
    s.expected = expected;
    plan.slots.push_back(s);
    return plan.slots.size() - 1;
}

bool needPart(const std::vector<PartEntry> &parts, const char *name, const PartEntry *&out,
              std::string &error)
{
    out = findPart(parts, name);
    if (!out)
        error = format_text("partition \"%s\" is not in the table", name);
    return out != nullptr;
}

// A stored image written whole at `addr` of partition `part`.
bool planStored(Plan &plan, const PartEntry &part, const char *image, const char *what,
                uint64_t addr, const uint8_t *data, size_t len, const DeviceImage &expected,
                uint64_t ram, std::string &error)
{
    if (len == 0)
        return true;
    if (addr + len > uint64_t(part.addr) + part.size) {
        error = format_text("%s of %zu bytes does not fit partition %.16s", what, len, part.name);
        return false;
    }
    PlanStep s;
    s.slot = addSlot(plan, part, image, addr, len, expected);
    s.info.kind = DeviceStepKind::Stored;
    s.info.partition = plan.slots[s.slot].partition;
    s.info.what = what;
    s.info.addr = addr;
    s.info.len = len;
    s.info.ram = ram;
    s.data = data;
    s.dataLen = len;
    plan.steps.push_back(std::move(s));
    return true;
}

bool planInplace(Plan &plan, const PartEntry &part, const uint8_t *patch, size_t patchSize,
                 uint64_t oldSize, uint64_t newSize, const DeviceImage &expected,
                 uint64_t eraseUnit, std::string &error)
{
    std::string why;
    if (std::max(oldSize, newSize) > std::min<uint64_t>(part.size, kMaxImage)) {
        error = format_text("the in-place image of %llu bytes does not fit partition %.16s",
                            static_cast<unsigned long long>(std::max(oldSize, newSize)),
                            part.name);
        return false;
    }
    if (!decode_inplace_patch(patch, patchSize, static_cast<size_t>(newSize), plan.inplace, why)) {
        error = "in-place patch: " + why;
        return false;
    }
    const uint64_t work = std::max(oldSize, newSize);
    plan.base = part.addr;
    if (work > part.size) {
        error = format_text("the in-place image of %llu bytes does not fit partition %.16s",
                            static_cast<unsigned long long>(work), part.name);
        return false;
    }
    const size_t slot = addSlot(plan, part, "firmware", part.addr, newSize, expected);
    size_t entries = 0, maxEntries = 0, diffAt = 0, extraAt = 0;
    for (const InplaceWindow &w : plan.inplace.windows)
        maxEntries = std::max(maxEntries, w.entries.size() + w.moves.size());
    const bool extra = !plan.inplace.extra.empty();
    // Window buffer, the entry table, a streaming decoder per stream, the erase-unit buffer.
    const uint64_t ram = kWindow + maxEntries * kInplaceEntrySize +
                         (extra ? 3 : 2) * (kLzmaProbBytes + kLzmaDictBytes) + eraseUnit;
    for (size_t k = 0; k < plan.inplace.windows.size(); ++k) {
        const InplaceWindow &w = plan.inplace.windows[k];
        PlanWindow pw;
        pw.firstEntry = entries;
        pw.diffAt = diffAt;
        pw.extraAt = extraAt;
        pw.start = part.addr + k * kWindow;
        pw.span = std::min(kWindow, newSize - k * kWindow);
        uint64_t built = 0;
        for (const InplaceDiffEntry &e : w.entries) {
            const uint64_t len = static_cast<uint64_t>(e.diffLen);
            if (len > 0) {
                if (e.oldPos < 0 || uint64_t(e.oldPos) + len > work) {
                    error = format_text("in-place patch: window %zu reads outside the image", k);
                    return false;
                }
                pw.reads.push_back({part.addr + uint64_t(e.oldPos), len});
            }
            built += len + static_cast<uint64_t>(e.extraLen);
            diffAt += len;
            extraAt += static_cast<size_t>(e.extraLen);
        }
        if (built != pw.span) {
            error = format_text("in-place patch: window %zu builds %llu bytes instead of %llu", k,
                                static_cast<unsigned long long>(built),
                                static_cast<unsigned long long>(pw.span));
            return false;
        }
        entries += w.entries.size();
        bool first = true;
        for (size_t j = 0; j < w.moves.size(); ++j) {
            const InplaceMove &m = w.moves[j];
            if (m.src < 0 || m.len < 0 || uint64_t(m.src) + uint64_t(m.len) > work ||
                uint64_t(m.dst) + uint64_t(m.len) > work) {
                error = format_text("in-place patch: window %zu move %zu is out of range", k, j);
                return false;
            }
            PlanStep s;
            s.slot = slot;
            s.info.kind = DeviceStepKind::Move;
            s.info.partition = plan.slots[slot].partition;
            s.info.what = format_text("window %zu move %zu", k, j);
            s.info.window = static_cast<int>(k);
            s.info.move = static_cast<int>(j);
            s.info.addr = part.addr + uint64_t(m.dst);
            s.info.len = uint64_t(m.len);
            s.info.src = part.addr + uint64_t(m.src);
            s.info.ram = ram;
            s.reads.push_back({s.info.src, s.info.len});
            s.descending = m.dst > m.src;
            s.firstOfWindow = first;
            first = false;
            plan.steps.push_back(std::move(s));
        }
        PlanStep s;
        s.slot = slot;
        s.info.kind = DeviceStepKind::Window;
        s.info.partition = plan.slots[slot].partition;
        s.info.what = format_text("window %zu", k);
        s.info.window = static_cast<int>(k);
        s.info.patched = !pw.reads.empty();
        s.info.addr = pw.start;
        s.info.len = pw.span;
        s.info.ram = ram;
        s.firstOfWindow = first;
        plan.steps.push_back(std::move(s));
        plan.windows.push_back(std::move(pw));
    }
    return true;
}

bool planRecords(Plan &plan, const std::vector<PartEntry> &parts, const DeviceRunInputs &in,
                 bool z, std::string &error)
{
    std::map<std::string, size_t> slotOf;
    for (size_t i = 0; i < plan.info.records.size(); ++i) {
        const PackageRecord &r = plan.info.records[i];
        const PartEntry *part = nullptr;
        if (!needPart(parts, r.name.c_str(), part, error))
            return false;
        if (r.dataLen == 0 || r.offset > plan.pkg.size() ||
            r.dataLen > plan.pkg.size() - r.offset) {
            error = format_text("record %zu: data outside the package", i);
            return false;
        }
        if (r.newLen == 0 || r.newLen > kBlockSize || r.oldLen > kBlockSize || r.type > 1 ||
            r.addr < part->addr || uint64_t(r.addr) + std::max(r.newLen, r.oldLen) >
                                       uint64_t(part->addr) + part->size) {
            error = format_text("record %zu (%s): lengths or flash range out of bounds", i,
                                r.name.c_str());
            return false;
        }
        auto it = slotOf.find(r.name);
        if (it == slotOf.end()) {
            const bool firmware = r.name == (z ? "cpu1" : "cpu");
            const bool boot = r.name == (z ? "boot" : "uboot");
            const char *image = firmware ? "firmware" : boot ? "boot"
                                : r.name == "nv_usr" ? "nv1"
                                : r.name == "nv_amt" ? "nv2" : "data";
            const DeviceImage &expected = firmware ? in.newImage : boot ? in.boot
                                          : r.name == "nv_usr" ? in.nv1
                                          : r.name == "nv_amt" ? in.nv2 : DeviceImage();
            it = slotOf.emplace(r.name, addSlot(plan, *part, image, part->addr, 0, expected)).first;
        }
        ImageSlot &slot = plan.slots[it->second];
        slot.size = std::max<uint64_t>(slot.size, uint64_t(r.addr) + r.newLen - slot.addr);
        PlanStep s;
        s.slot = it->second;
        s.info.kind = DeviceStepKind::Record;
        s.info.partition = slot.partition;
        s.info.what = format_text("record %zu", i);
        s.info.record = static_cast<int>(i);
        s.info.patched = r.type == 1;
        s.info.addr = r.addr;
        s.info.len = r.newLen;
        s.record = &r;
        s.data = plan.pkg.data() + r.offset;
        s.dataLen = r.dataLen;
        // Patched: old block, record data, decoded control, diff and extra blocks (the control
        // length and the new size), new block. Alone: record data and new block. One decoder
        // each, decoding into its buffer; the erase-unit buffer.
        uint64_t ram = r.dataLen + r.newLen + kLzmaProbBytes + in.flash.eraseUnit;
        if (r.type == 1) {
            uint64_t ctrl = 0;
            if (r.dataLen >= 16)
                for (int b = 0; b < 7; ++b)
                    ctrl |= uint64_t(plan.pkg[r.offset + 8 + b]) << (8 * b);
            ram += r.oldLen + std::min<uint64_t>(ctrl, 2 * kBlockSize) + r.newLen;
            s.reads.push_back({r.addr, r.oldLen});
        }
        s.info.ram = ram;
        plan.steps.push_back(std::move(s));
    }
    return true;
}

bool makePlan(Plan &plan, const DeviceRunInputs &in, std::string &error)
{
    std::vector<std::string> findings;
    if (!package_read(plan.pkg.data(), plan.pkg.size(), plan.info, findings, in.method)) {
        error = findings.empty() ? "not a package" : findings.front();
        return false;
    }
    plan.layout = plan.info.layout;
    const bool z = plan.layout == PackageLayout::Z1 || plan.layout == PackageLayout::Z3;
    const char *firmware = z ? "cpu1" : "cpu";
    const PartEntry *fw = nullptr;
    const PartEntry *boot = nullptr;
    if (!needPart(in.parts, firmware, fw, error))
        return false;
    plan.oldAddr = fw->addr;
    const uint64_t eraseUnit = in.flash.eraseUnit;
    const uint8_t *pkg = plan.pkg.data();
    const auto bootStep = [&]() {
        if (plan.info.bootSize == 0)
            return true;
        return needPart(in.parts, "uboot", boot, error) &&
               planStored(plan, *boot, "boot", "boot image", boot->addr,
                          pkg + plan.info.bootOffset, plan.info.bootSize, in.boot, eraseUnit,
                          error);
    };
    switch (plan.layout) {
    case PackageLayout::Z1:
    case PackageLayout::KBlocks:
        return planRecords(plan, in.parts, in, z, error);
    case PackageLayout::Z3:
    case PackageLayout::KInplace:
        if (!bootStep())
            return false;
        plan.checkOldCrc = true;
        plan.oldCrcSize = plan.info.words[1];
        plan.oldCrc = plan.info.words[3];
        if (plan.oldGiven && plan.old.size() != plan.info.words[1])
            plan.notes.push_back(format_text(
                "the old image has %zu bytes, the package was made from one of %u bytes",
                plan.old.size(), plan.info.words[1]));
        return planInplace(plan, *fw, pkg + plan.info.streamOffset, plan.info.streamSize,
                           plan.info.words[1], plan.info.words[2], in.newImage, eraseUnit, error);
    case PackageLayout::KWhole: {
        if (!bootStep())
            return false;
        std::string why;
        if (plan.info.words[2] > std::min<uint64_t>(fw->size, kMaxImage)) {
            error = format_text("the image of %u bytes does not fit partition %.16s",
                                plan.info.words[2], fw->name);
            return false;
        }
        if (plan.info.words[2] == 0 ||
            !detail::lzma_decode_exact(pkg + plan.info.streamOffset, plan.info.streamSize,
                                       plan.info.words[2], plan.streamImage, why)) {
            error = "whole-image stream: " + (why.empty() ? std::string("new size is 0") : why);
            return false;
        }
        const uint64_t ram = kLzmaProbBytes + kLzmaDictBytes + eraseUnit;
        if (!planStored(plan, *fw, "firmware", "image stream", fw->addr, plan.streamImage.data(),
                        plan.streamImage.size(), in.newImage, ram, error))
            return false;
        plan.steps.back().info.kind = DeviceStepKind::Stream;
        return true;
    }
    case PackageLayout::AB: {
        if (plan.info.aOffset == 0) {
            error = "the A/B package's sizes do not add up";
            return false;
        }
        if (!bootStep())
            return false;
        // The two images take the two halves of "cpu".
        const uint64_t half = fw->size / 2;
        return planStored(plan, *fw, "A", "A image", fw->addr, pkg + plan.info.aOffset,
                          plan.info.aSize, in.oldImage, eraseUnit, error) &&
               planStored(plan, *fw, "B", "B image", fw->addr + half, pkg + plan.info.bOffset,
                          plan.info.bSize, in.newImage, eraseUnit, error);
    }
    default:
        error = "unknown layout";
        return false;
    }
}

// ---- Running the plan -------------------------------------------------------------------------

struct Machine {
    const Plan &plan;
    Flash flash;
    int built = -1; // the window whose bytes are in RAM
    std::vector<uint8_t> window;
    std::string stop; // why the loader stopped
    std::vector<uint8_t> *sources = nullptr; // receives the bytes a window build reads

    Machine(const Plan &p, const Flash &f) : plan(p), flash(f) {}
};

void buildWindow(Machine &m, int k, Ops &ops)
{
    const PlanWindow &pw = m.plan.windows[static_cast<size_t>(k)];
    const InplaceWindow &w = m.plan.inplace.windows[static_cast<size_t>(k)];
    m.window.clear();
    if (m.sources)
        m.sources->clear();
    size_t diffAt = pw.diffAt;
    size_t extraAt = pw.extraAt;
    std::vector<uint8_t> old;
    for (const InplaceDiffEntry &e : w.entries) {
        const size_t len = static_cast<size_t>(e.diffLen);
        if (len > 0) {
            old = m.flash.bytes(m.plan.base + uint64_t(e.oldPos), len);
            ops.bytesRead += len;
            if (m.sources)
                m.sources->insert(m.sources->end(), old.begin(), old.end());
            for (size_t j = 0; j < len; ++j)
                m.window.push_back(static_cast<uint8_t>(old[j] + m.plan.inplace.diff[diffAt + j]));
            diffAt += len;
        }
        const auto x = m.plan.inplace.extra.begin() + static_cast<ptrdiff_t>(extraAt);
        m.window.insert(m.window.end(), x, x + e.extraLen);
        extraAt += static_cast<size_t>(e.extraLen);
    }
    m.built = k;
}

std::string hexOf(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string sha256Hex(const uint8_t *p, size_t n)
{
    uint8_t d[SHA256_DIGEST_LENGTH];
    SHA256(p, n, d);
    return hexOf(d, sizeof d);
}

// Runs one step. False when the power was cut (ops.cut) or the loader stopped (m.stop).
bool runStep(Machine &m, size_t i, Ops &ops)
{
    const PlanStep &s = m.plan.steps[i];
    if (s.info.window >= 0 && m.built != s.info.window)
        buildWindow(m, s.info.window, ops);
    switch (s.info.kind) {
    case DeviceStepKind::Stored:
    case DeviceStepKind::Stream:
        return m.flash.write(s.info.addr, s.data, s.dataLen, false, ops);
    case DeviceStepKind::Window:
        return m.flash.write(s.info.addr, m.window.data(), m.window.size(), false, ops);
    case DeviceStepKind::Move: {
        // One destination unit at a time, its source read just before the unit is rewritten.
        const uint64_t unit = m.flash.unit();
        const uint64_t dst = s.info.addr;
        const uint64_t end = dst + s.info.len;
        if (s.info.len == 0)
            return true;
        const uint64_t first = dst / unit;
        const uint64_t last = (end - 1) / unit;
        std::vector<uint8_t> chunk;
        for (uint64_t k = 0; k <= last - first; ++k) {
            const uint64_t u = s.descending ? last - k : first + k;
            const uint64_t a = std::max(dst, u * unit);
            const uint64_t b = std::min(end, (u + 1) * unit);
            chunk = m.flash.bytes(s.info.src + (a - dst), b - a);
            ops.bytesRead += b - a;
            if (!m.flash.write(a, chunk.data(), chunk.size(), false, ops))
                return false;
        }
        return true;
    }
    case DeviceStepKind::Record: {
        const PackageRecord &r = *s.record;
        std::vector<uint8_t> old;
        if (r.type == 1) {
            old = m.flash.bytes(r.addr, r.oldLen);
            ops.bytesRead += r.oldLen;
            uint8_t hash[SHA256_DIGEST_LENGTH];
            SHA256(old.data(), old.size(), hash);
            if (m.plan.checkHashes && std::memcmp(hash, r.oldHash, sizeof hash) != 0) {
                m.stop = s.info.what + ": the old block's SHA-256 does not match";
                return false;
            }
        }
        std::vector<uint8_t> &out = m.plan.decoded[i];
        if (out.empty()) {
            std::string why;
            const bool ok = r.type == 1 ? apply_block_patch(old.data(), old.size(), s.data,
                                                            s.dataLen, r.newLen, out, why)
                                        : detail::lzma_decode_exact(s.data, s.dataLen, r.newLen,
                                                                    out, why);
            uint8_t hash[SHA256_DIGEST_LENGTH];
            SHA256(out.data(), out.size(), hash);
            if (!ok || (m.plan.checkHashes && std::memcmp(hash, r.newHash, sizeof hash) != 0)) {
                m.stop = s.info.what + ": " +
                         (ok ? std::string("the new block's SHA-256 does not match") : why);
                out.clear();
                return false;
            }
        }
        return m.flash.write(r.addr, out.data(), out.size(), false, ops);
    }
    }
    return false;
}

Range unitsOf(const Range &w, uint64_t unit)
{
    if (w.len == 0)
        return {w.addr, 0};
    const uint64_t a = w.addr / unit * unit;
    const uint64_t b = (w.end() + unit - 1) / unit * unit;
    return {a, b - a};
}

// For each step, the bytes within the units it rewrites that a later step reads, or that are
// part of a result image and written by no later step.
std::vector<std::vector<Range>> liveAfterSteps(const Plan &plan, uint64_t unit)
{
    RangeSet live;
    for (const ImageSlot &s : plan.slots)
        live.add(s.addr, s.addr + s.size);
    std::vector<std::vector<Range>> out(plan.steps.size());
    for (size_t i = plan.steps.size(); i-- > 0;) {
        const PlanStep &s = plan.steps[i];
        const Range t = unitsOf(s.write(), unit);
        out[i] = live.clip(t.addr, t.end());
        live.remove(s.info.addr, s.info.addr + s.info.len);
        for (const Range &r : s.reads)
            live.add(r.addr, r.end());
        if (s.firstOfWindow)
            for (const Range &r : plan.windows[static_cast<size_t>(s.info.window)].reads)
                live.add(r.addr, r.end());
    }
    return out;
}

// Decides whether a cut inside step i can end in a wrong image. `pre` and `post` hold the units
// the step rewrites before and after it ran; `sources` what its window's build read (null
// outside windows); the flash is as the step left it.
void analyseStep(const Plan &plan, size_t i, const Flash &flash, const std::vector<uint8_t> &pre,
                 const std::vector<uint8_t> &post, const std::vector<Range> &liveAfter,
                 const std::vector<uint8_t> *sources, DeviceStep &out)
{
    const PlanStep &s = plan.steps[i];
    const uint64_t unit = flash.unit();
    const Range w = s.write();
    const Range t = unitsOf(w, unit);
    if (t.len == 0)
        return;
    const uint64_t firstUnit = s.descending ? (t.end() - 1) / unit : t.addr / unit;
    const auto inT = [&](uint64_t p) { return p >= t.addr && p < t.end(); };
    // Some cut leaves p at a value other than ref: erased, programmed (or kept), or still as
    // before when its unit comes after the first one rewritten.
    const auto canDiffer = [&](uint64_t p, uint8_t ref) {
        const size_t j = static_cast<size_t>(p - t.addr);
        return ref != 0xFF || post[j] != ref || (p / unit != firstUnit && pre[j] != ref);
    };
    std::vector<uint64_t> risk;
    bool ownReads = false, buildsFromOwnUnits = false, sourcesMoved = false, neighbours = false,
         overlap = false;

    for (const Range &r : s.reads) {
        const uint64_t a = std::max(r.addr, t.addr);
        const uint64_t b = std::min(r.end(), t.end());
        for (uint64_t p = a; p < b; ++p) {
            const uint8_t ref = pre[static_cast<size_t>(p - t.addr)];
            if (s.info.kind == DeviceStepKind::Move) {
                if (p >= w.addr && p < w.end()) {
                    overlap = true;
                    risk.push_back(p);
                    continue;
                }
                if (!inRanges(liveAfter, p - s.info.src + s.info.addr))
                    continue; // nothing reads that byte of the copy
            }
            if (canDiffer(p, ref)) {
                ownReads = true;
                risk.push_back(p);
            }
        }
    }
    if (sources && s.info.window >= 0) {
        size_t at = 0;
        for (const Range &r : plan.windows[static_cast<size_t>(s.info.window)].reads) {
            const std::vector<uint8_t> now = flash.bytes(r.addr, r.len);
            for (uint64_t j = 0; j < r.len; ++j) {
                const uint64_t p = r.addr + j;
                const uint8_t ref = (*sources)[at + j];
                if (inT(p) ? canDiffer(p, ref) : now[j] != ref) {
                    (inT(p) ? buildsFromOwnUnits : sourcesMoved) = true;
                    risk.push_back(p);
                }
            }
            at += r.len;
        }
    }
    for (const Range &r : liveAfter)
        for (uint64_t p = r.addr; p < r.end(); ++p)
            if ((p < w.addr || p >= w.end()) && pre[static_cast<size_t>(p - t.addr)] != 0xFF) {
                neighbours = true;
                risk.push_back(p);
            }
    if (risk.empty())
        return;
    std::sort(risk.begin(), risk.end());
    risk.erase(std::unique(risk.begin(), risk.end()), risk.end());
    out.unsafe = true;
    out.bytesAtRisk = risk.size();
    out.riskAddr = risk.front();
    out.riskEnd = risk.back() + 1;
    std::vector<std::string> why;
    if (overlap)
        why.push_back("its source overlaps its destination");
    if (ownReads)
        why.push_back(s.info.kind == DeviceStepKind::Record
                          ? "the old block it checks and patches is where it writes"
                          : "it reads bytes in the erase units it rewrites");
    if (buildsFromOwnUnits)
        why.push_back("its window is built from bytes in the erase units it rewrites");
    if (sourcesMoved)
        why.push_back("its window's moves overwrite bytes the window is built from");
    if (neighbours)
        why.push_back("it erases bytes beside its range that are still needed");
    for (size_t k = 0; k < why.size(); ++k)
        out.reason += (k ? "; " : "") + why[k];
}

// What a normal run keeps for replaying cuts.
struct Journal {
    std::vector<std::vector<uint8_t>> pre, post; // the rewritten units around each step
    std::vector<std::vector<uint8_t>> windows;   // each window's bytes as built
};

uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

void initialFlash(const Plan &plan, Flash &flash)
{
    if (plan.oldGiven && !plan.old.empty())
        flash.poke(plan.oldAddr, plan.old.data(), plan.old.size());
}

bool runPlan(const Plan &plan, const FlashProfile &profile, bool analyse, DeviceRunResult &result,
             Journal *journal)
{
    result.layout = plan.layout;
    result.flash = profile;
    result.oldGiven = plan.oldGiven;
    result.analysed = analyse;
    result.notes = plan.notes;
    Flash flash(profile.eraseUnit, profile.programUnit);
    initialFlash(plan, flash);
    const uint64_t unit = profile.eraseUnit;
    for (const ImageSlot &s : plan.slots)
        if (s.partAddr % unit != 0 || s.partSize % unit != 0)
            result.notes.push_back(format_text(
                "partition %s (0x%llx, 0x%llx bytes) is not aligned to the %u-byte erase unit: "
                "writes at its ends also erase bytes of its neighbours",
                s.partition.c_str(), static_cast<unsigned long long>(s.partAddr),
                static_cast<unsigned long long>(s.partSize), profile.eraseUnit));
    Machine m(plan, flash);
    std::map<uint64_t, uint64_t> eraseCounts;
    bool stopped = false;
    if (plan.checkOldCrc && plan.oldGiven) {
        const std::vector<uint8_t> now = m.flash.bytes(plan.oldAddr, plan.oldCrcSize);
        if (fota_crc32(0, now.data(), now.size()) != plan.oldCrc) {
            result.notes.push_back("the image on the device is not the one the patch was made "
                                   "from (CRC-32): the loader writes nothing");
            stopped = true;
        }
    }
    const std::vector<std::vector<Range>> live =
        analyse ? liveAfterSteps(plan, unit) : std::vector<std::vector<Range>>();
    std::vector<uint8_t> sources;
    std::vector<std::vector<uint8_t>> windowSources(analyse ? plan.windows.size() : 0);
    if (journal) {
        journal->pre.assign(plan.steps.size(), {});
        journal->post.assign(plan.steps.size(), {});
        journal->windows.assign(plan.windows.size(), {});
    }
    for (size_t i = 0; i < plan.steps.size() && !stopped; ++i) {
        const PlanStep &s = plan.steps[i];
        DeviceStep info = s.info;
        info.image = s.slot;
        const Range t = unitsOf(s.write(), unit);
        const std::vector<uint8_t> pre = analyse || journal ? m.flash.bytes(t.addr, t.len)
                                                            : std::vector<uint8_t>();
        Ops ops;
        ops.eraseCounts = &eraseCounts;
        m.sources = analyse && s.info.window >= 0 && m.built != s.info.window
                        ? &windowSources[static_cast<size_t>(s.info.window)]
                        : nullptr;
        if (!runStep(m, i, ops)) {
            result.notes.push_back("the loader stops at " + m.stop);
            stopped = true;
            break;
        }
        m.sources = nullptr;
        info.erases = ops.erases;
        info.programs = ops.programs;
        info.bytesRead = ops.bytesRead;
        info.ms = double(ops.erases) * profile.eraseMs + double(ops.programs) * profile.programMs +
                  double(ops.bytesRead) / (profile.readMBps * 1000.0);
        if (analyse || journal) {
            const std::vector<uint8_t> post = m.flash.bytes(t.addr, t.len);
            if (analyse)
                analyseStep(plan, i, m.flash, pre, post, live[i],
                            s.info.window >= 0 ? &windowSources[size_t(s.info.window)] : nullptr,
                            info);
            if (journal) {
                journal->pre[i] = pre;
                journal->post[i] = post;
                if (s.info.window >= 0)
                    journal->windows[static_cast<size_t>(s.info.window)] = m.window;
            }
        }
        result.steps.push_back(std::move(info));
    }
    result.completed = !stopped;

    // Per image, then the total.
    result.images.clear();
    for (const ImageSlot &slot : plan.slots) {
        DeviceImageResult r;
        r.partition = slot.partition;
        r.image = slot.image;
        r.addr = slot.addr;
        r.size = slot.size;
        r.partAddr = slot.partAddr;
        r.partSize = slot.partSize;
        const std::vector<uint8_t> now = m.flash.bytes(slot.addr, slot.size);
        r.sha256 = sha256Hex(now.data(), now.size());
        if (slot.expected.given) {
            r.expectedSha256 = sha256Hex(slot.expected.data, slot.expected.size);
            r.matches = result.completed && r.sha256 == r.expectedSha256 ? 1 : 0;
        }
        result.images.push_back(std::move(r));
    }
    DeviceImageResult &total = result.total;
    total = DeviceImageResult();
    total.partition = "total";
    total.image = "total";
    for (size_t i = 0; i < result.steps.size(); ++i) {
        const DeviceStep &st = result.steps[i];
        DeviceImageResult &r = result.images[plan.steps[i].slot];
        for (DeviceImageResult *x : {&r, &total}) {
            ++x->steps;
            x->sectorsErased += st.erases;
            x->bytesProgrammed += st.programs * profile.programUnit;
            x->bytesMoved += st.kind == DeviceStepKind::Move ? st.len : 0;
            x->bytesRead += st.bytesRead;
            x->ms += st.ms;
            x->peakRam = std::max(x->peakRam, st.ram);
            x->unsafeSteps += st.unsafe ? 1 : 0;
            x->bytesAtRisk += st.bytesAtRisk;
        }
        const Range t = unitsOf({st.addr, st.len}, unit);
        for (uint64_t u = t.addr / unit; u < ceilDiv(t.end(), unit); ++u) {
            const auto it = eraseCounts.find(u);
            if (it != eraseCounts.end()) {
                r.maxEraseCount = std::max(r.maxEraseCount, it->second);
                total.maxEraseCount = std::max(total.maxEraseCount, it->second);
            }
        }
    }
    total.size = 0;
    for (const DeviceImageResult &r : result.images)
        total.size += r.size;
    int matches = result.images.empty() ? -1 : 1;
    for (const DeviceImageResult &r : result.images)
        if (r.matches == 0)
            matches = 0;
        else if (r.matches < 0 && matches == 1)
            matches = -1;
    total.matches = result.completed ? matches : 0;
    return true;
}

bool loadPlan(Plan &plan, const uint8_t *pkg, size_t size, const DeviceRunInputs &in,
              std::string &error)
{
    plan.pkg.assign(pkg, pkg + size);
    plan.oldGiven = in.oldImage.given;
    if (in.oldImage.given)
        plan.old.assign(in.oldImage.data, in.oldImage.data + in.oldImage.size);
    if (!makePlan(plan, in, error))
        return false;
    if (plan.info.total != size || plan.info.crc != plan.info.crcComputed)
        plan.notes.push_back("the header's length or CRC-32 does not match the package: a "
                             "loader that checks them writes nothing");
    return true;
}

bool needsOld(const Plan &plan)
{
    for (const PlanStep &s : plan.steps)
        if (s.info.patched || s.info.kind == DeviceStepKind::Move)
            return true;
    return false;
}

bool loadInplacePlan(Plan &plan, const uint8_t *oldData, size_t oldSize, size_t newSize,
                     const uint8_t *patch, size_t patchSize, uint64_t base,
                     const FlashProfile &flash, std::string &error)
{
    plan.pkg.assign(patch, patch + patchSize);
    plan.old.assign(oldData, oldData + oldSize);
    plan.oldGiven = true;
    plan.oldAddr = base;
    plan.layout = PackageLayout::Unknown;
    PartEntry part{};
    std::memcpy(part.name, "image", 5);
    part.addr = static_cast<uint32_t>(base);
    const uint64_t work = std::max<uint64_t>(oldSize, newSize);
    part.size = static_cast<uint32_t>(ceilDiv(work, flash.eraseUnit) * flash.eraseUnit);
    return planInplace(plan, part, plan.pkg.data(), plan.pkg.size(), oldSize, newSize,
                       DeviceImage(), flash.eraseUnit, error);
}

} // namespace

const char *device_step_kind_name(DeviceStepKind kind)
{
    switch (kind) {
    case DeviceStepKind::Record: return "record";
    case DeviceStepKind::Stored: return "stored";
    case DeviceStepKind::Stream: return "stream";
    case DeviceStepKind::Move: return "move";
    case DeviceStepKind::Window: return "window";
    }
    return "?";
}

bool device_run(const uint8_t *pkg, size_t size, const DeviceRunInputs &inputs,
                DeviceRunResult &result, std::string &error)
{
    result = DeviceRunResult();
    Plan plan;
    if (!loadPlan(plan, pkg, size, inputs, error))
        return false;
    if ((inputs.powerCuts || inputs.requireOld) && !inputs.oldImage.given && needsOld(plan)) {
        error = "the package patches the image on the device: it needs the old image (--old)";
        return false;
    }
    plan.checkHashes = inputs.oldImage.given || !needsOld(plan);
    return runPlan(plan, inputs.flash, inputs.powerCuts, result, nullptr);
}

bool inplace_device_run(const uint8_t *oldData, size_t oldSize, size_t newSize,
                        const uint8_t *patch, size_t patchSize, uint64_t base,
                        const FlashProfile &flash, DeviceRunResult &result, std::string &error)
{
    result = DeviceRunResult();
    Plan plan;
    if (!loadInplacePlan(plan, oldData, oldSize, newSize, patch, patchSize, base, flash, error))
        return false;
    return runPlan(plan, flash, true, result, nullptr);
}

// ---- Replaying cuts ---------------------------------------------------------------------------

struct DeviceCutReplay::Impl {
    Plan plan;
    FlashProfile profile;
    DeviceRunResult result;
    Journal journal;
    std::unique_ptr<Flash> cursor; // the flash before step `at`
    size_t at = 0;
    std::vector<std::vector<uint8_t>> finals; // every image as the uncut run leaves it

    bool run(std::string &error)
    {
        if (!runPlan(plan, profile, true, result, &journal))
            return false;
        if (!result.completed) {
            error = result.notes.empty() ? "the loader stops" : result.notes.back();
            return false;
        }
        cursor.reset(new Flash(profile.eraseUnit, profile.programUnit));
        initialFlash(plan, *cursor);
        at = 0;
        Flash end = *cursor;
        for (size_t i = 0; i < plan.steps.size(); ++i)
            restore(end, i, journal.post[i]);
        finals.clear();
        for (const ImageSlot &s : plan.slots)
            finals.push_back(end.bytes(s.addr, s.size));
        return true;
    }

    void restore(Flash &flash, size_t i, const std::vector<uint8_t> &bytes) const
    {
        const Range t = unitsOf(plan.steps[i].write(), profile.eraseUnit);
        flash.poke(t.addr, bytes.data(), bytes.size());
    }

    void seek(size_t step)
    {
        while (at < step) {
            restore(*cursor, at, journal.post[at]);
            ++at;
        }
        while (at > step) {
            --at;
            restore(*cursor, at, journal.pre[at]);
        }
    }
};

DeviceCutReplay::DeviceCutReplay() : impl_(new Impl) {}
DeviceCutReplay::~DeviceCutReplay() = default;

bool DeviceCutReplay::load(const uint8_t *pkg, size_t size, const DeviceRunInputs &inputs,
                           std::string &error)
{
    impl_.reset(new Impl);
    impl_->profile = inputs.flash;
    return loadPlan(impl_->plan, pkg, size, inputs, error) && impl_->run(error);
}

bool DeviceCutReplay::loadInplace(const uint8_t *oldData, size_t oldSize, size_t newSize,
                                  const uint8_t *patch, size_t patchSize, uint64_t base,
                                  const FlashProfile &flash, std::string &error)
{
    impl_.reset(new Impl);
    impl_->profile = flash;
    return loadInplacePlan(impl_->plan, oldData, oldSize, newSize, patch, patchSize, base, flash,
                           error) &&
           impl_->run(error);
}

const DeviceRunResult &DeviceCutReplay::result() const { return impl_->result; }

uint64_t DeviceCutReplay::operations(size_t step) const
{
    const DeviceStep &s = impl_->result.steps.at(step);
    return s.erases + s.programs;
}

bool DeviceCutReplay::cutAndResume(size_t step, uint64_t op, std::string *why)
{
    Impl &d = *impl_;
    d.seek(step);
    const PlanStep &s = d.plan.steps[step];
    // The cut and the rerun of the step run on the cursor itself; most end where the uncut
    // step ended, and the cursor is then put back without copying the whole flash.
    Machine m(d.plan, Flash(d.profile.eraseUnit, d.profile.programUnit));
    std::swap(m.flash, *d.cursor);
    if (s.info.window >= 0) {
        m.built = s.info.window;
        m.window = d.journal.windows[static_cast<size_t>(s.info.window)];
    }
    Ops ops;
    ops.limit = op;
    runStep(m, step, ops);
    // Power back: RAM is gone, the loader starts again at this step.
    m.built = -1;
    m.window.clear();
    Ops again;
    const bool rerun = runStep(m, step, again);
    const Range t = unitsOf(s.write(), d.profile.eraseUnit);
    const bool asUncut = rerun && m.flash.bytes(t.addr, t.len) == d.journal.post[step] &&
                         (step + 1 == d.plan.steps.size() || s.info.window < 0 ||
                          d.plan.steps[step + 1].info.window != s.info.window ||
                          m.window == d.journal.windows[static_cast<size_t>(s.info.window)]);
    Flash resumed = m.flash;
    m.flash.poke(t.addr, d.journal.pre[step].data(), d.journal.pre[step].size());
    std::swap(m.flash, *d.cursor);
    if (asUncut)
        return true; // the rest runs as in the uncut run
    std::swap(m.flash, resumed);
    for (size_t i = step + (rerun ? 1 : 0); i < d.plan.steps.size(); ++i) {
        Ops rest;
        if (!runStep(m, i, rest)) {
            if (why)
                *why = "the loader stops at " + m.stop;
            return false;
        }
    }
    for (size_t k = 0; k < d.plan.slots.size(); ++k) {
        const ImageSlot &slot = d.plan.slots[k];
        const std::vector<uint8_t> now = m.flash.bytes(slot.addr, slot.size);
        if (now != d.finals[k]) {
            if (why) {
                size_t j = 0;
                while (now[j] == d.finals[k][j])
                    ++j;
                *why = format_text("%s image of %s differs at 0x%llx", slot.image.c_str(),
                                   slot.partition.c_str(),
                                   static_cast<unsigned long long>(slot.addr + j));
            }
            return false;
        }
    }
    return true;
}

#include "deltamaker/samples/firmware_gen.h"

#include <algorithm>

namespace Samples {

namespace {

constexpr uint32_t kLoadAddress = 0x08000000u;

// splitmix64: fixed across platforms and standard libraries, unlike <random> distributions.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi] (hi >= lo).
    size_t range(size_t lo, size_t hi) { return lo + static_cast<size_t>(next() % (hi - lo + 1)); }
    bool chance(unsigned percent) { return next() % 100 < percent; }

private:
    uint64_t state_;
};

// An image with the places of its pointers, so that edits can relink them.
struct Image {
    std::vector<uint8_t> bytes;
    std::vector<size_t> slots; // offsets of 32-bit little-endian pointers, ascending

    void put32(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    uint32_t get32(size_t at) const
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
        return v;
    }
};

const char *const kWords[] = {"init", "flash", "erase", "write", "read", "timeout", "error", "ok",
                              "uart", "spi", "i2c", "gpio", "dma", "irq", "boot", "crc", "version",
                              "modem", "radio", "config", "ready", "busy", "fail", "retry"};

// Per-image instruction templates: opcode bits plus a mask of the operand bits that vary.
struct Template {
    uint32_t bits;
    uint32_t mask;
};

std::vector<Template> makeTemplates(Rng &rng)
{
    static const Template base[] = {
        {0xE59F0000u, 0x0000F3FFu}, {0xE3A00000u, 0x0000F0FFu}, {0xE1A00000u, 0x0000F00Fu},
        {0xE2800000u, 0x000FF0FFu}, {0xE5900000u, 0x000FF0FFu}, {0xE5800000u, 0x000FF0FFu},
        {0xEB000000u, 0x0000FFFFu}, {0x0A000000u, 0x000000FFu}, {0x1A000000u, 0x000000FFu},
        {0xE3500000u, 0x000F00FFu}, {0x4770BF00u, 0x00000000u}, {0x68004600u, 0x003F003Fu},
        {0xF000F800u, 0x07FF07FFu}, {0x2000D000u, 0x07FF00FFu}, {0xE12FFF1Eu, 0x00000000u},
    };
    std::vector<Template> t(std::begin(base), std::end(base));
    // A few image-specific variants make the instruction mix differ between builds.
    for (int i = 0; i < 8; ++i) {
        Template v = base[rng.range(0, 14)];
        v.bits ^= static_cast<uint32_t>(rng.next() & 0x00F00000u);
        t.push_back(v);
    }
    return t;
}

void appendWord(std::vector<uint8_t> &out, uint32_t w)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(w >> (8 * i)));
}

// Code of one function: prologue, instruction-like words, epilogue, then its literal pool.
// Pool slots are recorded relative to the returned bytes.
std::vector<uint8_t> makeFunction(Rng &rng, const std::vector<Template> &tpl, size_t imageSize,
                                  std::vector<size_t> &slots)
{
    std::vector<uint8_t> out;
    appendWord(out, 0xE92D40F0u);
    const size_t words = rng.range(12, 140);
    for (size_t i = 0; i < words; ++i) {
        const Template &t = tpl[rng.range(0, tpl.size() - 1)];
        appendWord(out, t.bits | (static_cast<uint32_t>(rng.next()) & t.mask));
    }
    appendWord(out, 0xE8BD80F0u);
    const size_t pool = rng.range(0, 6);
    for (size_t i = 0; i < pool; ++i) {
        slots.push_back(out.size());
        const size_t target = imageSize ? rng.range(0, (imageSize - 1) / 4) * 4 : 0;
        appendWord(out, kLoadAddress + static_cast<uint32_t>(target));
    }
    return out;
}

std::vector<uint8_t> makeStrings(Rng &rng)
{
    std::vector<uint8_t> out;
    const size_t count = rng.range(2, 12);
    for (size_t i = 0; i < count; ++i) {
        const size_t n = rng.range(1, 4);
        std::string s;
        for (size_t k = 0; k < n; ++k) {
            if (k)
                s += rng.chance(50) ? " " : "_";
            s += kWords[rng.range(0, sizeof(kWords) / sizeof(kWords[0]) - 1)];
        }
        if (rng.chance(30))
            s += ": %d\n";
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
        while (out.size() % 4)
            out.push_back(0);
    }
    return out;
}

std::vector<uint8_t> makeTable(Rng &rng)
{
    std::vector<uint8_t> out;
    const size_t n = rng.range(4, 48);
    const uint32_t step = static_cast<uint32_t>(rng.range(1, 300));
    uint32_t v = static_cast<uint32_t>(rng.range(0, 1000));
    for (size_t i = 0; i < n; ++i) {
        appendWord(out, v);
        v += step + static_cast<uint32_t>(rng.range(0, 3));
    }
    return out;
}

std::vector<uint8_t> makePadding(Rng &rng)
{
    return std::vector<uint8_t>(rng.range(4, 64) * 4, rng.chance(70) ? 0x00 : 0xFF);
}

// A piece of new content (function, strings or table) with its pointer slots.
std::vector<uint8_t> makeChunk(Rng &rng, const std::vector<Template> &tpl, size_t imageSize,
                               std::vector<size_t> &slots)
{
    const uint64_t kind = rng.next() % 100;
    if (kind < 60)
        return makeFunction(rng, tpl, imageSize, slots);
    if (kind < 75)
        return makeStrings(rng);
    if (kind < 90)
        return makeTable(rng);
    return makePadding(rng);
}

Image generate(Rng &rng, const std::vector<Template> &tpl, size_t size)
{
    Image img;
    // Vector table.
    const size_t vectors = std::min<size_t>(48, size / 4);
    for (size_t i = 0; i < vectors; ++i) {
        img.slots.push_back(img.bytes.size());
        appendWord(img.bytes, kLoadAddress + static_cast<uint32_t>(rng.range(0, size / 4) * 4) + 1);
    }
    while (img.bytes.size() < size) {
        std::vector<size_t> slots;
        const auto chunk = makeChunk(rng, tpl, size, slots);
        for (size_t s : slots)
            img.slots.push_back(img.bytes.size() + s);
        img.bytes.insert(img.bytes.end(), chunk.begin(), chunk.end());
    }
    img.bytes.resize(size);
    while (!img.slots.empty() && img.slots.back() + 4 > size)
        img.slots.pop_back();
    return img;
}

// Replaces bytes [at, at + removed) with `ins` (whose own pointer slots are `insSlots`,
// relative) and relinks every pointer whose target lies at or after the edit.
void edit(Image &img, size_t at, size_t removed, const std::vector<uint8_t> &ins,
          const std::vector<size_t> &insSlots)
{
    const int64_t delta = static_cast<int64_t>(ins.size()) - static_cast<int64_t>(removed);
    std::vector<size_t> slots;
    for (size_t s : img.slots) {
        if (s + 4 <= at)
            slots.push_back(s);
        else if (s >= at + removed)
            slots.push_back(static_cast<size_t>(static_cast<int64_t>(s) + delta));
    }
    for (size_t s : insSlots)
        slots.push_back(at + s);
    img.bytes.erase(img.bytes.begin() + at, img.bytes.begin() + at + removed);
    img.bytes.insert(img.bytes.begin() + at, ins.begin(), ins.end());
    std::sort(slots.begin(), slots.end());
    img.slots = slots;
    for (size_t s : img.slots) {
        const uint32_t v = img.get32(s);
        const uint32_t target = v - kLoadAddress;
        if (target < 0x01000000u && target >= at + removed)
            img.put32(s, static_cast<uint32_t>(v + delta));
    }
}

// Cuts out [at, at + n) with its slots (relative).
std::vector<uint8_t> cut(const Image &img, size_t at, size_t n, std::vector<size_t> &slots)
{
    for (size_t s : img.slots) {
        if (s >= at && s + 4 <= at + n)
            slots.push_back(s - at);
    }
    return std::vector<uint8_t>(img.bytes.begin() + at, img.bytes.begin() + at + n);
}

size_t alignedPos(Rng &rng, size_t limit)
{
    return rng.range(0, limit / 4) * 4;
}

void mutate(Image &img, Rng &rng, const std::vector<Template> &tpl, Mutation m)
{
    const size_t size = img.bytes.size();
    switch (m) {
    case Mutation::InsertFunction: {
        std::vector<size_t> slots;
        const auto fn = makeFunction(rng, tpl, size, slots);
        edit(img, alignedPos(rng, size), 0, fn, slots);
        break;
    }
    case Mutation::ChangeConstants: {
        if (size < 4)
            break;
        const size_t n = rng.range(1, 24);
        for (size_t i = 0; i < n; ++i) {
            const size_t at = alignedPos(rng, size - 4);
            const uint32_t w = img.get32(at);
            img.put32(at, w ^ static_cast<uint32_t>(rng.range(1, 0xFFF)));
        }
        break;
    }
    case Mutation::RemoveRun: {
        if (size < 8)
            break;
        const size_t at = alignedPos(rng, size - 4);
        const size_t n = std::min(size - at, rng.range(1, 256) * 4);
        edit(img, at, n, {}, {});
        break;
    }
    case Mutation::AppendData: {
        std::vector<uint8_t> data;
        std::vector<size_t> slots;
        const size_t chunks = rng.range(1, 4);
        for (size_t i = 0; i < chunks; ++i) {
            std::vector<size_t> s;
            const auto c = rng.chance(50) ? makeStrings(rng) : makeChunk(rng, tpl, size, s);
            for (size_t x : s)
                slots.push_back(data.size() + x);
            data.insert(data.end(), c.begin(), c.end());
        }
        edit(img, size, 0, data, slots);
        break;
    }
    case Mutation::MoveBlock: {
        if (size < 16)
            break;
        const size_t n = std::min(size / 2, rng.range(16, 512) * 4);
        const size_t from = rng.range(0, size - n);
        std::vector<size_t> slots;
        const auto block = cut(img, from, n, slots);
        edit(img, from, n, {}, {});
        edit(img, rng.range(0, size - n), 0, block, slots);
        break;
    }
    case Mutation::SwapRegions: {
        if (size < 16)
            break;
        const size_t n = rng.range(size / 8, size / 4) & ~size_t(3);
        if (n == 0)
            break;
        const size_t a = rng.range(0, size / 2 - n);
        const size_t b = rng.range(a + n, size - n);
        std::vector<size_t> sa, sb;
        const auto ba = cut(img, a, n, sa);
        const auto bb = cut(img, b, n, sb);
        edit(img, b, n, ba, sa);
        edit(img, a, n, bb, sb);
        break;
    }
    case Mutation::Rotate: {
        if (size < 2)
            break;
        const size_t k = rng.range(1, size - 1);
        std::vector<size_t> s1, s2;
        const auto head = cut(img, 0, k, s1);
        edit(img, 0, k, {}, {});
        edit(img, img.bytes.size(), 0, head, s1);
        break;
    }
    case Mutation::RepeatContent: {
        if (size < 8)
            break;
        const size_t n = std::min(size / 2, rng.range(16, 256) * 4);
        const size_t from = rng.range(0, size - n);
        std::vector<size_t> slots;
        const auto block = cut(img, from, n, slots);
        const size_t copies = rng.range(1, 3);
        for (size_t i = 0; i < copies; ++i)
            edit(img, alignedPos(rng, img.bytes.size()), 0, block, slots);
        break;
    }
    case Mutation::FullyRandom: {
        for (auto &b : img.bytes)
            b = static_cast<uint8_t>(rng.next());
        img.slots.clear();
        break;
    }
    }
}

} // namespace

const char *mutationName(Mutation m)
{
    switch (m) {
    case Mutation::InsertFunction: return "insert-function";
    case Mutation::ChangeConstants: return "change-constants";
    case Mutation::RemoveRun: return "remove-run";
    case Mutation::AppendData: return "append-data";
    case Mutation::MoveBlock: return "move-block";
    case Mutation::SwapRegions: return "swap-regions";
    case Mutation::Rotate: return "rotate";
    case Mutation::RepeatContent: return "repeat-content";
    case Mutation::FullyRandom: return "fully-random";
    }
    return "unknown";
}

std::vector<uint8_t> makeFirmware(uint64_t seed, size_t size)
{
    Rng rng(seed);
    const auto tpl = makeTemplates(rng);
    return generate(rng, tpl, size).bytes;
}

FirmwarePair makePair(uint64_t seed, const PairSpec &spec)
{
    Rng rng(seed);
    const auto tpl = makeTemplates(rng);
    Image img = generate(rng, tpl, spec.size);
    FirmwarePair pair;
    pair.oldImage = img.bytes;

    std::vector<Mutation> kinds = spec.kinds;
    if (kinds.empty()) {
        // The mix leaves out FullyRandom and Rotate, which real updates rarely do.
        static const Mutation mix[] = {Mutation::InsertFunction, Mutation::ChangeConstants,
                                       Mutation::RemoveRun,      Mutation::AppendData,
                                       Mutation::MoveBlock,      Mutation::SwapRegions,
                                       Mutation::RepeatContent,  Mutation::ChangeConstants,
                                       Mutation::InsertFunction};
        for (int i = 0; i < spec.mutations; ++i)
            kinds.push_back(mix[rng.range(0, sizeof(mix) / sizeof(mix[0]) - 1)]);
    }
    // Fresh instruction variants for the update: new code differs a little from old code.
    const auto newTpl = makeTemplates(rng);
    for (Mutation m : kinds) {
        mutate(img, rng, newTpl, m);
        if (!pair.description.empty())
            pair.description += "+";
        pair.description += mutationName(m);
    }
    if (spec.keepSize)
        img.bytes.resize(spec.size, 0xFF);
    pair.newImage = std::move(img.bytes);
    return pair;
}

FirmwarePair makePair(uint64_t seed, size_t size, bool keepSize)
{
    PairSpec spec;
    spec.size = size;
    spec.keepSize = keepSize;
    Rng rng(seed ^ 0xA5A5A5A5u);
    spec.mutations = static_cast<int>(rng.range(1, 5));
    if (rng.next() % 16 == 0)
        spec.kinds = {Mutation::FullyRandom};
    else if (rng.next() % 12 == 0)
        spec.kinds = {Mutation::Rotate};
    return makePair(seed, spec);
}

} // namespace Samples

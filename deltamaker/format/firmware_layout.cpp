#include "deltamaker/format/firmware_layout.h"

#include "deltamaker/format/package_layout.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kRecordMin = 36;
constexpr size_t kResumeOffset = 1024;
constexpr size_t kValueBuffer = 128;

void addEntry(std::vector<PartEntry> &out, const char *name, uint32_t addr, uint32_t size)
{
    PartEntry e;
    std::memset(e.name, 0, sizeof e.name);
    std::memcpy(e.name, name, strnlen(name, sizeof e.name));
    e.addr = addr;
    e.size = size;
    out.push_back(e);
}

const PartEntry *findEntry(const std::vector<PartEntry> &list, const char *name)
{
    for (const PartEntry &e : list) {
        if (part_name_equals(e.name, name))
            return &e;
    }
    return nullptr;
}

// One number of a value text from its "0x", with base-prefix rules, into `out`; `fits` says
// whether it fits in 32 bits. Returns the end of its digits.
const char *parseNumber(const char *p, uint32_t *out, bool *fits)
{
    char *stop = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(p, &stop, 0);
    *fits = errno != ERANGE && v <= 0xFFFFFFFFull;
    *out = static_cast<uint32_t>(v);
    return stop;
}

// Parses "... 0x<addr> ... 0x<size> ...". False with `error` set when a "0x" is missing or a
// number does not fit in 32 bits (it is refused, never cut).
bool parseValue(const char *name, const char *value, uint32_t *addr, uint32_t *size,
                std::string &error)
{
    const char *p = std::strstr(value, "0x");
    const char *end = nullptr;
    const char *what = "address";
    bool fits = false;
    if (p)
        end = parseNumber(p, addr, &fits);
    if (fits) {
        p = std::strstr(end, "0x");
        what = "size";
        if (p)
            end = parseNumber(p, size, &fits);
    }
    if (!p) {
        error = deltamaker::detail::format_text("part parser failed(%s)\n", value);
        return false;
    }
    if (!fits) {
        error = deltamaker::detail::format_text(
            "partition %s has the %s %.*s, which does not fit in 32 bits\n", name, what,
            static_cast<int>(end - p), p);
        return false;
    }
    return true;
}

std::string nameOf(const PartEntry &e) { return std::string(e.name, strnlen(e.name, kPartNameSize)); }

} // namespace

uint32_t fota_crc32(uint32_t crc, const uint8_t *data, size_t len)
{
    while (len > 0) {
        const uInt chunk = len > 0x40000000u ? 0x40000000u : static_cast<uInt>(len);
        crc = static_cast<uint32_t>(::crc32(crc, data, chunk));
        data += chunk;
        len -= chunk;
    }
    return crc;
}

bool part_name_equals(const char *a, const char *b) { return std::strncmp(a, b, kPartNameSize) == 0; }

int board_type_of_word(uint32_t word)
{
    return (word == 0x02262018u || word == 0x48787032u) ? kBoardKLM4410 : kBoardZN3150;
}

std::vector<PartEntry> predefined_part_entries(int boardType)
{
    std::vector<PartEntry> out;
    if (boardType == kBoardZN3150) {
        addEntry(out, "boot", 0, 0x6000);
        addEntry(out, "partition", 0x6000, 0x1000);
    }
    return out;
}

namespace deltamaker::detail {

std::string format_text(const char *fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

bool parse_part_table(const uint8_t *table, size_t size, int boardType,
                      std::vector<PartEntry> &out, std::string &error)
{
    out = predefined_part_entries(boardType);
    if (size != kPartTableFileSize) {
        error = format_text("partition size 0x%zx error\n", size);
        return false;
    }
    size_t pos = kRecordMin;
    bool resumed = false;
    while (pos < kPartTableFileSize) {
        const uint8_t *rec = table + pos;
        const size_t left = kPartTableFileSize - pos;
        // Erased (all non-zero) space ends a region; the first end resumes at 1024. Fewer than
        // six bytes before the end of the table are judged by what there is.
        const size_t probe = left < 6 ? left : 6;
        if (std::all_of(rec, rec + probe, [](uint8_t b) { return b != 0; })) {
            if (resumed)
                break;
            pos = kResumeOffset;
            resumed = true;
            continue;
        }
        if (left < kRecordMin) {
            error = format_text("partition record at 0x%x runs past the end of the table\n",
                                static_cast<unsigned>(pos));
            return false;
        }
        const uint32_t len = fota_get32(rec + 20);
        if (len < kRecordMin) {
            error = format_text("partition record at 0x%x has length %u, below 36\n",
                                static_cast<unsigned>(pos), len);
            return false;
        }
        if (len > left) {
            error = format_text("partition record at 0x%x with length %u reaches past the table\n",
                                static_cast<unsigned>(pos), len);
            return false;
        }
        const uint32_t stored = fota_get32(rec + 24);
        const uint32_t computed = fota_crc32(0, rec + 28, len - 28);
        if (stored != computed) {
            error = format_text("crc check error. crc32 0x%x calcrc 0x%x\n", stored, computed);
            return false;
        }
        const uint32_t nameLen = fota_get32(rec + 28) & 0xFF;
        const uint32_t valueLen = fota_get32(rec + 32);
        if (nameLen > kPartNameSize) {
            error = format_text("partition record at 0x%x has a name of %u bytes, over 16\n",
                                static_cast<unsigned>(pos), nameLen);
            return false;
        }
        if (valueLen >= kValueBuffer) {
            error = format_text("partition record at 0x%x has a value of %u bytes, over 127\n",
                                static_cast<unsigned>(pos), valueLen);
            return false;
        }
        const size_t valueAt = kRecordMin + ((nameLen + 3) & ~3u);
        if (valueAt + valueLen > len) {
            error = format_text("partition record at 0x%x: name and value reach past its length\n",
                                static_cast<unsigned>(pos));
            return false;
        }
        char name[kPartNameSize + 1] = {};
        std::memcpy(name, rec + kRecordMin, nameLen);
        pos += len;
        if (findEntry(out, name))
            continue; // the first record of a name wins
        char value[kValueBuffer];
        std::memset(value, 0xFF, sizeof value);
        std::memcpy(value, rec + valueAt, valueLen);
        value[valueLen] = '\0';
        uint32_t addr = 0;
        uint32_t psize = 0;
        if (!parseValue(name, value, &addr, &psize, error))
            return false;
        if (out.size() >= kPartTableMaxEntries) {
            error = format_text("partition table has more than 64 entries\n");
            return false;
        }
        addEntry(out, name, addr, psize);
    }
    return true;
}

std::vector<std::string> check_part_table(const std::vector<PartEntry> &entries, int boardType)
{
    std::vector<std::string> faults;
    for (const PartEntry &e : entries)
        if (uint64_t(e.addr) + e.size > 0x100000000ull)
            faults.push_back(format_text("partition %s at 0x%x with 0x%x bytes reaches past 4 GiB\n",
                                         nameOf(e).c_str(), e.addr, e.size));
    for (size_t i = 0; i < entries.size(); ++i) {
        const PartEntry &a = entries[i];
        for (size_t j = i + 1; j < entries.size(); ++j) {
            const PartEntry &b = entries[j];
            const uint64_t endA = uint64_t(a.addr) + a.size;
            const uint64_t endB = uint64_t(b.addr) + b.size;
            if (a.size == 0 || b.size == 0 || b.addr >= endA || a.addr >= endB)
                continue;
            faults.push_back(format_text("partitions %s (0x%x..0x%llx) and %s (0x%x..0x%llx) "
                                         "overlap\n",
                                         nameOf(a).c_str(), a.addr,
                                         static_cast<unsigned long long>(endA),
                                         nameOf(b).c_str(), b.addr,
                                         static_cast<unsigned long long>(endB)));
        }
    }
    // The partition a package is kept in on the device must at least hold its header.
    const char *packagePart = boardType == kBoardZN3150 ? "data_ota" : "cpu";
    const size_t header = boardType == kBoardZN3150 ? kZHeaderSize : kKHeaderSize;
    for (const PartEntry &e : entries)
        if (part_name_equals(e.name, packagePart) && e.size < header)
            faults.push_back(format_text("partition %s of 0x%x bytes cannot hold the %zu-byte "
                                         "package header\n",
                                         packagePart, e.size, header));
    return faults;
}

bool version_of_image(int boardType, const uint8_t *data, size_t size, char *text,
                      size_t capacity, std::string &error)
{
    if (!text || capacity == 0)
        return false;
    text[0] = '\0';
    if (boardType == kBoardKLM4410) {
        if (size < 96) {
            error = "image too short for its version text\n";
            return false;
        }
        size_t n = 0;
        while (n + 1 < capacity && 96 + n < size && data[96 + n] != 0) {
            text[n] = static_cast<char>(data[96 + n]);
            ++n;
        }
        text[n] = '\0';
        return true;
    }
    if (boardType != kBoardZN3150) {
        error = "unknown image type\n";
        return false;
    }
    if (size < 24) {
        error = "image too short for its version trailer\n";
        return false;
    }
    const uint8_t *tail = data + size - 24;
    if (std::memcmp(tail, "REL_V:", 6) != 0) {
        std::strncpy(text, "x.x.x", capacity - 1);
        text[capacity - 1] = '\0';
        return true;
    }
    const uint8_t *v = tail + 6;
    const void *nul = std::memchr(v, 0, 18);
    if (!nul) {
        error = "version text has no terminator in the image trailer\n";
        return false;
    }
    const size_t len = static_cast<size_t>(static_cast<const uint8_t *>(nul) - v);
    const size_t n = len < capacity - 1 ? len : capacity - 1;
    std::memcpy(text, v, n);
    text[n] = '\0';
    return true;
}

} // namespace deltamaker::detail

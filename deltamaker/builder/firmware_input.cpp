#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/firmware_input_p.h"
#include "deltamaker/builder/fota_log_p.h"

#include <zlib.h>
// The context-level SHA-256 calls are marked deprecated in OpenSSL 3 but stay supported; they hash
// directly, where the one-call SHA256() fetches a digest implementation from the providers.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace {

constexpr int kError = FOTA_LOG_ERROR;
constexpr int kInfo = FOTA_LOG_INFO;
constexpr size_t kRecordMin = 36;
constexpr size_t kResumeOffset = 1024;
constexpr size_t kValueBuffer = 128;
constexpr int64_t kCrcChunk = 0x400000;

// The table of the build running on this thread: builds on other threads never see it. Plain
// data, so that the plug-in library can still be unloaded while the thread lives on.
thread_local PartEntry t_parts[kPartTableMaxEntries];
thread_local size_t t_partCount = 0;

void storeParts(const std::vector<PartEntry> &parts)
{
    t_partCount = std::min(parts.size(), kPartTableMaxEntries);
    std::copy(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(t_partCount), t_parts);
}

uint32_t readLe32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool nameEquals(const char *a, const char *b) { return std::strncmp(a, b, kPartNameSize) == 0; }

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
        if (nameEquals(e.name, name))
            return &e;
    }
    return nullptr;
}

// Parses "... 0x<addr> ... 0x<size> ..." with base-prefix rules. False when a "0x" is missing.
bool parseValue(const char *value, uint32_t *addr, uint32_t *size)
{
    const char *p = std::strstr(value, "0x");
    if (!p)
        return false;
    char *end = nullptr;
    const long a = std::strtol(p, &end, 0);
    const char *q = std::strstr(end, "0x");
    if (!q)
        return false;
    const long s = std::strtol(q, &end, 0);
    *addr = static_cast<uint32_t>(a);
    *size = static_cast<uint32_t>(s);
    return true;
}

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

std::vector<PartEntry> part_table_entries() { return std::vector<PartEntry>(t_parts, t_parts + t_partCount); }

namespace Internal {

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
    out.clear();
    if (boardType == kBoardZN3150) {
        addEntry(out, "boot", 0, 0x6000);
        addEntry(out, "partition", 0x6000, 0x1000);
    }
    if (size != kPartTableFileSize) {
        error = format_text("partition size 0x%x error\n", static_cast<unsigned>(size));
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
        const uint32_t len = readLe32(rec + 20);
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
        const uint32_t stored = readLe32(rec + 24);
        const uint32_t computed = fota_crc32(0, rec + 28, len - 28);
        if (stored != computed) {
            error = format_text("crc check error. crc32 0x%x calcrc 0x%x\n", stored, computed);
            return false;
        }
        const uint32_t nameLen = readLe32(rec + 28) & 0xFF;
        const uint32_t valueLen = readLe32(rec + 32);
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
        if (!parseValue(value, &addr, &psize)) {
            error = format_text("part parser failed(%s)\n", value);
            return false;
        }
        if (out.size() >= kPartTableMaxEntries) {
            error = format_text("partition table has more than 64 entries\n");
            return false;
        }
        addEntry(out, name, addr, psize);
    }
    return true;
}

InputProblem input_file_problem(const char *path, std::string &why)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        why = std::strerror(errno);
        return InputProblem::Unreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode)                        ? "a folder"
              : S_ISFIFO(st.st_mode)                     ? "a FIFO"
              : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
              : S_ISSOCK(st.st_mode)                     ? "a socket"
                                                         : "not a regular file";
        return InputProblem::NotAFile;
    }
    const int fd = ::open(path, O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return InputProblem::Unreadable;
    }
    ::close(fd);
    why.clear();
    return InputProblem::None;
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

} // namespace Internal

int part_table_parse(const uint8_t *table, size_t size, int boardType)
{
    std::string error;
    std::vector<PartEntry> parts;
    const bool ok = Internal::parse_part_table(table, size, boardType, parts, error);
    storeParts(parts);
    if (!ok) {
        Internal::fota_log(kError, "%s", error.c_str());
        return -1;
    }
    Internal::fota_log(kInfo, "Partition Init ok \n");
    return 0;
}

int part_table_init(const char *path, int boardType)
{
    std::vector<PartEntry> predefined;
    if (boardType == kBoardZN3150) {
        addEntry(predefined, "boot", 0, 0x6000);
        addEntry(predefined, "partition", 0x6000, 0x1000);
    }
    storeParts(predefined);
    struct stat st;
    if (::stat(path, &st) != 0) {
        Internal::fota_log(kError, "cannot stat %s\n", path);
        return -1;
    }
    if (st.st_size != static_cast<off_t>(kPartTableFileSize)) {
        Internal::fota_log(kError, "partition size 0x%x error\n",
                           static_cast<unsigned>(st.st_size));
        return -1;
    }
    const int fd = S_ISREG(st.st_mode) ? ::open(path, O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) {
        Internal::fota_log(kError, "cannot open %s\n", path);
        return -1;
    }
    uint8_t table[kPartTableFileSize];
    size_t got = 0;
    while (got < sizeof table) {
        const ssize_t n = ::read(fd, table + got, sizeof table - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got != sizeof table) {
        Internal::fota_log(kError, "read %s error\n", path);
        return -1;
    }
    return part_table_parse(table, sizeof table, boardType);
}

int part_find(const char *name, uint32_t *addr, uint32_t *size)
{
    if (!name) {
        Internal::fota_log(kError, "Need Part Name Find In Partition\n");
        return -1;
    }
    const PartEntry *e = nullptr;
    for (size_t i = 0; i < t_partCount && !e; ++i)
        if (nameEquals(t_parts[i].name, name))
            e = &t_parts[i];
    if (!e) {
        if (addr && size)
            Internal::fota_log(kError, "Not Find The Part(%s)\n", name);
        return -1;
    }
    if (addr)
        *addr = e->addr;
    if (size)
        *size = e->size;
    return 0;
}

int64_t file_size(const char *path)
{
    struct stat st;
    if (::stat(path, &st) != 0) {
        Internal::fota_log(kError, "stat %s error \n", path);
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

int64_t file_read(const char *path, int64_t offset, uint8_t *buffer, int64_t capacity)
{
    const int64_t size = file_size(path);
    if (size < 0 || offset < 0 || size < offset) {
        Internal::fota_log(kError, "file size %d, offset= %d \n", static_cast<int>(size),
                           static_cast<int>(offset));
        return -1;
    }
    // Non-blocking: a FIFO swapped in after the stat must not hang the build.
    const int fd = ::open(path, O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        Internal::fota_log(kError, "cannot open %s \n", path);
        return -1;
    }
    if (fd < 0) {
        Internal::fota_log(kError, "cannot open %s \n", path);
        return -1;
    }
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) {
        ::close(fd);
        Internal::fota_log(kError, "lseek %s failed \n", path);
        return -1;
    }
    const int64_t want = capacity < 0 ? 0 : (size - offset < capacity ? size - offset : capacity);
    int64_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, buffer + got, static_cast<size_t>(want - got));
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got != want) {
        Internal::fota_log(kError, "read %s failed \n", path);
        return -1;
    }
    return got;
}

namespace Internal {
void block_sha256(const uint8_t *data, size_t size, uint8_t *out)
{
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, data, size);
    SHA256_Final(out, &ctx);
}
} // namespace Internal

uint32_t file_crc32(const char *path, int64_t offset, int64_t length)
{
    if (length < 0)
        return 0;
    std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[kCrcChunk]);
    if (!buf) {
        Internal::fota_log(kError, "mem not enough\n");
        return 0;
    }
    uint32_t crc = 0;
    int64_t done = 0;
    while (done < length) {
        const int64_t want = length - done < kCrcChunk ? length - done : kCrcChunk;
        if (file_read(path, offset + done, buf.get(), want) != want)
            return 0;
        crc = fota_crc32(crc, buf.get(), static_cast<size_t>(want));
        done += want;
    }
    return crc;
}

uint32_t file_crc32_whole(const char *path)
{
    const int64_t size = file_size(path);
    if (size < 0)
        return 0;
    return file_crc32(path, 0, size);
}

int board_type_of_word(uint32_t word)
{
    return (word == 0x02262018u || word == 0x48787032u) ? kBoardKLM4410 : kBoardZN3150;
}

int image_board_type(const char *path)
{
    uint8_t head[4];
    if (file_read(path, 0, head, 4) != 4)
        return kBoardUnknown;
    return board_type_of_word(readLe32(head));
}

int image_version(const char *path, char *text, size_t capacity)
{
    if (!text || capacity == 0)
        return -1;
    text[0] = '\0';
    const int type = image_board_type(path);
    std::vector<uint8_t> bytes;
    if (type == kBoardKLM4410) {
        bytes.resize(96 + capacity);
        const int64_t got = file_read(path, 0, bytes.data(), static_cast<int64_t>(bytes.size()));
        if (got < 0)
            return -1;
        bytes.resize(static_cast<size_t>(got));
    } else if (type == kBoardZN3150) {
        const int64_t size = file_size(path);
        if (size < 0)
            return -1;
        if (size < 24) {
            Internal::fota_log(kError, "%s is %lld bytes, too short to carry a version (24 bytes)\n",
                               path, static_cast<long long>(size));
            return -1;
        }
        bytes.resize(24);
        if (file_read(path, size - 24, bytes.data(), 24) != 24)
            return -1;
    } else {
        return -1;
    }
    std::string error;
    if (!Internal::version_of_image(type, bytes.data(), bytes.size(), text, capacity, error)) {
        Internal::fota_log(kError, "%s: %s", path, error.c_str());
        return -1;
    }
    return 0;
}

#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/firmware_input_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/format/package_layout.h"

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

namespace detail = deltamaker::detail;

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace {

constexpr int kError = FOTA_LOG_ERROR;
constexpr int kInfo = FOTA_LOG_INFO;
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

} // namespace

std::vector<PartEntry> part_table_entries() { return std::vector<PartEntry>(t_parts, t_parts + t_partCount); }


int part_table_parse(const uint8_t *table, size_t size, int boardType)
{
    std::string error;
    std::vector<PartEntry> parts;
    const bool ok = detail::parse_part_table(table, size, boardType, parts, error);
    storeParts(parts);
    if (!ok) {
        detail::fota_log(kError, "%s", error.c_str());
        return -1;
    }
    // One check of the table for every method, before any of them works on it.
    const std::vector<std::string> faults = detail::check_part_table(parts, boardType);
    for (const std::string &fault : faults)
        detail::fota_log(kError, "%s", fault.c_str());
    if (!faults.empty())
        return -1;
    detail::fota_log(kInfo, "Partition Init ok \n");
    return 0;
}

int part_table_init(const char *path, int boardType)
{
    storeParts(predefined_part_entries(boardType));
    struct stat st;
    if (::stat(path, &st) != 0) {
        detail::fota_log(kError, "cannot stat %s\n", path);
        return -1;
    }
    if (st.st_size != static_cast<off_t>(kPartTableFileSize)) {
        detail::fota_log(kError, "partition size 0x%llx error\n",
                         static_cast<unsigned long long>(st.st_size));
        return -1;
    }
    const int fd = S_ISREG(st.st_mode) ? ::open(path, O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) {
        detail::fota_log(kError, "cannot open %s\n", path);
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
        detail::fota_log(kError, "read %s error\n", path);
        return -1;
    }
    return part_table_parse(table, sizeof table, boardType);
}

int part_table_read(const detail::InputFile &file, const char *path, int boardType)
{
    storeParts(predefined_part_entries(boardType));
    if (file.size() != kPartTableFileSize) {
        detail::fota_log(kError, "partition size 0x%llx error\n",
                         static_cast<unsigned long long>(file.size()));
        return -1;
    }
    uint8_t table[kPartTableFileSize];
    if (file.readAt(0, table, sizeof table) != static_cast<int64_t>(sizeof table)) {
        detail::fota_log(kError, "read %s error\n", path);
        return -1;
    }
    return part_table_parse(table, sizeof table, boardType);
}

int part_find(const char *name, uint32_t *addr, uint32_t *size)
{
    if (!name) {
        detail::fota_log(kError, "Need Part Name Find In Partition\n");
        return -1;
    }
    const PartEntry *e = nullptr;
    for (size_t i = 0; i < t_partCount && !e; ++i)
        if (part_name_equals(t_parts[i].name, name))
            e = &t_parts[i];
    if (!e) {
        if (addr && size)
            detail::fota_log(kError, "Not Find The Part(%s)\n", name);
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
        detail::fota_log(kError, "stat %s error \n", path);
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

int64_t file_read(const char *path, int64_t offset, uint8_t *buffer, int64_t capacity)
{
    const int64_t size = file_size(path);
    if (size < 0 || offset < 0 || size < offset) {
        detail::fota_log(kError, "file size %lld, offset= %lld \n", static_cast<long long>(size),
                         static_cast<long long>(offset));
        return -1;
    }
    // Non-blocking: a FIFO swapped in after the stat must not hang the build.
    const int fd = ::open(path, O_RDONLY | O_BINARY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        detail::fota_log(kError, "cannot open %s \n", path);
        return -1;
    }
    if (fd < 0) {
        detail::fota_log(kError, "cannot open %s \n", path);
        return -1;
    }
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) {
        ::close(fd);
        detail::fota_log(kError, "lseek %s failed \n", path);
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
        detail::fota_log(kError, "read %s failed \n", path);
        return -1;
    }
    return got;
}

namespace deltamaker::detail {
void block_sha256(const uint8_t *data, size_t size, uint8_t *out)
{
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, data, size);
    SHA256_Final(out, &ctx);
}
} // namespace deltamaker::detail

uint32_t file_crc32(const char *path, int64_t offset, int64_t length)
{
    if (length < 0)
        return 0;
    std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[kCrcChunk]);
    if (!buf) {
        detail::fota_log(kError, "mem not enough\n");
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

int image_board_type(const char *path)
{
    uint8_t head[4];
    if (file_read(path, 0, head, 4) != 4)
        return kBoardUnknown;
    return board_type_of_word(fota_get32(head));
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
            detail::fota_log(kError, "%s is %lld bytes, too short to carry a version (24 bytes)\n",
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
    if (!detail::version_of_image(type, bytes.data(), bytes.size(), text, capacity, error)) {
        detail::fota_log(kError, "%s: %s", path, error.c_str());
        return -1;
    }
    return 0;
}

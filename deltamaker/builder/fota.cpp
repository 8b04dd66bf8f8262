#include "deltamaker/builder/fota.h"

#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/firmware_input_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/format/package_layout.h"
#include "deltamaker/lzma/lzma_lib.h"
#include "deltamaker/parallel/task_pool_p.h"
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/bsdiff_opt.h"
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/verify/package_verify.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace detail = deltamaker::detail;

static_assert(kFotaMaxThreads == detail::kMaxBuildThreads, "one thread limit for every caller");

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace {

constexpr int kError = FOTA_LOG_ERROR;
constexpr int kInfo = FOTA_LOG_INFO;
constexpr size_t kPatchBuffer = 2 * kBlockSize + 32; // room for 32 + 2 * block bytes
constexpr int64_t kZBootReserve = 0x7000;
constexpr int64_t kInplaceReserve = 40960;
constexpr int64_t kWholeReserve = 8192;

// The sinks are set from the window's thread and called from the building thread: both are
// copied under the lock before use.
std::mutex g_sinkLock;
FotaLogSink g_sink;
FotaProgressSink g_progress;
detail::PackageCheck g_packageCheck;
std::atomic<bool> g_boardReported{false};

// A build area of kBuildAreaSize bytes. Only [0, length) is ever read, and every byte there is
// written by the build (gaps with the 0xFF filler), so the area is allocated once and never
// pre-filled: a build keeps in memory only the pages it writes, not 2 x 4 MiB of filler.
class BuildArea {
public:
    // False when the area cannot be allocated.
    bool ensure()
    {
        if (!bytes_)
            bytes_ = static_cast<uint8_t *>(std::malloc(kBuildAreaSize));
        return bytes_ != nullptr;
    }
    uint8_t *data() { return bytes_; }
    void release()
    {
        std::free(bytes_);
        bytes_ = nullptr;
    }

private:
    // Owned. A plain pointer, released by every build on its way out: a thread-local object
    // with a destructor would pin the plug-in library in memory until its thread ends.
    uint8_t *bytes_ = nullptr;
};

// The two build areas of the build running on this thread, released when it ends: no build
// state outlives its call or is seen by another thread.
thread_local BuildArea g_control;
thread_local BuildArea g_data;
thread_local size_t g_controlLen = 0;
thread_local size_t g_dataLen = 0;
// The last progress handed on, so that a stage reports each percent once.
thread_local char t_progressStage[32];
thread_local int t_progressPercent = -2;
// The request's encoder choice, for the stages that do not see the request.
thread_local bool t_optimize = false;
// The running build's thread count and pool (owned by the build call; null outside one).
// Plain values: pool threads never read them, the build's stages pass on what they need.
thread_local int t_threads = 1;
thread_local detail::TaskPool *t_pool = nullptr;
// While set, builder messages are kept here instead of being handed to the sink.
thread_local std::vector<std::pair<int, std::string>> *t_capture = nullptr;

int packBlock(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen)
{
    return t_optimize ? lzma_pack_smallest(src, srcLen, dst, dstLen, t_pool)
                      : lzma_pack(src, srcLen, dst, dstLen);
}

// The optimising encoder's choice for a block with an old counterpart: when the new block
// compressed alone is smaller than its patch in out[0, *len), it replaces the patch there.
bool packAloneIfSmaller(const uint8_t *block, size_t blockLen, uint8_t *out, size_t *len)
{
    std::vector<uint8_t> alone(2 * kBlockSize);
    size_t aloneLen = alone.size();
    if (lzma_pack(block, blockLen, alone.data(), &aloneLen) != 0)
        return false;
    // The stronger compression saves a few percent at most: not tried when far behind.
    if (aloneLen < *len + *len / 4) {
        std::vector<uint8_t> strong(alone.size());
        size_t strongLen = strong.size();
        if (lzma_pack_strong(block, blockLen, strong.data(), &strongLen) == 0 &&
            strongLen < aloneLen) {
            alone.swap(strong);
            aloneLen = strongLen;
        }
    }
    if (aloneLen >= *len)
        return false;
    std::memcpy(out, alone.data(), aloneLen);
    *len = aloneLen;
    return true;
}

bool hasPath(const char *p) { return p && p[0] != '\0'; }
const char *orNull(const char *p) { return hasPath(p) ? p : nullptr; }

bool resetAreas()
{
    g_controlLen = 0;
    g_dataLen = 0;
    return g_control.ensure() && g_data.ensure();
}

void releaseAreas()
{
    g_control.release();
    g_data.release();
    g_controlLen = 0;
    g_dataLen = 0;
}

// True when a file of `size` bytes written from the partition's start stays inside it (and
// inside the 32-bit flash address space); otherwise says which file overruns which partition.
bool fitsPartition(const char *path, int64_t size, const char *part, uint32_t addr,
                   uint32_t partSize)
{
    if (size > static_cast<int64_t>(partSize)) {
        detail::fota_log(kError, "%s is 0x%llx bytes, larger than its partition %s of 0x%x bytes\n",
                         path, static_cast<unsigned long long>(size), part, partSize);
        return false;
    }
    if (static_cast<uint64_t>(addr) + partSize > 0x100000000ull) {
        detail::fota_log(kError, "partition %s at 0x%x with 0x%x bytes reaches past 4 GiB\n",
                         part, addr, partSize);
        return false;
    }
    return true;
}

// Reads a whole file. False after the readers' own message.
bool readWhole(const char *path, std::vector<uint8_t> &out)
{
    const int64_t size = file_size(path);
    if (size < 0)
        return false;
    out.resize(static_cast<size_t>(size));
    if (size == 0)
        return true;
    return file_read(path, 0, out.data(), size) == size;
}

// Appends a file as is to the data area. Fails on overflow.
bool appendFile(const char *path, size_t *sizeOut)
{
    // The size from the file system first: a huge file is refused before it is read.
    const int64_t size = file_size(path);
    if (size < 0)
        return false;
    if (static_cast<uint64_t>(size) > kBuildAreaSize - g_dataLen) {
        detail::fota_log(kError, "data area full: %s needs 0x%llx bytes, 0x%zx left\n", path,
                         static_cast<unsigned long long>(size), kBuildAreaSize - g_dataLen);
        return false;
    }
    if (size > 0 && file_read(path, 0, g_data.data() + g_dataLen, size) != size)
        return false;
    g_dataLen += static_cast<size_t>(size);
    *sizeOut = static_cast<size_t>(size);
    return true;
}

// One block of a partition: read on the build thread, patched or compressed on any thread of
// the pool, then turned into its record on the build thread in block order. The work touches
// nothing but the job, so any thread can do it; what it would say is kept for the commit.
struct BlockJob {
    int64_t offset = 0;
    int64_t oldLen = 0; // 0: no old counterpart
    int64_t newLen = 0;
    bool withOld = false;
    bool readFailed = false;
    std::vector<std::pair<int, std::string>> readMessages; // said while reading, in order
    std::vector<uint8_t> oldBlock = std::vector<uint8_t>(kBlockSize);
    std::vector<uint8_t> newBlock = std::vector<uint8_t>(kBlockSize);
    std::vector<uint8_t> out = std::vector<uint8_t>(kPatchBuffer);
    // Results.
    bool fellBack = false;   // the patch did not fit: compressed alone
    bool packFailed = false; // compression alone failed
    size_t patchLen = 0;
    uint8_t type = 0;
    uint8_t props[kLzmaPropsSize] = {};
    uint8_t oldHash[32] = {};
    uint8_t newHash[32] = {};
};

// Patches or compresses one block. Runs on any thread; the encoder choice is passed in, and the
// property bytes of this thread's compression are kept with the block.
void makeBlock(BlockJob &b, bool optimize)
{
    b.fellBack = b.packFailed = false;
    bool packedAlone = false;
    if (b.withOld) {
        int64_t len = 0;
        const auto diff = optimize ? sw_bsdiff_opt : sw_bsdiff;
        if (diff(b.oldBlock.data(), b.oldLen, b.newBlock.data(), b.newLen, b.out.data(), &len) ==
                0 &&
            len >= 0 && static_cast<size_t>(len) <= kBlockSize) {
            detail::block_sha256(b.oldBlock.data(), static_cast<size_t>(b.oldLen), b.oldHash);
            b.patchLen = static_cast<size_t>(len);
            b.type = 1;
            if (optimize && packAloneIfSmaller(b.newBlock.data(), static_cast<size_t>(b.newLen),
                                               b.out.data(), &b.patchLen)) {
                // Stored as a block without an old counterpart, which every device reads.
                std::memset(b.oldHash, 0, sizeof b.oldHash);
                b.type = 0;
                b.withOld = false;
                b.oldLen = 0;
                packedAlone = true;
            }
        } else {
            // A patch that cannot fit (a short last block has no room for its header):
            // the block goes in compressed alone, which every device reads.
            b.fellBack = true;
            b.withOld = false;
            b.oldLen = 0;
        }
    }
    if (!b.withOld && !packedAlone) {
        b.patchLen = 2 * kBlockSize;
        const int rc = optimize ? lzma_pack_smallest(b.newBlock.data(),
                                                     static_cast<size_t>(b.newLen), b.out.data(),
                                                     &b.patchLen)
                                : lzma_pack(b.newBlock.data(), static_cast<size_t>(b.newLen),
                                            b.out.data(), &b.patchLen);
        b.packFailed = rc != 0;
        b.type = 0;
    }
    std::memcpy(b.props, g_lzma_props, kLzmaPropsSize);
    detail::block_sha256(b.newBlock.data(), static_cast<size_t>(b.newLen), b.newHash);
}

// Reads a block's bytes on the build thread, keeping what the readers say for the commit.
void readBlock(BlockJob &b, const char *oldPath, const char *newPath)
{
    b.readMessages.clear();
    struct Capture {
        explicit Capture(std::vector<std::pair<int, std::string>> *to) { t_capture = to; }
        ~Capture() { t_capture = nullptr; }
    } capture(&b.readMessages);
    b.readFailed =
        file_read(newPath, b.offset, b.newBlock.data(), b.newLen) != b.newLen ||
        (b.withOld && file_read(oldPath, b.offset, b.oldBlock.data(), b.oldLen) != b.oldLen);
}

// Appends block b's record and data, saying exactly what the one-block-at-a-time build says
// at this block. False when the build fails here.
bool commitBlock(BlockJob &b, const char *part, uint32_t partAddr)
{
    for (const auto &m : b.readMessages)
        detail::fota_log(m.first, "%s", m.second.c_str());
    if (b.readFailed)
        return false;
    if (g_controlLen + kBlockRecordSize > kBuildAreaSize) {
        detail::fota_log(kError, "control area full at %s block 0x%llx\n", part,
                         static_cast<unsigned long long>(b.offset));
        return false;
    }
    if (b.fellBack)
        detail::fota_log(kInfo,
                         "block of %s at 0x%llx: its patch does not fit, stored "
                         "compressed without the old block\n",
                         part, static_cast<unsigned long long>(b.offset));
    if (b.packFailed) {
        detail::fota_log(kError, "compression of %s at 0x%llx failed\n", part,
                         static_cast<unsigned long long>(b.offset));
        return false;
    }
    if (b.patchLen > kBlockSize) {
        detail::fota_log(kError, "patchlen size %ld too long \n", static_cast<long>(b.patchLen));
        return false;
    }
    const size_t stored = fota_round16(b.patchLen);
    if (stored > kBuildAreaSize - g_dataLen) {
        detail::fota_log(kError, "data area full at %s block 0x%llx\n", part,
                         static_cast<unsigned long long>(b.offset));
        return false;
    }
    uint8_t *rec = g_control.data() + g_controlLen;
    std::memset(rec, 0, kBlockRecordSize);
    std::strncpy(reinterpret_cast<char *>(rec + kRecName), part, kPartNameSize);
    if (b.type == 1)
        std::memcpy(rec + kRecOldHash, b.oldHash, sizeof b.oldHash);
    rec[kRecType] = b.type;
    const uint32_t addr = partAddr + static_cast<uint32_t>(b.offset);
    fota_put32(rec + kRecAddr, addr);
    fota_put32(rec + kRecOldLen, static_cast<uint32_t>(b.oldLen));
    fota_put32(rec + kRecAddr2, addr);
    fota_put32(rec + kRecNewLen, static_cast<uint32_t>(b.newLen));
    fota_put32(rec + kRecOffset, static_cast<uint32_t>(g_dataLen));
    fota_put32(rec + kRecDataLen, static_cast<uint32_t>(b.patchLen));
    rec[kRecOne] = 1;
    // The property bytes of the compression that made this block, wherever it ran; the build
    // thread's store is left as after the last block, as when the blocks are made here.
    std::memcpy(rec + kRecProps, b.props, kLzmaPropsSize);
    std::memcpy(g_lzma_props, b.props, kLzmaPropsSize);
    rec[kRecZero] = 0;
    std::memcpy(rec + kRecNewHash, b.newHash, sizeof b.newHash);
    std::memcpy(g_data.data() + g_dataLen, b.out.data(), b.patchLen);
    std::memset(g_data.data() + g_dataLen + b.patchLen, 0xFF, stored - b.patchLen); // filler
    g_dataLen += stored;
    g_controlLen += kBlockRecordSize;
    return true;
}

// Makes the records of one partition (see the block layout): patched against the old block
// while both have bytes left and useOld is set, compressed alone otherwise. Every record lies
// inside the partition: a file larger than it fails before any record is made. The blocks are
// made a batch at a time on the build's pool and appended strictly in block order, so records,
// data and messages are those of a one-block-at-a-time build, whatever the thread count; a
// failing block ends the build with its own message, and blocks after it say nothing.
int runBlocks(const char *part, const char *oldPath, const char *newPath, bool useOld)
{
    int64_t oldLeft = 0;
    if (oldPath) {
        oldLeft = file_size(oldPath);
        if (oldLeft < 0)
            return -1;
        if (oldLeft == 0) {
            detail::fota_log(kError, "file %s is empty\n", oldPath);
            return -1;
        }
        if (!useOld)
            oldLeft = 0;
    }
    int64_t newLeft = file_size(newPath);
    if (newLeft < 0)
        return -1;
    if (newLeft == 0) {
        detail::fota_log(kError, "file %s is empty\n", newPath);
        return -1;
    }
    uint32_t partAddr = 0;
    uint32_t partSize = 0;
    if (part_find(part, &partAddr, &partSize) != 0)
        return -1;
    if (!fitsPartition(newPath, newLeft, part, partAddr, partSize))
        return -1;

    const int64_t blocks = (newLeft + static_cast<int64_t>(kBlockSize) - 1) / kBlockSize;
    // Eight blocks per thread in flight: little idle time at the end of a batch, and memory
    // stays bounded (80 KiB a block).
    const int threads = t_pool ? t_pool->threads() : 1;
    const size_t batch =
        threads < 2 ? 1 : static_cast<size_t>(std::min<int64_t>(blocks, 8 * threads));
    std::vector<BlockJob> jobs(batch);
    const bool optimize = t_optimize;
    int64_t done = 0;
    int64_t offset = 0;
    while (newLeft > 0) {
        // Read the next batch here; stop at the first block that cannot be read.
        size_t ready = 0;
        size_t count = 0;
        while (count < batch && newLeft > 0) {
            BlockJob &b = jobs[count++];
            b.offset = offset;
            b.withOld = oldLeft > 0;
            b.newLen = std::min<int64_t>(newLeft, kBlockSize);
            b.oldLen = b.withOld ? std::min<int64_t>(oldLeft, kBlockSize) : 0;
            readBlock(b, oldPath, newPath);
            offset += static_cast<int64_t>(kBlockSize);
            oldLeft = oldLeft > static_cast<int64_t>(kBlockSize) ? oldLeft - kBlockSize : 0;
            newLeft = newLeft > static_cast<int64_t>(kBlockSize) ? newLeft - kBlockSize : 0;
            if (b.readFailed)
                break;
            ++ready;
        }
        const auto make = [&jobs, optimize](size_t i) { makeBlock(jobs[i], optimize); };
        if (t_pool && ready > 1) {
            if (!t_pool->run(ready, make))
                throw std::bad_alloc(); // a block's work ran out of memory
        } else {
            for (size_t i = 0; i < ready; ++i)
                make(i);
        }
        for (size_t i = 0; i < count; ++i) {
            detail::fota_progress("block patches", static_cast<int>(done * 100 / blocks));
            if (!commitBlock(jobs[i], part, partAddr))
                return -1;
            ++done;
        }
    }
    detail::fota_progress("block patches", 100);
    return 0;
}

// Raises every record's data offset so that it counts from the start of the file.
void raiseOffsets(size_t headerSize)
{
    for (size_t at = 0; at < g_controlLen; at += kBlockRecordSize) {
        uint8_t *p = g_control.data() + at + kRecOffset;
        fota_put32(p, fota_get32(p) + static_cast<uint32_t>(g_controlLen + headerSize));
    }
}

// Version texts of the images, each at most its header field's width.
struct Versions {
    char src[kKVersionSize + 1] = {};
    char tgt[kKVersionSize + 1] = {};
};

// Longest version text looked at: anything longer than a header field is refused anyway.
constexpr size_t kVersionProbe = 64;

// Compares two version texts piece by piece, runs of digits by their value: <0, 0 or >0.
int compareVersions(const char *a, const char *b)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (*a && *b) {
        if (digit(*a) && digit(*b)) {
            while (*a == '0')
                ++a;
            while (*b == '0')
                ++b;
            const char *ea = a;
            const char *eb = b;
            while (digit(*ea))
                ++ea;
            while (digit(*eb))
                ++eb;
            if (ea - a != eb - b)
                return ea - a < eb - b ? -1 : 1;
            const int c = std::strncmp(a, b, static_cast<size_t>(ea - a));
            if (c != 0)
                return c;
            a = ea;
            b = eb;
        } else {
            if (*a != *b)
                return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
            ++a;
            ++b;
        }
    }
    return (*a != 0) - (*b != 0);
}

// Reads one version text; a text longer than its header field is refused, not cut.
bool readVersion(const char *path, size_t width, char *out)
{
    char text[kVersionProbe + 1] = {};
    if (image_version(path, text, sizeof text) != 0)
        return false;
    const size_t len = std::strlen(text);
    if (len > width) {
        detail::fota_log(kError,
                         "version %s of %s has %zu characters, more than the %zu its header "
                         "field holds\n",
                         text, path, len, width);
        return false;
    }
    std::memcpy(out, text, len + 1);
    return true;
}

// Reads both version texts for header fields of `width` bytes and reports them.
bool readVersions(const char *oldPath, const char *newPath, size_t width, bool warnDowngrade,
                  Versions &v)
{
    if (oldPath && !readVersion(oldPath, width, v.src))
        return false;
    if (!readVersion(newPath, width, v.tgt))
        return false;
    const bool srcDefault = std::strcmp(v.src, "x.x.x") == 0;
    const bool tgtDefault = std::strcmp(v.tgt, "x.x.x") == 0;
    if (oldPath) {
        if (!srcDefault && !tgtDefault)
            detail::fota_log(kInfo, "source version %s target version %s\n", v.src, v.tgt);
        else
            detail::fota_log(kInfo, "Warning !!! Has default version source %s target %s\n",
                             v.src, v.tgt);
        if (warnDowngrade && !srcDefault && !tgtDefault && compareVersions(v.tgt, v.src) <= 0)
            detail::fota_log(FOTA_LOG_WARN,
                             "target version %s is not newer than source version %s: the "
                             "package does not upgrade the device\n",
                             v.tgt, v.src);
    } else {
        if (!tgtDefault)
            detail::fota_log(kInfo, "target version %s\n", v.tgt);
        else
            detail::fota_log(kInfo, "Warning !!! Has default version %s better supply src file\n",
                             v.tgt);
    }
    return true;
}

void putVersions(const Versions &v, size_t width, uint8_t *srcField, uint8_t *tgtField)
{
    std::memset(srcField, 0, width);
    std::memset(tgtField, 0, width);
    std::memcpy(srcField, v.src, std::strlen(v.src));
    std::memcpy(tgtField, v.tgt, std::strlen(v.tgt));
}

struct WriteTexts {
    const char *open;
    const char *write;
};
constexpr WriteTexts kWriteTexts = {"open(%s) error\n", "write(%s) error\n"};
constexpr WriteTexts kAbWriteTexts = {"open %s failed\n", "write %s failed\n"};

// The output path as the user gave it, for messages about the private file written instead.
thread_local const char *t_shownOutput = nullptr;

bool writeAll(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Writes header, control area and data area into the build's private package file.
// `size` receives the package size.
bool writePackage(const char *path, const uint8_t *header, size_t headerSize, bool withControl,
                  const WriteTexts &texts, int64_t *size)
{
    detail::fota_progress("writing", -1);
    const char *shown = t_shownOutput ? t_shownOutput : path;
    const int fd = ::open(path, O_CREAT | O_WRONLY | O_TRUNC | O_BINARY | O_CLOEXEC, 0644);
    if (fd < 0) {
        detail::fota_log(kError, texts.open, shown);
        return false;
    }
    bool ok = writeAll(fd, header, headerSize);
    if (ok && withControl)
        ok = writeAll(fd, g_control.data(), g_controlLen);
    if (ok)
        ok = writeAll(fd, g_data.data(), g_dataLen);
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        detail::fota_log(kError, texts.write, shown);
        return false;
    }
    *size = static_cast<int64_t>(headerSize + (withControl ? g_controlLen : 0) + g_dataLen);
    return true;
}

// CRC over header bytes 16.. and then the areas.
uint32_t packageCrc(const uint8_t *header, size_t headerSize, bool withControl, bool withData)
{
    uint32_t crc = fota_crc32(0, header + 16, headerSize - 16);
    if (withControl)
        crc = fota_crc32(crc, g_control.data(), g_controlLen);
    if (withData)
        crc = fota_crc32(crc, g_data.data(), g_dataLen);
    return crc;
}

void fillMagic(uint8_t *header, int32_t methodByte)
{
    std::memcpy(header, kPackageMagic, kPackageMagicSize);
    header[7] = static_cast<uint8_t>(methodByte);
}

// Reads the package back and checks it against the request's inputs.
bool verifyWritten(const PackRequest &req)
{
    detail::fota_progress("verifying", -1);
    LzmaReleaseCache(); // compression is over; the read-back should not carry its tables
    PackageInputs in;
    in.partition = req.partition_path;
    in.boot = req.boot_path;
    in.oldImage = req.old_path;
    in.newImage = req.new_path;
    in.nv1 = req.nv1_path;
    in.nv2 = req.nv2_path;
    in.method = req.method;
    const std::vector<std::string> findings =
        g_packageCheck ? g_packageCheck(req.output_path, in) : package_verify_file(req.output_path, in);
    if (!findings.empty()) {
        detail::fota_log(kError, "package verification failed: %s\n", findings.front().c_str());
        return false;
    }
    detail::fota_log(kInfo, "package verified\n");
    return true;
}

int64_t sizeOrZero(const char *path)
{
    if (!path)
        return 0;
    const int64_t s = file_size(path);
    return s < 0 ? 0 : s;
}

int64_t packRound(int64_t size) { return (size + 4095) & ~int64_t(4095); }
int64_t firmwareRound(int64_t size) { return (size + 4097) & ~int64_t(4095); }

// Checks that package and firmware fit the partitions. `ota` names the second partition
// (ZN3150) or is null (KLM4410). A size that cannot be had fails the check.
bool sizeCheck(const PackRequest &req, int64_t packageSize, const char *bootPart,
               const char *masterPart, const char *otaPart, int64_t reserve)
{
    const char *boot = orNull(req.boot_path);
    if (boot) {
        const int64_t bootSize = file_size(boot);
        if (bootSize < 0)
            return false;
        if (bootSize == 0) {
            detail::fota_log(kError, "file %s is empty\n", boot);
            return false;
        }
        uint32_t addr = 0;
        uint32_t size = 0;
        if (part_find(bootPart, &addr, &size) != 0)
            return false;
        if (bootSize > static_cast<int64_t>(size)) {
            detail::fota_log(kError, "boot file 0x%x too big than boot part 0x%x\n",
                             static_cast<unsigned>(bootSize), size);
            return false;
        }
    }
    uint32_t addr = 0;
    uint32_t master = 0;
    uint32_t ota = 0;
    if (part_find(masterPart, &addr, &master) != 0)
        return false;
    if (otaPart && part_find(otaPart, &addr, &ota) != 0)
        return false;
    const int64_t newSize = file_size(req.new_path);
    const int64_t oldSize = hasPath(req.old_path) ? file_size(req.old_path) : 0;
    if (newSize < 0 || oldSize < 0)
        return false;
    if (newSize > static_cast<int64_t>(master)) {
        detail::fota_log(kError, "master part 0x%x not enough, new file size:0x%x\n", master,
                         static_cast<unsigned>(newSize));
        return false;
    }
    const int64_t pack = packRound(packageSize);
    const int64_t fw = firmwareRound(std::max(oldSize, newSize));
    const int64_t room = static_cast<int64_t>(master) + static_cast<int64_t>(ota);
    const int64_t need = pack + fw + reserve;
    const bool pass = room >= need;
    const int level = pass ? kInfo : kError;
    const int packK = static_cast<int>(pack >> 10);
    const int fwK = static_cast<int>(fw >> 10);
    const int masterK = static_cast<int>(master >> 10);
    if (otaPart) {
        detail::fota_log(level, "packsize:\t\t %dK\n", packK);
        detail::fota_log(level, pass ? "firamwaresize:\t %dK\n" : "firmwaresize:\t %dK\n", fwK);
        detail::fota_log(level, "mastersize:\t %dK\n", masterK);
        detail::fota_log(level, "otasize:\t\t %dK\n", static_cast<int>(ota >> 10));
    } else {
        detail::fota_log(level, "packsize:\t %dK\n", packK);
        detail::fota_log(level, "firamwaresize:\t %dK\n", fwK);
        detail::fota_log(level, "mastersize:\t %dK\n", masterK);
    }
    if (pass)
        detail::fota_log(kInfo, "partsize check pass, extra %dK\n",
                         static_cast<int>((room - need) >> 10));
    else
        detail::fota_log(kError, "size not enough for upgrade, also need %dK\n",
                         static_cast<int>((need - room) >> 10));
    return pass;
}

// After the package is in its private file: the size check, then the read-back verification,
// the last step before success.
int finish(const PackRequest &req, int64_t packageSize, const char *bootPart,
           const char *masterPart, const char *otaPart, int64_t reserve)
{
    if (!sizeCheck(req, packageSize, bootPart, masterPart, otaPart, reserve))
        return -1;
    return verifyWritten(req) ? 0 : -1;
}

// A file of the build's own, created next to `near` (same folder, so that a rename into
// place stays on one file system) and removed when the build ends unless kept.
class BuildFile {
public:
    BuildFile() = default;
    BuildFile(const BuildFile &) = delete;
    BuildFile &operator=(const BuildFile &) = delete;
    ~BuildFile()
    {
        if (!path_.empty() && !kept_)
            ::unlink(path_.c_str());
    }
    // Creates the file exclusively with `mode` (less the umask). False with errno set.
    bool create(const std::string &near, const char *tag, mode_t mode)
    {
        const size_t slash = near.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : near.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? near : near.substr(slash + 1);
        std::random_device random;
        for (int attempt = 0; attempt < 64; ++attempt) {
            char suffix[64];
            std::snprintf(suffix, sizeof suffix, ".%08x%08x.%s", random(), random(), tag);
            const std::string path = dir + "." + base + suffix;
            const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, mode);
            if (fd >= 0) {
                ::close(fd);
                path_ = path;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }
    const char *path() const { return path_.c_str(); }
    void keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

// Makes the in-place patch in a private scratch file and moves it into the data area.
bool appendInplacePatch(const PackRequest &req)
{
    BuildFile scratch;
    if (!scratch.create(req.output_path, "patch", 0600)) {
        detail::fota_log(kError, "cannot create a scratch file beside %s: %s\n",
                         t_shownOutput ? t_shownOutput : req.output_path, std::strerror(errno));
        return false;
    }
    detail::fota_progress("in-place patch", -1);
    detail::set_inplace_progress(
        [](const char *stage, int percent) { detail::fota_progress(stage, percent); });
    InplaceOptions options;
    options.optimize = req.optimize != 0;
    options.threads = t_threads;
    const int made = sw_bsdiff_new(req.old_path, req.new_path, scratch.path(), options);
    detail::set_inplace_progress(nullptr);
    if (made != 0) {
        detail::fota_log(kError, "in-place patch of %s failed\n", req.new_path);
        return false;
    }
    detail::releaseFreeMemory(); // the generator's buffers, before the package is checked
    size_t patchSize = 0;
    return appendFile(scratch.path(), &patchSize);
}

int buildZ1(const PackRequest &req, const Versions &v)
{
    const char *old = orNull(req.old_path);
    if (hasPath(req.boot_path) && runBlocks("boot", nullptr, req.boot_path, false) != 0)
        return -1;
    if (runBlocks("cpu1", old, req.new_path, req.method != 0) != 0)
        return -1;
    if (hasPath(req.nv1_path) && runBlocks("nv_usr", nullptr, req.nv1_path, false) != 0)
        return -1;
    if (hasPath(req.nv2_path) && runBlocks("nv_amt", nullptr, req.nv2_path, false) != 0)
        return -1;
    if (g_dataLen + g_controlLen + kZHeaderSize > kZPackageLimit) {
        detail::fota_log(kError, "patch size bigger than 1M, patchlen=0x%x, controllen=0x%x\n",
                         static_cast<unsigned>(g_dataLen), static_cast<unsigned>(g_controlLen));
        return -1;
    }
    uint8_t header[kZHeaderSize] = {};
    fillMagic(header, 1);
    putVersions(v, kZVersionSize, header + 32, header + 48);
    fota_put32(header + 8, static_cast<uint32_t>(kZHeaderSize + g_controlLen + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(g_controlLen / kBlockRecordSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(old)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, old ? file_crc32_whole(old) : 0);
    raiseOffsets(kZHeaderSize);
    fota_put32(header + 12, packageCrc(header, kZHeaderSize, true, true));
    int64_t size = 0;
    if (!writePackage(req.output_path, header, kZHeaderSize, true, kWriteTexts, &size))
        return -1;
    return finish(req, size, "boot", "cpu1", "data_ota", kZBootReserve);
}

int buildZ3(const PackRequest &req, const Versions &v)
{
    uint8_t header[kZHeaderSize] = {};
    fillMagic(header, 3);
    putVersions(v, kZVersionSize, header + 32, header + 48);
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(req.old_path)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, file_crc32_whole(req.old_path));
    if (!appendInplacePatch(req))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kZHeaderSize + g_dataLen));
    fota_put32(header + 12, packageCrc(header, kZHeaderSize, false, true));
    int64_t size = 0;
    if (!writePackage(req.output_path, header, kZHeaderSize, false, kWriteTexts, &size))
        return -1;
    return finish(req, size, "boot", "cpu1", "data_ota", kInplaceReserve);
}

int buildKBlocks(const PackRequest &req, const Versions &v)
{
    const char *old = orNull(req.old_path);
    if (hasPath(req.boot_path) && runBlocks("uboot", nullptr, req.boot_path, false) != 0)
        return -1;
    if (runBlocks("cpu", old, req.new_path, req.method == 1) != 0)
        return -1;
    if (g_dataLen + g_controlLen + kKHeaderSize > kKPackageLimit) {
        detail::fota_log(kError, "patch size bigger than 2M, patchlen=0x%x, controllen=0x%x\n",
                         static_cast<unsigned>(g_dataLen), static_cast<unsigned>(g_controlLen));
        return -1;
    }
    uint8_t header[kKHeaderSize] = {};
    fillMagic(header, fota_method_code(req.method));
    putVersions(v, kKVersionSize, header + 48, header + 80);
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_controlLen + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(g_controlLen / kBlockRecordSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(old)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, old ? file_crc32_whole(old) : 0);
    fota_put32(header + 32, file_crc32_whole(req.new_path));
    raiseOffsets(kKHeaderSize);
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, true, true));
    int64_t size = 0;
    if (!writePackage(req.output_path, header, kKHeaderSize, true, kWriteTexts, &size))
        return -1;
    return finish(req, size, "uboot", "cpu", nullptr, kInplaceReserve);
}

int buildKInplace(const PackRequest &req, const Versions &v)
{
    size_t bootSize = 0;
    if (hasPath(req.boot_path) && !appendFile(req.boot_path, &bootSize))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fillMagic(header, fota_method_code(req.method));
    putVersions(v, kKVersionSize, header + 48, header + 80);
    fota_put32(header + 16, static_cast<uint32_t>(bootSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(req.old_path)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, file_crc32_whole(req.old_path));
    if (!appendInplacePatch(req))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_dataLen));
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, false, true));
    int64_t size = 0;
    if (!writePackage(req.output_path, header, kKHeaderSize, false, kWriteTexts, &size))
        return -1;
    return finish(req, size, "uboot", "cpu", nullptr, kInplaceReserve);
}

int buildKWhole(const PackRequest &req, const Versions &v)
{
    const char *old = orNull(req.old_path);
    size_t bootSize = 0;
    if (hasPath(req.boot_path) && !appendFile(req.boot_path, &bootSize))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fillMagic(header, fota_method_code(req.method));
    putVersions(v, kKVersionSize, header + 48, header + 80);
    std::vector<uint8_t> image;
    if (!readWhole(req.new_path, image))
        return -1;
    detail::fota_progress("compressing", -1);
    size_t streamLen = kBuildAreaSize - g_dataLen;
    if (packBlock(image.data(), image.size(), g_data.data() + g_dataLen, &streamLen) != 0) {
        detail::fota_log(kError,
                         "compression of %s failed: the compressed image does not fit in the "
                         "0x%zx bytes left in the data area (data area full)\n",
                         req.new_path, kBuildAreaSize - g_dataLen);
        return -1;
    }
    g_dataLen += streamLen;
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(bootSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(old)));
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, old ? file_crc32_whole(old) : 0);
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, false, true));
    int64_t size = 0;
    if (!writePackage(req.output_path, header, kKHeaderSize, false, kWriteTexts, &size))
        return -1;
    return finish(req, size, "uboot", "cpu", nullptr, kWholeReserve);
}

bool appendNonEmpty(const char *path, size_t *size)
{
    if (!appendFile(path, size))
        return false;
    if (*size == 0) {
        detail::fota_log(kError, "file %s is empty\n", path);
        return false;
    }
    return true;
}

bool sizeCheckAB(const char *path)
{
    uint8_t header[kKHeaderSize];
    if (file_read(path, 0, header, kKHeaderSize) != static_cast<int64_t>(kKHeaderSize))
        return false;
    const uint32_t boot = fota_get32(header + 16);
    const uint32_t a = fota_get32(header + 20);
    const uint32_t b = fota_get32(header + 24);
    uint32_t addr = 0;
    uint32_t size = 0;
    if (part_find("uboot", &addr, &size) != 0)
        return false;
    if (boot > size) {
        detail::fota_log(kError, "boot size 0x%x too big\n", boot);
        return false;
    }
    if (a == 0 || b == 0) {
        detail::fota_log(kError, "firmware size error %d with %d\n", static_cast<int>(a),
                         static_cast<int>(b));
        return false;
    }
    if (part_find("cpu", &addr, &size) != 0)
        return false;
    const uint32_t larger = std::max(a, b);
    if (larger > size / 2) {
        detail::fota_log(kError, "master part size 0x%x not enough, firmware size:0x%x\n",
                         size / 2, larger);
        return false;
    }
    detail::fota_log(kInfo, "partsize check pass\n");
    return true;
}

int buildAB(const PackRequest &req, const Versions &v)
{
    size_t bootSize = 0;
    size_t aSize = 0;
    size_t bSize = 0;
    if (hasPath(req.boot_path) && !appendNonEmpty(req.boot_path, &bootSize))
        return -1;
    if (!appendNonEmpty(req.old_path, &aSize) || !appendNonEmpty(req.new_path, &bSize))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fillMagic(header, fota_method_code(req.method));
    putVersions(v, kKVersionSize, header + 48, header + 80);
    const uint8_t *base = g_data.data();
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(bootSize));
    fota_put32(header + 20, static_cast<uint32_t>(aSize));
    fota_put32(header + 24, static_cast<uint32_t>(bSize));
    fota_put32(header + 28, fota_crc32(0, base + bootSize, aSize));
    fota_put32(header + 32, fota_crc32(0, base + bootSize + aSize, bSize));
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, false, false));
    int64_t size = 0;
    if (!writePackage(req.output_path, header, kKHeaderSize, false, kAbWriteTexts, &size))
        return -1;
    if (!sizeCheckAB(req.output_path))
        return -1;
    return verifyWritten(req) ? 0 : -1;
}

// True when `output` names the same existing file as one of the request's inputs: the build
// replaces its output, which would destroy that input.
bool outputIsAnInput(const PackRequest &req)
{
    struct stat out;
    if (::stat(req.output_path, &out) != 0)
        return false;
    for (const char *in : {req.partition_path, req.boot_path, req.old_path, req.new_path,
                           req.nv1_path, req.nv2_path}) {
        struct stat st;
        if (hasPath(in) && ::stat(in, &st) == 0 && st.st_dev == out.st_dev &&
            st.st_ino == out.st_ino)
            return true;
    }
    return false;
}

// An output that exists must be a regular file: a folder, device or FIFO is never replaced.
bool outputUsable(const char *output)
{
    struct stat st;
    if (::stat(output, &st) != 0 || S_ISREG(st.st_mode))
        return true;
    std::string kind;
    detail::input_file_problem(output, kind);
    detail::fota_log(kError, "output %s exists and is %s, not a regular file: it is left alone\n",
                     output, kind.c_str());
    return false;
}

// Says plainly which input cannot be read and why, before any of them is opened. A path that
// is not a regular file fails the build at once; `unreadable` is set for one that cannot be
// opened (the steps after still report what they see, and the build then fails).
bool checkInputs(const PackRequest &req, bool &unreadable)
{
    const struct {
        const char *what;
        const char *path;
    } inputs[] = {{"partition table", req.partition_path}, {"boot image", req.boot_path},
                  {"old image", req.old_path},             {"new image", req.new_path},
                  {"first NV file", req.nv1_path},         {"second NV file", req.nv2_path}};
    unreadable = false;
    for (const auto &in : inputs) {
        if (!hasPath(in.path))
            continue;
        std::string why;
        switch (detail::input_file_problem(in.path, why)) {
        case detail::InputProblem::None:
            break;
        case detail::InputProblem::Unreadable:
            detail::fota_log(kError, "cannot open the %s %s: %s\n", in.what, in.path,
                             why.c_str());
            unreadable = true;
            break;
        case detail::InputProblem::NotAFile:
            detail::fota_log(kError, "the %s %s is %s, not a regular file\n", in.what, in.path,
                             why.c_str());
            return false;
        }
    }
    return true;
}

// Refuses, before any work, a method the board cannot build and inputs its layout would drop.
bool methodSuitsBoard(int type, const PackRequest &req)
{
    const int32_t m = req.method;
    if (type == kBoardZN3150) {
        if (m == 0 || m == 2 || m == 4) {
            detail::fota_log(kError,
                             "ZN3150 images cannot be built with method %d: ZN3150 takes "
                             "methods 1 and 3\n",
                             m);
            return false;
        }
        if (m == 3) {
            std::string dropped;
            for (const auto &in : {std::make_pair("boot image", req.boot_path),
                                   std::make_pair("first NV file", req.nv1_path),
                                   std::make_pair("second NV file", req.nv2_path)})
                if (hasPath(in.second))
                    dropped += std::string(dropped.empty() ? "" : ", ") + in.first;
            if (!dropped.empty()) {
                detail::fota_log(kError,
                                 "ZN3150 in-place packages (method 3) have no place for the "
                                 "boot image or NV files and would ignore: %s. Leave them out "
                                 "or use method 1\n",
                                 dropped.c_str());
                return false;
            }
        }
    }
    if (type == kBoardKLM4410 && (hasPath(req.nv1_path) || hasPath(req.nv2_path))) {
        detail::fota_log(kError, "KLM4410 not support NV update\n");
        return false;
    }
    return true;
}

// Checks every input against its partition, and the lookups of the final size check, from the
// file system's sizes: cheap failures come before any heavy work.
bool inputsFit(int type, const PackRequest &req)
{
    const bool z = type == kBoardZN3150;
    const bool ab = !z && req.method == 2;
    const char *masterPart = z ? "cpu1" : "cpu";
    const char *boot = orNull(req.boot_path);
    const char *old = orNull(req.old_path);
    uint32_t addr = 0;
    uint32_t bootPart = 0;
    uint32_t master = 0;
    uint32_t ota = 0;
    if ((boot || ab) && part_find(z ? "boot" : "uboot", &addr, &bootPart) != 0)
        return false;
    if (part_find(masterPart, &addr, &master) != 0)
        return false;
    if (z && part_find("data_ota", &addr, &ota) != 0)
        return false;
    const int64_t newSize = file_size(req.new_path);
    const int64_t oldSize = old ? file_size(old) : 0;
    const int64_t bootSize = boot ? file_size(boot) : 0;
    if (newSize < 0 || oldSize < 0 || bootSize < 0)
        return false;
    if (ab) {
        if (bootSize > static_cast<int64_t>(bootPart)) {
            detail::fota_log(kError, "boot size 0x%x too big\n", static_cast<unsigned>(bootSize));
            return false;
        }
        const int64_t larger = std::max(oldSize, newSize);
        if (larger > static_cast<int64_t>(master / 2)) {
            detail::fota_log(kError, "master part size 0x%x not enough, firmware size:0x%x\n",
                             master / 2, static_cast<unsigned>(larger));
            return false;
        }
        int64_t left = static_cast<int64_t>(kBuildAreaSize);
        for (const auto &f : {std::make_pair(boot, bootSize), std::make_pair(old, oldSize),
                              std::make_pair(static_cast<const char *>(req.new_path), newSize)}) {
            if (!f.first)
                continue;
            if (f.second > left) {
                detail::fota_log(kError, "data area full: %s needs 0x%llx bytes, 0x%llx left\n",
                                 f.first, static_cast<unsigned long long>(f.second),
                                 static_cast<unsigned long long>(left));
                return false;
            }
            left -= f.second;
        }
        return true;
    }
    if (boot && bootSize > static_cast<int64_t>(bootPart)) {
        detail::fota_log(kError, "boot file 0x%x too big than boot part 0x%x\n",
                         static_cast<unsigned>(bootSize), bootPart);
        return false;
    }
    if (newSize > static_cast<int64_t>(master)) {
        detail::fota_log(kError, "master part 0x%x not enough, new file size:0x%x\n", master,
                         static_cast<unsigned>(newSize));
        return false;
    }
    if (old && !fitsPartition(old, oldSize, masterPart, 0, master))
        return false;
    if (!z && boot && (req.method == 3 || req.method == 4) &&
        bootSize > static_cast<int64_t>(kBuildAreaSize)) {
        detail::fota_log(kError, "data area full: %s needs 0x%llx bytes, 0x%zx left\n", boot,
                         static_cast<unsigned long long>(bootSize), kBuildAreaSize);
        return false;
    }
    if (z) {
        const struct {
            const char *path;
            const char *part;
        } nv[] = {{req.nv1_path, "nv_usr"}, {req.nv2_path, "nv_amt"}};
        for (const auto &f : nv) {
            if (!hasPath(f.path))
                continue;
            uint32_t size = 0;
            const int64_t fileSize = file_size(f.path);
            if (fileSize < 0 || part_find(f.part, &addr, &size) != 0 ||
                !fitsPartition(f.path, fileSize, f.part, addr, size))
                return false;
        }
    }
    return true;
}

// Holds the output for one build: a second build to the same output fails instead of both
// claiming one file. The lock file lives beside the output while the build runs.
class OutputLock {
public:
    OutputLock() = default;
    OutputLock(const OutputLock &) = delete;
    OutputLock &operator=(const OutputLock &) = delete;
    ~OutputLock()
    {
        if (fd_ >= 0) {
            ::unlink(path_.c_str());
            ::close(fd_);
        }
    }
    // 0 when held, 1 when another build holds it, -1 with errno when the file cannot be made.
    int acquire(const std::string &output)
    {
        const size_t slash = output.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : output.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
        path_ = dir + "." + base + ".lock";
        const int fd = ::open(path_.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0)
            return -1;
        struct stat held;
        struct stat named;
        // The holder before us may have removed the file after we opened it: then the lock
        // we got is on a file nobody else will see, and another build may hold the new one.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 ||
            ::stat(path_.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
            held.st_dev != named.st_dev) {
            ::close(fd);
            return 1;
        }
        fd_ = fd;
        return 0;
    }

private:
    std::string path_;
    int fd_ = -1;
};

// Reads the first 128 bytes of an image for its method byte.
bool methodByte(const char *path, uint8_t *out)
{
    uint8_t head[128];
    const int64_t got = file_read(path, 0, head, sizeof head);
    if (got < 0)
        return false;
    if (got < static_cast<int64_t>(sizeof head)) {
        detail::fota_log(kError, "%s is shorter than 128 bytes\n", path);
        return false;
    }
    *out = head[112];
    return true;
}

bool isDiffCode(uint8_t b) { return b == kMethodCodeDiff || b == kMethodCodeCZ; }

bool methodCheck(int type, const PackRequest &req)
{
    const int32_t m = req.method;
    if (type == kBoardZN3150) {
        if (m == 0 || m == 4) {
            detail::fota_log(kInfo, "update method CZ\n");
            return true;
        }
        if (m == 1 || m == 3) {
            detail::fota_log(kInfo, "update method DIFF\n");
            return true;
        }
        detail::fota_log(kError, "ZN3150 not support the update method\n");
        return false;
    }
    if (type == kBoardKLM4410) {
        uint8_t b = 0;
        if (!methodByte(req.new_path, &b))
            return false;
        if ((m == 0 || m == 4) && isDiffCode(b)) {
            detail::fota_log(kInfo, "update method CZ\n");
            return true;
        }
        uint8_t a = 0;
        if (hasPath(req.old_path) && !methodByte(req.old_path, &a))
            return false;
        if (hasPath(req.old_path)) {
            if ((m == 1 || m == 3) && isDiffCode(a) && isDiffCode(b)) {
                detail::fota_log(kInfo, "update method DIFF\n");
                return true;
            }
            if (m == 2 && a == kMethodCodeAB && b == kMethodCodeAB) {
                detail::fota_log(kInfo, "update method AB\n");
                return true;
            }
        }
        detail::fota_log(kError, "update method 0x%x not match. A method 0x%x B method 0x%x\n",
                         static_cast<unsigned>(m), a, b);
        return false;
    }
    detail::fota_log(kError, "unknown image type 0x%x\n", static_cast<unsigned>(type));
    return false;
}

int dispatch(int type, const PackRequest &req, const Versions &v)
{
    if (type == kBoardZN3150)
        return req.method == 1 ? buildZ1(req, v) : buildZ3(req, v);
    switch (req.method) {
    case 2:
        return buildAB(req, v);
    case 4:
        return buildKWhole(req, v);
    case 3:
        return buildKInplace(req, v);
    default:
        return buildKBlocks(req, v);
    }
}

// One build: every input and size check first, then the package in a private file beside the
// output, its size check and verification, and last the rename into place.
int makePackage(PackRequest request)
{
    t_optimize = request.optimize != 0;
    // Joined when the build returns: no thread outlives it.
    detail::TaskPool pool(detail::resolve_threads(request.threads));
    t_pool = &pool;
    t_threads = pool.threads();
    struct ForgetPool {
        ~ForgetPool()
        {
            t_pool = nullptr;
            t_threads = 1;
        }
    } forgetPool;
    if (t_optimize)
        detail::fota_log(kInfo, "optimising encoder: smaller streams in the same format, a "
                                "longer build\n");
    detail::fota_progress("reading inputs", -1);
    if (!resetAreas()) {
        detail::fota_log(kError, "no memory for the build areas\n");
        return -1;
    }
    // The window cuts paths to 255 bytes; make sure every field is terminated whatever the caller did.
    request.partition_path[255] = request.boot_path[255] = request.old_path[255] = '\0';
    request.new_path[255] = request.nv1_path[255] = request.nv2_path[255] = '\0';
    if (!hasPath(request.partition_path) || !hasPath(request.new_path) ||
        !hasPath(request.output_path) ||
        (request.method != 0 && request.method != 4 && !hasPath(request.old_path))) {
        detail::fota_log(kError, "please input firmware and patch bin\n");
        return -1;
    }
    if (!outputUsable(request.output_path))
        return -1;
    if (outputIsAnInput(request)) {
        detail::fota_log(kError, "output %s is one of the input files\n", request.output_path);
        return -1;
    }
    bool unreadable = false;
    if (!checkInputs(request, unreadable))
        return -1;
    const int type = image_board_type(request.new_path);
    if (hasPath(request.old_path) && image_board_type(request.old_path) != type) {
        detail::fota_log(kError, "image type not match\n");
        return -1;
    }
    if (unreadable)
        return -1;
    if (type != kBoardUnknown && !g_boardReported.exchange(true))
        detail::fota_log(kInfo, type == kBoardKLM4410 ? "Board KLM4410\n" : "Board ZN3150\n");
    if (!methodSuitsBoard(type, request))
        return -1;
    if (part_table_init(request.partition_path, type) != 0)
        return -1;
    if (!methodCheck(type, request))
        return -1;
    if (!inputsFit(type, request))
        return -1;
    Versions versions;
    const size_t width = type == kBoardZN3150 ? kZVersionSize : kKVersionSize;
    if (!readVersions(orNull(request.old_path), request.new_path, width, request.method != 2,
                      versions))
        return -1;

    OutputLock lock;
    BuildFile package;
    const int held = lock.acquire(request.output_path);
    if (held == 1) {
        detail::fota_log(kError, "output %s is being written by another build\n",
                         request.output_path);
        return -1;
    }
    if (held != 0 || !package.create(request.output_path, "tmp", 0644)) {
        const int err = errno;
        detail::fota_log(kError, request.method == 2 ? kAbWriteTexts.open : kWriteTexts.open,
                         request.output_path);
        detail::fota_log(kError, "cannot create files beside %s: %s\n", request.output_path,
                         std::strerror(err));
        return -1;
    }
    PackRequest work = request;
    work.output_path = package.path();
    t_shownOutput = request.output_path;
    struct ForgetShown {
        ~ForgetShown() { t_shownOutput = nullptr; }
    } forgetShown;
    if (dispatch(type, work, versions) != 0)
        return -1;
    if (::rename(package.path(), request.output_path) != 0) {
        detail::fota_log(kError, "cannot move the package into place at %s: %s\n",
                         request.output_path, std::strerror(errno));
        return -1;
    }
    package.keep();
    detail::fota_progress("done", 100);
    return 0;
}

} // namespace

namespace deltamaker::detail {
void fota_log(int level, const char *fmt, ...)
{
    FotaLogSink sink;
    if (!t_capture) {
        std::lock_guard<std::mutex> hold(g_sinkLock);
        sink = g_sink;
        if (!sink)
            return;
    }
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (t_capture)
        t_capture->emplace_back(level, buf);
    else
        sink(level, buf);
}

void set_package_check(PackageCheck check) { g_packageCheck = std::move(check); }

void fota_progress(const char *stage, int percent)
{
    if (std::strncmp(t_progressStage, stage, sizeof t_progressStage) == 0 &&
        t_progressPercent == percent)
        return;
    std::snprintf(t_progressStage, sizeof t_progressStage, "%s", stage);
    t_progressPercent = percent;
    FotaProgressSink sink;
    {
        std::lock_guard<std::mutex> hold(g_sinkLock);
        sink = g_progress;
    }
    if (sink)
        sink(stage, percent);
}
} // namespace deltamaker::detail

void fota_set_progress_sink(FotaProgressSink sink)
{
    std::lock_guard<std::mutex> hold(g_sinkLock);
    g_progress = std::move(sink);
}

void fota_set_log_sink(FotaLogSink sink)
{
    std::lock_guard<std::mutex> hold(g_sinkLock);
    g_sink = std::move(sink);
}

int fota_make_package(PackRequest request)
{
    // Every way out of a build leaves no compression tables and no build areas behind, and no
    // allocation failure escapes to the caller.
    struct Release {
        ~Release()
        {
            LzmaReleaseCache();
            releaseAreas();
            t_progressStage[0] = '\0';
            t_progressPercent = -2;
        }
    } release;
    try {
        return makePackage(request);
    } catch (const std::bad_alloc &) {
        detail::fota_log(kError, "not enough memory to build the package\n");
    } catch (const std::exception &e) {
        detail::fota_log(kError, "package build failed: %s\n", e.what());
    }
    return -1;
}

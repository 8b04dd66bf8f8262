#include "deltamaker/builder/fota.h"

#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/builder/firmware_input_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/builder/package_format.h"
#include "deltamaker/lzma/lzma_lib.h"
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/inplace.h"
#include "deltamaker/patch/inplace_p.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/verify/package_verify.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

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

FotaLogSink g_sink;
FotaProgressSink g_progress;
Internal::PackageCheck g_packageCheck;
bool g_boardReported = false;

// A build area of kBuildAreaSize bytes. Only [0, length) is ever read, and every byte there is
// written by the build (gaps with the 0xFF filler), so the area is allocated once and never
// pre-filled: a build keeps in memory only the pages it writes, not 2 x 4 MiB of filler.
class BuildArea {
public:
    // False when the area cannot be allocated.
    bool ensure()
    {
        if (!bytes_)
            bytes_.reset(static_cast<uint8_t *>(std::malloc(kBuildAreaSize)));
        return bytes_ != nullptr;
    }
    uint8_t *data() { return bytes_.get(); }

private:
    struct FreeDeleter {
        void operator()(void *p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t[], FreeDeleter> bytes_;
};

// The two build areas, shared by the plug-in and reset by every build.
BuildArea g_control;
BuildArea g_data;
size_t g_controlLen = 0;
size_t g_dataLen = 0;

bool hasPath(const char *p) { return p && p[0] != '\0'; }
const char *orNull(const char *p) { return hasPath(p) ? p : nullptr; }

bool resetAreas()
{
    g_controlLen = 0;
    g_dataLen = 0;
    return g_control.ensure() && g_data.ensure();
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
    std::vector<uint8_t> bytes;
    if (!readWhole(path, bytes))
        return false;
    if (bytes.size() > kBuildAreaSize - g_dataLen) {
        Internal::fota_log(kError, "data area full: %s needs 0x%zx bytes, 0x%zx left\n", path,
                           bytes.size(), kBuildAreaSize - g_dataLen);
        return false;
    }
    if (!bytes.empty())
        std::memcpy(g_data.data() + g_dataLen, bytes.data(), bytes.size());
    g_dataLen += bytes.size();
    *sizeOut = bytes.size();
    return true;
}

// Makes the records of one partition (see the block layout): patched against the old block
// while both have bytes left and useOld is set, compressed alone otherwise.
int runBlocks(const char *part, const char *oldPath, const char *newPath, bool useOld)
{
    int64_t oldLeft = 0;
    if (oldPath) {
        oldLeft = file_size(oldPath);
        if (oldLeft < 0)
            return -1;
        if (oldLeft == 0) {
            Internal::fota_log(kError, "file %s is empty\n", oldPath);
            return -1;
        }
        if (!useOld)
            oldLeft = 0;
    }
    int64_t newLeft = file_size(newPath);
    if (newLeft < 0)
        return -1;
    if (newLeft == 0) {
        Internal::fota_log(kError, "file %s is empty\n", newPath);
        return -1;
    }
    uint32_t partAddr = 0;
    uint32_t partSize = 0;
    if (part_find(part, &partAddr, &partSize) != 0)
        return -1;

    std::vector<uint8_t> oldBlock(kBlockSize);
    std::vector<uint8_t> newBlock(kBlockSize);
    std::vector<uint8_t> out(kPatchBuffer);
    int64_t offset = 0;
    while (newLeft > 0) {
        const bool withOld = oldLeft > 0;
        const int64_t newLen = std::min<int64_t>(newLeft, kBlockSize);
        const int64_t oldLen = withOld ? std::min<int64_t>(oldLeft, kBlockSize) : 0;
        if (file_read(newPath, offset, newBlock.data(), newLen) != newLen)
            return -1;
        if (withOld && file_read(oldPath, offset, oldBlock.data(), oldLen) != oldLen)
            return -1;
        if (g_controlLen + kBlockRecordSize > kBuildAreaSize) {
            Internal::fota_log(kError, "control area full at %s block 0x%llx\n", part,
                               static_cast<unsigned long long>(offset));
            return -1;
        }
        uint8_t *rec = g_control.data() + g_controlLen;
        std::memset(rec, 0, kBlockRecordSize);
        std::strncpy(reinterpret_cast<char *>(rec + kRecName), part, kPartNameSize);
        size_t patchLen = 0;
        if (withOld) {
            Internal::block_sha256(oldBlock.data(), static_cast<size_t>(oldLen),
                                   rec + kRecOldHash);
            int64_t len = 0;
            if (sw_bsdiff(oldBlock.data(), oldLen, newBlock.data(), newLen, out.data(), &len) !=
                    0 ||
                len < 0 || static_cast<size_t>(len) > out.size()) {
                Internal::fota_log(kError, "block patch of %s at 0x%llx failed\n", part,
                                   static_cast<unsigned long long>(offset));
                return -1;
            }
            patchLen = static_cast<size_t>(len);
            rec[kRecType] = 1;
        } else {
            patchLen = 2 * kBlockSize;
            if (lzma_pack(newBlock.data(), static_cast<size_t>(newLen), out.data(), &patchLen) !=
                0) {
                Internal::fota_log(kError, "compression of %s at 0x%llx failed\n", part,
                                   static_cast<unsigned long long>(offset));
                return -1;
            }
            rec[kRecType] = 0;
        }
        if (patchLen > kBlockSize) {
            Internal::fota_log(kError, "patchlen size %ld too long \n",
                               static_cast<long>(patchLen));
            return -1;
        }
        const size_t stored = fota_round16(patchLen);
        if (stored > kBuildAreaSize - g_dataLen) {
            Internal::fota_log(kError, "data area full at %s block 0x%llx\n", part,
                               static_cast<unsigned long long>(offset));
            return -1;
        }
        const uint32_t addr = partAddr + static_cast<uint32_t>(offset);
        fota_put32(rec + kRecAddr, addr);
        fota_put32(rec + kRecOldLen, static_cast<uint32_t>(oldLen));
        fota_put32(rec + kRecAddr2, addr);
        fota_put32(rec + kRecNewLen, static_cast<uint32_t>(newLen));
        fota_put32(rec + kRecOffset, static_cast<uint32_t>(g_dataLen));
        fota_put32(rec + kRecDataLen, static_cast<uint32_t>(patchLen));
        rec[kRecOne] = 1;
        std::memcpy(rec + kRecProps, g_lzma_props, kLzmaPropsSize);
        rec[kRecZero] = 0;
        Internal::block_sha256(newBlock.data(), static_cast<size_t>(newLen), rec + kRecNewHash);
        std::memcpy(g_data.data() + g_dataLen, out.data(), patchLen);
        std::memset(g_data.data() + g_dataLen + patchLen, 0xFF, stored - patchLen); // filler
        g_dataLen += stored;
        g_controlLen += kBlockRecordSize;

        offset += static_cast<int64_t>(kBlockSize);
        oldLeft = oldLeft > static_cast<int64_t>(kBlockSize) ? oldLeft - kBlockSize : 0;
        newLeft = newLeft > static_cast<int64_t>(kBlockSize) ? newLeft - kBlockSize : 0;
    }
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

// Reads both version texts into header fields of `width` bytes and reports them.
bool readVersions(const char *oldPath, const char *newPath, size_t width, uint8_t *srcField,
                  uint8_t *tgtField)
{
    char src[kKVersionSize + 1] = {};
    char tgt[kKVersionSize + 1] = {};
    if (oldPath && image_version(oldPath, src, width + 1) != 0)
        return false;
    if (image_version(newPath, tgt, width + 1) != 0)
        return false;
    std::memset(srcField, 0, width);
    std::memset(tgtField, 0, width);
    std::memcpy(srcField, src, std::strlen(src));
    std::memcpy(tgtField, tgt, std::strlen(tgt));
    const bool srcDefault = std::strcmp(src, "x.x.x") == 0;
    const bool tgtDefault = std::strcmp(tgt, "x.x.x") == 0;
    if (oldPath) {
        if (!srcDefault && !tgtDefault)
            Internal::fota_log(kInfo, "source version %s target version %s\n", src, tgt);
        else
            Internal::fota_log(kInfo, "Warning !!! Has default version source %s target %s\n",
                               src, tgt);
    } else {
        if (!tgtDefault)
            Internal::fota_log(kInfo, "target version %s\n", tgt);
        else
            Internal::fota_log(kInfo, "Warning !!! Has default version %s better supply src file\n",
                               tgt);
    }
    return true;
}

struct WriteTexts {
    const char *open;
    const char *write;
};
constexpr WriteTexts kWriteTexts = {"open(%s) error\n", "write(%s) error\n"};
constexpr WriteTexts kAbWriteTexts = {"open %s failed\n", "write %s failed\n"};

bool writeAll(int fd, const uint8_t *p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Writes header, control area and data area to a fresh file. On failure nothing is left.
bool writePackage(const char *path, const uint8_t *header, size_t headerSize, bool withControl,
                  const WriteTexts &texts)
{
    ::remove(path);
    const int fd = ::open(path, O_CREAT | O_RDWR | O_TRUNC | O_BINARY, 0600);
    if (fd < 0) {
        Internal::fota_log(kError, texts.open, path);
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
        Internal::fota_log(kError, texts.write, path);
        ::remove(path);
    }
    return ok;
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
        Internal::fota_log(kError, "package verification failed: %s\n", findings.front().c_str());
        ::remove(req.output_path);
        return false;
    }
    Internal::fota_log(kInfo, "package verified\n");
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
// (ZN3150) or is null (KLM4410).
bool sizeCheck(const PackRequest &req, const char *bootPart, const char *masterPart,
               const char *otaPart, int64_t reserve)
{
    const char *boot = orNull(req.boot_path);
    if (boot) {
        const int64_t bootSize = file_size(boot);
        if (bootSize < 0)
            return false;
        if (bootSize == 0) {
            Internal::fota_log(kError, "file %s is empty\n", boot);
            return false;
        }
        uint32_t addr = 0;
        uint32_t size = 0;
        if (part_find(bootPart, &addr, &size) != 0)
            return false;
        if (bootSize > static_cast<int64_t>(size)) {
            Internal::fota_log(kError, "boot file 0x%x too big than boot part 0x%x\n",
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
    const int64_t newSize = sizeOrZero(req.new_path);
    const int64_t oldSize = sizeOrZero(orNull(req.old_path));
    if (newSize > static_cast<int64_t>(master)) {
        Internal::fota_log(kError, "master part 0x%x not enough, new file size:0x%x\n", master,
                           static_cast<unsigned>(newSize));
        return false;
    }
    const int64_t pack = packRound(sizeOrZero(req.output_path));
    const int64_t fw = firmwareRound(std::max(oldSize, newSize));
    const int64_t room = static_cast<int64_t>(master) + static_cast<int64_t>(ota);
    const int64_t need = pack + fw + reserve;
    const bool pass = room >= need;
    const int level = pass ? kInfo : kError;
    const int packK = static_cast<int>(pack >> 10);
    const int fwK = static_cast<int>(fw >> 10);
    const int masterK = static_cast<int>(master >> 10);
    if (otaPart) {
        Internal::fota_log(level, "packsize:\t\t %dK\n", packK);
        Internal::fota_log(level, pass ? "firamwaresize:\t %dK\n" : "firmwaresize:\t %dK\n", fwK);
        Internal::fota_log(level, "mastersize:\t %dK\n", masterK);
        Internal::fota_log(level, "otasize:\t\t %dK\n", static_cast<int>(ota >> 10));
    } else {
        Internal::fota_log(level, "packsize:\t %dK\n", packK);
        Internal::fota_log(level, "firamwaresize:\t %dK\n", fwK);
        Internal::fota_log(level, "mastersize:\t %dK\n", masterK);
    }
    if (pass)
        Internal::fota_log(kInfo, "partsize check pass, extra %dK\n",
                           static_cast<int>((room - need) >> 10));
    else
        Internal::fota_log(kError, "size not enough for upgrade, also need %dK\n",
                           static_cast<int>((need - room) >> 10));
    return pass;
}

// After a package is on disk: verification, then the size check. Removes it on failure.
int finish(const PackRequest &req, const char *bootPart, const char *masterPart,
           const char *otaPart, int64_t reserve)
{
    if (!verifyWritten(req))
        return -1;
    if (!sizeCheck(req, bootPart, masterPart, otaPart, reserve)) {
        ::remove(req.output_path);
        return -1;
    }
    return 0;
}

// Makes the in-place patch at the output path and moves it into the data area.
bool appendInplacePatch(const PackRequest &req)
{
    ::remove(req.output_path);
    if (sw_bsdiff_new(req.old_path, req.new_path, req.output_path) != 0) {
        Internal::fota_log(kError, "in-place patch of %s failed\n", req.new_path);
        ::remove(req.output_path);
        return false;
    }
    Internal::releaseFreeMemory(); // the generator's buffers, before the package is checked
    size_t patchSize = 0;
    const bool ok = appendFile(req.output_path, &patchSize);
    ::remove(req.output_path);
    return ok;
}

int buildZ1(const PackRequest &req)
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
        Internal::fota_log(kError, "patch size bigger than 1M, patchlen=0x%x, controllen=0x%x\n",
                           static_cast<unsigned>(g_dataLen), static_cast<unsigned>(g_controlLen));
        return -1;
    }
    uint8_t header[kZHeaderSize] = {};
    fillMagic(header, 1);
    if (!readVersions(old, req.new_path, kZVersionSize, header + 32, header + 48))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kZHeaderSize + g_controlLen + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(g_controlLen / kBlockRecordSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(old)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, old ? file_crc32_whole(old) : 0);
    raiseOffsets(kZHeaderSize);
    fota_put32(header + 12, packageCrc(header, kZHeaderSize, true, true));
    if (!writePackage(req.output_path, header, kZHeaderSize, true, kWriteTexts))
        return -1;
    return finish(req, "boot", "cpu1", "data_ota", kZBootReserve);
}

int buildZ3(const PackRequest &req)
{
    uint8_t header[kZHeaderSize] = {};
    fillMagic(header, 3);
    if (!readVersions(req.old_path, req.new_path, kZVersionSize, header + 32, header + 48))
        return -1;
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(req.old_path)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, file_crc32_whole(req.old_path));
    if (!appendInplacePatch(req))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kZHeaderSize + g_dataLen));
    fota_put32(header + 12, packageCrc(header, kZHeaderSize, false, true));
    if (!writePackage(req.output_path, header, kZHeaderSize, false, kWriteTexts))
        return -1;
    return finish(req, "boot", "cpu1", "data_ota", kInplaceReserve);
}

int buildKBlocks(const PackRequest &req)
{
    const char *old = orNull(req.old_path);
    if (hasPath(req.boot_path) && runBlocks("uboot", nullptr, req.boot_path, false) != 0)
        return -1;
    if (runBlocks("cpu", old, req.new_path, req.method == 1) != 0)
        return -1;
    if (g_dataLen + g_controlLen + kKHeaderSize > kKPackageLimit) {
        Internal::fota_log(kError, "patch size bigger than 2M, patchlen=0x%x, controllen=0x%x\n",
                           static_cast<unsigned>(g_dataLen), static_cast<unsigned>(g_controlLen));
        return -1;
    }
    uint8_t header[kKHeaderSize] = {};
    fillMagic(header, fota_method_code(req.method));
    if (!readVersions(old, req.new_path, kKVersionSize, header + 48, header + 80))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_controlLen + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(g_controlLen / kBlockRecordSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(old)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, old ? file_crc32_whole(old) : 0);
    fota_put32(header + 32, file_crc32_whole(req.new_path));
    raiseOffsets(kKHeaderSize);
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, true, true));
    if (!writePackage(req.output_path, header, kKHeaderSize, true, kWriteTexts))
        return -1;
    return finish(req, "uboot", "cpu", nullptr, kInplaceReserve);
}

int buildKInplace(const PackRequest &req)
{
    size_t bootSize = 0;
    if (hasPath(req.boot_path) && !appendFile(req.boot_path, &bootSize))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fillMagic(header, fota_method_code(req.method));
    if (!readVersions(req.old_path, req.new_path, kKVersionSize, header + 48, header + 80))
        return -1;
    fota_put32(header + 16, static_cast<uint32_t>(bootSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(req.old_path)));
    fota_put32(header + 24, static_cast<uint32_t>(sizeOrZero(req.new_path)));
    fota_put32(header + 28, file_crc32_whole(req.old_path));
    if (!appendInplacePatch(req))
        return -1;
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_dataLen));
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, false, true));
    if (!writePackage(req.output_path, header, kKHeaderSize, false, kWriteTexts))
        return -1;
    return finish(req, "uboot", "cpu", nullptr, kInplaceReserve);
}

int buildKWhole(const PackRequest &req)
{
    const char *old = orNull(req.old_path);
    size_t bootSize = 0;
    if (hasPath(req.boot_path) && !appendFile(req.boot_path, &bootSize))
        return -1;
    uint8_t header[kKHeaderSize] = {};
    fillMagic(header, fota_method_code(req.method));
    if (!readVersions(old, req.new_path, kKVersionSize, header + 48, header + 80))
        return -1;
    std::vector<uint8_t> image;
    if (!readWhole(req.new_path, image))
        return -1;
    size_t streamLen = kBuildAreaSize - g_dataLen;
    if (lzma_pack(image.data(), image.size(), g_data.data() + g_dataLen, &streamLen) != 0) {
        Internal::fota_log(kError, "compression of %s failed\n", req.new_path);
        return -1;
    }
    g_dataLen += streamLen;
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(bootSize));
    fota_put32(header + 20, static_cast<uint32_t>(sizeOrZero(old)));
    fota_put32(header + 24, static_cast<uint32_t>(image.size()));
    fota_put32(header + 28, old ? file_crc32_whole(old) : 0);
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, false, true));
    if (!writePackage(req.output_path, header, kKHeaderSize, false, kWriteTexts))
        return -1;
    return finish(req, "uboot", "cpu", nullptr, kWholeReserve);
}

bool appendNonEmpty(const char *path, size_t *size)
{
    if (!appendFile(path, size))
        return false;
    if (*size == 0) {
        Internal::fota_log(kError, "file %s is empty\n", path);
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
    if (boot > 0) {
        if (part_find("uboot", &addr, &size) != 0)
            return false;
        if (boot > size) {
            Internal::fota_log(kError, "boot size 0x%x too big\n", boot);
            return false;
        }
    }
    if (a == 0 || b == 0) {
        Internal::fota_log(kError, "firmware size error %d with %d\n", static_cast<int>(a),
                           static_cast<int>(b));
        return false;
    }
    if (part_find("cpu", &addr, &size) != 0)
        return false;
    const uint32_t larger = std::max(a, b);
    if (larger > size / 2) {
        Internal::fota_log(kError, "master part size 0x%x not enough, firmware size:0x%x\n",
                           size / 2, larger);
        return false;
    }
    Internal::fota_log(kInfo, "partsize check pass\n");
    return true;
}

int buildAB(const PackRequest &req)
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
    if (!readVersions(req.old_path, req.new_path, kKVersionSize, header + 48, header + 80))
        return -1;
    const uint8_t *base = g_data.data();
    fota_put32(header + 8, static_cast<uint32_t>(kKHeaderSize + g_dataLen));
    fota_put32(header + 16, static_cast<uint32_t>(bootSize));
    fota_put32(header + 20, static_cast<uint32_t>(aSize));
    fota_put32(header + 24, static_cast<uint32_t>(bSize));
    fota_put32(header + 28, fota_crc32(0, base + bootSize, aSize));
    fota_put32(header + 32, fota_crc32(0, base + bootSize + aSize, bSize));
    fota_put32(header + 12, packageCrc(header, kKHeaderSize, false, false));
    if (!writePackage(req.output_path, header, kKHeaderSize, false, kAbWriteTexts))
        return -1;
    if (!verifyWritten(req))
        return -1;
    if (!sizeCheckAB(req.output_path)) {
        ::remove(req.output_path);
        return -1;
    }
    return 0;
}

// True when `output` names the same existing file as one of the request's inputs: the build
// removes and rewrites its output, which would destroy that input.
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

// Reads the first 128 bytes of an image for its method byte.
bool methodByte(const char *path, uint8_t *out)
{
    uint8_t head[128];
    const int64_t got = file_read(path, 0, head, sizeof head);
    if (got < 0)
        return false;
    if (got < static_cast<int64_t>(sizeof head)) {
        Internal::fota_log(kError, "%s is shorter than 128 bytes\n", path);
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
            Internal::fota_log(kInfo, "update method CZ\n");
            return true;
        }
        if (m == 1 || m == 3) {
            Internal::fota_log(kInfo, "update method DIFF\n");
            return true;
        }
        Internal::fota_log(kError, "ZN3150 not support the update method\n");
        return false;
    }
    if (type == kBoardKLM4410) {
        uint8_t b = 0;
        if (!methodByte(req.new_path, &b))
            return false;
        if ((m == 0 || m == 4) && isDiffCode(b)) {
            Internal::fota_log(kInfo, "update method CZ\n");
            return true;
        }
        uint8_t a = 0;
        if (hasPath(req.old_path) && !methodByte(req.old_path, &a))
            return false;
        if (hasPath(req.old_path)) {
            if ((m == 1 || m == 3) && isDiffCode(a) && isDiffCode(b)) {
                Internal::fota_log(kInfo, "update method DIFF\n");
                return true;
            }
            if (m == 2 && a == kMethodCodeAB && b == kMethodCodeAB) {
                Internal::fota_log(kInfo, "update method AB\n");
                return true;
            }
        }
        Internal::fota_log(kError, "update method 0x%x not match. A method 0x%x B method 0x%x\n",
                           static_cast<unsigned>(m), a, b);
        return false;
    }
    Internal::fota_log(kError, "unknown image type 0x%x\n", static_cast<unsigned>(type));
    return false;
}

} // namespace

namespace Internal {
void fota_log(int level, const char *fmt, ...)
{
    if (!g_sink)
        return;
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    g_sink(level, buf);
}

void set_package_check(PackageCheck check) { g_packageCheck = std::move(check); }

void fota_progress(const char *stage, int percent)
{
    if (g_progress)
        g_progress(stage, percent);
}
} // namespace Internal

void fota_set_progress_sink(FotaProgressSink sink) { g_progress = std::move(sink); }

void fota_set_log_sink(FotaLogSink sink) { g_sink = std::move(sink); }

int fota_make_package(PackRequest request)
{
    // Every way out of a build leaves no compression tables behind.
    struct ReleaseLzma {
        ~ReleaseLzma() { LzmaReleaseCache(); }
    } releaseLzma;
    if (!resetAreas()) {
        Internal::fota_log(kError, "no memory for the build areas\n");
        return -1;
    }
    // The window cuts paths to 255 bytes; make sure every field is terminated whatever the caller did.
    request.partition_path[255] = request.boot_path[255] = request.old_path[255] = '\0';
    request.new_path[255] = request.nv1_path[255] = request.nv2_path[255] = '\0';
    if (!hasPath(request.partition_path) || !hasPath(request.new_path) || !request.output_path ||
        (request.method != 0 && request.method != 4 && !hasPath(request.old_path))) {
        Internal::fota_log(kError, "please input firmware and patch bin\n");
        return -1;
    }
    if (outputIsAnInput(request)) {
        Internal::fota_log(kError, "output %s is one of the input files\n", request.output_path);
        return -1;
    }
    const int type = image_board_type(request.new_path);
    if (hasPath(request.old_path) && image_board_type(request.old_path) != type) {
        Internal::fota_log(kError, "image type not match\n");
        return -1;
    }
    if (!g_boardReported && type != kBoardUnknown) {
        g_boardReported = true;
        Internal::fota_log(kInfo, type == kBoardKLM4410 ? "Board KLM4410\n" : "Board ZN3150\n");
    }
    if (part_table_init(request.partition_path, type) != 0)
        return -1;
    if (!methodCheck(type, request))
        return -1;
    if (type == kBoardZN3150) {
        if (request.method == 1)
            return buildZ1(request);
        if (request.method == 3)
            return buildZ3(request);
        Internal::fota_log(kError, "ZN3150 has no package layout for method %d\n", request.method);
        return -1;
    }
    if (hasPath(request.nv1_path) || hasPath(request.nv2_path)) {
        Internal::fota_log(kError, "KLM4410 not support NV update\n");
        return -1;
    }
    switch (request.method) {
    case 2:
        return buildAB(request);
    case 4:
        return buildKWhole(request);
    case 3:
        return buildKInplace(request);
    default:
        return buildKBlocks(request);
    }
}

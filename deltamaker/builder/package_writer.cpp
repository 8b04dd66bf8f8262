#include "deltamaker/builder/package_writer_p.h"

#include "deltamaker/builder/build_p.h"
#include "deltamaker/builder/fota_log_p.h"
#include "deltamaker/format/firmware_layout.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace deltamaker::detail {

namespace {

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

} // namespace

PackageWriter::~PackageWriter()
{
    std::free(control_);
    std::free(data_);
}

bool PackageWriter::allocate()
{
    controlLen_ = dataLen_ = 0;
    if (!control_)
        control_ = static_cast<uint8_t *>(std::malloc(kBuildAreaSize));
    if (!data_)
        data_ = static_cast<uint8_t *>(std::malloc(kBuildAreaSize));
    return control_ && data_;
}

uint8_t *PackageWriter::addRecord()
{
    if (kBlockRecordSize > kBuildAreaSize - controlLen_)
        return nullptr;
    uint8_t *rec = control_ + controlLen_;
    std::memset(rec, 0, kBlockRecordSize);
    controlLen_ += kBlockRecordSize;
    return rec;
}

bool PackageWriter::appendData(const uint8_t *bytes, size_t n)
{
    if (n > dataLeft())
        return false;
    if (n > 0)
        std::memcpy(data_ + dataLen_, bytes, n);
    dataLen_ += n;
    return true;
}

void PackageWriter::commitData(size_t n, size_t filler)
{
    std::memset(data_ + dataLen_ + n, 0xFF, filler);
    dataLen_ += n + filler;
}

void PackageWriter::raiseOffsets(size_t headerSize)
{
    for (size_t at = 0; at < controlLen_; at += kBlockRecordSize) {
        uint8_t *p = control_ + at + kRecOffset;
        fota_put32(p, fota_get32(p) + static_cast<uint32_t>(controlLen_ + headerSize));
    }
}

uint32_t PackageWriter::crc(const uint8_t *header, size_t headerSize, bool withControl,
                            bool withData) const
{
    uint32_t crc = fota_crc32(0, header + 16, headerSize - 16);
    if (withControl)
        crc = fota_crc32(crc, control_, controlLen_);
    if (withData)
        crc = fota_crc32(crc, data_, dataLen_);
    return crc;
}

bool PackageWriter::write(const char *path, const char *shown, const uint8_t *header,
                          size_t headerSize, bool withControl, const WriteTexts &texts,
                          int64_t *size) const
{
    fota_progress("writing", -1);
    const int fd = ::open(path, O_CREAT | O_WRONLY | O_TRUNC | O_BINARY | O_CLOEXEC, 0644);
    if (fd < 0) {
        fota_log(FOTA_LOG_ERROR, texts.open, shown);
        return false;
    }
    bool ok = writeAll(fd, header, headerSize);
    if (ok && withControl)
        ok = writeAll(fd, control_, controlLen_);
    if (ok)
        ok = writeAll(fd, data_, dataLen_);
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        fota_log(FOTA_LOG_ERROR, texts.write, shown);
        return false;
    }
    *size = static_cast<int64_t>(headerSize + (withControl ? controlLen_ : 0) + dataLen_);
    return true;
}

bool append_image(PackageWriter &package, const ImageRecord &image)
{
    if (package.appendData(image.data(), static_cast<size_t>(image.size())))
        return true;
    fota_log(FOTA_LOG_ERROR, "data area full: %s needs 0x%llx bytes, 0x%zx left\n", image.path(),
             static_cast<unsigned long long>(image.size()), package.dataLeft());
    return false;
}

void fill_magic(uint8_t *header, int32_t methodByte)
{
    std::memcpy(header, kPackageMagic, kPackageMagicSize);
    header[7] = static_cast<uint8_t>(methodByte);
}

void put_versions(const Versions &v, size_t width, uint8_t *srcField, uint8_t *tgtField)
{
    std::memset(srcField, 0, width);
    std::memset(tgtField, 0, width);
    std::memcpy(srcField, v.src, std::strlen(v.src));
    std::memcpy(tgtField, v.tgt, std::strlen(v.tgt));
}

} // namespace deltamaker::detail

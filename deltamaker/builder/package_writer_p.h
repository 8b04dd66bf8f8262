// The package being assembled: the control area (block records) and the data area, the
// header helpers every layout shares, and the write of header and areas into a file.
#pragma once

#include "deltamaker/format/package_layout.h"

#include <cstddef>
#include <cstdint>

namespace deltamaker::detail {

// Version texts of the images, each at most its header field's width.
struct Versions {
    char src[kKVersionSize + 1] = {};
    char tgt[kKVersionSize + 1] = {};
};

// Message patterns of a layout's package write (the path is the output as the user named it).
struct WriteTexts {
    const char *open;
    const char *write;
};
constexpr WriteTexts kWriteTexts = {"open(%s) error\n", "write(%s) error\n"};
constexpr WriteTexts kAbWriteTexts = {"open %s failed\n", "write %s failed\n"};

class PackageWriter {
public:
    PackageWriter() = default;
    ~PackageWriter();
    PackageWriter(const PackageWriter &) = delete;
    PackageWriter &operator=(const PackageWriter &) = delete;

    // Both areas of kBuildAreaSize bytes; false when they cannot be had. Only [0, length) of
    // an area is ever read and the build writes every byte there (gaps with the 0xFF filler),
    // so the areas are never pre-filled: a build keeps only the pages it writes.
    bool allocate();

    uint8_t *control() { return control_; }
    const uint8_t *control() const { return control_; }
    size_t controlLen() const { return controlLen_; }
    size_t records() const { return controlLen_ / kBlockRecordSize; }
    uint8_t *data() { return data_; }
    const uint8_t *data() const { return data_; }
    size_t dataLen() const { return dataLen_; }
    size_t dataLeft() const { return kBuildAreaSize - dataLen_; }

    // The next record's 112 bytes, zeroed; null when the control area is full.
    uint8_t *addRecord();
    // Appends bytes to the data area; false when they do not fit.
    bool appendData(const uint8_t *bytes, size_t n);
    // Appends `n` bytes written at data() + dataLen() by the caller, then `filler` 0xFF bytes.
    void commitData(size_t n, size_t filler = 0);

    // Raises every record's data offset so that it counts from the start of the file.
    void raiseOffsets(size_t headerSize);
    // CRC-32 over header bytes 16.., then the control area and the data area where asked.
    uint32_t crc(const uint8_t *header, size_t headerSize, bool withControl,
                 bool withData) const;
    // Writes header, control area (when asked) and data area to `path`, a file of the build's
    // own. Messages name `shown`. `size` receives the package size.
    bool write(const char *path, const char *shown, const uint8_t *header, size_t headerSize,
               bool withControl, const WriteTexts &texts, int64_t *size) const;

private:
    uint8_t *control_ = nullptr; // owned
    uint8_t *data_ = nullptr;    // owned
    size_t controlLen_ = 0;
    size_t dataLen_ = 0;
};

// "FotaPKG" and the method byte.
void fill_magic(uint8_t *header, int32_t methodByte);
// Both version texts into their NUL-padded header fields of `width` bytes.
void put_versions(const Versions &v, size_t width, uint8_t *srcField, uint8_t *tgtField);

} // namespace deltamaker::detail

// The inputs of one build: each file opened once, checked by kind and size, then read whole
// once into an immutable record that every later step works on.
#pragma once

#include "deltamaker/builder/fota.h"
#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/io/whole_file.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace deltamaker::detail {

// The inputs of a request, in the order the request names them.
enum class Input { Table, Boot, Old, New, Nv1, Nv2 };
constexpr size_t kInputCount = 6;

// One input as the build read it: its bytes, size, board type and CRC-32. Made once and never
// changed, so a file that changes on disk while the build runs cannot give a package whose
// header and data come from different contents.
class ImageRecord {
public:
    const char *path() const { return path_.c_str(); }
    const uint8_t *data() const { return bytes_.data(); }
    int64_t size() const { return size_; }
    // From the first 4 bytes; unknown when there are fewer.
    int board() const { return board_; }
    // Of the whole file (images only; 0 for the others).
    uint32_t crc32() const { return crc_; }

private:
    friend class BuildInputs;
    std::string path_;
    std::vector<uint8_t> bytes_;
    int64_t size_ = 0;
    int board_ = kBoardUnknown;
    uint32_t crc_ = 0;
};

class BuildInputs {
public:
    explicit BuildInputs(const PackRequest &request);

    // Opens every input the request names, in its order. One that is not a regular file is
    // named and ends the build (false); one that cannot be opened is named with the system's
    // reason and sets `unreadable` (the steps after still say what they see).
    bool open(bool &unreadable);

    bool given(Input in) const { return !slot(in).path.empty(); }
    // The path as given, or null when the request names none.
    const char *path(Input in) const;
    // Its size when it was opened (the open step has refused every file it could not open).
    int64_t size(Input in) const { return static_cast<int64_t>(slot(in).file.size()); }
    // Board type from the first word: kBoardUnknown when the file is shorter or unreadable
    // (with the readers' messages).
    int boardType(Input in);
    // Byte 112 of a KLM4410 image, from its first 128 bytes. False after the reason.
    bool methodByte(Input in, uint8_t &out);
    // Reads the 4096-byte table and parses it for the board into the build's table.
    // 0, or -1 after the reason.
    int loadTable(int boardType);

    // Reads every image, boot and NV file whole into its record. False after naming a file
    // that changed since it was first looked at or could not be read.
    bool readAll();
    // The record of a named input (after readAll), null when the request names none.
    const ImageRecord *record(Input in) const;
    // Frees every record's bytes once the package is written; the build reads no input after.
    void release();

private:
    struct Slot {
        std::string path;
        InputFile file;
        bool statFailed = false;
        bool headRead = false;
        bool headFailed = false;
        std::vector<uint8_t> head; // the first bytes the checks looked at
        ImageRecord record;
        bool read = false;
    };
    Slot &slot(Input in) { return slots_[static_cast<size_t>(in)]; }
    const Slot &slot(Input in) const { return slots_[static_cast<size_t>(in)]; }
    // The first 128 bytes (fewer in a shorter file), read once; false after the reason.
    bool readHead(Slot &s);
    bool readRecord(Input in);

    std::array<Slot, kInputCount> slots_;
};

// What a request calls each input in messages ("old image").
const char *input_name(Input in);

} // namespace deltamaker::detail

// Reading input files whole. Every file may be hostile: only regular files are opened, and the
// size is checked before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace deltamaker::detail {
// Why `path` cannot be read as an input file: empty when it is a regular file that opens for
// reading. Checked with stat before anything opens it, so a FIFO or device is never opened
// (opening a FIFO blocks) and a folder is never read.
enum class InputProblem { None, Unreadable, NotAFile };
InputProblem input_file_problem(const char *path, std::string &why);

// Largest file read as a package: a 112-byte header and a full 4 MiB area.
constexpr uint64_t kMaxPackageFile = 0x400000 + 112;
// Largest image or NV file: sizes are 32-bit words in packages.
constexpr uint64_t kMaxInputFile = 0xFFFFFFFFull;

// A regular file opened once for reading; every later read goes through the same descriptor,
// so a file replaced by rename after the open is not seen. Closed by the destructor.
class InputFile {
public:
    InputFile() = default;
    ~InputFile() { close(); }
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    // Checks the kind with stat (a folder, FIFO or device is never opened), opens the file and
    // checks that what opened is that same regular file. `why` says what is wrong otherwise:
    // the system's reason for Unreadable, the kind ("a FIFO") for NotAFile. `statFailed` tells
    // whether the path could not even be looked up.
    InputProblem open(const char *path, std::string &why, bool *statFailed = nullptr);
    bool isOpen() const { return fd_ >= 0; }
    // Size when it was opened.
    uint64_t size() const { return size_; }
    // Up to `n` bytes at `offset` (fewer at the end of the file); -1 on a read error.
    int64_t readAt(uint64_t offset, uint8_t *buffer, size_t n) const;
    // Exactly size() bytes from the start, and the file must end there; false otherwise (it
    // changed while it was read, or cannot be read).
    bool readWhole(std::vector<uint8_t> &out) const;
    void close();

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Whole file into memory; false when it cannot be read. Only a regular file of at most
// `maxSize` bytes is read: folders, FIFOs and devices are refused before they are opened, and
// the size is checked before anything is allocated. `error` says why, naming the path.
bool read_file_bytes(const std::string &path, std::vector<uint8_t> &out, std::string &error,
                     uint64_t maxSize);
inline bool read_file_bytes(const std::string &path, std::vector<uint8_t> &out)
{
    std::string error;
    return read_file_bytes(path, out, error, kMaxInputFile);
}
} // namespace deltamaker::detail

// Reading input files whole. Every file may be hostile: only regular files are opened, and the
// size is checked before anything is allocated.
#pragma once

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

// Silent forms of the input readers and the block hash, shared with the package verifier.
#pragma once

#include "deltamaker/builder/firmware_input.h"

#include <string>

namespace Internal {
// Parses a partition table into `out` (predefined entries of the board first). On failure
// `error` holds the message the builder reports, and `out` the entries added before it.
bool parse_part_table(const uint8_t *table, size_t size, int boardType,
                      std::vector<PartEntry> &out, std::string &error);
// Version text of an image held in memory, by the board's rule. False with `error` set when
// the bytes are missing or the trailer has no terminator.
bool version_of_image(int boardType, const uint8_t *data, size_t size, char *text,
                      size_t capacity, std::string &error);
// SHA-256 of a block record's bytes into out[32]. The same digest as OpenSSL's SHA256(), without
// its OpenSSL 3 path (a digest fetch through the provider machinery on every call, which brings
// about 2 MB of libcrypto into memory and dominates the peak of small builds).
void block_sha256(const uint8_t *data, size_t size, uint8_t *out);
// Why `path` cannot be read as an input file: empty when it is a regular file that opens for
// reading. Checked with stat before anything opens it, so a FIFO or device is never opened
// (opening a FIFO blocks) and a folder is never read.
enum class InputProblem { None, Unreadable, NotAFile };
InputProblem input_file_problem(const char *path, std::string &why);
// printf into a std::string.
std::string format_text(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
} // namespace Internal

// The inputs a package is built from and checked against, as both sides read them: the board
// types, the 4096-byte partition table with the board's predefined entries, an image's version
// text and the CRC-32 used throughout. Buffers only; no file I/O and no log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kBoardUnknown = 0;
constexpr int kBoardZN3150 = 1;
constexpr int kBoardKLM4410 = 2;

constexpr size_t kPartTableFileSize = 4096;
constexpr size_t kPartTableMaxEntries = 64;
constexpr size_t kPartNameSize = 16;

struct PartEntry {
    char name[kPartNameSize]; // NUL-padded, not necessarily terminated
    uint32_t addr;
    uint32_t size;
};

// Standard CRC-32 (zlib) of a buffer, continuing from `crc` (start with 0).
uint32_t fota_crc32(uint32_t crc, const uint8_t *data, size_t len);
// Board type from an image's first word: 2 for KLM4410 words, 1 for any other.
int board_type_of_word(uint32_t word);
// Partition names compare over at most kPartNameSize bytes.
bool part_name_equals(const char *a, const char *b);
// The entries a board has before its table is read (ZN3150: "boot" and "partition").
std::vector<PartEntry> predefined_part_entries(int boardType);

namespace deltamaker::detail {
// Parses a partition table into `out` (predefined entries of the board first). On failure
// `error` holds the message the builder reports, and `out` the entries added before it. An
// address or size over 32 bits fails the parse.
bool parse_part_table(const uint8_t *table, size_t size, int boardType,
                      std::vector<PartEntry> &out, std::string &error);
// Faults of a parsed table that no package may be built on, each a message naming the
// entries: an entry reaching past 4 GiB, two entries overlapping (empty entries overlap
// nothing), or the partition the board keeps a package in ("data_ota" for ZN3150, "cpu" for
// KLM4410) too small for the package header. Empty: the table is sound.
std::vector<std::string> check_part_table(const std::vector<PartEntry> &entries, int boardType);
// Version text of an image held in memory, by the board's rule. False with `error` set when
// the bytes are missing or the trailer has no terminator.
bool version_of_image(int boardType, const uint8_t *data, size_t size, char *text,
                      size_t capacity, std::string &error);
// printf into a std::string.
std::string format_text(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
} // namespace deltamaker::detail

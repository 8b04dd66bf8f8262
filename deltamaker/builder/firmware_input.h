// Partition table and firmware image inputs of the package builder.
// Every message goes to the builder's sink (fota_set_log_sink).
#pragma once

#include "deltamaker/format/firmware_layout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Clears the table, adds the predefined entries of the board and parses the 4096-byte file.
// 0 on success ("Partition Init ok \n"), -1 after reporting the reason. A failed init keeps
// the entries added before the failure.
int part_table_init(const char *path, int boardType);
// The same over a table already in memory (exactly 4096 bytes expected). A table whose entries
// reach past 4 GiB or overlap, or whose package partition cannot hold a package header, is
// refused with a message for each fault.
int part_table_parse(const uint8_t *table, size_t size, int boardType);
// 0 and the entry's address and size when `name` is present, else -1. With both outputs null
// this is a silent presence test.
int part_find(const char *name, uint32_t *addr, uint32_t *size);
// The current entries, in the order they were added.
std::vector<PartEntry> part_table_entries();

// Size of the file in bytes, or -1 after "stat %s error \n".
int64_t file_size(const char *path);
// Reads min(size - offset, capacity) bytes at `offset`. Returns that count or -1.
int64_t file_read(const char *path, int64_t offset, uint8_t *buffer, int64_t capacity);
// CRC-32 of `length` bytes from `offset`, read in 4 MiB chunks; 0 when they cannot all be read.
uint32_t file_crc32(const char *path, int64_t offset, int64_t length);
// CRC-32 of the whole file; 0 when it cannot be read.
uint32_t file_crc32_whole(const char *path);
// Board type from the first 4 bytes: 2 for KLM4410 words, 1 for any other, 0 when unreadable.
int image_board_type(const char *path);
// Version text of the image into `text` (at most capacity - 1 bytes and a NUL). 0 or -1.
int image_version(const char *path, char *text, size_t capacity);

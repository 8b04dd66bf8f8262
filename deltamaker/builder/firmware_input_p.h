// Builder-side helpers of the input readers: the block hash and the table of an opened file.
#pragma once

#include "deltamaker/builder/firmware_input.h"
#include "deltamaker/io/whole_file.h"

#include <string>

// part_table_init over a table file the build has already opened: the same size check,
// read and parse, with the same messages.
int part_table_read(const deltamaker::detail::InputFile &file, const char *path, int boardType);

namespace deltamaker::detail {
// SHA-256 of a block record's bytes into out[32]. The same digest as OpenSSL's SHA256(), without
// its OpenSSL 3 path (a digest fetch through the provider machinery on every call, which brings
// about 2 MB of libcrypto into memory and dominates the peak of small builds).
void block_sha256(const uint8_t *data, size_t size, uint8_t *out);
} // namespace deltamaker::detail

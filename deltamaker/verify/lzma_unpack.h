// Strict decoding of the raw LZMA streams made by lzma_pack (fixed properties, no end marker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct LzmaRawDecoder;

// Property bytes of every stream we make: lc = lp = pb = 0, dictionary 0x2000.
extern const uint8_t kLzmaStreamProps[5];

// Reads one raw stream piece by piece. The stream must end exactly after the last byte asked
// for and the input must be consumed exactly; finish() checks both.
class LzmaReader {
public:
    LzmaReader(const uint8_t *src, size_t srcLen); // src is borrowed, not owned
    ~LzmaReader();
    LzmaReader(const LzmaReader &) = delete;
    LzmaReader &operator=(const LzmaReader &) = delete;

    // Decodes exactly n more bytes into dst. False (with the reason) when the stream is damaged
    // or ends early.
    bool read(uint8_t *dst, size_t n, std::string &error);
    // Appends n more bytes to out, growing it only as data actually decodes, so a damaged
    // length cannot make it allocate more than the stream holds.
    bool readAppend(std::vector<uint8_t> &out, size_t n, std::string &error);
    // True when the stream ends here and every input byte has been used.
    bool finish(std::string &error);

private:
    const uint8_t *src_;
    size_t srcLen_;
    size_t used_ = 0;
    LzmaRawDecoder *decoder_ = nullptr; // owned
    bool failed_ = false;
};

// Decodes a whole stream of exactly dstLen bytes that uses all srcLen input bytes.
bool lzma_unpack(const uint8_t *src, size_t srcLen, uint8_t *dst, size_t dstLen,
                 std::string &error);

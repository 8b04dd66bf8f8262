// Sign-magnitude integers of the patch formats: |v| little-endian, the sign in the top bit of
// the last byte. Both patch formats carry signed 32-bit values only.
#pragma once

#include <cstdint>

constexpr int kSm8Size = 8;
constexpr int kSm4Size = 4;

// 8-byte form: bytes 0..7 hold |v| little-endian, bit 7 of byte 7 is set when v < 0.
void put_sm8(uint8_t *p, int64_t v);
// 4-byte form: bytes 0..3 hold |v| little-endian, bit 7 of byte 3 is set when v < 0.
// |v| must stay below 2^31.
void put_sm4(uint8_t *p, int64_t v);

// Readers. They return the full value the bytes denote (up to 63 bits of magnitude for the
// 8-byte form); callers that expect 32-bit values range-check the result.
int64_t get_sm8(const uint8_t *p);
int64_t get_sm4(const uint8_t *p);

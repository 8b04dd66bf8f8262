#include "deltamaker/format/sign_magnitude.h"

namespace {

uint64_t magnitude(int64_t v)
{
    // Unsigned negation keeps INT64_MIN defined.
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

} // namespace

void put_sm8(uint8_t *p, int64_t v)
{
    uint64_t m = magnitude(v);
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<uint8_t>(m & 0xff);
        m >>= 8;
    }
    if (v < 0)
        p[7] |= 0x80;
}

void put_sm4(uint8_t *p, int64_t v)
{
    uint64_t m = magnitude(v);
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(m & 0xff);
        m >>= 8;
    }
    if (v < 0)
        p[3] |= 0x80;
}

int64_t get_sm8(const uint8_t *p)
{
    uint64_t m = p[7] & 0x7f;
    for (int i = 6; i >= 0; --i)
        m = (m << 8) | p[i];
    const int64_t v = static_cast<int64_t>(m);
    return (p[7] & 0x80) ? -v : v;
}

int64_t get_sm4(const uint8_t *p)
{
    const int64_t v = static_cast<int64_t>(p[0]) | (static_cast<int64_t>(p[1]) << 8)
                      | (static_cast<int64_t>(p[2]) << 16)
                      | (static_cast<int64_t>(p[3] & 0x7f) << 24);
    return (p[3] & 0x80) ? -v : v;
}

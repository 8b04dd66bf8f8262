#include "common/terminal_text.h"

#include <cstdio>

namespace {

// Length of the well-formed UTF-8 sequence at `p` (`left` bytes there), 0 when there is none.
size_t utf8Length(const unsigned char *p, size_t left)
{
    const unsigned char c = p[0];
    const size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                     : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (len == 0 || len > left)
        return 0;
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    const unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (size_t i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return len;
}

// Length of the printable character at `i`, 0 for a byte that must be escaped.
size_t safeLength(const std::string &text, size_t i, bool message)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    const unsigned char c = bytes[i];
    if (c >= 0x20 && c < 0x7F)
        return 1;
    if (message && (c == '\t' || (c == '\n' && i + 1 == text.size())))
        return 1;
    if (c < 0x80)
        return 0;
    const size_t len = utf8Length(bytes + i, text.size() - i);
    if (len == 2 && c == 0xC2 && bytes[i + 1] < 0xA0)
        return 0; // U+0080..U+009F, the C1 controls
    return len;
}

} // namespace

std::string terminalSafe(const std::string &text, bool message)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t len = safeLength(text, i, message);
        if (len == 0) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += escaped;
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

bool isTerminalSafe(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t len = safeLength(text, i, false);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

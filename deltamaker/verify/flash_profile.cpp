#include "deltamaker/verify/flash_profile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

bool powerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// A size in bytes: decimal or 0x.., with an optional K (KiB) suffix.
bool parseSize(const std::string &text, uint64_t &out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    std::string digits = text;
    uint64_t scale = 1;
    if (digits.back() == 'k' || digits.back() == 'K') {
        digits.pop_back();
        scale = 1024;
    }
    if (digits.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(digits.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > (uint64_t(1) << 30))
        return false;
    out = v * scale;
    return true;
}

bool parseNumber(const std::string &text, double &out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

std::string number(double v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%g", v);
    return b;
}

} // namespace

const std::vector<FlashProfile> &flash_profiles()
{
    static const std::vector<FlashProfile> profiles = {
        {"nor-4k", 4096, 256, 45, 0.7, 50,
         "generic serial NOR, typical datasheet figures: 4 KiB sector erase 45 ms, 256-byte "
         "page program 0.7 ms, quad read 50 MB/s"},
        {"nor-4k-max", 4096, 256, 400, 3, 10,
         "the same flash at its datasheet maximum times, read over one data line at 10 MB/s"},
        {"nor-64k", 65536, 256, 150, 0.7, 50,
         "generic serial NOR erased in 64 KiB blocks only (150 ms each), 256-byte pages"},
    };
    return profiles;
}

bool flash_profile_parse(const std::string &spec, FlashProfile &out, std::string &error)
{
    FlashProfile p = flash_profiles().front();
    bool changed = false;
    size_t at = 0;
    bool first = true;
    while (at <= spec.size()) {
        size_t comma = spec.find(',', at);
        if (comma == std::string::npos)
            comma = spec.size();
        const std::string item = spec.substr(at, comma - at);
        at = comma + 1;
        const size_t eq = item.find('=');
        if (eq == std::string::npos) {
            bool known = false;
            for (const FlashProfile &f : flash_profiles())
                if (first && f.name == item) {
                    p = f;
                    known = true;
                }
            if (!known) {
                std::string names;
                for (const FlashProfile &f : flash_profiles())
                    names += (names.empty() ? "" : ", ") + f.name;
                error = item.empty() ? "empty flash profile item"
                                     : first ? "unknown flash profile \"" + item + "\" (known: " +
                                                   names + ")"
                                             : "\"" + item + "\" is not KEY=VALUE";
                return false;
            }
        } else {
            const std::string key = item.substr(0, eq);
            const std::string text = item.substr(eq + 1);
            uint64_t size = 0;
            double v = 0;
            bool ok;
            if (key == "erase_unit" || key == "program_unit") {
                const uint64_t least = key == "erase_unit" ? 256 : 1;
                ok = parseSize(text, size) && powerOfTwo(size) && size >= least &&
                     size <= (1u << 20);
                (key == "erase_unit" ? p.eraseUnit : p.programUnit) = uint32_t(size);
            } else if (key == "erase_ms" || key == "program_ms" || key == "read_mbps") {
                ok = parseNumber(text, v) && v > 0 && v <= 1e6;
                (key == "erase_ms" ? p.eraseMs : key == "program_ms" ? p.programMs : p.readMBps) = v;
            } else {
                error = "unknown flash profile key \"" + key +
                        "\" (known: erase_unit, program_unit, erase_ms, program_ms, read_mbps)";
                return false;
            }
            if (!ok) {
                error = "bad value \"" + text + "\" for " + key +
                        (key == "erase_unit"     ? " (a power of two from 256 to 1M bytes)"
                         : key == "program_unit" ? " (a power of two up to 1M bytes)"
                                                 : " (a number above 0, at most 1000000)");
                return false;
            }
            changed = true;
        }
        first = false;
        if (comma == spec.size())
            break;
    }
    if (p.programUnit > p.eraseUnit) {
        error = "program_unit " + std::to_string(p.programUnit) + " is larger than erase_unit " +
                std::to_string(p.eraseUnit);
        return false;
    }
    if (changed) {
        p.name += "+";
        p.note = "overridden: " + flash_profile_fields(p);
    }
    out = p;
    return true;
}

std::string flash_profile_fields(const FlashProfile &p)
{
    return "erase_unit=" + std::to_string(p.eraseUnit) +
           ",program_unit=" + std::to_string(p.programUnit) + ",erase_ms=" + number(p.eraseMs) +
           ",program_ms=" + number(p.programMs) + ",read_mbps=" + number(p.readMBps);
}

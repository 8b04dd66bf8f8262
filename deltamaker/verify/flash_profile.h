// The flash a package is written to on the device: its erase and program units and their times.
// The shipped profiles are generic serial NOR figures (assumptions, not measurements of the
// boards); any field can be overridden.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FlashProfile {
    std::string name = "nor-4k"; // a shipped profile, "+" when fields were overridden
    uint32_t eraseUnit = 4096;   // bytes erased at once (a sector): a power of two
    uint32_t programUnit = 256;  // bytes programmed at once (a page): a power of two <= eraseUnit
    double eraseMs = 45;         // time to erase one erase unit
    double programMs = 0.7;      // time to program one program unit
    double readMBps = 50;        // reading speed in 10^6 bytes per second
    std::string note;            // where the figures come from
};

// The shipped profiles; the first is the default.
const std::vector<FlashProfile> &flash_profiles();

// Reads "NAME", "NAME,key=value,..." or "key=value,..." (over the default profile). Keys:
// erase_unit, program_unit (bytes; 0x.. and a K suffix accepted), erase_ms, program_ms,
// read_mbps. False with the reason for an unknown name or key, a malformed or out-of-range
// value, or units that do not fit each other.
bool flash_profile_parse(const std::string &spec, FlashProfile &out, std::string &error);

// "erase_unit=4096,program_unit=256,erase_ms=45,program_ms=0.7,read_mbps=50"
std::string flash_profile_fields(const FlashProfile &profile);

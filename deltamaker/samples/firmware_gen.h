// Deterministic firmware-like test data: images and old/new pairs that look like real firmware
// updates. Used by tests, benchmarks and the `deltamaker samples` command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Samples {

// How a new image is derived from an old one.
enum class Mutation {
    InsertFunction, // new code inserted; every later pointer shifts
    ChangeConstants, // a few instruction immediates and data words changed in place
    RemoveRun,       // a run of bytes removed; later pointers shift back
    AppendData,      // strings and tables appended at the end
    MoveBlock,       // a block cut out and put back elsewhere
    SwapRegions,     // two large regions exchange places
    Rotate,          // the whole image rotated by some bytes
    RepeatContent,   // a region duplicated at another place
    FullyRandom,     // nothing in common: random bytes of the same size
};
constexpr int kMutationCount = 9;

const char *mutationName(Mutation m);

// A firmware-like image of exactly `size` bytes: instruction-like 32-bit words, literal pools of
// little-endian pointers into the image (load address 0x08000000), string tables, constant
// tables and zero or 0xFF padding. The same seed always gives the same bytes.
std::vector<uint8_t> makeFirmware(uint64_t seed, size_t size);

struct FirmwarePair {
    std::vector<uint8_t> oldImage;
    std::vector<uint8_t> newImage;
    std::string description; // e.g. "insert-function+change-constants"
};

struct PairSpec {
    size_t size = 20480;          // size of the old image
    int mutations = 3;            // number of mutations when `kinds` is empty
    std::vector<Mutation> kinds;  // mutations to apply in order; empty: a seeded mix
    bool keepSize = false;        // cut or pad (0xFF) the new image to `size` bytes
};

// An old image and its update. Deterministic in (seed, spec).
FirmwarePair makePair(uint64_t seed, const PairSpec &spec);

// A pair from the seeded mix of all mutations except FullyRandom (which one pair in 16 gets).
FirmwarePair makePair(uint64_t seed, size_t size, bool keepSize = false);

} // namespace Samples

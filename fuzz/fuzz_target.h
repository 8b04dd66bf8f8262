// What a fuzz target defines besides LLVMFuzzerTestOneInput. Both are optional.
#pragma once

#include <cstdint>
#include <vector>

using FuzzSeeds = std::vector<std::vector<uint8_t>>;

#include <string>

// A fresh private folder below the temporary folder, removed when the process exits normally;
// empty on failure.
std::string fuzzTempDir(const char *prefix);

// Called once before the first input (in the fuzzer and in the regression replay).
void fuzzSetUp();
// The target's seed inputs, made from generated samples. Written out, one file each, when the
// target runs with TESSEL_FUZZ_SEEDS=<folder> (scripts/fuzz.sh does so before fuzzing).
void fuzzSeeds(FuzzSeeds &seeds);

// The package verifier on whole packages, against the inputs of the board and method the
// package's header names (the inputs the seed packages were built from).
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

#include <cstdio>
#include <cstdlib>

namespace {
std::vector<FuzzSamples::PackageCase> g_cases;
}

void fuzzSetUp()
{
    const std::string dir = fuzzTempDir("fuzz-verify");
    std::string error;
    if (dir.empty() || !FuzzSamples::writePackageInputs(dir, g_cases, error)) {
        std::fprintf(stderr, "cannot write the package inputs: %s\n", error.c_str());
        std::abort();
    }
}

// The packages of every board and method, built by the program's builder.
void fuzzSeeds(FuzzSeeds &seeds) { FuzzSamples::builtPackages(seeds); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FuzzSamples::PackageCase *c = FuzzSamples::caseForPackage(g_cases, data, size);
    if (!c)
        return 0;
    PackageInputs inputs = c->inputs;
    inputs.method = -1; // as `verify` without --method
    package_verify(data, size, inputs);
    return 0;
}

// The structural package reader behind `deltamaker info`, with every method hint.
#include "deltamaker/verify/package_verify.h"
#include "fuzz/fuzz_samples.h"
#include "fuzz/fuzz_target.h"

#include <cstdio>

// The packages of every board and method, built by the program's builder.
void fuzzSeeds(FuzzSeeds &seeds) { FuzzSamples::builtPackages(seeds); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (int hint = -1; hint <= 4; ++hint) {
        PackageInfo info;
        std::vector<std::string> findings;
        if (!package_read(data, size, info, findings, hint))
            continue;
        // Every region the reader reports lies inside the package.
        if (info.bootOffset + info.bootSize > size || info.streamOffset + info.streamSize > size ||
            info.aOffset + info.aSize > size || info.bOffset + info.bSize > size)
            __builtin_trap();
    }
    return 0;
}

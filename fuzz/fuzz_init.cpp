// The one initialisation entry of every target: its set-up, and its seeds when asked for.
#include "fuzz/fuzz_target.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

void fuzzSetUp() __attribute__((weak));
void fuzzSeeds(FuzzSeeds &seeds) __attribute__((weak));

namespace {
std::vector<std::string> g_tempDirs;

void removeTempDirs()
{
    std::error_code ec;
    for (const std::string &dir : g_tempDirs)
        std::filesystem::remove_all(dir, ec);
}
} // namespace

std::string fuzzTempDir(const char *prefix)
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        return std::string();
    if (g_tempDirs.empty())
        std::atexit(removeTempDirs);
    g_tempDirs.push_back(pattern);
    return pattern;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (fuzzSetUp)
        fuzzSetUp();
    if (const char *dir = std::getenv("TESSEL_FUZZ_SEEDS")) {
        FuzzSeeds seeds;
        if (fuzzSeeds)
            fuzzSeeds(seeds);
        for (size_t i = 0; i < seeds.size(); ++i) {
            const std::string path = std::string(dir) + "/seed-" + std::to_string(i);
            std::FILE *f = std::fopen(path.c_str(), "wb");
            if (!f || std::fwrite(seeds[i].data(), 1, seeds[i].size(), f) != seeds[i].size() ||
                std::fclose(f) != 0) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                std::exit(1);
            }
        }
        std::printf("%zu seeds written to %s\n", seeds.size(), dir);
        std::exit(0);
    }
    return 0;
}

// Package build time and size for every method on the demo inputs of `deltamaker samples`.
#include "deltamaker/builder/fota.h"
#include "deltamaker/samples/board_samples.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string &sampleDirName()
{
    static std::string dir;
    return dir;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); }

// Removes the demo inputs when the program ends.
void removeSamples() { ::nftw(sampleDirName().c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string samplesDir()
{
    std::string &dir = sampleDirName();
    if (dir.empty()) {
        char tmpl[] = "/tmp/bench_builder_XXXXXX";
        const char *made = mkdtemp(tmpl);
        if (!made)
            std::abort();
        dir = made;
        std::atexit(removeSamples);
        std::vector<Samples::WrittenSample> written;
        std::string error;
        if (!Samples::writeBoardSamples(dir, written, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
    }
    return dir;
}

struct Method {
    const char *name;
    int method;
    const char *board;
    const char *boot, *oldImage, *newImage, *nv1, *nv2;
};

const Method kMethods[] = {
    {"ZN3150/1-blocks", 1, "zn3150", "boot.bin", "old.bin", "new.bin", "nv_usr.bin", "nv_amt.bin"},
    {"ZN3150/3-inplace", 3, "zn3150", "", "old.bin", "new.bin", "", ""},
    {"KLM4410/0-blocks-alone", 0, "klm4410", "boot.bin", "", "cz_new.bin", "", ""},
    {"KLM4410/1-blocks-patched", 1, "klm4410", "boot.bin", "diff_old.bin", "diff_new.bin", "", ""},
    {"KLM4410/2-AB", 2, "klm4410", "boot.bin", "ab_old.bin", "ab_new.bin", "", ""},
    {"KLM4410/3-inplace", 3, "klm4410", "boot.bin", "diff_old.bin", "diff_new.bin", "", ""},
    {"KLM4410/4-whole", 4, "klm4410", "boot.bin", "diff_old.bin", "cz_new.bin", "", ""},
};

void setPath(char (&field)[256], const std::string &dir, const char *name)
{
    std::memset(field, 0, sizeof field);
    if (name[0])
        std::snprintf(field, sizeof field, "%s/%s", dir.c_str(), name);
}

void BM_BuildPackage(benchmark::State &state)
{
    const Method &m = kMethods[state.range(0)];
    const std::string dir = samplesDir() + "/" + m.board;
    const std::string out = samplesDir() + "/bench.pkg";
    PackRequest req;
    std::memset(&req, 0, sizeof req);
    setPath(req.partition_path, dir, "partition.bin");
    setPath(req.boot_path, dir, m.boot);
    setPath(req.old_path, dir, m.oldImage);
    setPath(req.new_path, dir, m.newImage);
    setPath(req.nv1_path, dir, m.nv1);
    setPath(req.nv2_path, dir, m.nv2);
    req.method = m.method;
    req.output_path = out.c_str();
    for (auto _ : state) {
        if (fota_make_package(req) != 0) {
            state.SkipWithError("build failed");
            return;
        }
    }
    struct stat st;
    state.counters["package_bytes"] = ::stat(out.c_str(), &st) == 0 ? double(st.st_size) : -1.0;
    state.SetLabel(m.name);
}

BENCHMARK(BM_BuildPackage)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

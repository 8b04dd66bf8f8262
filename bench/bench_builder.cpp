// Package build time and size for every method: on the demo inputs of `deltamaker samples`, and
// on generated firmware-like pairs of 1 MiB and 4 MiB (the pairs of bin/make-firmware-pair:
// inserted function, changed constants, appended data) for KLM4410 methods 0..4 and ZN3150
// methods 1 and 3.
//   bin/bench_builder [--benchmark_filter=Generated]
// Peak memory of one build: /usr/bin/time -v bin/deltamaker build ... (see scripts/bench-peers.sh).
#include "deltamaker/builder/fota.h"
#include "deltamaker/samples/board_samples.h"
#include "deltamaker/samples/firmware_gen.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

// Builds the request once per iteration and reports the package size.
void runBuild(benchmark::State &state, PackRequest &req, const Method &m, const std::string &out)
{
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
    runBuild(state, req, m, out);
}

BENCHMARK(BM_BuildPackage)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Writes (once) the generated inputs of one size below the samples folder and returns their
// folder: klm_part.bin, zn_part.bin, k_old.bin/k_new.bin (diff method byte), ab_old.bin/ab_new.bin
// (A/B method byte), z_old.bin/z_new.bin (ZN3150 trailer) and boot.bin.
std::string generatedDir(size_t size)
{
    const std::string dir = samplesDir() + "/gen" + std::to_string(size);
    if (::access((dir + "/boot.bin").c_str(), R_OK) == 0)
        return dir;
    ::mkdir(dir.c_str(), 0755);
    Samples::PairSpec shape;
    shape.size = size;
    shape.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::ChangeConstants,
                  Samples::Mutation::AppendData};
    const Samples::FirmwarePair pair = Samples::makePair(7, shape);
    std::vector<uint8_t> kOld = pair.oldImage, kNew = pair.newImage;
    Samples::stampKlm4410(kOld, "V2.3.0", 0x42);
    Samples::stampKlm4410(kNew, "V2.4.0", 0x42);
    std::vector<uint8_t> abOld = pair.oldImage, abNew = pair.newImage;
    Samples::stampKlm4410(abOld, "V2.3.0", 0x82);
    Samples::stampKlm4410(abNew, "V2.4.0", 0x82);
    std::vector<uint8_t> zOld = pair.oldImage, zNew = pair.newImage;
    Samples::stampZn3150(zOld, "V2.3.0");
    Samples::stampZn3150(zNew, "V2.4.0");
    std::vector<uint8_t> kTable, zTable;
    std::string error;
    if (!Samples::makePartitionTable({{"uboot", 0x0, 0x40000}, {"cpu", 0x40000, 0x2000000}},
                                     kTable, error) ||
        !Samples::makePartitionTable({{"boot", 0x0, 0x10000},
                                      {"cpu1", 0x10000, 0x1000000},
                                      {"data_ota", 0x1010000, 0x1000000}},
                                     zTable, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    const bool ok =
        writeFile(dir + "/klm_part.bin", kTable) && writeFile(dir + "/zn_part.bin", zTable) &&
        writeFile(dir + "/k_old.bin", kOld) && writeFile(dir + "/k_new.bin", kNew) &&
        writeFile(dir + "/ab_old.bin", abOld) && writeFile(dir + "/ab_new.bin", abNew) &&
        writeFile(dir + "/z_old.bin", zOld) && writeFile(dir + "/z_new.bin", zNew) &&
        writeFile(dir + "/boot.bin", Samples::makeFirmware(3, 0x8000));
    if (!ok)
        std::abort();
    return dir;
}

const Method kGenerated[] = {
    {"KLM4410/0-blocks-alone", 0, "klm_part.bin", "boot.bin", "", "k_new.bin", "", ""},
    {"KLM4410/1-blocks-patched", 1, "klm_part.bin", "boot.bin", "k_old.bin", "k_new.bin", "", ""},
    {"KLM4410/2-AB", 2, "klm_part.bin", "boot.bin", "ab_old.bin", "ab_new.bin", "", ""},
    {"KLM4410/3-inplace", 3, "klm_part.bin", "boot.bin", "k_old.bin", "k_new.bin", "", ""},
    {"KLM4410/4-whole", 4, "klm_part.bin", "boot.bin", "k_old.bin", "k_new.bin", "", ""},
    {"ZN3150/1-blocks", 1, "zn_part.bin", "", "z_old.bin", "z_new.bin", "", ""},
    {"ZN3150/3-inplace", 3, "zn_part.bin", "", "z_old.bin", "z_new.bin", "", ""},
};

// Args: index into kGenerated, image size, threads (0 every core, 1 one after the other). Here
// `board` names the partition table file.
void BM_BuildGenerated(benchmark::State &state)
{
    const Method &m = kGenerated[state.range(0)];
    const std::string dir = generatedDir(static_cast<size_t>(state.range(1)));
    const std::string out = dir + "/bench.pkg";
    PackRequest req;
    std::memset(&req, 0, sizeof req);
    setPath(req.partition_path, dir, m.board);
    setPath(req.boot_path, dir, m.boot);
    setPath(req.old_path, dir, m.oldImage);
    setPath(req.new_path, dir, m.newImage);
    req.threads = static_cast<int32_t>(state.range(2));
    runBuild(state, req, m, out);
    state.SetLabel(std::string(m.name) + (req.threads == 1 ? " 1 thread" : " every core"));
}

// Method 2 carries both images whole in a 4 MiB data area, so it is measured on 1 MiB only.
void generatedArgs(benchmark::internal::Benchmark *b)
{
    for (int64_t size : {int64_t(1) << 20, int64_t(4) << 20})
        for (int64_t i = 0; i < int64_t(sizeof kGenerated / sizeof kGenerated[0]); ++i)
            if (!(kGenerated[i].method == 2 && size > (1 << 20)))
                for (int64_t threads : {1, 0})
                    b->Args({i, size, threads});
}
BENCHMARK(BM_BuildGenerated)->Apply(generatedArgs)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

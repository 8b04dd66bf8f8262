// In-place patch generation (sw_bsdiff_new_mem, self-check included) on whole firmware-like
// images of 1 MiB and 4 MiB (default and optimising encoder), and the device simulator on the
// resulting patches.
// Peak memory: /usr/bin/time -v bin/bench_inplace --benchmark_filter=<name>
#include "deltamaker/patch/inplace.h"
#include "deltamaker/samples/firmware_gen.h"
#include "deltamaker/verify/inplace_apply.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A realistic update: inserted functions with shifted pointers, changed constants, a moved
// block and appended data.
const Samples::FirmwarePair &pairOf(size_t size)
{
    static std::map<size_t, Samples::FirmwarePair> cache;
    auto it = cache.find(size);
    if (it == cache.end()) {
        Samples::PairSpec spec;
        spec.size = size;
        spec.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::ChangeConstants,
                      Samples::Mutation::MoveBlock, Samples::Mutation::InsertFunction,
                      Samples::Mutation::AppendData};
        it = cache.emplace(size, Samples::makePair(42, spec)).first;
    }
    return it->second;
}

// The generator prints its statistics on stdout; keep the benchmark table readable.
struct QuietStdout {
    int saved;
    QuietStdout()
    {
        std::fflush(stdout);
        saved = dup(1);
        std::freopen("/dev/null", "w", stdout);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

void generate(benchmark::State &state, const InplaceOptions &options)
{
    const auto &pair = pairOf(static_cast<size_t>(state.range(0)));
    Bytes patch;
    for (auto _ : state) {
        QuietStdout quiet;
        if (sw_bsdiff_new_mem(pair.oldImage.data(), int64_t(pair.oldImage.size()),
                              pair.newImage.data(), int64_t(pair.newImage.size()), patch,
                              options) != 0) {
            state.SkipWithError("sw_bsdiff_new_mem failed");
            break;
        }
    }
    InplaceApplyStats stats;
    Bytes out;
    std::string error;
    apply_inplace_patch(pair.oldImage.data(), pair.oldImage.size(), pair.newImage.size(),
                        patch.data(), patch.size(), out, error, &stats);
    state.counters["patch_bytes"] = double(patch.size());
    state.counters["moves"] = double(stats.moves);
    state.counters["moved_bytes"] = double(stats.movedBytes);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pair.newImage.size()));
}

void BM_InplaceGenerate(benchmark::State &state)
{
    generate(state, InplaceOptions());
}
BENCHMARK(BM_InplaceGenerate)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_InplaceGenerateOptimized(benchmark::State &state)
{
    InplaceOptions options;
    options.optimize = true;
    generate(state, options);
}
BENCHMARK(BM_InplaceGenerateOptimized)->Arg(1 << 20)->Arg(4 << 20)
    ->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_InplaceApply(benchmark::State &state)
{
    const auto &pair = pairOf(static_cast<size_t>(state.range(0)));
    Bytes patch;
    {
        QuietStdout quiet;
        sw_bsdiff_new_mem(pair.oldImage.data(), int64_t(pair.oldImage.size()),
                          pair.newImage.data(), int64_t(pair.newImage.size()), patch);
    }
    Bytes out;
    std::string error;
    for (auto _ : state) {
        if (!apply_inplace_patch(pair.oldImage.data(), pair.oldImage.size(),
                                 pair.newImage.size(), patch.data(), patch.size(), out, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pair.newImage.size()));
}
BENCHMARK(BM_InplaceApply)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// The worst shape for the resolver: 32-byte pieces all copied from one 4 KB old region, with
// 32 literal bytes between them, form a single group of size / 64 nodes that is split again on
// every retirement.
void BM_InplaceManyPieces(benchmark::State &state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::mt19937 rng(5);
    Bytes oldImage(size), newImage;
    for (auto &b : oldImage)
        b = uint8_t(rng());
    while (newImage.size() + 64 < size) {
        const size_t at = size / 2 + rng() % 4000;
        newImage.insert(newImage.end(), oldImage.begin() + long(at), oldImage.begin() + long(at) + 32);
        for (int i = 0; i < 32; ++i)
            newImage.push_back(uint8_t(rng()));
    }
    Bytes patch;
    for (auto _ : state) {
        QuietStdout quiet;
        if (sw_bsdiff_new_mem(oldImage.data(), int64_t(oldImage.size()), newImage.data(),
                              int64_t(newImage.size()), patch) != 0) {
            state.SkipWithError("sw_bsdiff_new_mem failed");
            break;
        }
    }
    state.counters["patch_bytes"] = double(patch.size());
}
BENCHMARK(BM_InplaceManyPieces)->Arg(1 << 20)->Arg(2 << 20)->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();

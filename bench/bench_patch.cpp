// Suffix sort and block patch generation on realistic 20480-byte firmware blocks.
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/suffix_sort.h"
#include "deltamaker/samples/firmware_gen.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace {

constexpr size_t kBlock = 20480;
constexpr int kPairs = 64;

using Bytes = std::vector<uint8_t>;

const std::vector<Samples::FirmwarePair> &pairs()
{
    static const std::vector<Samples::FirmwarePair> all = [] {
        std::vector<Samples::FirmwarePair> v;
        for (int i = 0; i < kPairs; ++i) {
            Samples::PairSpec spec;
            spec.size = kBlock;
            spec.keepSize = true;
            // Code-like blocks with a few inserted, removed and changed runs.
            spec.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::ChangeConstants,
                          Samples::Mutation::RemoveRun};
            if (i % 4 == 1)
                spec.kinds.push_back(Samples::Mutation::MoveBlock);
            if (i % 4 == 2)
                spec.kinds.push_back(Samples::Mutation::RepeatContent);
            v.push_back(Samples::makePair(1000 + i, spec));
        }
        return v;
    }();
    return all;
}

void BM_SuffixSort(benchmark::State &state)
{
    const Bytes old = Samples::makeFirmware(7, kBlock);
    std::vector<int32_t> I(kBlock + 1), V(kBlock + 1);
    for (auto _ : state) {
        qsufsort(I.data(), V.data(), old.data(), static_cast<int32_t>(kBlock));
        benchmark::DoNotOptimize(I.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_SuffixSort)->Unit(benchmark::kMicrosecond);

void runBsdiff(benchmark::State &state, const std::vector<Samples::FirmwarePair> &set)
{
    Bytes out(32 + 2 * kBlock);
    size_t i = 0;
    int64_t patchBytes = 0;
    int64_t newBytes = 0;
    int failures = 0;
    // stdout would receive the "outBuff not enough" lines of blocks that do not fit.
    for (auto _ : state) {
        const auto &p = set[i++ % set.size()];
        int64_t len = 0;
        const int rc = sw_bsdiff(p.oldImage.data(), static_cast<int64_t>(p.oldImage.size()),
                                 p.newImage.data(), static_cast<int64_t>(p.newImage.size()),
                                 out.data(), &len);
        if (rc == 0) {
            patchBytes += len;
            newBytes += static_cast<int64_t>(p.newImage.size());
        } else {
            ++failures;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
    state.counters["patch/new"] = newBytes ? double(patchBytes) / double(newBytes) : 0.0;
    state.counters["failures"] = failures;
}

void BM_SwBsdiff_Realistic(benchmark::State &state)
{
    runBsdiff(state, pairs());
}
BENCHMARK(BM_SwBsdiff_Realistic)->Unit(benchmark::kMillisecond);

void BM_SwBsdiff_Identical(benchmark::State &state)
{
    std::vector<Samples::FirmwarePair> set(1);
    set[0].oldImage = Samples::makeFirmware(3, kBlock);
    set[0].newImage = set[0].oldImage;
    runBsdiff(state, set);
}
BENCHMARK(BM_SwBsdiff_Identical)->Unit(benchmark::kMillisecond);

void BM_SwBsdiff_GeneratedMix(benchmark::State &state)
{
    // The seeded mix of every mutation, as the tests use it.
    static const std::vector<Samples::FirmwarePair> mix = [] {
        std::vector<Samples::FirmwarePair> v;
        for (int i = 0; i < kPairs; ++i)
            v.push_back(Samples::makePair(5000 + i, kBlock, true));
        return v;
    }();
    runBsdiff(state, mix);
}
BENCHMARK(BM_SwBsdiff_GeneratedMix)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

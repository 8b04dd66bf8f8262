// The stages of both patch generators, each on its own: suffix sort (the doubling sort and the
// induced sort, on 20480-byte blocks and on whole images), the match search and scan, the block
// patch per 20 KiB block (default and optimising encoder) and lzma_pack. Whole-image pairs are
// the measurement pairs of bin/make-firmware-pair: an inserted function shifting pointers, changed
// constants, appended data.
//   bin/bench_patch [--benchmark_filter=REGEX]
#include "deltamaker/patch/bsdiff.h"
#include "deltamaker/patch/bsdiff_opt.h"
#include "deltamaker/patch/lzma_pack.h"
#include "deltamaker/patch/match_scan.h"
#include "deltamaker/patch/suffix_sort.h"
#include "deltamaker/samples/firmware_gen.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
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

void BM_SuffixSortInduced(benchmark::State &state)
{
    const Bytes old = Samples::makeFirmware(7, kBlock);
    std::vector<int32_t> I(kBlock + 1);
    for (auto _ : state) {
        suffix_sort(I.data(), old.data(), static_cast<int32_t>(kBlock));
        benchmark::DoNotOptimize(I.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(BM_SuffixSortInduced)->Unit(benchmark::kMicrosecond);

// The pair bin/make-firmware-pair writes for `size` (seed 7), without the board header.
const Samples::FirmwarePair &imagePair(size_t size)
{
    static std::map<size_t, Samples::FirmwarePair> cache;
    auto it = cache.find(size);
    if (it == cache.end()) {
        Samples::PairSpec shape;
        shape.size = size;
        shape.kinds = {Samples::Mutation::InsertFunction, Samples::Mutation::ChangeConstants,
                      Samples::Mutation::AppendData};
        it = cache.emplace(size, Samples::makePair(7, shape)).first;
    }
    return it->second;
}

void BM_ImageSuffixSortDoubling(benchmark::State &state)
{
    const Bytes &old = imagePair(static_cast<size_t>(state.range(0))).oldImage;
    const int32_t n = static_cast<int32_t>(old.size());
    std::vector<int32_t> I(size_t(n) + 1), V(size_t(n) + 1);
    for (auto _ : state) {
        qsufsort(I.data(), V.data(), old.data(), n);
        benchmark::DoNotOptimize(I.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_ImageSuffixSortDoubling)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

void BM_ImageSuffixSortInduced(benchmark::State &state)
{
    const Bytes &old = imagePair(static_cast<size_t>(state.range(0))).oldImage;
    const int32_t n = static_cast<int32_t>(old.size());
    std::vector<int32_t> I(size_t(n) + 1);
    for (auto _ : state) {
        suffix_sort(I.data(), old.data(), n);
        benchmark::DoNotOptimize(I.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_ImageSuffixSortInduced)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// The match scan (one match search per candidate position) over a whole image, sort excluded.
void BM_ImageMatchScan(benchmark::State &state)
{
    const auto &p = imagePair(static_cast<size_t>(state.range(0)));
    const int32_t n = static_cast<int32_t>(p.oldImage.size());
    std::vector<int32_t> I(size_t(n) + 1);
    suffix_sort(I.data(), p.oldImage.data(), n);
    int64_t stretches = 0;
    for (auto _ : state) {
        stretches = 0;
        match_scan(I.data(), p.oldImage.data(), n, p.newImage.data(),
                   static_cast<int32_t>(p.newImage.size()), [&](const ScanStretch &) {
                       ++stretches;
                       return true;
                   });
    }
    state.counters["stretches"] = double(stretches);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(p.newImage.size()));
}
BENCHMARK(BM_ImageMatchScan)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// Single match searches from every 64th position of the new image.
void BM_MatchSearch(benchmark::State &state)
{
    const auto &p = imagePair(1 << 20);
    const int32_t n = static_cast<int32_t>(p.oldImage.size());
    const int32_t m = static_cast<int32_t>(p.newImage.size());
    std::vector<int32_t> I(size_t(n) + 1);
    suffix_sort(I.data(), p.oldImage.data(), n);
    int32_t at = 0;
    for (auto _ : state) {
        int32_t pos = 0;
        benchmark::DoNotOptimize(match_search(I.data(), p.oldImage.data(), n,
                                              p.newImage.data() + at, m - at, 0, n, &pos));
        at = (at + 64) % m;
    }
}
BENCHMARK(BM_MatchSearch);

// lzma_pack of a 20 KiB firmware block (a compress-only record) and of a whole 1 MiB image.
void BM_LzmaPack(benchmark::State &state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    const Bytes data = n == kBlock ? Samples::makeFirmware(11, n) : imagePair(n).newImage;
    Bytes out(2 * data.size() + 64);
    size_t len = 0;
    for (auto _ : state) {
        len = out.size();
        if (lzma_pack(data.data(), data.size(), out.data(), &len) != 0) {
            state.SkipWithError("lzma_pack failed");
            break;
        }
    }
    state.counters["packed/in"] = double(len) / double(data.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_LzmaPack)->Arg(kBlock)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

using BlockPatchFn = int (*)(const uint8_t *, int64_t, const uint8_t *, int64_t, uint8_t *,
                             int64_t *);

void runBsdiff(benchmark::State &state, const std::vector<Samples::FirmwarePair> &set,
               BlockPatchFn makePatch = sw_bsdiff)
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
        const int rc = makePatch(p.oldImage.data(), static_cast<int64_t>(p.oldImage.size()),
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

// The optimising encoder on the same blocks: compare patch/new with BM_SwBsdiff_Realistic.
void BM_SwBsdiffOpt_Realistic(benchmark::State &state)
{
    runBsdiff(state, pairs(), sw_bsdiff_opt);
}
BENCHMARK(BM_SwBsdiffOpt_Realistic)->Unit(benchmark::kMillisecond);

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

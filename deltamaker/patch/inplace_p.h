// Internals of the in-place patch generator, exposed for tests.
#pragma once

#include "deltamaker/patch/match_scan.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace deltamaker::detail {

class TaskPool;

// One stretch of the match scan: new bytes [newPos, newPos + diffLen) are old bytes from oldPos
// plus difference bytes, then extraLen literal bytes follow.
struct InplaceStretch {
    int32_t newPos = 0;
    int32_t oldPos = 0;
    int32_t diffLen = 0;
    int32_t extraLen = 0;
};

// The erase unit power-safe patches are made for: windows are 7 of them, and a move's
// destination takes whole ones. Flash erased in this unit or a smaller power of two is covered.
constexpr int64_t kInplacePowerSafeUnit = 4096;

// Figures of one generator run, for tests and benchmarks.
struct InplaceBuildStats {
    int32_t pairs = 0;          // pn/po pairs made from the scan
    int32_t groups = 0;         // groups after the lists were built
    int32_t members = 0;        // members of all groups
    int32_t windows = 0;
    int32_t diffEntries = 0;
    int32_t moves = 0;          // move entries written
    int32_t relocationPasses = 0;
    int64_t movedBytes = 0;
};

// Runs the match scan of old against new and collects its non-empty stretches in order. They
// tile [0, newSize). False when memory runs out (after printing the reason).
bool inplaceScan(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData, int32_t newSize,
                 std::vector<InplaceStretch> &stretches);

// The same scan, with the new image asked for only once old is sorted, so that the two are not
// in memory together with the full-size sort. loadNew returns newSize bytes, or null after
// printing why (the scan then fails).
// costed (the optimising encoder; null: not made): also the cost-driven scan's stretches over
// the same suffix array, or none when that scan ran out of memory.
bool inplaceScanLoading(const uint8_t *oldData, int32_t oldSize, int32_t newSize,
                        const std::function<const uint8_t *()> &loadNew,
                        std::vector<InplaceStretch> &stretches,
                        std::vector<InplaceStretch> *costed = nullptr);

// The cost-driven scan's stretches of old -> new in the in-place form (they tile [0, newSize),
// empty ones dropped), over the suffix array I of old. False when memory runs out; `out` is
// then empty.
bool inplaceCostedScan(const int32_t *I, const uint8_t *oldData, int32_t oldSize,
                       const uint8_t *newData, int32_t newSize, std::vector<InplaceStretch> &out);
bool inplaceCostedScan(const PackedSuffixArray &I, const uint8_t *oldData, int32_t oldSize,
                       const uint8_t *newData, int32_t newSize, std::vector<InplaceStretch> &out);

// Resolves the in-place conflicts of `stretches` and builds the patch container into `patch`.
// The stretches must tile [0, newSize) and read inside the old image. Returns 0, or -1 after
// printing the reason on stdout. No self-check is made here. `strong`: see packInplaceContainer.
// `powerSafe`: see resolveInplace.
int buildInplacePatch(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                      int32_t newSize, const std::vector<InplaceStretch> &stretches,
                      std::vector<uint8_t> &patch, InplaceBuildStats *stats = nullptr,
                      bool strong = false, TaskPool *pool = nullptr, bool powerSafe = false);

// The optimising encoder's patch: `stretches` (the default scan's) and `costed` (empty: none)
// are each resolved, and the one whose container is smaller under the default compression is
// packed smallest (never larger than buildInplacePatch's default patch). Returns 0, or -1 after
// printing the reason. No self-check is made here.
int buildOptimizedInplacePatch(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                               int32_t newSize, const std::vector<InplaceStretch> &stretches,
                               const std::vector<InplaceStretch> &costed,
                               std::vector<uint8_t> &patch, TaskPool *pool = nullptr,
                               bool powerSafe = false);

// The uncompressed control stream and data blocks of an in-place patch.
struct InplaceStreams {
    std::vector<uint8_t> control;
    std::vector<uint8_t> diff;
    std::vector<uint8_t> extra;
};

// buildInplacePatch without the compression: the resolved streams. Returns 0 or -1.
// `printStats`: the statistics lines go to stdout (once per patch: a second resolution of the
// same images says nothing).
// `powerSafe`: no step of the patch is unsafe under the loader's resume model on flash erased
// in kInplacePowerSafeUnit (or smaller) units with the image at a unit boundary. The first
// stretches are made literal where no move can help (powerSafeStretches), and each relocation
// pass moves what the next window's units hold as well, into whole spare units.
int resolveInplace(const uint8_t *oldData, int32_t oldSize, const uint8_t *newData,
                   int32_t newSize, const std::vector<InplaceStretch> &stretches,
                   InplaceStreams &streams, InplaceBuildStats *stats = nullptr,
                   bool printStats = true, bool powerSafe = false);

// The stretches of a power-safe patch: difference bytes made literal where no move can help.
// The first window's bytes that read its own units (nothing can move them out before it is
// built), and the bytes of the image's tail that keep about a window of room free above every
// window that is built (each window's sources are moved out of its units into that room
// first, and without it they would be made literal one by one, window after window).
std::vector<InplaceStretch> powerSafeStretches(const std::vector<InplaceStretch> &stretches,
                                               int32_t newSize, int32_t oldSize);

// Power-safe self-check: the patch applied on the default flash model has no unsafe step.
// Returns 0, or -1 after printing the first unsafe step.
int verifyPowerSafe(const uint8_t *oldData, int64_t oldSize, int64_t newSize,
                    const std::vector<uint8_t> &patch);

// Builds the container (header and the three compressed streams) from the uncompressed control
// stream and blocks. The extra stream is left out when `extra` is empty. Returns 0 or -1.
// `strong`: each stream is compressed with lzma_pack_smallest. `pool`: the streams are compressed
// at once on it (null: one after the other); the same bytes either way.
int packInplaceContainer(const std::vector<uint8_t> &control, const std::vector<uint8_t> &diff,
                         const std::vector<uint8_t> &extra, std::vector<uint8_t> &patch,
                         bool strong = false, TaskPool *pool = nullptr);

// Applies `patch` on the device simulator and compares the result with the new image. Returns 0,
// or -1 after printing why the patch must not be handed out.
int verifyInplacePatch(const uint8_t *oldData, int64_t oldSize, const uint8_t *newData,
                       int64_t newSize, const std::vector<uint8_t> &patch);

// Progress of the in-place generator on the calling thread: a stage name and its share done
// (0..100, -1 where it cannot tell). Set by the caller around one call; null: not reported.
// A plain pointer, so that the thread-local hook needs no destructor.
using InplaceProgressFn = void (*)(const char *stage, int percent);
void set_inplace_progress(InplaceProgressFn fn);
void inplace_progress(const char *stage, int percent);

// Returns freed heap memory to the system. A freed multi-megabyte buffer (a suffix array, an
// image) raises glibc's mmap threshold, so the next large buffers come from the heap and would
// stay resident after they are freed; the generator and the builder call this between stages
// so that the peak is that of one stage, not the sum of all of them.
void releaseFreeMemory();

// The 4-byte sign-magnitude form.
void putSm4(std::vector<uint8_t> &out, int64_t v);

} // namespace deltamaker::detail

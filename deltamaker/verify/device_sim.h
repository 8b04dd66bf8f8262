// Dry run of a package on a model of the board's flash, and what a power cut can do to it.
//
// The loader model. A package is applied as a list of steps, each of which writes one flash
// range: a block record, a stored image (boot, A, B), the whole-image stream, and for in-place
// patches a relocation move or a window write. A write erases every erase unit it touches, in
// address order (a move to a higher address in descending order, like memmove), after reading
// the bytes of the unit that lie outside the range, and programs the unit back page by page
// (pages left all 0xFF are not programmed). A move copies its source one destination unit at a
// time. A window's new bytes are built in RAM from the old bytes its entries name, at the
// window's first step, before its moves.
//
// The resume model. The loader keeps, in storage that survives a power cut, the index of the
// last step it finished; after a cut it runs again from the first unfinished step over what the
// flash then holds (an in-place window whose move or write was cut is built again first, from
// the flash as it is then). A step is unsafe when some cut inside it (after any erase or
// program operation, the last one included) makes that rerun end in a wrong image: it reads
// bytes that its own write has changed or erased, its window's source bytes changed under it,
// or it erased bytes beside its range that are still needed.
#pragma once

#include "deltamaker/format/firmware_layout.h"
#include "deltamaker/verify/flash_profile.h"
#include "deltamaker/verify/package_verify.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class DeviceStepKind { Record, Stored, Stream, Move, Window };

// "record", "stored", "stream", "move", "window".
const char *device_step_kind_name(DeviceStepKind kind);

// A borrowed byte buffer; `given` false: none.
struct DeviceImage {
    const uint8_t *data = nullptr;
    size_t size = 0;
    bool given = false;
};

struct DeviceRunInputs {
    std::vector<PartEntry> parts; // the board's partitions, predefined entries included
    DeviceImage oldImage;         // the image the device runs now (the A image for A/B)
    DeviceImage newImage;         // the images the result is compared with; none: not compared
    DeviceImage boot, nv1, nv2;
    int method = -1;              // tells layouts that share a method code apart; -1: the bytes
    FlashProfile flash;
    bool powerCuts = false;       // run the power-cut analysis (needs the old image)
    // A package that patches the image on the device is refused without the old image; false:
    // it runs over erased flash (its figures hold, its result is not the device's).
    bool requireOld = true;
};

struct DeviceStep {
    DeviceStepKind kind = DeviceStepKind::Stored;
    std::string partition;
    size_t image = 0;             // index of the image it writes, in DeviceRunResult::images
    std::string what;             // "record 3", "boot image", "window 2", "window 2 move 1"
    int record = -1;              // block records
    int window = -1;              // in-place windows and moves
    int move = -1;
    bool patched = false;         // takes bytes from the image on the device
    uint64_t addr = 0;            // flash range written
    uint64_t len = 0;
    uint64_t src = 0;             // moves: flash address of the source
    uint64_t erases = 0;
    uint64_t programs = 0;
    uint64_t bytesRead = 0;       // flash bytes read: sources, old blocks, units kept by a write
    double ms = 0;
    uint64_t ram = 0;             // loader RAM while the step runs
    // Power-cut analysis.
    bool unsafe = false;
    uint64_t bytesAtRisk = 0;     // flash bytes whose loss or change a cut here carries over
    uint64_t riskAddr = 0;        // the span of those bytes
    uint64_t riskEnd = 0;
    std::string reason;
};

// One image the package writes, with the figures of the steps that write it.
struct DeviceImageResult {
    std::string partition;
    std::string image;            // "firmware", "boot", "nv1", "nv2", "A", "B"
    uint64_t addr = 0;            // where the image lies in flash
    uint64_t size = 0;
    uint64_t partAddr = 0, partSize = 0;
    uint64_t steps = 0;
    uint64_t sectorsErased = 0;
    uint64_t bytesProgrammed = 0;
    uint64_t bytesMoved = 0;
    uint64_t maxEraseCount = 0;   // of any erase unit
    uint64_t bytesRead = 0;
    double ms = 0;
    uint64_t peakRam = 0;
    uint64_t unsafeSteps = 0;
    uint64_t bytesAtRisk = 0;
    std::string sha256;           // of the result, hex
    std::string expectedSha256;   // of the file it is compared with; empty: none given
    int matches = -1;             // 1 equal, 0 different, -1 not compared
};

struct DeviceRunResult {
    PackageLayout layout = PackageLayout::Unknown;
    FlashProfile flash;
    bool completed = false;       // every step ran (the loader stopped on nothing)
    bool oldGiven = false;
    bool analysed = false;        // the power-cut analysis ran
    std::vector<DeviceStep> steps;
    std::vector<DeviceImageResult> images;
    DeviceImageResult total;      // sums; maxima for erase count and RAM
    std::vector<std::string> notes;    // what the loader stopped on, misaligned partitions
};

// Applies the package as the device would on the flash model. False (with the reason) when the
// package cannot be read or applied at all: not readable as any layout, a stream that does not
// decode, a range outside its partition, a missing partition, no old image for a package that
// patches it when power cuts are asked for. A loader stop (a hash that does not match) is a
// completed = false result with its note.
bool device_run(const uint8_t *pkg, size_t size, const DeviceRunInputs &inputs,
                DeviceRunResult &result, std::string &error);

// The steps of an in-place patch alone, applied at flash address `base` over `oldData`, with
// the power-cut analysis. False (with the reason) when the patch does not apply.
bool inplace_device_run(const uint8_t *oldData, size_t oldSize, size_t newSize,
                        const uint8_t *patch, size_t patchSize, uint64_t base,
                        const FlashProfile &flash, DeviceRunResult &result, std::string &error);

// Power cuts replayed one by one, for checking the analysis: the package is run once with the
// flash kept before every step; then a cut after any operation of any step is resumed by the
// model and the flash compared with the uncut run's.
class DeviceCutReplay {
public:
    DeviceCutReplay();
    ~DeviceCutReplay();
    DeviceCutReplay(const DeviceCutReplay &) = delete;
    DeviceCutReplay &operator=(const DeviceCutReplay &) = delete;

    // Runs the package (or an in-place patch alone, as inplace_device_run) with the analysis.
    bool load(const uint8_t *pkg, size_t size, const DeviceRunInputs &inputs, std::string &error);
    bool loadInplace(const uint8_t *oldData, size_t oldSize, size_t newSize,
                     const uint8_t *patch, size_t patchSize, uint64_t base,
                     const FlashProfile &flash, std::string &error);
    const DeviceRunResult &result() const;
    // Erase and program operations of step `step`.
    uint64_t operations(size_t step) const;
    // Cuts the power after operation `op` (1 .. operations(step)) of `step`, resumes, and
    // tells whether every image ends as in the uncut run; `why` names the first difference.
    bool cutAndResume(size_t step, uint64_t op, std::string *why = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

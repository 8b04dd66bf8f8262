// One package build, as its steps share it: the request, the inputs as read, the version
// texts, the package being assembled and the build's threads. The steps, in the order a build
// runs them: request checks, inputs and table, size checks, versions, one layout, output.
#pragma once

#include "deltamaker/builder/fota.h"
#include "deltamaker/builder/image_record_p.h"
#include "deltamaker/builder/package_writer_p.h"

#include <cstdint>
#include <string>

namespace deltamaker::detail {

class TaskPool;

inline bool has_path(const char *p) { return p && p[0] != '\0'; }

struct Build {
    Build(const PackRequest &req, const BuildInputs &in) : request(req), inputs(in) {}
    // The request as given: output_path is where the package goes once verified.
    const PackRequest &request;
    // Every input, read once; the layouts read nothing else.
    const BuildInputs &inputs;
    Versions versions;
    PackageWriter package;
    // The build's own file that the package is written to before it is moved into place.
    const char *packagePath = nullptr;
    bool optimize = false;
    TaskPool *pool = nullptr; // not owned; threads() of it, or null for one thread
    int threads = 1;

    const ImageRecord &image(Input in) const { return *inputs.record(in); }
    const ImageRecord *optional(Input in) const { return inputs.record(in); }
    // Writes the finished header and the areas to the package file.
    bool writePackage(const uint8_t *header, size_t headerSize, bool withControl,
                      const WriteTexts &texts, int64_t *size) const
    {
        return package.write(packagePath, request.output_path, header, headerSize, withControl,
                             texts, size);
    }
};

// Request checks (request_check.cpp).
// An output that exists must be a regular file: a folder, device or FIFO is never replaced.
bool output_usable(const char *output);
// True when the output names the same existing file as one of the inputs.
bool output_is_an_input(const PackRequest &req);
// Refuses, before any work, a method the board cannot build and inputs its layout would drop.
bool method_suits_board(int type, const PackRequest &req);
// The method check of both images (their method bytes for KLM4410).
bool method_check(int type, const PackRequest &req, BuildInputs &inputs);

// Versions (versions.cpp): both texts for header fields of `width` bytes, reported.
bool read_versions(const ImageRecord *old, const ImageRecord &image, size_t width,
                   bool warnDowngrade, Versions &v);

// Size checks (size_check.cpp).
// Every input against its partition, and the lookups of the final size check, from the sizes
// the files had when opened: cheap failures come before any heavy work.
bool inputs_fit(int type, const PackRequest &req, const BuildInputs &inputs);
// True when a file of `size` bytes written from the partition's start stays inside it;
// otherwise says which file overruns which partition. (The table check has made sure that no
// partition reaches past 4 GiB.)
bool fits_partition(const char *path, int64_t size, const char *part, uint32_t partSize);
// Package and firmware against the partitions: `ota` names the second partition (ZN3150) or
// is null (KLM4410).
bool size_check(const Build &b, int64_t packageSize, const char *bootPart,
                const char *masterPart, const char *otaPart, int64_t reserve);
// The A/B layout's check, from the header it wrote.
bool size_check_ab(const uint8_t *header);

// Block records of one partition (block_run.cpp): patched against the old block while both
// have bytes left and `useOld` is set, compressed alone otherwise. 0 or -1.
int run_blocks(Build &b, const char *part, const ImageRecord *old, const ImageRecord &image,
               bool useOld);
// Appends an input as it is to the data area; false after "data area full" when it does not fit.
bool append_image(PackageWriter &package, const ImageRecord &image);
// The build's choice of encoder for a whole stream.
int pack_stream(const Build &b, const uint8_t *src, size_t srcLen, uint8_t *dst, size_t *dstLen);

// The layouts: each assembles its package, writes it to the package file and runs its size
// check. 0, or -1 after the reason.
int build_z1(Build &b);
int build_z3(Build &b);
int build_k_blocks(Build &b);
int build_k_inplace(Build &b);
int build_k_whole(Build &b);
int build_ab(Build &b);
// The in-place patch of the old and new images appended to the data area (both in-place
// layouts).
bool append_inplace_patch(Build &b);

// Output (build_output.cpp).
// The files of one build beside its output: a lock file, so that a second build to the same
// output fails instead of both claiming one file, and the private file the package is written
// to and verified in before it is moved into place. Both are removed when the build ends.
class BuildOutput {
public:
    BuildOutput() = default;
    ~BuildOutput();
    BuildOutput(const BuildOutput &) = delete;
    BuildOutput &operator=(const BuildOutput &) = delete;

    // Takes the output's lock and creates the package file. False after the reason.
    bool begin(const PackRequest &request);
    const char *packagePath() const { return package_.c_str(); }
    // Moves the verified package into place at `output`. False after the reason.
    bool commit(const char *output);

private:
    std::string lock_;
    int lockFd_ = -1;
    std::string package_;
    bool committed_ = false;
    int slot_ = -1; // the signal handler's record of both files
};

// Interrupts (interrupt.cpp).
// One per running build, for its whole run. While any is alive, SIGINT, SIGTERM and SIGHUP
// remove the files of every registered build, then are handled as before the build, which by
// default ends the process with the signal's status; a signal the process ignores stays
// ignored. The actions in place before are put back when the last build ends. A
// fota_cancel_build call made while it is alive stops its build.
class BuildInterrupts {
public:
    BuildInterrupts();
    ~BuildInterrupts();
    BuildInterrupts(const BuildInterrupts &) = delete;
    BuildInterrupts &operator=(const BuildInterrupts &) = delete;
};
// Records a build's lock and package file for the signal handler: the slot, or -1 when none is
// free (the files are then left to the next build to the same output).
int register_build_files(const std::string &lock, const std::string &package);
void unregister_build_files(int slot);
// Thrown on the build's thread once the build has been asked to stop (fota_cancel_build, or a
// signal whose handler kept the process alive).
struct BuildCancelled {};
bool build_cancelled();
void stop_if_cancelled();

// Reads the package at `packagePath` back and checks it against the request's inputs: the last
// step before the package is moved into place.
bool verify_written(const PackRequest &request, const char *packagePath);

} // namespace deltamaker::detail

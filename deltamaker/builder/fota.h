// The upgrade package builder: one call per package.
#pragma once

#include <cstdint>
#include <functional>

// Filled by the window or the command line. Paths are NUL-terminated, at most 255 bytes;
// an empty path means "none".
struct PackRequest {
    char partition_path[256];
    char boot_path[256];
    char old_path[256];
    char new_path[256];
    char nv1_path[256];
    char nv2_path[256];
    int32_t method;
    const char *output_path;
    // 1: the optimising encoder (smaller streams in the same format, read by the same device
    // code; several times slower). 0: the default encoder, whose bytes are pinned.
    int32_t optimize;
    // Threads that build the independent pieces (blocks, streams, trial encodings): 0 every
    // core, 1 one after the other, at most 64. The package bytes and messages do not depend on
    // it.
    int32_t threads;
    // How the caller names each method, by method 0..4, in the messages that suggest another
    // one (the window: its buttons' texts, in the local 8-bit encoding like the paths). A null
    // entry, or no array, reads "method N". Not owned; must outlive the call.
    const char *const *method_names;
};

// Largest PackRequest::threads honoured; more are taken as this many.
constexpr int32_t kFotaMaxThreads = 64;

// Message levels handed to the sink.
enum FotaLogLevel { FOTA_LOG_DEBUG = 0, FOTA_LOG_ERROR = 1, FOTA_LOG_WARN = 2, FOTA_LOG_INFO = 3 };

// Receives every builder message, fully formatted (ending in "\n"). Empty: messages are dropped.
using FotaLogSink = std::function<void(int level, const char *text)>;
void fota_set_log_sink(FotaLogSink sink);

// Receives the running build's stage (a short English name such as "reading inputs",
// "block patches", "in-place patch", "compressing", "verifying") and the share of that stage
// done, 0..100, or -1 where the stage cannot tell. Called on the building thread, so the
// receiver hands it on to its own thread. Empty: progress is not reported.
using FotaProgressSink = std::function<void(const char *stage, int percent)>;
void fota_set_progress_sink(FotaProgressSink sink);

// Builds the package named by request.output_path, reads it back and verifies it against the
// inputs. 0 on success; -1 on failure, and a package written by the call is removed again.
// Only one build may run at a time.
//
// The package is written to a hidden file beside the output and renamed into place once
// verified; a lock file beside the output keeps a second build away meanwhile. While a build
// runs, SIGINT, SIGTERM and SIGHUP remove both files before they are handled as they were
// before the build (by default the process then ends with the signal); the handlers are put
// back when the build returns. Files left by a process that ended otherwise (kill -9) are
// removed by the next build to the same output.
int fota_make_package(PackRequest request);

// Asks every build running now to stop. Each stops at its next progress report (several times
// a second), removes its files and returns -1 after "build cancelled: the output is left as it
// was"; the output keeps what it held before. Builds started after the call are not affected.
// Safe to call from any thread, also when no build runs.
void fota_cancel_build();

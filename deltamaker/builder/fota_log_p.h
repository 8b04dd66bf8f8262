// Message sink shared by the builder and its input readers.
#pragma once

#include "deltamaker/builder/fota.h"
#include "deltamaker/verify/package_verify.h"

#include <functional>
#include <string>
#include <vector>

namespace deltamaker::detail {
// Formats the message in full and hands it to the sink set by fota_set_log_sink.
void fota_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// The read-back check of every written package (package_verify_file unless replaced).
// Replaceable so that tests can see how the builder handles a rejected package.
using PackageCheck =
    std::function<std::vector<std::string>(const std::string &path, const PackageInputs &inputs)>;
void set_package_check(PackageCheck check);
// Runs the check in place: the findings, none when the package is sound.
std::vector<std::string> run_package_check(const std::string &path, const PackageInputs &inputs);

// Called with the name of each step a build has just finished: "inputs checked" (every input
// open and checked by its first bytes and size, none read whole), "inputs read" (every record
// made) and "package written" (before its verification). Tests change input files there.
// Empty: nothing is called.
using BuildStepHook = std::function<void(const char *step)>;
void set_build_step_hook(BuildStepHook hook);
void build_step(const char *step);

// Hands the stage and its share done (0..100, -1 unknown) to the sink set by
// fota_set_progress_sink. On a build that has been asked to stop it throws BuildCancelled
// instead (build_p.h): every stage reports progress, so a build stops within moments.
void fota_progress(const char *stage, int percent);
// Forgets the last stage handed on, so that the next build reports its first stage again.
void fota_progress_reset();
} // namespace deltamaker::detail

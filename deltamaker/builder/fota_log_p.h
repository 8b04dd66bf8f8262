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

// Hands the stage and its share done (0..100, -1 unknown) to the sink set by
// fota_set_progress_sink.
void fota_progress(const char *stage, int percent);
} // namespace deltamaker::detail

// Message sink shared by the builder and its input readers.
#pragma once

#include "deltamaker/builder/fota.h"

namespace Internal {
// Formats the message in full and hands it to the sink set by fota_set_log_sink.
void fota_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
} // namespace Internal

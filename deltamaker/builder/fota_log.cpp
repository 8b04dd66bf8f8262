// The builder's sinks: messages and progress, set from the window's thread and called from the
// building thread, and the replaceable read-back check.
#include "deltamaker/builder/fota_log_p.h"

#include "deltamaker/builder/build_p.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

// Both sinks are copied under the lock before use.
std::mutex g_sinkLock;
FotaLogSink g_sink;
FotaProgressSink g_progress;
deltamaker::detail::PackageCheck g_packageCheck;
deltamaker::detail::BuildStepHook g_stepHook;
// The last progress handed on by this thread's build, so that a stage reports each percent once.
thread_local char t_progressStage[32];
thread_local int t_progressPercent = -2;

} // namespace

namespace deltamaker::detail {

void fota_log(int level, const char *fmt, ...)
{
    FotaLogSink sink;
    {
        std::lock_guard<std::mutex> hold(g_sinkLock);
        sink = g_sink;
    }
    if (!sink)
        return;
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    sink(level, buf);
}

void set_package_check(PackageCheck check) { g_packageCheck = std::move(check); }

std::vector<std::string> run_package_check(const std::string &path, const PackageInputs &inputs)
{
    return g_packageCheck ? g_packageCheck(path, inputs) : package_verify_file(path, inputs);
}

void set_build_step_hook(BuildStepHook hook) { g_stepHook = std::move(hook); }

void build_step(const char *step)
{
    if (g_stepHook)
        g_stepHook(step);
}

void fota_progress(const char *stage, int percent)
{
    stop_if_cancelled();
    if (std::strncmp(t_progressStage, stage, sizeof t_progressStage) == 0 &&
        t_progressPercent == percent)
        return;
    std::snprintf(t_progressStage, sizeof t_progressStage, "%s", stage);
    t_progressPercent = percent;
    FotaProgressSink sink;
    {
        std::lock_guard<std::mutex> hold(g_sinkLock);
        sink = g_progress;
    }
    if (sink)
        sink(stage, percent);
}

void fota_progress_reset()
{
    t_progressStage[0] = '\0';
    t_progressPercent = -2;
}

} // namespace deltamaker::detail

void fota_set_progress_sink(FotaProgressSink sink)
{
    std::lock_guard<std::mutex> hold(g_sinkLock);
    g_progress = std::move(sink);
}

void fota_set_log_sink(FotaLogSink sink)
{
    std::lock_guard<std::mutex> hold(g_sinkLock);
    g_sink = std::move(sink);
}

// Interrupted builds: SIGINT, SIGTERM and SIGHUP remove the files of every running build before
// the process ends, and fota_cancel_build stops running builds at their next progress report.
#include "deltamaker/builder/build_p.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace deltamaker::detail {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

// The files of one running build, for the signal handler. A build claims a slot, writes the
// paths, then sets `ready`; the handler reads only ready slots. Fixed buffers: the handler may
// not allocate.
struct Slot {
    std::atomic<bool> claimed{false};
    std::atomic<bool> ready{false};
    char lock[4096];
    char package[4096];
};
std::array<Slot, 16> g_slots;

// Handlers in place while a build runs. Guarded by g_installLock, except in the handler, which
// reads the previous actions saved before it was installed.
std::mutex g_installLock;
int g_running = 0;
struct sigaction g_previous[kSignalCount];
bool g_installed[kSignalCount];

// Builds compare this with the value when they started: a larger one asks them to stop.
std::atomic<uint64_t> g_cancel{0};
thread_local uint64_t t_startedAt = 0;

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free,
              "the signal handler uses these atomics");

void onSignal(int sig)
{
    const int saved = errno;
    for (Slot &s : g_slots) {
        if (!s.ready.load(std::memory_order_acquire))
            continue;
        if (s.package[0])
            ::unlink(s.package);
        ::unlink(s.lock);
    }
    // A handler of the host's own may keep the process alive: the builds then stop at their
    // next progress report instead of writing into files that are gone.
    g_cancel.fetch_add(1);
    for (size_t i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == sig)
            ::sigaction(sig, &g_previous[i], nullptr);
    errno = saved;
    // Pending until this handler returns, then handled as before the build: by default the
    // process ends with the signal's own status.
    ::raise(sig);
}

bool copyPath(char (&to)[4096], const std::string &from)
{
    if (from.size() >= sizeof to)
        return false;
    std::memcpy(to, from.c_str(), from.size() + 1);
    return true;
}

} // namespace

BuildInterrupts::BuildInterrupts()
{
    t_startedAt = g_cancel.load();
    std::lock_guard<std::mutex> hold(g_installLock);
    if (g_running++ > 0)
        return;
    for (size_t i = 0; i < kSignalCount; ++i) {
        g_installed[i] = false;
        if (::sigaction(kSignals[i], nullptr, &g_previous[i]) != 0)
            continue;
        // A signal the process ignores (nohup) does not end it: it does not end the build either.
        if (!(g_previous[i].sa_flags & SA_SIGINFO) && g_previous[i].sa_handler == SIG_IGN)
            continue;
        struct sigaction ours;
        std::memset(&ours, 0, sizeof ours);
        ours.sa_handler = onSignal;
        sigemptyset(&ours.sa_mask);
        for (int sig : kSignals)
            sigaddset(&ours.sa_mask, sig);
        ours.sa_flags = SA_RESTART;
        g_installed[i] = ::sigaction(kSignals[i], &ours, nullptr) == 0;
    }
}

BuildInterrupts::~BuildInterrupts()
{
    std::lock_guard<std::mutex> hold(g_installLock);
    if (--g_running > 0)
        return;
    for (size_t i = 0; i < kSignalCount; ++i) {
        struct sigaction now;
        // Put back what was there, unless someone else has replaced our handler meanwhile.
        if (g_installed[i] && ::sigaction(kSignals[i], nullptr, &now) == 0 &&
            !(now.sa_flags & SA_SIGINFO) && now.sa_handler == onSignal)
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
        g_installed[i] = false;
    }
}

int register_build_files(const std::string &lock, const std::string &package)
{
    for (size_t i = 0; i < g_slots.size(); ++i) {
        Slot &s = g_slots[i];
        bool expected = false;
        if (!s.claimed.compare_exchange_strong(expected, true))
            continue;
        if (!copyPath(s.lock, lock) || !copyPath(s.package, package)) {
            s.claimed.store(false);
            return -1;
        }
        s.ready.store(true, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void unregister_build_files(int slot)
{
    if (slot < 0 || static_cast<size_t>(slot) >= g_slots.size())
        return;
    Slot &s = g_slots[static_cast<size_t>(slot)];
    s.ready.store(false, std::memory_order_release);
    s.claimed.store(false);
}

bool build_cancelled() { return g_cancel.load() != t_startedAt; }

void stop_if_cancelled()
{
    if (build_cancelled())
        throw BuildCancelled();
}

} // namespace deltamaker::detail

void fota_cancel_build() { deltamaker::detail::g_cancel.fetch_add(1); }

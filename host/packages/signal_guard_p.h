// The signals that end a package operation early: SIGINT, SIGTERM and SIGHUP. While a guard
// lives they only note that they came; the operation sees caught(), puts back what it changed,
// and when the outermost guard ends the signal is raised again with its former disposition (by
// default ending the process). A caller that reports the operation's result holds a guard of
// its own around it, so that the report comes first. Signals the process ignores stay
// ignored. One thread at a time.
#pragma once

#include <csignal>

namespace Packages {
namespace Internal {

class SignalGuard
{
public:
    SignalGuard();
    ~SignalGuard();
    SignalGuard(const SignalGuard &) = delete;
    SignalGuard &operator=(const SignalGuard &) = delete;

    // Whether one of the signals came while a guard lived.
    static bool caught();

private:
    static constexpr int kCount = 3;
    struct sigaction m_old[kCount];
    bool m_set[kCount] = {};
    static int s_depth;
};

} // namespace Internal
} // namespace Packages

#include "host/packages/signal_guard_p.h"

namespace Packages {
namespace Internal {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t g_signal = 0;

extern "C" void noteSignal(int signal)
{
    g_signal = signal;
}

} // namespace

int SignalGuard::s_depth = 0;

SignalGuard::SignalGuard()
{
    static_assert(sizeof(kSignals) / sizeof(kSignals[0]) == kCount, "one saved action per signal");
    if (s_depth++ > 0)
        return; // the outer guard has them
    for (int i = 0; i < kCount; ++i) {
        struct sigaction noted = {};
        noted.sa_handler = noteSignal;
        sigemptyset(&noted.sa_mask);
        noted.sa_flags = SA_RESTART;
        m_set[i] = ::sigaction(kSignals[i], nullptr, &m_old[i]) == 0 && m_old[i].sa_handler != SIG_IGN
                   && ::sigaction(kSignals[i], &noted, nullptr) == 0;
    }
}

SignalGuard::~SignalGuard()
{
    if (--s_depth > 0)
        return;
    for (int i = 0; i < kCount; ++i) {
        if (m_set[i])
            ::sigaction(kSignals[i], &m_old[i], nullptr);
    }
    const int signal = g_signal;
    g_signal = 0;
    if (signal != 0)
        ::raise(signal);
}

bool SignalGuard::caught()
{
    return g_signal != 0;
}

} // namespace Internal
} // namespace Packages

#include "stop.h"

namespace dio {

volatile std::sig_atomic_t stop_signal = 0;

namespace {

void on_stop(int signal)
{
    stop_signal = signal;
}

} // namespace

void catch_stop_signals()
{
#if defined(_WIN32)
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
#else
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

} // namespace dio

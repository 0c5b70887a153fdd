// Ctrl+C and SIGTERM ask a tool to stop: the call in progress finishes, a
// wait returns early, and the tool ends in order.
#ifndef DIO_COMMON_STOP_H
#define DIO_COMMON_STOP_H

#include <csignal>

namespace dio {

// The signal that asked to stop, 0 until one has.
extern volatile std::sig_atomic_t stop_signal;

// Catches SIGINT and SIGTERM into stop_signal. A system call that waits
// returns at once on them rather than resuming.
void catch_stop_signals();

} // namespace dio

#endif

// Signals that ask a tool to stop: the call in progress finishes, a wait
// returns early, and the tool ends in order.
#ifndef DIO_COMMON_STOP_H
#define DIO_COMMON_STOP_H

#include <csignal>

namespace dio {

// The signal that asked to stop, 0 until one has.
extern volatile std::sig_atomic_t stop_signal;

// Catches Ctrl+C and SIGTERM into stop_signal: for a tool that only reads.
// A system call that waits returns at once on them rather than resuming.
void catch_stop_signals();

// Catches, as catch_stop_signals() does, every signal whose default is to
// end the process and that a program may catch: SIGHUP (a closed
// terminal), SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM and
// SIGPIPE; on Windows Ctrl+C, Ctrl+Break and a closed console window,
// which leaves the tool a few seconds. For a tool that drives outputs, and
// writes them low before it ends, or owes a verdict or a file: it ends in
// order, with status 128 and the signal's number where that is its end.
void catch_ending_signals();

// "Ctrl+C", "SIGTERM", "SIGHUP", ...: as a user would name @signal.
const char *signal_name(int signal);

} // namespace dio

#endif

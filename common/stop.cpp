#include "stop.h"

#include <initializer_list>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace dio {

volatile std::sig_atomic_t stop_signal = 0;

namespace {

void on_stop(int signal)
{
    if (stop_signal == 0)
        stop_signal = signal;
}

void catch_one(int signal)
{
#if defined(_WIN32)
    std::signal(signal, on_stop);
#else
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr); // no SA_RESTART: waits return early
#endif
}

#if defined(_WIN32)
// Windows ends the process once this returns from a closed console (or a
// logoff, or a shutdown), and after about five seconds anyway: it waits,
// while the tool's own thread writes the outputs low and exits.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE; // Ctrl+C and Ctrl+Break arrive as signals
    on_stop(SIGTERM);
    Sleep(4000);
    return TRUE;
}
#endif

} // namespace

void catch_stop_signals()
{
    catch_one(SIGINT);
    catch_one(SIGTERM);
}

void catch_ending_signals()
{
    catch_stop_signals();
#if defined(_WIN32)
    catch_one(SIGBREAK);
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    for (const int signal : {SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE})
        catch_one(signal);
#endif
}

const char *signal_name(int signal)
{
    switch (signal) {
    case SIGINT:
        return "Ctrl+C";
    case SIGTERM:
        return "SIGTERM";
#if defined(_WIN32)
    case SIGBREAK:
        return "Ctrl+Break";
#else
    case SIGHUP:
        return "SIGHUP";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGUSR1:
        return "SIGUSR1";
    case SIGUSR2:
        return "SIGUSR2";
    case SIGALRM:
        return "SIGALRM";
    case SIGPIPE:
        return "SIGPIPE";
#endif
    default:
        break;
    }
    return "a signal";
}

} // namespace dio

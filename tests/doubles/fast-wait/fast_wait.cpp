// Preloaded into dio-exerciser to fast-forward its one-second wait, so a
// test can watch many cycles on a real board library in little time. Only
// a relative wait of exactly 1000 ms is shortened, to FASTWAIT_MS (default
// 0); every other wait, such as a library's own, passes as asked.

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool is_the_cycle_wait(const timespec *req)
{
    return req != nullptr && req->tv_sec == 1 && req->tv_nsec == 0;
}

timespec shortened()
{
    const char *v = std::getenv("FASTWAIT_MS");
    const long ms = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
    return timespec{ms / 1000, ms % 1000 * 1000000};
}

int sleep_for(clockid_t clock, int flags, const timespec *req, timespec *rem)
{
    const timespec fast = shortened();
    const timespec *wait = flags == 0 && is_the_cycle_wait(req) ? &fast : req;
    // Straight to the kernel: glibc's own entry points are what this replaces.
    const long rc = syscall(SYS_clock_nanosleep, clock, flags, wait, rem);
    return rc == 0 ? 0 : errno;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int nanosleep(const timespec *req, timespec *rem)
{
    const int err = sleep_for(CLOCK_REALTIME, 0, req, rem);
    if (err == 0)
        return 0;
    errno = err;
    return -1;
}

__attribute__((visibility("default"))) int clock_nanosleep(clockid_t clock, int flags,
                                                           const timespec *req, timespec *rem)
{
    return sleep_for(clock, flags, req, rem);
}

} // extern "C"

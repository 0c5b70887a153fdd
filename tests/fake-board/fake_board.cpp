// A scripted board library for tests: libVornel.so with the same three
// operations, which records every call and lets the test steer the run.
//
// It also stands in for the system sleep (nanosleep), so waits are
// recorded with their length and pass at once, and it notes each line the
// program has written to standard output (when that is a regular file)
// the moment the program next calls the library; a line still held in the
// program's buffer shows up late or never.
//
// Steered by the environment:
//   FAKEBOARD_RECORD  file the events are appended to, one per line
//   FAKEBOARD_OPEN    what Kestor_OpenDevice returns (default 0)
//   FAKEBOARD_DI      input words Kestor_DIAll returns in turn, hex,
//                     comma-separated; the last one repeats (default 0)
//   FAKEBOARD_CYCLES  cycles to allow: the next Kestor_DOAll ends the
//                     process with status 3 (default 3)
//   FAKEBOARD_LOOPBACK when set, Kestor_DIAll reads back the last pattern
//                     written instead, with faults on the lines of these
//                     hex masks: FAKEBOARD_STUCK_LOW, FAKEBOARD_STUCK_HIGH,
//                     FAKEBOARD_INVERTED, and FAKEBOARD_FLAKY (wrong in
//                     every third read)

#include "board.h"

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kStopStatus = 3;

int record_fd = -1;
off_t output_seen = 0;
std::string partial_line;
unsigned long do_calls = 0;
unsigned long di_calls = 0;
std::uint32_t last_pattern = 0;

long env_long(const char *name, long fallback)
{
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 0) : fallback;
}

std::string hex(std::uint32_t v)
{
    char s[9];
    std::snprintf(s, sizeof s, "%" PRIx32, v);
    return s;
}

void emit(std::string line)
{
    if (record_fd < 0) {
        const char *path = std::getenv("FAKEBOARD_RECORD");
        if (path == nullptr)
            return;
        record_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (record_fd < 0)
            return;
    }
    line += '\n';
    // Unbuffered, so nothing is lost when the process ends abruptly.
    if (write(record_fd, line.data(), line.size()) < 0)
        return;
}

// Records the lines that reached standard output since the last call.
void collect_output()
{
    struct stat st {};
    if (fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= output_seen)
        return;
    const int fd = open("/proc/self/fd/1", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::vector<char> buf(static_cast<std::size_t>(st.st_size - output_seen));
    const ssize_t n = pread(fd, buf.data(), buf.size(), output_seen);
    close(fd);
    if (n <= 0)
        return;
    output_seen += n;
    partial_line.append(buf.data(), static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = partial_line.find('\n')) != std::string::npos) {
        emit("print " + partial_line.substr(0, eol));
        partial_line.erase(0, eol + 1);
    }
}

std::uint32_t mask(const char *name)
{
    const char *v = std::getenv(name);
    return v != nullptr ? static_cast<std::uint32_t>(std::strtoul(v, nullptr, 16)) : 0;
}

// The last pattern, as a loopback plug with faulty lines reads it.
std::uint32_t faulty_loopback()
{
    std::uint32_t word = last_pattern;
    word ^= mask("FAKEBOARD_INVERTED");
    if (di_calls % 3 == 2)
        word ^= mask("FAKEBOARD_FLAKY");
    word &= ~mask("FAKEBOARD_STUCK_LOW");
    word |= mask("FAKEBOARD_STUCK_HIGH");
    ++di_calls;
    return word;
}

std::uint32_t next_input_word()
{
    if (std::getenv("FAKEBOARD_LOOPBACK") != nullptr)
        return faulty_loopback();
    const char *list = std::getenv("FAKEBOARD_DI");
    std::uint32_t word = 0;
    unsigned long i = 0;
    for (const char *p = list; p != nullptr && *p != '\0'; ++i) {
        char *end = nullptr;
        word = static_cast<std::uint32_t>(std::strtoul(p, &end, 16));
        if (i == di_calls)
            break;
        p = *end == ',' ? end + 1 : end;
    }
    ++di_calls;
    return word;
}

void record_sleep(const struct timespec *req)
{
    collect_output();
    const long long ns = static_cast<long long>(req->tv_sec) * 1000000000LL + req->tv_nsec;
    emit(ns % 1000000 == 0 ? "sleep " + std::to_string(ns / 1000000) + "ms"
                           : "sleep " + std::to_string(ns) + "ns");
}

} // namespace

extern "C" {

KESTOR_API std::int32_t Kestor_OpenDevice(std::int32_t device)
{
    const long result = env_long("FAKEBOARD_OPEN", 0);
    collect_output();
    emit("open " + std::to_string(device) + " -> " + std::to_string(result));
    return static_cast<std::int32_t>(result);
}

KESTOR_API std::int32_t Kestor_DOAll(std::int32_t device, std::uint32_t pattern)
{
    collect_output();
    emit("do " + std::to_string(device) + " " + hex(pattern) + " -> 0");
    last_pattern = pattern;
    if (++do_calls > static_cast<unsigned long>(env_long("FAKEBOARD_CYCLES", 3))) {
        emit("stop");
        _exit(kStopStatus);
    }
    return 0;
}

KESTOR_API std::uint32_t Kestor_DIAll(std::int32_t device)
{
    const std::uint32_t word = next_input_word();
    collect_output();
    emit("di " + std::to_string(device) + " -> " + hex(word));
    return word;
}

// The program's sleep ends up here; the wait passes at once.
KESTOR_API int nanosleep(const struct timespec *req, struct timespec *rem)
{
    record_sleep(req);
    if (rem != nullptr)
        *rem = timespec{};
    return 0;
}

KESTOR_API int clock_nanosleep(clockid_t /*clock*/, int flags, const struct timespec *req,
                               struct timespec *rem)
{
    if ((flags & TIMER_ABSTIME) != 0)
        emit("sleep until an absolute time");
    else
        record_sleep(req);
    if (rem != nullptr)
        *rem = timespec{};
    return 0;
}

} // extern "C"

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
//   FAKEBOARD_WIRE    when set, the inputs are wired to the outputs as
//                     it says, and time is the fake's own: a wait adds to
//                     it at once, each board call takes 10 us, and
//                     clock_gettime reads it. Entries, comma-separated,
//                     "<di> <kind> <hex outputs> <delay us> <bounce us>",
//                     kind f follows, i inverts, l low, h high, a wired-AND,
//                     o wired-OR, x flaky (wrong in one read of four); an
//                     input changes <delay> after the write that changes
//                     it, bouncing at random for <bounce> first. Inputs
//                     not named follow their own output at once.
//   FAKEBOARD_FAIL_DO the call of Kestor_DOAll with this number (from 1)
//                     returns -5
//   FAKEBOARD_REAL_WAITS when set, waits take their real time, so that a
//                     signal can arrive during one

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
#include <sys/syscall.h>
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

// --- A wired board in time of the fake's own ---------------------------

struct Wire {
    char kind = 'f';
    std::uint32_t outputs = 0;
    long long delay_ns = 0;
    long long bounce_ns = 0;
};

struct Wiring {
    bool on = false;
    Wire wires[32];
    std::uint32_t before = 0; // what the inputs read when the last write began
    long long written_ns = 0; // when that was
    unsigned long long noise = 0x9e3779b97f4a7c15ULL;
};

Wiring &wiring()
{
    static Wiring w = [] {
        Wiring made;
        const char *text = std::getenv("FAKEBOARD_WIRE");
        made.on = text != nullptr;
        for (unsigned j = 0; j < 32; ++j)
            made.wires[j].outputs = 1U << j;
        char *p = nullptr;
        for (const char *at = text; at != nullptr && *at != '\0'; at = p + (*p == ',' ? 1 : 0)) {
            const unsigned long di = std::strtoul(at, &p, 10);
            const char kind = p[0] == ' ' ? p[1] : '\0';
            if (di > 31 || kind == '\0')
                break;
            const auto outputs = static_cast<std::uint32_t>(std::strtoul(p + 2, &p, 16));
            const long long delay = std::strtoll(p, &p, 10);
            const long long bounce = std::strtoll(p, &p, 10);
            made.wires[di] = Wire{kind, outputs, delay * 1000, bounce * 1000};
        }
        return made;
    }();
    return w;
}

long long virtual_ns = 1000000000LL;

bool random_bit(Wiring &w)
{
    w.noise ^= w.noise << 13U;
    w.noise ^= w.noise >> 7U;
    w.noise ^= w.noise << 17U;
    return (w.noise & 1U) != 0;
}

// What @wire gives for the outputs @pattern, once it has settled.
bool settled_level(const Wire &wire, std::uint32_t pattern)
{
    const std::uint32_t driven = pattern & wire.outputs;
    switch (wire.kind) {
    case 'i':
        return driven == 0;
    case 'l':
        return false;
    case 'h':
        return true;
    case 'a':
        return driven == wire.outputs;
    default:
        return driven != 0;
    }
}

std::uint32_t wired_inputs()
{
    Wiring &w = wiring();
    std::uint32_t word = 0;
    const long long since = virtual_ns - w.written_ns;
    for (unsigned j = 0; j < 32; ++j) {
        const Wire &wire = w.wires[j];
        const bool old_level = (w.before >> j & 1U) != 0;
        bool level = settled_level(wire, last_pattern);
        if (level != old_level && since < wire.delay_ns + wire.bounce_ns)
            level = since < wire.delay_ns ? old_level : random_bit(w);
        if (wire.kind == 'x' && random_bit(w) && random_bit(w))
            level = !level;
        word |= static_cast<std::uint32_t>(level) << j;
    }
    return word;
}

std::uint32_t next_input_word()
{
    if (wiring().on) {
        virtual_ns += 10000;
        return wired_inputs();
    }
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
    virtual_ns += static_cast<long long>(req->tv_sec) * 1000000000LL + req->tv_nsec;
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
    const bool fails = ++do_calls == static_cast<unsigned long>(env_long("FAKEBOARD_FAIL_DO", 0));
    emit("do " + std::to_string(device) + " " + hex(pattern) + (fails ? " -> -5" : " -> 0"));
    if (wiring().on) {
        wiring().before = wired_inputs();
        wiring().written_ns = virtual_ns;
        virtual_ns += 10000;
    }
    last_pattern = pattern;
    if (do_calls > static_cast<unsigned long>(env_long("FAKEBOARD_CYCLES", 3))) {
        emit("stop");
        _exit(kStopStatus);
    }
    return fails ? -5 : 0;
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
    if (std::getenv("FAKEBOARD_REAL_WAITS") != nullptr)
        return static_cast<int>(syscall(SYS_nanosleep, req, rem));
    record_sleep(req);
    if (rem != nullptr)
        *rem = timespec{};
    return 0;
}

// The time of the fake's own, on a wired board.
KESTOR_API int clock_gettime(clockid_t clock, struct timespec *t)
{
    if (!wiring().on)
        return static_cast<int>(syscall(SYS_clock_gettime, clock, t));
    t->tv_sec = static_cast<time_t>(virtual_ns / 1000000000LL);
    t->tv_nsec = static_cast<long>(virtual_ns % 1000000000LL);
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

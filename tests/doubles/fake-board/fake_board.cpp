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
//                     this map file says, and time is the fake's own: a
//                     wait adds to it at once, each board call takes 10 us,
//                     and clock_gettime reads it. Inputs it does not name
//                     follow their own output. Beside the map's readings
//                     (an "intermittent" input follows its own output but
//                     reads wrong in one sample of four), it knows logic:
//                       DI <n>: xor DO a, DO b, DO c
//                       DI <n>: majority DO a, DO b, DO c
//                       DI <n>: DO a and either DO b, DO c
//                       DI <n>: nor DO a, DO b
//                     A line's remark may time it, in microseconds:
//                       # rise <us> fall <us> bounce <us> [slot <us>]
//                     an input rising <rise> after the write that raises
//                     it, falling <fall> after one that lowers it (a write
//                     that takes it back first cancels the change), and
//                     reading at random for <bounce> after it changes,
//                     and sampled <slot> into each scan (one line after
//                     another, as a loop that copies them does). And
//                     two remark lines set the board:
//                       # scan <us> phase <us>   inputs sampled once a scan
//                       # start <hex>            the outputs as last left
//   FAKEBOARD_FAIL_DO the call of Kestor_DOAll with this number (from 1)
//                     returns -5
//   FAKEBOARD_REAL_WAITS when set, waits take their real time, so that a
//                     signal can arrive during one

#include "board.h"

#include "wiring.h"
#include <cstdint>

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

long long virtual_ns = 1000000000LL;

enum class Logic { wire, exclusive, majority, and_either, nor };

struct Line {
    dio::wiring::Reading reading; // what it follows once settled
    Logic logic = Logic::wire;
    unsigned outputs[3] = {0, 0, 0};
    long long rise_ns = 0;
    long long fall_ns = 0;
    long long bounce_ns = 0;
    bool level = false;     // what it reads, once any bounce is over
    bool target = false;    // what the outputs drive it to
    long long due = -1;     // when level becomes target; -1: not changing
    long long settled = -1; // when the last change ends bouncing
    long long slot_ns = 0;  // when in each scan it is sampled
    long long sampled_at = -1;
    bool sampled = false;
};

struct Board {
    bool on = false;
    Line lines[32];
    long long scan_ns = 0;
    long long phase_ns = 0;
    unsigned long long noise = 0x9e3779b97f4a7c15ULL;
};

bool random_bit(Board &b)
{
    b.noise ^= b.noise << 13U;
    b.noise ^= b.noise >> 7U;
    b.noise ^= b.noise << 17U;
    return (b.noise & 1U) != 0;
}

bool bit(std::uint32_t word, unsigned i)
{
    return (word >> i & 1U) != 0;
}

// What @line is driven to by the outputs @pattern.
bool driven_level(const Line &line, unsigned j, std::uint32_t pattern)
{
    const unsigned *o = line.outputs;
    switch (line.logic) {
    case Logic::exclusive:
        return bit(pattern, o[0]) != (bit(pattern, o[1]) != bit(pattern, o[2]));
    case Logic::majority:
        return static_cast<int>(bit(pattern, o[0])) + bit(pattern, o[1]) + bit(pattern, o[2]) >= 2;
    case Logic::and_either:
        return bit(pattern, o[0]) && (bit(pattern, o[1]) || bit(pattern, o[2]));
    case Logic::nor:
        return !bit(pattern, o[0]) && !bit(pattern, o[1]);
    case Logic::wire:
        break;
    }
    dio::wiring::Map one;
    one.di[j] = line.reading.reads == dio::wiring::Reads::intermittent ? dio::wiring::straight(j)
                                                                       : line.reading;
    return bit(dio::wiring::inputs(one, pattern), j);
}

// "xor DO 2, DO 3, DO 4" and the like, the fake's own readings.
bool parse_logic(const std::string &reading, Line &line)
{
    static const std::pair<const char *, Logic> kinds[] = {
        {"xor ", Logic::exclusive}, {"majority ", Logic::majority}, {"nor ", Logic::nor}};
    std::string rest = reading;
    for (const auto &[word, logic] : kinds) {
        if (rest.rfind(word, 0) == 0) {
            line.logic = logic;
            rest.erase(0, std::strlen(word));
        }
    }
    if (line.logic == Logic::wire) {
        const std::size_t either = rest.find(" and either ");
        if (either == std::string::npos)
            return false;
        line.logic = Logic::and_either;
        rest.replace(either, std::strlen(" and either "), ", ");
    }
    unsigned n = 0;
    for (const char *p = std::strstr(rest.c_str(), "DO "); p != nullptr && n < 3;
         p = std::strstr(p + 3, "DO "))
        line.outputs[n++] = static_cast<unsigned>(std::strtoul(p + 3, nullptr, 10));
    return true;
}

long long remark_us(const std::string &line, const char *name)
{
    const std::size_t hash = line.find('#');
    const std::size_t at = hash == std::string::npos ? hash : line.find(name, hash);
    return at == std::string::npos
               ? 0
               : std::strtoll(line.c_str() + at + std::strlen(name), nullptr, 10);
}

// While the board is being made: a clock read then (a sanitizer's
// allocator reads one) must not ask for the board again.
bool making_board = false;

Board &board()
{
    static Board b = [] {
        Board made;
        const char *text = std::getenv("FAKEBOARD_WIRE");
        made.on = text != nullptr;
        if (!made.on)
            return made;
        making_board = true;
        // The map's own lines through its parser, the logic ones here.
        std::string wires;
        std::uint32_t start = 0;
        std::string all = text;
        for (std::size_t at = 0; at < all.size();) {
            std::size_t eol = all.find('\n', at);
            eol = eol == std::string::npos ? all.size() : eol;
            const std::string line = all.substr(at, eol - at);
            at = eol + 1;
            if (line.rfind("# scan ", 0) == 0) {
                made.scan_ns = remark_us(line, "# scan ") * 1000;
                made.phase_ns = remark_us(line, "phase ") * 1000;
            } else if (line.rfind("# start ", 0) == 0) {
                start = static_cast<std::uint32_t>(std::strtoul(line.c_str() + 8, nullptr, 16));
            }
            const unsigned long di =
                line.rfind("DI ", 0) == 0 ? std::strtoul(line.c_str() + 3, nullptr, 10) : 32;
            if (di > 31)
                continue;
            Line &l = made.lines[di];
            l.rise_ns = remark_us(line, "rise ") * 1000;
            l.fall_ns = remark_us(line, "fall ") * 1000;
            l.bounce_ns = remark_us(line, "bounce ") * 1000;
            l.slot_ns = remark_us(line, "slot ") * 1000;
            const std::size_t colon = line.find(':');
            const std::string reading = line.substr(colon + 2, line.find('#') == std::string::npos
                                                                   ? std::string::npos
                                                                   : line.find('#') - colon - 2);
            if (!parse_logic(reading, l))
                wires += line + "\n";
        }
        dio::wiring::Map map;
        const std::string why = dio::wiring::parse(wires, map);
        if (!why.empty()) {
            std::fprintf(stderr, "fake board: FAKEBOARD_WIRE: %s\n", why.c_str());
            std::abort();
        }
        for (unsigned j = 0; j < 32; ++j) {
            Line &l = made.lines[j];
            l.reading = map.di[j];
            l.level = l.target = driven_level(l, j, start);
        }
        making_board = false;
        return made;
    }();
    return b;
}

// What @l reads at @t, bounce and flakiness included.
bool level_at(Board &b, Line &l, long long t)
{
    if (l.due >= 0 && t >= l.due) {
        l.level = l.target;
        l.settled = l.due + l.bounce_ns;
        l.due = -1;
    }
    bool level = t < l.settled ? random_bit(b) : l.level;
    if (l.reading.reads == dio::wiring::Reads::intermittent && random_bit(b) && random_bit(b))
        level = !level;
    return level;
}

// What the inputs read now: each line as it was at its last sample, where
// the board samples once a scan (each line in its slot of the scan).
std::uint32_t wired_inputs()
{
    Board &b = board();
    std::uint32_t word = 0;
    for (unsigned j = 0; j < 32; ++j) {
        Line &l = b.lines[j];
        bool level = false;
        if (b.scan_ns <= 0) {
            level = level_at(b, l, virtual_ns);
        } else {
            const long long since = virtual_ns - b.phase_ns - l.slot_ns;
            const long long sample = virtual_ns - (since % b.scan_ns + b.scan_ns) % b.scan_ns;
            if (sample != l.sampled_at) {
                l.sampled = level_at(b, l, sample);
                l.sampled_at = sample;
            }
            level = l.sampled;
        }
        word |= static_cast<std::uint32_t>(level) << j;
    }
    return word;
}

// The outputs become @pattern now: each input heads for its new level.
void wired_write(std::uint32_t pattern)
{
    Board &b = board();
    wired_inputs(); // a scan due before the write samples the old levels
    for (unsigned j = 0; j < 32; ++j) {
        Line &l = b.lines[j];
        const bool target = driven_level(l, j, pattern);
        if (l.due >= 0 && virtual_ns >= l.due) {
            l.level = l.target;
            l.settled = l.due + l.bounce_ns;
            l.due = -1;
        }
        if (target == l.target)
            continue;
        l.target = target;
        l.due = target == l.level ? -1 : virtual_ns + (target ? l.rise_ns : l.fall_ns);
    }
}

std::uint32_t next_input_word()
{
    if (board().on) {
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
    if (board().on) {
        wired_write(pattern);
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
    if (making_board || !board().on)
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

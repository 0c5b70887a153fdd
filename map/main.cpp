// dio-map: finds, for each input line (DI) of a board, which output (DO)
// drives it and how: straight, crossed, inverted, stuck, shorted with
// others, or not steady. It drives the board through the board library's
// three calls alone, so it works with any library that has them.

#include "board.h"
#include "cli.h"
#include "finder.h"
#include "junit.h"
#include "result_file.h"
#include "stop.h"
#include "wiring.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

using dio::wiring::Reading;
using dio::wiring::Reads;
using dio_map::kLines;

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int kFail = 1;
constexpr int kTrouble = 2;
// The shortest quiet after the last change that ends a watch: longer than
// a contact bounces between two reads.
constexpr Ms kQuiet{2.0};

struct Stopped {};     // by a signal
struct WriteFailed {}; // the library refused a write

bool has(std::uint32_t word, unsigned bit)
{
    return (word >> bit & 1U) != 0;
}

// The board, through the library's calls, counting the writes.
class Board {
  public:
    Board(std::int32_t device, std::uint32_t outputs) : device_(device), outputs_(outputs) {}

    // Outputs outside the mask are written 0.
    void write(std::uint32_t pattern)
    {
        pattern &= outputs_;
        const std::int32_t result = Kestor_DOAll(device_, pattern);
        ++writes_;
        if (result < 0) {
            failed_pattern_ = pattern;
            failed_result_ = result;
            throw WriteFailed{};
        }
        if (dio::stop_signal != 0)
            throw Stopped{};
    }

    [[nodiscard]] std::uint32_t read() const
    {
        const std::uint32_t word = Kestor_DIAll(device_);
        if (dio::stop_signal != 0)
            throw Stopped{};
        return word;
    }

    // Leaves the outputs low; a refusal now has nothing left to stop.
    void lower()
    {
        Kestor_DOAll(device_, 0);
        ++writes_;
    }

    [[nodiscard]] unsigned writes() const { return writes_; }
    [[nodiscard]] std::uint32_t failed_pattern() const { return failed_pattern_; }
    [[nodiscard]] std::int32_t failed_result() const { return failed_result_; }

  private:
    std::int32_t device_;
    std::uint32_t outputs_;
    unsigned writes_ = 0;
    std::uint32_t failed_pattern_ = 0;
    std::int32_t failed_result_ = 0;
};

// Waits @span, cut short by Ctrl+C or SIGTERM.
void wait_for(Clock::duration span)
{
    const Clock::time_point end = Clock::now() + span;
    for (Clock::duration left = span; left > Clock::duration::zero(); left = end - Clock::now()) {
        if (dio::stop_signal != 0)
            throw Stopped{};
#if defined(_WIN32)
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        Sleep(static_cast<DWORD>(std::clamp<long long>(ms, 1, 50)));
#else
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec t{static_cast<std::time_t>(ns / 1000000000),
                         static_cast<long>(ns % 1000000000)};
        nanosleep(&t, nullptr); // a signal ends it early, with EINTR
#endif
    }
    if (dio::stop_signal != 0)
        throw Stopped{};
}

struct Watched {
    std::uint32_t word = 0;     // what the inputs read in the end
    std::uint32_t changing = 0; // lines still changing when the time ran out
    Ms settle{0};               // the longest any line took to reach its level
};

// Reads the inputs again and again after a write that began at @start,
// for at least @least, until each line of @must_change differs from
// @before and no judged line has changed for a quiet time (as long as the
// last change took, at least kQuiet), or until @limit has passed.
Watched watch(Board &board, Clock::time_point start, std::uint32_t before,
              std::uint32_t must_change, std::uint32_t judged, Ms least, Ms limit)
{
    std::array<Clock::time_point, kLines> changed{};
    changed.fill(start);
    std::uint32_t word = board.read();
    Clock::time_point now = Clock::now();
    Clock::time_point latest = start; // of the last change of any judged line
    for (unsigned j = 0; j < kLines; ++j) {
        if (has((word ^ before) & judged, j))
            changed[j] = latest = now;
    }
    for (;;) {
        const Ms quiet = std::max(kQuiet, Ms(latest - start));
        const bool arrived = ((word ^ before) & must_change) == must_change;
        if ((arrived && now - latest >= quiet && now - start >= least) || now - start >= limit)
            break;
        const std::uint32_t next = board.read();
        now = Clock::now();
        for (unsigned j = 0; j < kLines; ++j) {
            if (has((next ^ word) & judged, j))
                changed[j] = latest = now;
        }
        word = next;
    }
    // When time ran out, a line that changed within its own quiet time is
    // still changing; it leaves the others' time alone.
    Watched w;
    w.word = word;
    for (unsigned j = 0; j < kLines; ++j) {
        if (!has(judged, j) || changed[j] == start)
            continue;
        const Ms took(changed[j] - start);
        if (now - start >= limit && now - changed[j] < std::max(kQuiet, took))
            w.changing |= std::uint32_t{1} << j;
        else
            w.settle = std::max(w.settle, took);
    }
    return w;
}

struct Options {
    std::int32_t board = 1;
    std::uint32_t outputs = ~0U;
    std::uint32_t inputs = ~0U;
    double settle_ms = -1; // measured when negative
    double max_settle_ms = 1000;
    unsigned repeat = 2;
    std::string expect;
    bool json = false;
};

struct Result {
    dio_map::Finder finder;
    std::uint32_t unsteady = 0;
    Ms settle{0};
    Ms wait{0};
};

// Writes the vectors, pass after pass, and walks the suspects.
void find(Board &board, const Options &o, Result &r)
{
    dio_map::Finder &finder = r.finder;
    const unsigned vectors = finder.vectors();
    // Every word read, allocated before the first write.
    std::vector<std::uint32_t> words(static_cast<std::size_t>(o.repeat) * vectors);
    const bool measured = o.settle_ms < 0;
    r.wait = measured ? Ms(0) : Ms(o.settle_ms);
    for (unsigned pass = 0; pass < o.repeat; ++pass) {
        for (unsigned v = 0; v < vectors; ++v) {
            const Clock::time_point start = Clock::now();
            board.write(finder.pattern(v));
            std::uint32_t &word = words[pass * vectors + v];
            if (measured && pass == 0) {
                // All low, then all high: the step every input must follow.
                // The code vectors are watched too, for the wait at least,
                // so that an input slower than on that step (one sampled
                // now and then, as by a module's scan cycle) still counts.
                const std::uint32_t steady = o.inputs & ~r.unsteady;
                const Watched w = watch(board, start, v == 0 ? 0 : words[v - 1],
                                        v == 1 ? steady : 0, steady, r.wait, Ms(o.max_settle_ms));
                word = w.word;
                r.unsteady |= w.changing;
                if (v > 0) {
                    r.settle = std::max(r.settle, w.settle);
                    r.wait = 2 * r.settle + Ms(1);
                }
                continue;
            }
            wait_for(std::chrono::duration_cast<Clock::duration>(r.wait));
            word = board.read();
        }
    }
    for (unsigned pass = 1; pass < o.repeat; ++pass) {
        for (unsigned v = 0; v < vectors; ++v)
            r.unsteady |= (words[pass * vectors + v] ^ words[v]) & o.inputs;
    }
    finder.decode(words.data(), o.inputs, r.unsteady);

    std::array<std::uint32_t, kLines> zero{};
    std::array<std::uint32_t, kLines> one{};
    const std::uint32_t driven = finder.pattern(1);
    for (int way = 0; way < 2; ++way) {
        const std::uint32_t walk = way == 0 ? finder.walk_zero() : finder.walk_one();
        for (unsigned i = 0; i < kLines; ++i) {
            if (!has(walk, i))
                continue;
            const std::uint32_t bit = std::uint32_t{1} << i;
            board.write(way == 0 ? driven & ~bit : bit);
            wait_for(std::chrono::duration_cast<Clock::duration>(r.wait));
            (way == 0 ? zero : one)[i] = board.read();
        }
    }
    finder.resolve(zero, one);
}

std::string ms_text(Ms ms)
{
    char t[32];
    const double v = ms.count();
    std::snprintf(t, sizeof t, v < 1 ? "%.3f" : v < 100 ? "%.1f" : "%.0f", v);
    return t;
}

// What a line that is not as expected is: a word for a test runner, and
// the remark on its line of the map.
struct Fault {
    const char *type;
    const char *remark;
};

Fault fault_of(const Reading &r)
{
    switch (r.reads) {
    case Reads::follow:
        return {"crossed", "crossed"};
    case Reads::invert:
        return {"inverted", "inverted"};
    case Reads::low:
    case Reads::high:
        return {"stuck", "stuck"};
    case Reads::wired_and:
    case Reads::wired_or:
        return {"shorted", "shorted"};
    case Reads::intermittent:
        return {"intermittent", "not the same for the same outputs"};
    case Reads::other:
        break;
    }
    return {"other", "not a wire: logic, or more than one fault"};
}

std::string json_outputs(std::uint32_t outputs)
{
    std::string t = "[";
    for (unsigned i = 0; i < kLines; ++i) {
        if (has(outputs, i))
            t += (t.size() > 1 ? ", " : "") + std::to_string(i);
    }
    return t + "]";
}

// The map, as text or JSON, and as a test case per judged line; true when
// every judged line reads as expected.
bool print_map(const Options &o, const Result &r, const dio::wiring::Map &expected, unsigned writes,
               double seconds, std::vector<dio::TestCase> &cases)
{
    bool pass = true;
    std::string text;
    std::string json;
    for (unsigned j = 0; j < kLines; ++j) {
        if (!has(o.inputs, j))
            continue;
        const Reading &got = r.finder.reading(j);
        const Reading &want = expected.di[j];
        pass = pass && got == want;
        std::string remark;
        const bool named = has(expected.named, j) && want != dio::wiring::straight(j);
        if (named)
            remark = got == want ? "expected" : "expected " + dio::wiring::text(want);
        else if (got != want)
            remark = fault_of(got).remark;
        const std::string line = "DI " + std::to_string(j) + ": " + dio::wiring::text(got) +
                                 (remark.empty() ? "" : "  # " + remark);
        text += line + "\n";
        dio::TestCase c{"DI " + std::to_string(j),
                        "dio-map.board" + std::to_string(o.board),
                        dio::TestCase::Outcome::passed,
                        "",
                        "",
                        ""};
        if (got != want) {
            c.outcome = dio::TestCase::Outcome::failure;
            c.message = "reads " + dio::wiring::text(got) + ", expected " + dio::wiring::text(want);
            c.type = named ? "unexpected" : fault_of(got).type;
            c.text = line;
        }
        cases.push_back(c);
        json += std::string(json.empty() ? "" : ", ") + R"({"di": )" + std::to_string(j) +
                R"(, "reads": ")" + dio::wiring::kind_name(got.reads) + R"(", "do": )" +
                json_outputs(got.outputs) + "}";
    }
    const std::uint32_t unused = r.finder.unused();
    if (o.json) {
        char head[160];
        std::snprintf(head, sizeof head,
                      "{\"board\": %" PRId32 ", \"settle_ms\": %.3f, \"writes\": %u, "
                      "\"seconds\": %.3f, \"inputs\": [",
                      o.board, (o.settle_ms < 0 ? r.settle : r.wait).count(), writes, seconds);
        std::printf("%s%s], \"unused\": %s, \"result\": \"%s\"}\n", head, json.c_str(),
                    json_outputs(unused).c_str(), pass ? "pass" : "fail");
        return pass;
    }
    for (unsigned i = 0; i < kLines; ++i) {
        if (has(unused, i))
            text += "# DO " + std::to_string(i) + " drives no input\n";
    }
    if (o.settle_ms < 0)
        text += "# inputs follow within " + ms_text(r.settle) + " ms; each read waited " +
                ms_text(r.wait) + " ms after its write\n";
    else
        text += "# each read waited " + ms_text(r.wait) + " ms after its write (--settle)\n";
    char tail[64];
    std::snprintf(tail, sizeof tail, "# %u writes in %.1f s\n%s\n", writes, seconds,
                  pass ? "PASS" : "FAIL");
    std::fputs((text + tail).c_str(), stdout);
    return pass;
}

// A number of milliseconds from the command line, for CLI11.
CLI::Validator ms_check(double low, double high)
{
    return {[low, high](std::string &s) {
                char *end = nullptr;
                const double v = std::strtod(s.c_str(), &end);
                return !s.empty() && *end == '\0' && v >= low && v <= high
                           ? std::string()
                           : "'" + s + "' is not a number of milliseconds " + ms_text(Ms(low)) +
                                 "-" + ms_text(Ms(high));
            },
            ""};
}

int run(int argc, char **argv)
{
    CLI::App app{"Finds, for each input line (DI) of a board, which output (DO) drives it and "
                 "how, in a few writes through the board library.\nExit status: 0 every judged "
                 "DI follows its own DO (or reads as --expect says), 1 not, 2 the board did not "
                 "open, a write failed, an option or a map file was wrong; 130 or 143 after "
                 "Ctrl+C or SIGTERM.",
                 "dio-map"};
    app.set_version_flag("--version", "dio-map " DIO_MAP_VERSION);
    Options o;
    app.add_option("--board", o.board, "The board's number (default 1)")
        ->type_name("N")
        ->check(CLI::Range(0, 2147483647).description(""));
    std::string outputs = "ffffffff";
    std::string inputs = "ffffffff";
    app.add_option("--outputs", outputs,
                   "Drive only these DO lines, a hex mask; the others stay 0 (default ffffffff)")
        ->type_name("MASK")
        ->check(dio::mask_check());
    app.add_option("--inputs", inputs, "Judge only these DI lines, a hex mask (default ffffffff)")
        ->type_name("MASK")
        ->check(dio::mask_check());
    app.add_option("--settle", o.settle_ms, "Wait MS after each write instead of the time measured")
        ->type_name("MS")
        ->check(ms_check(0, 60000));
    app.add_option("--max-settle", o.max_settle_ms,
                   "Watch the inputs follow for at most MS (default 1000)")
        ->type_name("MS")
        ->check(ms_check(1, 60000));
    app.add_option("--repeat", o.repeat, "Passes over the vectors (default 2)")
        ->type_name("N")
        ->check(CLI::Range(1, 100).description(""));
    app.add_option("--expect", o.expect,
                   "Pass when each DI reads as this map file says (lines it does not name: "
                   "straight)")
        ->type_name("FILE");
    app.add_flag("--json", o.json, "Print the map as one JSON object");
    std::string junit_path;
    app.add_option("--junit", junit_path,
                   "Also write the map as JUnit XML, one test case per judged DI line")
        ->type_name("FILE");
    app.footer("Each judged DI gets a line 'DI <n>: <reading>': DO i, !DO i, low, high, "
               "DO a & DO b, DO a | DO b, intermittent, or depends on DO a, DO b. The outputs "
               "are left low at the end.");
    const int parsed =
        dio::parse_command_line(app, argc, argv, "dio-map", "no arguments but the options");
    if (parsed >= 0)
        return parsed;
    dio::parse_mask(outputs, o.outputs);
    dio::parse_mask(inputs, o.inputs);

    dio::wiring::Map expected;
    if (!o.expect.empty()) {
        const std::string why = dio::wiring::read_file(o.expect, expected);
        if (!why.empty()) {
            dio::complain("dio-map", why);
            return kTrouble;
        }
    }
    dio::ResultFile junit;
    const std::string unwritable = junit_path.empty() ? "" : junit.open(junit_path);
    if (!unwritable.empty()) {
        dio::complain("dio-map", unwritable);
        return kTrouble;
    }

    const std::time_t started = std::time(nullptr);
    const Clock::time_point began = Clock::now();
    // Ends the run: the JUnit file, if asked for, then the status.
    const auto finish = [&](int status, const std::vector<dio::TestCase> &cases) {
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        const std::string why =
            junit_path.empty() ? ""
                               : junit.replace(dio::junit_xml("dio-map", cases, started, seconds));
        if (!why.empty()) {
            dio::complain("dio-map", why);
            return kTrouble;
        }
        return status;
    };
    // A run that found no map: one error, for the board, in the JUnit file.
    const auto trouble = [&](int status, const std::string &why, const char *type) {
        if (status == kTrouble)
            dio::complain("dio-map", why);
        return finish(
            status, {{"board " + std::to_string(o.board), "dio-map.board" + std::to_string(o.board),
                      dio::TestCase::Outcome::error, why, type, ""}});
    };
    const auto stopped = [&] {
        const int signal = static_cast<int>(dio::stop_signal);
        return trouble(128 + signal,
                       std::string("stopped by ") + (signal == SIGINT ? "Ctrl+C" : "SIGTERM") +
                           " before the map was found",
                       "stopped");
    };

    dio::catch_stop_signals();
    if (Kestor_OpenDevice(o.board) < 0)
        return trouble(kTrouble,
                       "board " + std::to_string(o.board) +
                           " did not open (with the stand-in board library, VORNEL_VERBOSE=1 "
                           "says why)",
                       "not-open");
    Board board(o.board, o.outputs);
    Result r{dio_map::Finder(o.outputs)};
    try {
        find(board, o, r);
    } catch (const Stopped &) {
        board.lower();
        return stopped();
    } catch (const WriteFailed &) {
        board.lower();
        char why[96];
        std::snprintf(why, sizeof why,
                      "writing %" PRIx32 " to board %" PRId32 " failed (Kestor_DOAll gave %" PRId32
                      ")",
                      board.failed_pattern(), o.board, board.failed_result());
        return trouble(kTrouble, why, "write-failed");
    }
    board.lower();
    if (dio::stop_signal != 0)
        return stopped();
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::vector<dio::TestCase> cases;
    const bool pass = print_map(o, r, expected, board.writes(), seconds, cases);
    return finish(pass ? 0 : kFail, cases);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        dio::complain("dio-map", e.what());
        return kTrouble;
    }
}

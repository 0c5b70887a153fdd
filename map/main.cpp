// dio-map: finds, for each input line (DI) of a board, which output (DO)
// drives it and how: straight, crossed, inverted, stuck, shorted with
// others, or not steady. It drives the board through the board library's
// three calls alone, so it works with any library that has them.

#include "bits.h"
#include "board.h"
#include "cli.h"
#include "drive.h"
#include "fault.h"
#include "junit.h"
#include "map_text.h"
#include "mapper.h"
#include "result_file.h"
#include "stop.h"
#include "wiring.h"

#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

using dio::has;
using dio::wiring::Reading;
using dio_map::fault_of;
using dio_map::kLines;

namespace {

using Clock = std::chrono::steady_clock;

using dio::kTrouble;
constexpr int kFail = 1;

struct Options {
    dio_map::Settings map;
    std::string expect; // a map file the board must read as
    std::string junit;  // a JUnit file to write too
    bool json = false;
};

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
bool print_map(const Options &o, const dio_map::Map &r, const dio::wiring::Map &expected,
               double seconds, std::vector<dio::TestCase> &cases)
{
    const dio_map::Settings &s = o.map;
    bool pass = true;
    std::string text;
    std::string json;
    for (const dio_map::MapLine &line : dio_map::map_lines(r, s, expected)) {
        const unsigned j = line.di;
        const Reading &got = r.finder.reading(j);
        const Reading &want = expected.di[j];
        pass = pass && got == want;
        text += line.text + "\n";
        dio::TestCase c{"DI " + std::to_string(j),
                        "dio-map.board" + std::to_string(s.board),
                        dio::TestCase::Outcome::passed,
                        "",
                        "",
                        ""};
        if (got != want) {
            c.outcome = dio::TestCase::Outcome::failure;
            c.message = "reads " + dio::wiring::text(got) + ", expected " + dio::wiring::text(want);
            c.type = fault_of(got).type;
            c.text = line.text;
        }
        cases.push_back(c);
        json += std::string(json.empty() ? "" : ", ") + R"({"di": )" + std::to_string(j) +
                R"(, "reads": ")" + dio::wiring::kind_name(got.reads) + R"(", "do": )" +
                json_outputs(got.outputs) + "}";
    }
    if (o.json) {
        char head[160];
        std::snprintf(head, sizeof head,
                      "{\"board\": %" PRId32 ", \"settle_ms\": %.3f, \"writes\": %u, "
                      "\"seconds\": %.3f, \"inputs\": [",
                      s.board, r.settle_ms, r.writes, seconds);
        std::printf("%s%s], \"unused\": %s, \"result\": \"%s\"}\n", head, json.c_str(),
                    json_outputs(r.finder.unused()).c_str(), pass ? "pass" : "fail");
        return pass;
    }
    text += dio_map::map_notes(r, s, seconds) + (pass ? "PASS\n" : "FAIL\n");
    std::fputs(text.c_str(), stdout);
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
                           : "'" + s + "' is not a number of milliseconds " +
                                 dio_map::ms_text(low) + "-" + dio_map::ms_text(high);
            },
            ""};
}

// Reads the command line into @o. Returns -1 to go on, or the exit status.
int parse_options(int argc, char **argv, Options &o)
{
    CLI::App app{"Finds, for each input line (DI) of a board, which output (DO) drives it and "
                 "how, in a few writes through the board library.\nExit status: 0 every judged "
                 "DI follows its own DO (or reads as --expect says), 1 not, 2 the board did not "
                 "open, a write failed (the last one, all low, too), an option, a map file or "
                 "an output could not be read or written; 128 and the signal's number after "
                 "Ctrl+C, SIGTERM, SIGHUP and the like.",
                 "dio-map"};
    app.set_version_flag("--version", "dio-map " DIO_MAP_VERSION);
    dio::add_board_option(app, o.map.board);
    dio::add_mask_option(
        app, "--outputs", o.map.outputs,
        "Drive only these DO lines, a hex mask; the others stay 0 (default ffffffff)");
    dio::add_mask_option(app, "--inputs", o.map.inputs,
                         "Judge only these DI lines, a hex mask (default ffffffff)");
    app.add_option("--settle", o.map.settle_ms,
                   "Wait MS after each write instead of the time measured")
        ->type_name("MS")
        ->check(ms_check(0, 60000));
    app.add_option("--max-settle", o.map.max_settle_ms,
                   "The longest an input may take to follow, scan included (default 1000)")
        ->type_name("MS")
        ->check(ms_check(1, 60000));
    app.add_option("--repeat", o.map.repeat, "Passes over the vectors (default 2)")
        ->type_name("N")
        ->check(CLI::Range(1, 100).description(""));
    app.add_option("--expect", o.expect,
                   "Pass when each DI reads as this map file says (lines it does not name: "
                   "straight)")
        ->type_name("FILE");
    app.add_flag("--json", o.json, "Print the map as one JSON object");
    app.add_option("--junit", o.junit,
                   "Also write the map as JUnit XML, one test case per judged DI line")
        ->type_name("FILE");
    app.footer("Each judged DI gets a line 'DI <n>: <reading>': DO i, !DO i, low, high, "
               "DO a & DO b, DO a | DO b, intermittent, or depends on DO a, DO b. The outputs "
               "are left low at the end.");
    const int parsed = dio::parse_command_line(app, argc, argv, "no arguments but the options");
    if (parsed >= 0)
        return parsed;
    return -1;
}

// The run's JUnit file, when asked for, and its status.
class Results {
  public:
    explicit Results(const Options &o) : o_(o) {}

    // Proves that the file can be written, and is not the map file read.
    std::string open()
    {
        if (o_.junit.empty())
            return {};
        if (!o_.expect.empty() && dio::same_file(o_.junit, o_.expect))
            return o_.junit + ": is the map file --expect reads; give another name";
        return junit_.open(o_.junit);
    }

    // Seconds since the run began.
    [[nodiscard]] double seconds() const
    {
        return std::chrono::duration<double>(Clock::now() - began_).count();
    }

    // Ends the run with @status and these test cases.
    int finish(int status, const std::vector<dio::TestCase> &cases)
    {
        const std::string why =
            o_.junit.empty()
                ? ""
                : junit_.replace(dio::junit_xml("dio-map", cases, started_, seconds()));
        if (!why.empty()) {
            dio::complain(why);
            return kTrouble;
        }
        return status;
    }

    // A test case for the board: what went wrong with the run.
    [[nodiscard]] dio::TestCase board_case(const std::string &why, const char *type) const
    {
        return {"board " + std::to_string(o_.map.board),
                "dio-map.board" + std::to_string(o_.map.board),
                dio::TestCase::Outcome::error,
                why,
                type,
                ""};
    }

    // Ends a run that found no map: the reason, on standard error unless
    // a signal stopped it, and in the JUnit file.
    int trouble(int status, const std::string &why, const char *type)
    {
        if (status == kTrouble)
            dio::complain(why);
        return finish(status, {board_case(why, type)});
    }

  private:
    const Options &o_;
    dio::ResultFile junit_;
    std::time_t started_ = std::time(nullptr);
    Clock::time_point began_ = Clock::now();
};

int run(int argc, char **argv)
{
    dio::set_tool_name("dio-map");
    Options o;
    const int parsed = parse_options(argc, argv, o);
    if (parsed >= 0)
        return parsed;
    dio::wiring::Map expected;
    const std::string unreadable =
        o.expect.empty() ? "" : dio::wiring::read_file(o.expect, expected);
    Results results(o);
    const std::string unwritable = unreadable.empty() ? results.open() : unreadable;
    if (!unwritable.empty()) {
        dio::complain(unwritable);
        return kTrouble;
    }

    dio::catch_ending_signals();
    if (Kestor_OpenDevice(o.map.board) < 0)
        return results.trouble(kTrouble, dio::did_not_open(o.map.board), "not-open");
    const dio_map::Map r = dio_map::find_map(o.map);
    // Outputs the library would not write low: say which, whatever else.
    const std::string left_driven =
        r.lowered < 0 ? dio::refused_low(o.map.board, r.lowered, r.driven) : "";
    if (r.outcome == dio_map::Outcome::write_failed) {
        if (!left_driven.empty())
            dio::complain(left_driven);
        return results.trouble(kTrouble,
                               dio::write_failed(o.map.board, r.failed_pattern, r.failed_result),
                               "write-failed");
    }
    if (r.outcome == dio_map::Outcome::stopped || dio::stop_signal != 0) {
        if (!left_driven.empty())
            dio::complain(left_driven);
        const int signal = static_cast<int>(dio::stop_signal);
        return results.trouble(128 + signal,
                               std::string("stopped by ") + dio::signal_name(signal) +
                                   " before the map was found",
                               "stopped");
    }
    std::vector<dio::TestCase> cases;
    const bool pass = print_map(o, r, expected, results.seconds(), cases);
    int status = pass ? 0 : kFail;
    if (!left_driven.empty()) {
        dio::complain(left_driven);
        cases.push_back(results.board_case(left_driven, "write-failed"));
        status = kTrouble;
    }
    const std::string lost = dio::flush_standard_output();
    if (!lost.empty()) {
        dio::complain(lost);
        status = kTrouble;
    }
    return results.finish(status, cases);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        dio::complain(e.what());
        return kTrouble;
    }
}

// dio-check: reads dio-exerciser's report and says, for each input line,
// whether it follows its output. Shows the lines live on a terminal and
// can write them as a waveform.

#include "cli.h"
#include "junit.h"
#include "live_view.h"
#include "metrics.h"
#include "report.h"
#include "result_file.h"
#include "stop.h"
#include "vcd_writer.h"
#include "verdict.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fstat _fstat
#define stat _stat
#else
#include <unistd.h>
#endif

using namespace dio_check;

namespace {

constexpr int kNotAReport = 2;

// How the live view may draw on this terminal.
ViewStyle terminal_style()
{
    bool escapes = false;
#if defined(_WIN32)
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    escapes = GetConsoleMode(out, &mode) != 0 &&
              SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    const char *term = std::getenv("TERM");
    escapes = term == nullptr || std::strcmp(term, "dumb") != 0;
#endif
    const char *no_colour = std::getenv("NO_COLOR");
    ViewStyle style;
    style.redraw = escapes;
    style.colour = escapes && (no_colour == nullptr || *no_colour == '\0');
    return style;
}

std::uint64_t now_ms()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string trouble; // the first complaint, which makes the status 2, for the JUnit file

void complain(const std::string &message)
{
    if (trouble.empty())
        trouble = message;
    dio::complain("dio-check", message);
}

double wall_seconds()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// "DI 5: stuck low" without its "DI 5: ".
std::string verdict_text(const LineVerdict &v, Expect expect)
{
    const std::string text = describe(v, expect);
    return text.substr(text.find(": ") + 2);
}

// One test case per judged input line; a report that was not one is an
// error of its own, as is a run too short for a verdict.
std::vector<dio::TestCase> test_cases(const Tally &tally)
{
    static const char *const kTypes[] = {"ok",       "stuck-low",    "stuck-high",
                                         "inverted", "intermittent", "undecided"};
    using Outcome = dio::TestCase::Outcome;
    std::vector<dio::TestCase> cases;
    for (const LineVerdict &v : tally.judge()) {
        dio::TestCase c{"DI " + std::to_string(v.line), "dio-check", Outcome::passed, "", "", ""};
        if (tally.lines() < 2) {
            c.outcome = Outcome::error;
            c.message = "no verdict: a verdict needs both patterns, so at least 2 report lines";
            c.type = "no-verdict";
        } else if (v.verdict == Verdict::undecided) {
            c.outcome = Outcome::skipped;
            c.message = verdict_text(v, tally.expect());
        } else if (v.verdict != Verdict::ok) {
            c.outcome = Outcome::failure;
            c.message = verdict_text(v, tally.expect());
            c.type = kTypes[static_cast<int>(v.verdict)];
            c.text = "wrong in " + std::to_string(v.wrong) + " of " + std::to_string(v.lines) +
                     " report lines; expected " +
                     (tally.expect() == Expect::follow ? "to follow DO " : "opposite to DO ") +
                     std::to_string(v.line);
        }
        cases.push_back(c);
    }
    if (!trouble.empty())
        cases.push_back({"report", "dio-check", Outcome::error, trouble, "", ""});
    return cases;
}

std::string line_text(std::string_view line)
{
    return '"' + quoted(without_cr(line)) + '"';
}

int run(int argc, char **argv)
{
    CLI::App app{"Reads dio-exerciser's report and says, for each input line (DI), whether it "
                 "follows its output (DO).\nExit status: 0 all judged lines ok, 1 any not (or too "
                 "few lines), 2 the input was not a report, a file could not be read or written, "
                 "or an option was wrong.",
                 "dio-check"};
    app.set_version_flag("--version", "dio-check " DIO_CHECK_VERSION);
    std::string input = "-";
    app.add_option("report", input, "The report: a saved log, or - for standard input (default)");
    std::uint64_t limit = 0;
    app.add_option("--lines", limit, "Stop after N report lines and give the verdict")
        ->type_name("N")
        ->check(CLI::Validator(
            [](std::string &text) {
                return !text.empty() && text.size() <= 18 &&
                               text.find_first_not_of("0123456789") == std::string::npos &&
                               text.find_first_not_of('0') != std::string::npos
                           ? std::string()
                           : "'" + text + "' is not a whole number of lines, 1 or more";
            },
            ""));
    std::string wired_text = "ffffffff";
    app.add_option("--wired", wired_text,
                   "Judge only these DI lines, a hex mask (default ffffffff)")
        ->type_name("MASK")
        ->check(dio::mask_check());
    std::string expect_text = "follow";
    app.add_option("--expect", expect_text,
                   "follow: each DI reads its DO (a loopback plug, the default); inverted: the "
                   "opposite (inputs that invert)")
        ->type_name("follow|inverted")
        ->check(CLI::IsMember({"follow", "inverted"}).description(""));
    std::string vcd_path;
    app.add_option("--vcd", vcd_path, "Also write the run as a Value Change Dump waveform")
        ->type_name("FILE");
    std::string junit_path;
    app.add_option("--junit", junit_path,
                   "Also write the verdict as JUnit XML, one test case per judged DI line")
        ->type_name("FILE");
    std::string metrics_path;
    app.add_option("--metrics", metrics_path,
                   "Keep Prometheus metrics in FILE (ending in .prom), rewritten after every "
                   "report line, for node_exporter's textfile collector")
        ->type_name("FILE");
    std::vector<std::string> label_texts;
    app.add_option("--metrics-label", label_texts,
                   "Add this label to every series, as in jig=3 (may be given again)")
        ->type_name("NAME=VALUE");
    app.footer("On a terminal, each report line is drawn as its 32 DO and DI bits, wrong "
               "inputs in red and marked with ^, with a running tally; NO_COLOR turns the "
               "colours off and TERM=dumb all escape codes. Elsewhere only the summary is "
               "printed.");
    const int parsed = dio::parse_command_line(app, argc, argv, "dio-check", "one report at most");
    if (parsed >= 0)
        return parsed;
    std::uint32_t wired = 0;
    dio::parse_mask(wired_text, wired);
    const Expect expect = expect_text == "inverted" ? Expect::inverted : Expect::follow;
    std::vector<Label> labels;
    for (const std::string &text : label_texts) {
        Label label;
        const std::string why = parse_label(text, label);
        if (!why.empty()) {
            complain("--metrics-label " + why + " (--help lists the options)");
            return kNotAReport;
        }
        labels.push_back(label);
    }
    const std::string prom = ".prom";
    if (!metrics_path.empty() &&
        (metrics_path.size() <= prom.size() ||
         metrics_path.compare(metrics_path.size() - prom.size(), prom.size(), prom) != 0)) {
        complain("--metrics " + metrics_path +
                 ": give a name ending in .prom, the only files node_exporter's textfile "
                 "collector reads (--help lists the options)");
        return kNotAReport;
    }
    // Files that cannot be written fail now, before the run.
    dio::ResultFile junit;
    dio::ResultFile metrics;
    for (const auto &[file, path] : {std::pair<dio::ResultFile *, std::string>{&junit, junit_path},
                                     {&metrics, metrics_path}}) {
        const std::string why = path.empty() ? "" : file->open(path);
        if (!why.empty()) {
            complain(why);
            return kNotAReport;
        }
    }
    const std::time_t started = std::time(nullptr);
    const std::uint64_t started_ms = now_ms();

    int fd = 0;
    if (input != "-") {
#if defined(_WIN32)
        fd = _open(input.c_str(), _O_RDONLY | _O_BINARY);
#else
        fd = open(input.c_str(), O_RDONLY | O_CLOEXEC);
#endif
        if (fd < 0) {
            complain(input + ": " + std::strerror(errno));
            return kNotAReport;
        }
    }
#if defined(_WIN32)
    _setmode(fd, _O_BINARY);
#endif
    // From a saved report each line stands for a second; from a pipe or a
    // terminal, lines are timed as they arrive.
    struct stat st {};
    const bool from_file = fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;

    std::FILE *vcd_file = nullptr;
    if (!vcd_path.empty()) {
        vcd_file = std::fopen(vcd_path.c_str(), "wb");
        if (vcd_file == nullptr) {
            complain(vcd_path + ": " + std::strerror(errno));
            return kNotAReport;
        }
    }
    VcdWriter *vcd = nullptr;
    static char vcd_buffer[1U << 16U];
    if (vcd_file != nullptr) {
        std::setvbuf(vcd_file, vcd_buffer, _IOFBF, sizeof vcd_buffer);
        static VcdWriter writer(vcd_file, "dio-check " DIO_CHECK_VERSION);
        vcd = &writer;
    }

    const bool live = isatty(1) != 0;
    const ViewStyle style = live ? terminal_style() : ViewStyle{};
    dio::catch_stop_signals();

    Tally tally(wired, expect);
    static LineReader reader(fd);
    int status = 0;
    // Rewritten whole after every line; the first version before any.
    const auto update_metrics = [&](bool line_arrived) {
        if (metrics_path.empty())
            return;
        const std::string why =
            metrics.replace(render_metrics(tally, labels, line_arrived ? wall_seconds() : 0));
        if (!why.empty()) {
            complain(why);
            metrics_path.clear();
            status = kNotAReport;
        }
    };
    update_metrics(false);
    std::uint64_t first_ms = 0;
    std::uint64_t last_ms = 0;
    if (live)
        std::fputs(render_heading().c_str(), stdout);
    while (dio::stop_signal == 0 && (limit == 0 || tally.lines() < limit)) {
        std::string_view line;
        const LineReader::Status got = reader.next(line);
        if (got == LineReader::Status::interrupted)
            continue;
        if (got == LineReader::Status::end)
            break;
        if (live)
            std::fputs(erase_tally(style).c_str(), stdout);
        const std::string where = "line " + std::to_string(reader.line_number());
        if (got == LineReader::Status::failed) {
            complain((input == "-" ? "standard input" : input) + ": " +
                     std::strerror(reader.error()));
            status = kNotAReport;
            break;
        }
        if (got == LineReader::Status::overlong) {
            complain(where + ": longer than any report line (over " +
                     std::to_string(LineReader::kMaxLine) + " bytes): " + line_text(line) + "...");
            status = kNotAReport;
            break;
        }
        Sample s;
        const LineKind kind = classify(line, s);
        if (kind == LineKind::report) {
            const std::uint32_t wrong = tally.add(s);
            update_metrics(true);
            if (vcd != nullptr) {
                const std::uint64_t now = from_file ? 0 : now_ms();
                if (tally.lines() == 1)
                    first_ms = now;
                last_ms = from_file ? (tally.lines() - 1) * 1000 : now - first_ms;
                vcd->add(last_ms, s);
                if (!from_file)
                    std::fflush(vcd_file);
            }
            if (live) {
                std::fputs(render_line(tally.lines(), s, wrong, wired, style).c_str(), stdout);
                std::fputs(render_tally(tally.lines(), tally.failing_lines(), style).c_str(),
                           stdout);
                std::fflush(stdout);
            }
            continue;
        }
        if (got == LineReader::Status::last_line && kind == LineKind::cut_short) {
            // A report stopped while a line was being saved: not an error.
            dio::complain("dio-check",
                          where + " is cut short and left out of the verdict: " + line_text(line));
            break;
        }
        switch (kind) {
        case LineKind::open_failed:
            complain(where + ": \"Open device failed!\": the exerciser could not open board 1");
            break;
        case LineKind::binary:
            complain(where + ": binary data, not a report line: " + line_text(line));
            break;
        default:
            complain(where + ": not a report line: " + line_text(line));
            break;
        }
        status = kNotAReport;
        break;
    }
    if (live)
        std::fputs(erase_tally(style).c_str(), stdout);

    if (vcd_file != nullptr) {
        if (tally.lines() > 0)
            vcd->finish(last_ms + 1000);
        const bool written = vcd->good();
        if (std::fclose(vcd_file) != 0 || !written) {
            complain(vcd_path + ": could not be written in full");
            status = kNotAReport;
        }
    }
    std::fputs(summary(tally).c_str(), stdout);
    std::fflush(stdout);
    if (!junit_path.empty()) {
        const double seconds = static_cast<double>(now_ms() - started_ms) / 1000.0;
        const std::string why =
            junit.replace(dio::junit_xml("dio-check", test_cases(tally), started, seconds));
        if (!why.empty()) {
            complain(why);
            status = kNotAReport;
        }
    }
    return status != 0 ? status : exit_status(tally);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dio-check: %s\n", e.what());
        return kNotAReport;
    }
}

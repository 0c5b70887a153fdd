#include "checker.h"

#include "cli.h"
#include "junit.h"
#include "live_view.h"
#include "report.h"
#include "result_file.h"
#include "stop.h"
#include "vcd_writer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#define close _close
#define isatty _isatty
#define fstat _fstat
#define stat _stat
#else
#include <unistd.h>
#endif

namespace dio_check {
namespace {

using dio::kTrouble;

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

std::string line_text(std::string_view line)
{
    return '"' + quoted(without_cr(line)) + '"';
}

// Whether @line, the last of the input and without its line feed, was
// printed whole: its carriage return came, or its input word has all the
// digits one can have. Anything else may have been cut inside its digits.
bool whole_last_line(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        return true;
    const std::size_t di = line.rfind(':');
    return di != std::string_view::npos && line.size() - di - 1 == 8;
}

class Checker {
  public:
    explicit Checker(const Options &o) : o_(o), tally_(o.wired, o.expect) {}
    ~Checker()
    {
        if (fd_ > 0)
            close(fd_);
    }
    Checker(const Checker &) = delete;
    Checker &operator=(const Checker &) = delete;
    Checker(Checker &&) = delete;
    Checker &operator=(Checker &&) = delete;

    int run();

  private:
    bool open();
    bool open_waveform();
    void complain(const std::string &message);
    void update_metrics(bool line_arrived);
    // Takes one line the reader returned as @got; false to stop reading.
    bool take(LineReader::Status got, std::string_view line);
    void add(const Sample &s);
    [[nodiscard]] std::vector<dio::TestCase> test_cases() const;
    int finish();

    const Options &o_;
    Tally tally_;
    Ending ending_;
    int status_ = 0;
    std::string trouble_; // the first complaint, for the JUnit file
    int fd_ = 0;
    bool from_file_ = false; // a saved report: each line stands for a second
    bool live_ = false;      // drawn on a terminal
    ViewStyle style_;
    // Allocated once: the reader's and the waveform's buffers are large.
    std::unique_ptr<LineReader> reader_;
    dio::ResultFile junit_;
    dio::ResultFile metrics_;
    bool keep_metrics_ = false;
    std::FILE *vcd_file_ = nullptr;
    std::vector<char> vcd_buffer_;
    std::optional<VcdWriter> vcd_;
    std::uint64_t first_ms_ = 0;
    std::uint64_t last_ms_ = 0;
    std::time_t started_ = std::time(nullptr);
    std::uint64_t started_ms_ = now_ms();
};

void Checker::complain(const std::string &message)
{
    if (trouble_.empty())
        trouble_ = message;
    dio::complain(message);
    status_ = kTrouble;
}

// The input, and every file to write, before anything is read or written:
// a result file that is the report itself would destroy it.
bool Checker::open()
{
    if (o_.input != "-") {
#if defined(_WIN32)
        fd_ = _open(o_.input.c_str(), _O_RDONLY | _O_BINARY);
#else
        fd_ = ::open(o_.input.c_str(), O_RDONLY | O_CLOEXEC);
#endif
        if (fd_ < 0) {
            fd_ = 0;
            complain(o_.input + ": " + std::strerror(errno));
            return false;
        }
    }
#if defined(_WIN32)
    _setmode(fd_, _O_BINARY);
#endif
    for (const std::string *path : {&o_.junit, &o_.metrics, &o_.vcd}) {
        if (!path->empty() && dio::same_file(*path, fd_)) {
            complain(*path + ": is the report being read (" +
                     (o_.input == "-" ? std::string("standard input") : o_.input) +
                     "); give another name");
            return false;
        }
    }
    for (const auto &[file, path] : {std::pair{&junit_, &o_.junit}, {&metrics_, &o_.metrics}}) {
        const std::string why = path->empty() ? "" : file->open(*path);
        if (!why.empty()) {
            complain(why);
            return false;
        }
    }
    keep_metrics_ = !o_.metrics.empty();
    struct stat st {};
    from_file_ = fstat(fd_, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG;
    reader_ = std::make_unique<LineReader>(fd_);
    return open_waveform();
}

// The waveform is written as lines arrive, in place: a viewer may be
// watching it grow.
bool Checker::open_waveform()
{
    if (o_.vcd.empty())
        return true;
    vcd_file_ = std::fopen(o_.vcd.c_str(), "wb");
    if (vcd_file_ == nullptr) {
        complain(o_.vcd + ": " + std::strerror(errno));
        return false;
    }
    vcd_buffer_.resize(std::size_t{1} << 16U);
    std::setvbuf(vcd_file_, vcd_buffer_.data(), _IOFBF, vcd_buffer_.size());
    vcd_.emplace(vcd_file_, "dio-check " DIO_CHECK_VERSION);
    return true;
}

// Rewritten whole after every line; the first version before any.
void Checker::update_metrics(bool line_arrived)
{
    if (!keep_metrics_)
        return;
    const std::string why =
        metrics_.replace(render_metrics(tally_, o_.labels, line_arrived ? wall_seconds() : 0));
    if (!why.empty()) {
        complain(why);
        keep_metrics_ = false;
    }
}

void Checker::add(const Sample &s)
{
    const std::uint32_t wrong = tally_.add(s);
    update_metrics(true);
    if (vcd_) {
        const std::uint64_t now = from_file_ ? 0 : now_ms();
        if (tally_.lines() == 1)
            first_ms_ = now;
        last_ms_ = from_file_ ? (tally_.lines() - 1) * 1000 : now - first_ms_;
        vcd_->add(last_ms_, s);
        if (!from_file_)
            std::fflush(vcd_file_);
    }
    if (live_) {
        std::fputs(render_line(tally_.lines(), s, wrong, o_.wired, style_).c_str(), stdout);
        std::fputs(render_tally(tally_.lines(), tally_.failing_lines(), style_).c_str(), stdout);
        std::fflush(stdout);
    }
}

bool Checker::take(LineReader::Status got, std::string_view line)
{
    const std::string where = "line " + std::to_string(reader_->line_number());
    const std::string from = o_.input == "-" ? "standard input" : o_.input;
    if (got == LineReader::Status::failed) {
        complain(from + ": " + std::strerror(reader_->error()));
        return false;
    }
    if (got == LineReader::Status::overlong) {
        complain(where + ": longer than any report line (over " +
                 std::to_string(LineReader::kMaxLine) + " bytes): " + line_text(line) + "...");
        return false;
    }
    if (without_cr(line).empty())
        return true; // a blank line says nothing
    Sample s;
    LineKind kind = classify(line, s);
    // A report stopped while a line was being saved: named and left out,
    // not an error.
    if (got == LineReader::Status::last_line &&
        (kind == LineKind::cut_short || (kind == LineKind::report && !whole_last_line(line)))) {
        dio::complain(where + " is cut short and left out of the verdict: " + line_text(line));
        ++ending_.cut;
        return false;
    }
    switch (kind) {
    case LineKind::report:
        add(s);
        return true;
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
    return false;
}

// One test case per judged input line; a report that was not one is an
// error of its own, as is a run too short for a verdict.
std::vector<dio::TestCase> Checker::test_cases() const
{
    static const char *const kTypes[] = {"ok",       "stuck-low",    "stuck-high",
                                         "inverted", "intermittent", "undecided"};
    using Outcome = dio::TestCase::Outcome;
    std::vector<dio::TestCase> cases;
    for (const LineVerdict &v : tally_.judge()) {
        dio::TestCase c{"DI " + std::to_string(v.line), "dio-check", Outcome::passed, "", "", ""};
        if (cut_short(tally_, ending_) || tally_.lines() < 2) {
            c.outcome = Outcome::error;
            c.message = cut_short(tally_, ending_)
                            ? "no verdict: the run ended before the lines asked for"
                            : "no verdict: a verdict needs both patterns, so at least 2 report "
                              "lines";
            c.type = "no-verdict";
        } else if (v.verdict == Verdict::undecided) {
            c.outcome = Outcome::skipped;
            c.message = verdict_text(v, tally_.expect());
        } else if (v.verdict != Verdict::ok) {
            c.outcome = Outcome::failure;
            c.message = verdict_text(v, tally_.expect());
            c.type = kTypes[static_cast<int>(v.verdict)];
            c.text = "wrong in " + std::to_string(v.wrong) + " of " + std::to_string(v.lines) +
                     " report lines; expected " +
                     (tally_.expect() == Expect::follow ? "to follow DO " : "opposite to DO ") +
                     std::to_string(v.line);
        }
        cases.push_back(c);
    }
    if (!trouble_.empty())
        cases.push_back({"report", "dio-check", Outcome::error, trouble_, "", ""});
    return cases;
}

// The waveform's end, the summary, the JUnit file; the status.
int Checker::finish()
{
    if (live_)
        std::fputs(erase_tally(style_).c_str(), stdout);
    if (vcd_file_ != nullptr) {
        if (tally_.lines() > 0)
            vcd_->finish(last_ms_ + 1000);
        const bool written = vcd_->good();
        if (std::fclose(vcd_file_) != 0 || !written)
            complain(o_.vcd + ": could not be written in full");
        vcd_file_ = nullptr;
    }
    if (dio::stop_signal != 0)
        ending_.stopped = dio::signal_name(static_cast<int>(dio::stop_signal));
    if (cut_short(tally_, ending_))
        complain("stopped after " + std::to_string(tally_.lines()) + " of " +
                 std::to_string(o_.limit) + " report lines (--lines): no verdict");
    std::fputs(summary(tally_, ending_).c_str(), stdout);
    const std::string lost = dio::flush_standard_output();
    if (!lost.empty())
        complain(lost);
    if (!o_.junit.empty()) {
        const double seconds = static_cast<double>(now_ms() - started_ms_) / 1000.0;
        const std::string why =
            junit_.replace(dio::junit_xml("dio-check", test_cases(), started_, seconds));
        if (!why.empty())
            complain(why);
    }
    return status_ != 0 ? status_ : exit_status(tally_, ending_);
}

int Checker::run()
{
    ending_.wanted = o_.limit;
    if (!open())
        return status_;
    live_ = isatty(1) != 0;
    style_ = live_ ? terminal_style() : ViewStyle{};
    dio::catch_ending_signals();
    update_metrics(false);
    if (live_)
        std::fputs(render_heading().c_str(), stdout);
    while (dio::stop_signal == 0 && (o_.limit == 0 || tally_.lines() < o_.limit)) {
        std::string_view line;
        const LineReader::Status got = reader_->next(line);
        if (got == LineReader::Status::interrupted)
            continue;
        if (got == LineReader::Status::end)
            break;
        if (live_)
            std::fputs(erase_tally(style_).c_str(), stdout);
        if (!take(got, line))
            break;
    }
    return finish();
}

} // namespace

int check(const Options &o)
{
    return Checker(o).run();
}

} // namespace dio_check

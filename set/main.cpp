// dio-set: drives a board's digital outputs through the board library, by
// hand: a word or lines held until a signal or for a time, or commands
// from a prompt. Every run ends with the outputs low, unless --leave asks
// otherwise.

#include "board.h"
#include "cli.h"
#include "result_file.h"
#include "session.h"
#include "stop.h"
#include "watch.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

using dio::kTrouble;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

struct Options {
    dio_set::Settings set;
    std::vector<std::string> words; // a hex word, or lines N=V
    std::uint32_t word = 0;
    double for_ms = -1; // -1: until a signal
    bool leave = false;
    bool read = false;
    bool interactive = false;
};

CLI::Validator ms_check(double high)
{
    return CLI::Range(0.0, high).description("");
}

// Reads the command line into @o. Returns -1 to go on, or the exit status.
int parse_options(int argc, char **argv, Options &o)
{
    CLI::App app{
        "Drives the digital outputs (DO) of a board through the board library: writes a hex "
        "word (dio-set 80) or lines (dio-set 7=1 12=1, the others 0), holds them until Ctrl+C "
        "or SIGTERM, then writes 0. With -i, takes commands from standard input.\nExit status: "
        "0 done (a signal ends a hold), 2 the board did not open, a write failed (the outputs "
        "are then written 0), an argument was wrong or standard output could not be written; "
        "128 and the signal's number when one cut --for or --read short.",
        "dio-set"};
    app.set_version_flag("--version", "dio-set " DIO_TOOLS_VERSION);
    dio::add_board_option(app, o.set.board);
    dio::add_mask_option(
        app, "--outputs", o.set.outputs,
        "Drive only these DO lines, a hex mask; a word or line outside it is refused "
        "(default ffffffff)");
    app.add_option("--for", o.for_ms, "Hold for MS, then write 0 and end")
        ->type_name("MS")
        ->check(ms_check(2147483647.0));
    app.add_flag("--leave", o.leave,
                 "Write and end at once, leaving the outputs as written; whether they stay so is "
                 "up to the board and its library");
    app.add_flag("--read", o.read, "Print do:<hex>,di:<hex> once, --settle after the write");
    app.add_option("--settle", o.set.settle_ms,
                   "From a write to the read that shows it, in MS (default 10)")
        ->type_name("MS")
        ->check(ms_check(60000));
    app.add_flag("-i,--interactive", o.interactive,
                 "Take commands from standard input, one a line (help lists them)");
    app.add_option("word", o.words, "A hex word (80), or lines N=V (7=1 12=1)")->type_name("");
    app.footer("Lines outside --outputs are written 0 all the same: the board takes all its "
               "outputs in one word.");
    const int parsed = dio::parse_command_line(app, argc, argv, "no more arguments");
    if (parsed >= 0)
        return parsed;
    std::string wrong;
    if (o.interactive && !o.words.empty())
        wrong = "-i takes no word or lines; give them to its set command";
    else if (o.interactive && (o.read || o.leave || o.for_ms >= 0))
        wrong = "--read, --leave and --for are for a word or lines, not -i";
    else if (o.leave && o.for_ms >= 0)
        wrong = "--leave and --for: give one";
    else if (!o.interactive)
        wrong = dio_set::parse_assignment(o.words, o.set.outputs, o.word);
    if (!wrong.empty()) {
        dio::complain(wrong + " (--help lists the options)");
        return kTrouble;
    }
    return -1;
}

// Holds the outputs until a signal, or for @for_ms when that is not -1.
void hold(double for_ms)
{
    const Clock::time_point until =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(Ms(for_ms < 0 ? 0 : for_ms));
    for (Clock::time_point now = Clock::now(); dio::stop_signal == 0; now = Clock::now()) {
        if (for_ms < 0)
            dio_get::pause_ms(1000);
        else if (now < until)
            dio_get::pause_ms(Ms(until - now).count());
        else
            break;
    }
}

// The end of a run: the outputs low, unless @leave and nothing went wrong,
// and the status, @status or worse.
int finish(dio_set::Outputs &outputs, bool leave, int status)
{
    if (!leave || status != 0) {
        const std::string refused = outputs.lower();
        if (!refused.empty()) {
            dio::complain(refused);
            status = kTrouble;
        }
    }
    const std::string lost = dio::flush_standard_output();
    if (!lost.empty()) {
        dio::complain(lost);
        status = kTrouble;
    }
    return status;
}

int stopped(const char *during)
{
    const int signal = static_cast<int>(dio::stop_signal);
    dio::complain(std::string("stopped by ") + dio::signal_name(signal) + " " + during);
    return 128 + signal;
}

int run(int argc, char **argv)
{
    Options o;
    const int parsed = parse_options(argc, argv, o);
    if (parsed >= 0)
        return parsed;
    dio::catch_ending_signals();
    if (Kestor_OpenDevice(o.set.board) < 0) {
        dio::complain(dio::did_not_open(o.set.board));
        return kTrouble;
    }
    dio_set::Outputs outputs(o.set);
    if (o.interactive)
        return finish(outputs, false, dio_set::prompt(o.set, outputs));
    if (!outputs.write(o.word)) {
        dio::complain(outputs.why());
        return finish(outputs, false, kTrouble);
    }
    if (o.read) {
        switch (outputs.print_reading()) {
        case dio_set::Shown::yes:
            break;
        case dio_set::Shown::stopped:
            return finish(outputs, false, stopped("before the inputs were read"));
        case dio_set::Shown::lost:
            dio::complain("standard output could not be written");
            return finish(outputs, false, kTrouble);
        }
    }
    if (o.leave)
        return finish(outputs, true, 0);
    hold(o.for_ms);
    // A hold without an end ends so; one of a set time, cut short, did not
    // do what it was asked.
    const int status = dio::stop_signal != 0 && o.for_ms >= 0 ? stopped("before --for ended") : 0;
    return finish(outputs, false, status);
}

} // namespace

int main(int argc, char **argv)
{
    dio::set_tool_name("dio-set");
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        dio::complain(e.what());
        return kTrouble;
    }
}

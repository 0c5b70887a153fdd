// dio-get: reads a board's digital inputs through the board library, once
// or as they change. It never writes the outputs.

#include "board.h"
#include "cli.h"
#include "result_file.h"
#include "stop.h"
#include "watch.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

using dio::kTrouble;

struct Options {
    dio_get::WatchSettings watch;
    bool watching = false;
};

// Reads the command line into @o. Returns -1 to go on, or the exit status.
int parse_options(int argc, char **argv, Options &o)
{
    CLI::App app{"Reads the digital inputs (DI) of a board through the board library, once, as "
                 "di:<hex>, or as they change; it never writes the outputs.\nExit status: 0 "
                 "done (Ctrl+C or SIGTERM end --watch), 2 the board did not open, standard output "
                 "could not be written or an option was wrong.",
                 "dio-get"};
    app.set_version_flag("--version", "dio-get " DIO_TOOLS_VERSION);
    dio::add_board_option(app, o.watch.board);
    dio::add_mask_option(
        app, "--inputs", o.watch.inputs,
        "Show only these DI lines, a hex mask; the others print as 0 (default ffffffff)");
    app.add_flag("--watch", o.watching,
                 "Print the inputs, then a line '<seconds> di:<hex> +rose -fell' each time they "
                 "change");
    app.add_option("--poll", o.watch.poll_ms, "With --watch, read every MS (default 10)")
        ->type_name("MS")
        ->check(CLI::Range(0.1, 60000.0).description(""));
    app.add_option("--count", o.watch.count, "With --watch, end after N changes")
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 62U).description(""));
    const int parsed = dio::parse_command_line(app, argc, argv, "no arguments but the options");
    if (parsed >= 0)
        return parsed;
    if (!o.watching && (app.count("--poll") != 0 || app.count("--count") != 0)) {
        dio::complain("--poll and --count are for --watch (--help lists the options)");
        return kTrouble;
    }
    return -1;
}

int run(int argc, char **argv)
{
    Options o;
    const int parsed = parse_options(argc, argv, o);
    if (parsed >= 0)
        return parsed;
    dio::catch_ending_signals();
    if (Kestor_OpenDevice(o.watch.board) < 0) {
        dio::complain(dio::did_not_open(o.watch.board));
        return kTrouble;
    }
    if (o.watching)
        dio_get::watch(o.watch);
    else
        std::printf("di:%x\n", static_cast<unsigned>(Kestor_DIAll(o.watch.board) & o.watch.inputs));
    const std::string lost = dio::flush_standard_output();
    if (!lost.empty()) {
        dio::complain(lost);
        return kTrouble;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    dio::set_tool_name("dio-get");
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        dio::complain(e.what());
        return kTrouble;
    }
}

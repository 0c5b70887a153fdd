// dio-panel: the board in a browser. A switch per output, a lamp per
// input, a live trace and the wiring map drawn, served on one port to
// every page that has the token. It drives the board through the board
// library's three calls, as the other tools do.

#include "board.h"
#include "cli.h"
#include "guard.h"
#include "result_file.h"
#include "server.h"
#include "station.h"
#include "stop.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdio>
#include <exception>
#include <string>

namespace {

using dio::kTrouble;

struct Options {
    dio_panel::Settings board;
    dio_panel::Listen listen;
    bool listen_given = false;
};

// "127.0.0.1:8080", "[::1]:0", "0.0.0.0:8080" into @l; false when not so.
bool parse_listen(const std::string &text, dio_panel::Listen &l)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size() || colon + 6 < text.size() ||
        text.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return false;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, nullptr, 10);
    std::string address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    if (address.empty() || port > 65535)
        return false;
    l.address = address;
    l.port = static_cast<unsigned short>(port);
    return true;
}

// Reads the command line into @o. Returns -1 to go on, or the exit status.
int parse_options(int argc, char **argv, Options &o)
{
    CLI::App app{"Serves a test panel for a board in a browser: a switch per output (DO), a lamp "
                 "per input (DI), a live trace and the wiring map drawn. It prints the URL to "
                 "open, token included.\nExit status: 2 the board did not open, it could not "
                 "listen or an option was wrong; 128 and the signal's number after Ctrl+C, "
                 "SIGTERM and the like, with the outputs written low.",
                 "dio-panel"};
    app.set_version_flag("--version", "dio-panel " DIO_TOOLS_VERSION);
    dio::add_board_option(app, o.board.board);
    dio::add_mask_option(app, "--outputs", o.board.outputs,
                         "The DO lines the panel may drive, a hex mask; the others stay 0 (default "
                         "ffffffff)");
    dio::add_mask_option(app, "--inputs", o.board.inputs,
                         "The DI lines it shows, a hex mask (default ffffffff)");
    app.add_option("--poll", o.board.poll_ms, "Read the inputs every MS (default 20)")
        ->type_name("MS")
        ->check(CLI::Range(1.0, 10000.0).description(""));
    std::string listen = "127.0.0.1:8080";
    app.add_option("--listen", listen,
                   "Listen on ADDR:PORT (default 127.0.0.1:8080; port 0 picks a free one); "
                   "anywhere but loopback, anyone with the token can drive the outputs")
        ->type_name("ADDR:PORT");
    app.add_option("--token", o.listen.token,
                   "The token pages must give, 16 characters or more (default: a new random "
                   "one)")
        ->type_name("TOKEN");
    app.footer("When the last page leaves, the outputs stay as they are; they are written low "
               "when the panel ends.");
    const int parsed = dio::parse_command_line(app, argc, argv, "no arguments but the options");
    if (parsed >= 0)
        return parsed;
    o.listen_given = app.count("--listen") != 0;
    std::string wrong;
    if (!parse_listen(listen, o.listen))
        wrong = "--listen: '" + listen + "' is not ADDR:PORT";
    else if (app.count("--token") != 0 && o.listen.token.size() < 16)
        wrong = "--token: shorter than 16 characters";
    else if (o.listen.token.find_first_of(" \t\r\n\"\\") != std::string::npos)
        wrong = "--token: no spaces, quotes or backslashes";
    if (!wrong.empty()) {
        dio::complain(wrong + " (--help lists the options)");
        return kTrouble;
    }
    return -1;
}

bool loopback(const std::string &address)
{
    return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

int run(int argc, char **argv)
{
    Options o;
    const int parsed = parse_options(argc, argv, o);
    if (parsed >= 0)
        return parsed;
    if (o.listen.token.empty())
        o.listen.token = dio_panel::new_token();
    if (o.listen.token.empty()) {
        dio::complain("the operating system's random source gave no token");
        return kTrouble;
    }
    dio::catch_ending_signals();
    if (Kestor_OpenDevice(o.board.board) < 0) {
        dio::complain(dio::did_not_open(o.board.board));
        return kTrouble;
    }
    boost::asio::io_context io;
    std::unique_ptr<dio_panel::Server> server;
    try {
        server = std::make_unique<dio_panel::Server>(io, o.listen, o.board);
    } catch (const std::exception &e) {
        dio::complain(e.what());
        return kTrouble;
    }
    dio_panel::Server &web = *server;
    dio_panel::Station station(io, o.board, [&web](const dio_panel::State &s) { web.publish(s); });
    if (!loopback(o.listen.address))
        dio::complain("warning: listening on " + o.listen.address +
                      ": anyone who can reach it and has the token can drive the outputs");
    const std::string host = o.listen.address == "0.0.0.0" || o.listen.address == "::" ? "127.0.0.1"
                             : o.listen.address.find(':') != std::string::npos
                                 ? "[" + o.listen.address + "]"
                                 : o.listen.address;
    std::printf("dio-panel: open http://%s:%u/#token=%s\n", host.c_str(), web.port(),
                o.listen.token.c_str());
    const std::string lost = dio::flush_standard_output();
    if (!lost.empty()) {
        dio::complain(lost);
        return kTrouble;
    }
    station.start();
    web.start(station);

    // A signal ends it: looked for every 50 ms, on the web side's thread.
    boost::asio::steady_timer watch(io);
    std::function<void()> look = [&] {
        watch.expires_after(std::chrono::milliseconds(50));
        watch.async_wait([&](const boost::system::error_code &ec) {
            if (ec)
                return;
            if (dio::stop_signal != 0)
                io.stop();
            else
                look();
        });
    };
    look();
    io.run();
    const std::string refused = station.stop();
    if (!refused.empty()) {
        dio::complain(refused);
        return kTrouble;
    }
    return 128 + static_cast<int>(dio::stop_signal);
}

} // namespace

int main(int argc, char **argv)
{
    dio::set_tool_name("dio-panel");
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        dio::complain(e.what());
        return kTrouble;
    }
}

// modbus-peer: a Modbus module for tests, on libmodbus's server side,
// wired as a loopback (writing coil k sets discrete input k), with faults
// that a test switches on and off while it runs.
//
//   modbus-peer --tcp <address> [--port <n>] [options]
//   modbus-peer --rtu [<serial port>] [options]
//   options: [--unit <n>] [--bits <n>] [--plug <map>] [--scan-ms <n>] [--quiet]
//
// --plug wires inputs 0-31 to coils 0-31 as a map file of dio-map's says;
// --scan-ms samples them once a scan, as a module with a scan cycle does.
// With --rtu alone it makes a pseudo-terminal of its own and serves it.
// Tells on standard output, one line each, flushed:
//   port <n> | pty <path>          where it serves, once at the start
//   connected | disconnected       a TCP client came or went
//   request <unit> <function> <address> <count>    (not with --quiet)
//   ok                             a command was taken
// Takes commands on standard input, one per line:
//   silent                 read requests and never answer
//   answer                 answer again, on time, in one piece
//   late <ms> [<n>]        the next n replies (default: all) <ms> late
//   trickle <ms>           every reply a byte at a time, <ms> apart
//   exception <code> [<n>] the next n requests (default 1) get an exception
// It ends when its standard input ends.

#include "wiring.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Faults {
    bool silent = false;
    int late_ms = 0;
    int late_left = -1; // replies still to delay; -1: all
    int trickle_ms = 0;
    int exception = 0;
    int exception_left = 0;
};

void tell(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

[[noreturn]] void die(const std::string &what)
{
    std::fprintf(stderr, "modbus-peer: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Sends @reply to @fd with the delays the faults ask for.
void deliver(int fd, const std::vector<std::uint8_t> &reply, Faults &faults)
{
    if (faults.late_ms > 0 && faults.late_left != 0) {
        pause_ms(faults.late_ms);
        if (faults.late_left > 0)
            --faults.late_left;
    }
    if (faults.trickle_ms > 0) {
        for (std::size_t i = 0; i < reply.size(); ++i) {
            if (i > 0)
                pause_ms(faults.trickle_ms);
            if (write(fd, &reply[i], 1) != 1)
                return; // the client went away: nothing to do
        }
        return;
    }
    if (write(fd, reply.data(), reply.size()) < 0)
        return;
}

// The reply libmodbus makes to @request, written into a socket pair
// rather than to the client, so that it can be sent late or in pieces.
std::vector<std::uint8_t> capture(modbus_t *ctx, int fd, bool exception, int code,
                                  const std::uint8_t *request, int length,
                                  modbus_mapping_t *mapping)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        die("socketpair");
    modbus_set_socket(ctx, pair[0]);
    if (exception)
        modbus_reply_exception(ctx, request, static_cast<unsigned>(code));
    else
        modbus_reply(ctx, request, length, mapping);
    modbus_set_socket(ctx, fd);
    close(pair[0]);
    std::vector<std::uint8_t> bytes;
    std::uint8_t buf[MODBUS_MAX_ADU_LENGTH + 8];
    ssize_t n = 0;
    while ((n = read(pair[1], buf, sizeof buf)) > 0)
        bytes.insert(bytes.end(), buf, buf + n);
    close(pair[1]);
    return bytes;
}

void command(const std::string &line, Faults &faults)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "silent") {
        faults.silent = true;
    } else if (verb == "answer") {
        faults = Faults{};
    } else if (verb == "late") {
        in >> faults.late_ms;
        if (!(in >> faults.late_left))
            faults.late_left = -1;
    } else if (verb == "trickle") {
        in >> faults.trickle_ms;
    } else if (verb == "exception") {
        in >> faults.exception;
        if (!(in >> faults.exception_left))
            faults.exception_left = 1;
    } else {
        tell("unknown command: " + line);
        return;
    }
    tell("ok");
}

const char kUsage[] =
    "Usage: modbus-peer --tcp <address> [--port <n>] [options]\n"
    "       modbus-peer --rtu [<serial port>] [options]\n"
    "A Modbus module for trying a mapping without one: <bits> coils and as many\n"
    "discrete inputs, wired as a loopback (writing coil k sets input k).\n"
    "  --tcp <address>  serve Modbus TCP on this address (127.0.0.1, ::1)\n"
    "  --port <n>       on this port; default: any free one, printed as 'port <n>'\n"
    "  --rtu [<port>]   serve Modbus RTU on a serial port, or on a pseudo-terminal\n"
    "                   of its own, printed as 'pty <path>'\n"
    "  --unit <n>       answer this unit id (default 1)\n"
    "  --bits <n>       coils and inputs it has (default 64)\n"
    "  --plug <map>     wire inputs 0-31 to coils 0-31 as this map file says\n"
    "                   (crossed, inverted, stuck, shorted), as dio-map writes it\n"
    "  --scan-ms <n>    show the inputs as sampled once every <n> ms\n"
    "  --quiet          do not print a line per request\n"
    "Prints each request as 'request <unit> <function> <address> <count>'.\n"
    "Takes commands on standard input, to play a module that fails:\n"
    "  silent | answer | late <ms> [<n>] | trickle <ms> | exception <code> [<n>]\n"
    "Runs until its standard input ends (Ctrl+D) or it is stopped (Ctrl+C).\n";

[[noreturn]] void usage_error(const std::string &what)
{
    std::fprintf(stderr, "modbus-peer: %s\nTry 'modbus-peer --help'.\n", what.c_str());
    std::exit(2);
}

// Holds @fd's line raw, so that it neither echoes nor hangs up while the
// client is away.
void make_raw(int fd, const std::string &path)
{
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        die(path);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
}

int number(const char *text, int low, int high, const char *option)
{
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < low || v > high)
        usage_error(std::string(option) + " '" + text + "': not a number " + std::to_string(low) +
                    "-" + std::to_string(high));
    return static_cast<int>(v);
}

} // namespace

int main(int argc, char **argv)
{
    std::string address;
    std::string port = "0";
    std::string serial; // --rtu <serial port>
    bool rtu = false;
    bool quiet = false; // for measuring: no word per request
    int unit = 1;
    int bits = 64;
    int scan_ms = 0;       // inputs sampled this often; 0: at once
    dio::wiring::Map plug; // straight unless --plug says otherwise
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_next = i + 1 < argc;
        const char *next = has_next ? argv[i + 1] : "";
        const bool takes_value = a == "--tcp" || a == "--port" || a == "--unit" || a == "--bits" ||
                                 a == "--plug" || a == "--scan-ms";
        if (takes_value && !has_next)
            usage_error(a + " needs a value");
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--tcp")
            address = next, ++i;
        else if (a == "--port")
            port = std::to_string(number(next, 0, 65535, "--port")), ++i;
        else if (a == "--unit")
            unit = number(next, 0, 255, "--unit"), ++i;
        else if (a == "--bits")
            bits = number(next, 1, 65536, "--bits"), ++i;
        else if (a == "--scan-ms")
            scan_ms = number(next, 0, 10000, "--scan-ms"), ++i;
        else if (a == "--rtu" && has_next && next[0] != '-')
            rtu = true, serial = next, ++i;
        else if (a == "--rtu")
            rtu = true;
        else if (a == "--quiet")
            quiet = true;
        else if (a == "--plug") {
            const std::string why = dio::wiring::read_file(next, plug);
            if (!why.empty())
                usage_error("--plug " + why);
            ++i;
        } else
            usage_error("unknown option '" + a + "'");
    }
    if (rtu == !address.empty())
        usage_error("give either --tcp <address> or --rtu");
    std::signal(SIGPIPE, SIG_IGN);

    modbus_mapping_t *mapping = modbus_mapping_new(bits, bits, 0, 0);
    if (mapping == nullptr)
        die("modbus_mapping_new");

    modbus_t *ctx = nullptr;
    int server = -1; // listening socket, or the pty's master side
    if (rtu && !serial.empty()) {
        server = open(serial.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        make_raw(server, serial);
        ctx = modbus_new_rtu(serial.c_str(), 9600, 'N', 8, 1);
        if (ctx == nullptr)
            die("modbus_new_rtu");
        modbus_set_socket(ctx, server);
        tell("serial " + serial);
    } else if (rtu) {
        server = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (server < 0 || grantpt(server) != 0 || unlockpt(server) != 0)
            die("posix_openpt");
        const std::string path = ptsname(server);
        // Hold the other side open too, so that it stays raw between clients.
        make_raw(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), path);
        ctx = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
        if (ctx == nullptr)
            die("modbus_new_rtu");
        modbus_set_socket(ctx, server);
        tell("pty " + path);
    } else {
        ctx = modbus_new_tcp_pi(address.c_str(), port.c_str());
        if (ctx == nullptr || (server = modbus_tcp_pi_listen(ctx, 4)) < 0)
            die("listening on " + address + " port " + port);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(server, reinterpret_cast<sockaddr *>(&bound), &length);
        const auto *in4 = reinterpret_cast<const sockaddr_in *>(&bound);
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&bound);
        tell("port " +
             std::to_string(ntohs(bound.ss_family == AF_INET6 ? in6->sin6_port : in4->sin_port)));
    }
    modbus_set_slave(ctx, unit);
    const int header = modbus_get_header_length(ctx);

    Faults faults;
    std::vector<int> clients;
    std::string input;
    std::uint8_t request[MODBUS_MAX_ADU_LENGTH];
    // What the inputs are now, which a scan copies to what they read.
    std::vector<std::uint8_t> live(mapping->tab_input_bits, mapping->tab_input_bits + bits);
    using Clock = std::chrono::steady_clock;
    Clock::time_point next_scan = Clock::now();
    for (;;) {
        int timeout = -1;
        if (scan_ms > 0) {
            const Clock::time_point now = Clock::now();
            if (now >= next_scan) {
                std::copy(live.begin(), live.end(), mapping->tab_input_bits);
                while (next_scan <= now)
                    next_scan += std::chrono::milliseconds(scan_ms);
            }
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(next_scan - now).count());
        }
        std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}, {server, POLLIN, 0}};
        for (const int c : clients)
            fds.push_back({c, POLLIN, 0});
        const int ready_count = poll(fds.data(), fds.size(), timeout);
        if (ready_count < 0) {
            if (errno == EINTR)
                continue;
            die("poll");
        }
        if (ready_count == 0)
            continue;
        if (fds[0].revents != 0) {
            char buf[256];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0)
                break;
            input.append(buf, static_cast<std::size_t>(n));
            for (std::size_t eol; (eol = input.find('\n')) != std::string::npos;) {
                command(input.substr(0, eol), faults);
                input.erase(0, eol + 1);
            }
        }

        std::vector<int> ready;
        if (!rtu && (fds[1].revents & POLLIN) != 0) {
            int s = server;
            const int c = modbus_tcp_pi_accept(ctx, &s);
            if (c >= 0) {
                clients.push_back(c);
                tell("connected");
            }
        } else if (rtu && (fds[1].revents & POLLIN) != 0) {
            ready.push_back(server);
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents != 0)
                ready.push_back(fds[i].fd);
        }

        for (const int fd : ready) {
            modbus_set_socket(ctx, fd);
            const int rc = modbus_receive(ctx, request);
            if (rc <= 0) {
                if (!rtu && rc < 0) {
                    close(fd);
                    clients.erase(std::find(clients.begin(), clients.end(), fd));
                    tell("disconnected");
                }
                continue;
            }
            const int u = request[header - 1];
            const int function = request[header];
            const int start = request[header + 1] << 8 | request[header + 2];
            const int count = request[header + 3] << 8 | request[header + 4];
            if (!quiet)
                tell("request " + std::to_string(u) + " " + std::to_string(function) + " " +
                     std::to_string(start) + " " + std::to_string(count));
            if (faults.silent || u != unit)
                continue;
            const bool exception = faults.exception_left > 0;
            if (exception)
                --faults.exception_left;
            const bool delayed =
                faults.trickle_ms > 0 || (faults.late_ms > 0 && faults.late_left != 0);
            std::vector<std::uint8_t> reply;
            if (delayed)
                reply = capture(ctx, fd, exception, faults.exception, request, rc, mapping);
            else if (exception)
                modbus_reply_exception(ctx, request, static_cast<unsigned>(faults.exception));
            else
                modbus_reply(ctx, request, rc, mapping);
            // The loopback plug: every input reads its coil, the first 32
            // through the plug.
            if (!exception && (function == MODBUS_FC_WRITE_MULTIPLE_COILS ||
                               function == MODBUS_FC_WRITE_SINGLE_COIL)) {
                std::copy(mapping->tab_bits, mapping->tab_bits + bits, live.begin());
                std::uint32_t coils = 0;
                for (int k = 0; k < std::min(bits, 32); ++k)
                    coils |= static_cast<std::uint32_t>(mapping->tab_bits[k] != 0) << k;
                const std::uint32_t inputs = dio::wiring::inputs(plug, coils);
                for (int k = 0; k < std::min(bits, 32); ++k)
                    live[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(inputs >> k & 1U);
                if (scan_ms == 0)
                    std::copy(live.begin(), live.end(), mapping->tab_input_bits);
            }
            if (delayed)
                deliver(fd, reply, faults);
        }
    }
    for (const int c : clients)
        close(c);
    modbus_free(ctx);
    modbus_mapping_free(mapping);
    return 0;
}

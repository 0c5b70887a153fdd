// The real dio-exerciser on the stand-in library's Modbus board, against
// modbus-peer: a module on libmodbus's server side, over loopback TCP or a
// pseudo-terminal, with faults switched on and off while the program runs.

#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using harness::Input;
using harness::Output;

namespace {

using Clock = std::chrono::steady_clock;

// modbus-peer as a child process: commands in, events out.
class Peer {
  public:
    explicit Peer(std::vector<std::string> args)
        : p_({MODBUS_PEER, std::move(args), {}, Input::OpenPipe, Output::Pipe})
    {
        const std::string first = p_.read_line(5s).value_or("");
        if (first.rfind("port ", 0) == 0)
            port = first.substr(5);
        else if (first.rfind("pty ", 0) == 0)
            pty = first.substr(4);
        else
            ADD_FAILURE() << "modbus-peer said '" << first << "': " << p_.errors();
    }

    void command(const std::string &c)
    {
        p_.write_input(c + "\n");
        for (;;) {
            const auto line = p_.read_line(5s);
            ASSERT_TRUE(line.has_value()) << c;
            if (*line == "ok")
                return;
            events.push_back(*line);
        }
    }

    // Every event so far, waiting up to @quiet for one more each time.
    const std::vector<std::string> &collect(std::chrono::milliseconds quiet = 100ms)
    {
        while (const auto line = p_.read_line(quiet))
            events.push_back(*line);
        return events;
    }

    std::size_t count(const std::string &event)
    {
        collect(20ms);
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
    }

    void kill() { p_.kill(); }

    std::string port;
    std::string pty;
    std::vector<std::string> events;

  private:
    harness::Process p_;
};

harness::Env env_for(const std::string &module, const harness::Env &extra)
{
    harness::Env env{{"LD_LIBRARY_PATH", ""},
                     {"LD_PRELOAD", FAST_WAIT},
                     {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                     {"FASTWAIT_MS", "0"},
                     {"VORNEL_BOARD1", ""},
                     {"VORNEL_BOARD1_MODBUS", module},
                     {"VORNEL_BOARD1_SERIAL", ""},
                     {"VORNEL_BOARD1_UNIT", ""},
                     {"VORNEL_BOARD1_DO", "coils:0-31"},
                     {"VORNEL_BOARD1_DI", "inputs:0-31"},
                     {"VORNEL_BOARD1_TIMEOUT_MS", "200"},
                     {"VORNEL_VERBOSE", "1"}};
    for (const auto &kv : extra) {
        auto e = std::find_if(env.begin(), env.end(),
                              [&](const auto &known) { return known.first == kv.first; });
        if (e != env.end())
            e->second = kv.second;
        else
            env.push_back(kv);
    }
    return env;
}

harness::Process exerciser(const std::string &module, const harness::Env &extra = {})
{
    return harness::Process(
        {DIO_EXERCISER, {}, env_for(module, extra), Input::Closed, Output::Pipe});
}

std::string report(std::uint32_t pattern, std::uint32_t input)
{
    char line[40];
    std::snprintf(line, sizeof line, "do:%x,di:%x", pattern, input);
    return line;
}

// The sockets the process holds open.
int sockets_of(pid_t pid)
{
    int n = 0;
    std::error_code ec;
    for (const auto &fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const auto target = std::filesystem::read_symlink(fd.path(), ec);
        n += target.string().rfind("socket:", 0) == 0 ? 1 : 0;
    }
    return n;
}

// A loopback port with nothing listening on it.
std::string closed_port()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr *>(&a), &length), 0);
    close(s);
    return std::to_string(ntohs(a.sin_port));
}

TEST(ModbusSettings, MalformedOnesFailToOpenWithTheReason)
{
    struct Case {
        harness::Env env;
        const char *reason;
    };
    const std::string tty = "/dev/ttyUSB9";
    for (const Case &c : std::vector<Case>{
             {{{"VORNEL_BOARD1_MODBUS", "127.0.0.1:0"}}, "'0' is not a port 1-65535"},
             {{{"VORNEL_BOARD1_MODBUS", "127.0.0.1:65536"}}, "is not a port"},
             {{{"VORNEL_BOARD1_MODBUS", "127.0.0.1:50x"}}, "is not a port"},
             {{{"VORNEL_BOARD1_MODBUS", "fd00::5:1502"}}, "in brackets"},
             {{{"VORNEL_BOARD1_MODBUS", "[::1:502"}}, "no ']'"},
             {{{"VORNEL_BOARD1_MODBUS", "[::1]502"}}, "expected :<port>"},
             {{{"VORNEL_BOARD1_MODBUS", "[[::1]]:502"}}, "'[::1' in brackets is not an IPv6"},
             {{{"VORNEL_BOARD1_MODBUS", "a\nb:1"}}, "'a\\x0ab:1': not a host"},
             {{{"VORNEL_BOARD1_MODBUS", ":502"}}, "no host named"},
             {{{"VORNEL_BOARD1_MODBUS", "http://127.0.0.1:5020"}}, "address, not a URL"},
             {{{"VORNEL_BOARD1_MODBUS", "COM3"}}, "is how Windows names a serial port: on Linux"},
             {{{"VORNEL_BOARD1_MODBUS", ""}}, "coils and inputs are on a Modbus module"},
             {{{"VORNEL_BOARD1_MODBUS", ""}, {"VORNEL_BOARD1_DO", ""}}, "on a Modbus module"},
             {{{"VORNEL_BOARD1_MODBUS", "a host"}}, "not a host name"},
             {{{"VORNEL_BOARD1_MODBUS", "ttyUSB9"}, {"RES_OPTIONS", "timeout:1 attempts:1"}},
              "(a serial port is /dev/<serial port>, such as /dev/ttyUSB0)"},
             {{{"VORNEL_BOARD1_MODBUS", tty}, {"VORNEL_BOARD1_SERIAL", "9601"}}, "baud"},
             {{{"VORNEL_BOARD1_MODBUS", tty}, {"VORNEL_BOARD1_SERIAL", "9600,9N1"}}, "framing"},
             {{{"VORNEL_BOARD1_MODBUS", tty}, {"VORNEL_BOARD1_SERIAL", "9600,8X1"}}, "framing"},
             {{{"VORNEL_BOARD1_MODBUS", tty}, {"VORNEL_BOARD1_UNIT", "255"}}, "use a unit id"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_SERIAL", "9600"}}, "serial port"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_UNIT", "248"}}, "use a unit id"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_UNIT", "-1"}}, "use a unit id"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_TIMEOUT_MS", "49"}}, "50-10000"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_TIMEOUT_MS", "1s"}}, "50-10000"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_DO", "inputs:0-3"}}, "coils:<"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_DI", "holding:0"}}, "inputs:<"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_DO", "coils:0-32"}}, "than 32"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_DO", "coils:4,4"}}, "twice"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_DO", "0-15"}}, "as in coils:0-15"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_DI", "0-15"}}, "as in inputs:0-15"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1_DO", ""}, {"VORNEL_BOARD1_DI", ""}},
              "name the coils"},
             {{{"VORNEL_BOARD1_MODBUS", "h"}, {"VORNEL_BOARD1", "gpio"}}, "does not go with"},
             {{{"VORNEL_BOARD1_MODBUS", ""}, {"VORNEL_BOARD1", "modbus"}}, "name the module"},
         }) {
        harness::Process p({DIO_EXERCISER, {}, env_for("", c.env), Input::Closed, Output::File});
        EXPECT_EQ(p.wait(5s), 0) << c.reason;
        EXPECT_EQ(p.output(), "Open device failed!\n") << c.reason;
        const std::string errors = p.errors();
        EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
}

// The loopback over TCP (IPv4 and IPv6) and over RTU, read back as the
// simulated board reads, with one request per run and no more.
TEST(ModbusLoopback, OverTcpAndRtu)
{
    for (const char *link : {"127.0.0.1", "::1", "rtu"}) {
        SCOPED_TRACE(link);
        const bool rtu = std::string(link) == "rtu";
        Peer peer(rtu ? std::vector<std::string>{"--rtu"}
                      : std::vector<std::string>{"--tcp", link});
        const std::string module = rtu            ? peer.pty
                                   : *link == ':' ? "[::1]:" + peer.port
                                                  : std::string(link) + ":" + peer.port;
        // Over RTU the inputs are the coils read back: a check with no wiring.
        harness::Process p =
            exerciser(module, rtu ? harness::Env{{"VORNEL_BOARD1_SERIAL", "115200,8E1"},
                                                 {"VORNEL_BOARD1_DI", "coils:0-31"}}
                                  : harness::Env{});
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(p.read_line(5s), report(0x55555555, 0x55555555));
            EXPECT_EQ(p.read_line(5s), report(0xaaaaaaaa, 0xaaaaaaaa));
        }
        p.kill();
        // With VORNEL_VERBOSE=1 the stand-in says what it opened, and no more.
        EXPECT_EQ(p.errors(), "vornel: board 1: Modbus module " + module +
                                  " unit 1: coils 0-31 out, " + (rtu ? "coils" : "inputs") +
                                  " 0-31 in\n");
        const std::string read_in = rtu ? "request 1 1 0 32" : "request 1 2 0 32";
        std::vector<std::string> want{"request 1 1 0 32", read_in};
        for (int i = 0; i < 6; ++i)
            want.insert(want.end(), {"request 1 15 0 32", read_in});
        std::vector<std::string> got;
        for (const std::string &e : peer.collect()) {
            if (e.rfind("request", 0) == 0 && got.size() < want.size())
                got.push_back(e);
        }
        EXPECT_EQ(got, want);
    }
}

// dio-map over Modbus TCP, on a healthy module and on one whose plug
// shorts two outputs and crosses two others of the same parity; at once,
// and sampling its inputs once a 20 ms scan cycle, as modules do.
TEST(ModbusMap, FindsTheWiringAtOnceAndWithAScanCycle)
{
    harness::TempDir dir;
    const std::string plug = dir.path() + "/jig.map";
    harness::write_file(plug, "DI 3: DO 3 & DO 4\nDI 4: DO 3 & DO 4\nDI 8: DO 10\nDI 10: DO 8\n");
    const std::string faults = "DI 3: DO 3 & DO 4  # shorted\nDI 4: DO 3 & DO 4  # shorted\n"
                               "DI 8: DO 10  # crossed\nDI 10: DO 8  # crossed\n";
    struct Case {
        const char *scan_ms;
        bool shorted;
        const char *writes; // at once: two passes of 8 for 16 outputs, a
                            // walking zero across the 2 outputs whose codes
                            // fit the short in both, the last write low
    };
    for (const Case &c : {Case{"0", false, "17"}, Case{"0", true, "19"}, Case{"20", false, ""},
                          Case{"20", true, ""}}) {
        SCOPED_TRACE(std::string("scan ") + c.scan_ms + (c.shorted ? " ms, shorted" : " ms"));
        std::vector<std::string> args{"--tcp", "127.0.0.1", "--quiet", "--scan-ms", c.scan_ms};
        if (c.shorted)
            args.insert(args.end(), {"--plug", plug});
        Peer peer(args);
        harness::Process p({DIO_MAP,
                            {"--outputs", "ffff", "--inputs", "ffff"},
                            env_for("127.0.0.1:" + peer.port, {}),
                            Input::Closed,
                            Output::File});
        EXPECT_EQ(p.wait(30s), c.shorted ? 1 : 0) << p.output();
        std::string odd;
        std::string writes;
        for (const std::string &line : harness::split_lines(p.output())) {
            if (line.rfind("DI ", 0) == 0 && line.find('#') != std::string::npos)
                odd += line + "\n";
            if (line.find(" writes in ") != std::string::npos)
                writes = line.substr(2, line.find(' ', 2) - 2);
        }
        EXPECT_EQ(odd, c.shorted ? faults : "") << p.output();
        if (*c.writes != '\0') {
            // On a loaded machine a peer that answers late now and then
            // costs re-reads: one pass more at most.
            const int taken = std::stoi(writes);
            const int expected = std::stoi(c.writes);
            EXPECT_GE(taken, expected) << p.output();
            EXPECT_LE(taken, expected + 8) << p.output();
        }
        EXPECT_EQ(p.errors(), "vornel: board 1: Modbus module 127.0.0.1:" + peer.port +
                                  " unit 1: coils 0-31 out, inputs 0-31 in\n");
    }
}

// One module, two programs: dio-get watches the inputs while dio-set holds
// an output, through a plug that crosses DI 4 and DI 5.
TEST(ModbusByHand, OneProgramHoldsAnOutputWhileAnotherWatches)
{
    harness::TempDir dir;
    harness::write_file(dir.path() + "/jig.map", "DI 4: DO 5\nDI 5: DO 4\n");
    Peer peer({"--tcp", "127.0.0.1", "--quiet", "--plug", dir.path() + "/jig.map"});
    const harness::Env env =
        env_for("127.0.0.1:" + peer.port, {{"LD_PRELOAD", ""}, {"VORNEL_VERBOSE", ""}});
    harness::Process watch(
        {DIO_GET, {"--watch", "--count", "2", "--inputs", "ff"}, env, Input::Closed, Output::Pipe});
    EXPECT_EQ(watch.read_line(5s), "0.000 di:0");
    harness::Process set({DIO_SET, {"--for", "300", "4=1"}, env, Input::Closed, Output::File});
    EXPECT_EQ(set.wait(10s), 0) << set.errors();
    const std::regex rose(R"(\d+\.\d{3} di:20 \+5)");
    const std::regex fell(R"(\d+\.\d{3} di:0 -5)");
    EXPECT_TRUE(std::regex_match(watch.read_line(5s).value_or(""), rose));
    EXPECT_TRUE(std::regex_match(watch.read_line(5s).value_or(""), fell));
    EXPECT_EQ(watch.wait(5s), 0) << watch.errors();
}

TEST(ModbusLoopback, SparseAndDownwardMappingWritesOnlyItsCoils)
{
    Peer peer({"--tcp", "127.0.0.1"});
    // Bits 0-7 on coils 7..0, bit 8 on coil 16, bits 9-10 on coils 18-19.
    harness::Process p =
        exerciser("127.0.0.1:" + peer.port, {{"VORNEL_BOARD1_DO", "coils:7-0,16,18-19"},
                                             {"VORNEL_BOARD1_DI", "inputs:7-0,16,18-19"}});
    EXPECT_EQ(p.read_line(5s), report(0x55555555, 0x555));
    EXPECT_EQ(p.read_line(5s), report(0xaaaaaaaa, 0x2aa));
    p.kill();
    EXPECT_EQ(p.errors(), "vornel: board 1: Modbus module 127.0.0.1:" + peer.port +
                              " unit 1: coils 7-0,16,18-19 out, inputs 7-0,16,18-19 in\n");
    for (const std::string &e : peer.collect()) {
        if (e.rfind("request 1 15", 0) == 0) {
            EXPECT_TRUE(e == "request 1 15 0 8" || e == "request 1 15 16 1" ||
                        e == "request 1 15 18 2")
                << e << ": coil 17 and those past 19 are never written";
        }
    }
    EXPECT_GE(peer.count("request 1 15 16 1"), 2U);
}

TEST(ModbusOpen, EveryFailureIsANegativeResultWithAReason)
{
    Peer silent({"--tcp", "127.0.0.1"});
    silent.command("silent");
    Peer small({"--tcp", "127.0.0.1", "--bits", "16"});
    struct Case {
        std::string module;
        harness::Env env;
        const char *reason;
    };
    for (const Case &c : std::vector<Case>{
             {"127.0.0.1:" + closed_port(), {}, "Connection refused"},
             {"127.0.0.1:" + silent.port, {}, "no reply within 200 ms (a wrong unit id"},
             {"127.0.0.1:" + small.port, {}, "reading coils 0-31: Illegal data address"},
             {"127.0.0.1:" + small.port,
              {{"VORNEL_BOARD1_DO", ""}, {"VORNEL_BOARD1_UNIT", "7"}},
              "unit 7: reading inputs 0-31: no reply within 200 ms (a wrong unit id"},
             {"/dev/no-such-serial-port", {}, "No such file or directory"},
         }) {
        const auto start = Clock::now();
        harness::Process p(
            {DIO_EXERCISER, {}, env_for(c.module, c.env), Input::Closed, Output::File});
        EXPECT_EQ(p.wait(5s), 0) << c.reason;
        EXPECT_LT(Clock::now() - start, 1500ms) << c.reason;
        EXPECT_EQ(p.output(), "Open device failed!\n");
        EXPECT_NE(p.errors().find(c.reason), std::string::npos) << p.errors();
    }
    harness::Process quiet({DIO_EXERCISER,
                            {},
                            env_for("127.0.0.1:" + silent.port, {{"VORNEL_VERBOSE", ""}}),
                            Input::Closed,
                            Output::File});
    EXPECT_EQ(quiet.wait(5s), 0);
    EXPECT_EQ(quiet.errors(), "") << "a reason only when asked for";
}

// A line as the loopback must print it: right, or 0 where the read
// failed, or (@after_failed_write) the pattern before, which the inputs
// still hold when a write failed. Never what an earlier request read.
bool sound(const std::string &line, std::uint32_t pattern, bool after_failed_write = false)
{
    return line == report(pattern, pattern) || line == report(pattern, 0) ||
           (after_failed_write && line == report(pattern, ~pattern));
}

// Reads @n lines, each sound, while the program holds at most one socket.
// Returns how many were right.
int read_lines(harness::Process &p, int n, std::uint32_t &pattern, bool writes_fail = false)
{
    int right = 0;
    for (int i = 0; i < n; ++i) {
        const auto line = p.read_line(5s);
        if (!line) {
            ADD_FAILURE() << "no line " << i;
            return right;
        }
        EXPECT_TRUE(sound(*line, pattern, writes_fail)) << *line;
        right += *line == report(pattern, pattern) ? 1 : 0;
        pattern = ~pattern;
        EXPECT_LE(sockets_of(p.pid()), 1);
    }
    return right;
}

// Reads lines until one is not right (at most @n); false if none came.
bool read_until_wrong(harness::Process &p, int n, std::uint32_t &pattern, bool writes_fail = false)
{
    for (int i = 0; i < n; ++i) {
        if (read_lines(p, 1, pattern, writes_fail) == 0)
            return true;
    }
    return false;
}

// Reads lines until one is right (at most @n); false if none came.
bool read_until_right(harness::Process &p, int n, std::uint32_t &pattern, bool writes_fail = false)
{
    for (int i = 0; i < n; ++i) {
        if (read_lines(p, 1, pattern, writes_fail) == 1)
            return true;
    }
    return false;
}

// The program, ten cycles a second or more (a line read is one it printed
// moments ago), on a module that has answered two cycles right.
struct ModbusOutage : testing::Test {
    std::unique_ptr<Peer> peer =
        std::make_unique<Peer>(std::vector<std::string>{"--tcp", "127.0.0.1"});
    harness::Process p = exerciser("127.0.0.1:" + peer->port, {{"FASTWAIT_MS", "20"}});
    std::uint32_t pattern = 0x55555555;

    void SetUp() override { EXPECT_EQ(read_lines(p, 2, pattern), 2); }
};

TEST_F(ModbusOutage, AModuleRestartedMidRunIsFoundAgain)
{
    const std::string port = peer->port;
    EXPECT_EQ(read_lines(p, 1, pattern), 1);

    peer->kill();
    peer.reset();
    ASSERT_TRUE(read_until_wrong(p, 10, pattern));
    EXPECT_EQ(read_lines(p, 5, pattern), 0) << "the module is gone, the cycle goes on";

    peer = std::make_unique<Peer>(std::vector<std::string>{"--tcp", "127.0.0.1", "--port", port});
    ASSERT_EQ(peer->port, port);
    // Lines printed before it came back may still be on their way; once one
    // is right, every line after it is.
    ASSERT_TRUE(read_until_right(p, 100, pattern));
    EXPECT_EQ(read_lines(p, 10, pattern), 10);
    EXPECT_EQ(peer->count("connected"), 1U) << "a healthy run keeps its connection";
    // Each reason says which call failed.
    const std::string where = "vornel: 127.0.0.1:" + port;
    for (const char *what : {": writing coils 0-31: connecting: Connection refused\n",
                             ": reading inputs 0-31: connecting: Connection refused\n"})
        EXPECT_NE(p.errors().find(where + what), std::string::npos) << p.errors();
}

TEST_F(ModbusOutage, LateRepliesAreNeverTakenForLaterOnes)
{
    peer->command("late 300 4");
    ASSERT_TRUE(read_until_wrong(p, 10, pattern, true));
    ASSERT_TRUE(read_until_right(p, 30, pattern, true));
    EXPECT_EQ(read_lines(p, 6, pattern), 6);
    EXPECT_GE(peer->count("connected"), 3U) << "each late reply cost its connection";
    EXPECT_NE(p.errors().find("no reply within 200 ms"), std::string::npos) << p.errors();
}

TEST_F(ModbusOutage, ATricklingReplyIsCutOffAtTheTimeout)
{
    peer->command("trickle 100"); // 10 bytes or more: over a second
    ASSERT_TRUE(read_until_wrong(p, 10, pattern, true));
    auto last = Clock::now();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(p.read_line(5s), report(pattern, 0));
        pattern = ~pattern;
        // Two calls a cycle, each at most a connection and a reply.
        EXPECT_LT(Clock::now() - last, 4 * 200ms + 300ms);
        last = Clock::now();
    }
    peer->command("answer");
    ASSERT_TRUE(read_until_right(p, 30, pattern, true));
    EXPECT_EQ(read_lines(p, 4, pattern), 4);
}

TEST_F(ModbusOutage, AnExceptionKeepsTheConnection)
{
    peer->command("exception 4 1");
    ASSERT_TRUE(read_until_wrong(p, 10, pattern, true));
    EXPECT_EQ(read_lines(p, 4, pattern), 4);
    EXPECT_EQ(peer->count("connected"), 1U);
    EXPECT_EQ(peer->count("disconnected"), 0U);
    EXPECT_NE(p.errors().find(": Slave device or server failure"), std::string::npos) << p.errors();
}

} // namespace

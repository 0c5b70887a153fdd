// dio-set and dio-get against the scripted board library, whose call log
// shows every write; and dio-set's prompt on the simulated board.

#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using harness::Input;
using harness::Output;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
    std::vector<std::string> calls; // "open 1 -> 0", "do 1 80 -> 0", "di 1 -> 80", "sleep 10ms"
};

// The scripted board's settings: "WIRE= FAIL_DO=1" for FAKEBOARD_WIRE="" and
// FAKEBOARD_FAIL_DO=1. A wired board has its inputs straight unless told,
// and a time of its own, in which a hold for a time passes at once.
harness::Env board(const std::string &settings)
{
    harness::Env env;
    std::istringstream in(settings);
    for (std::string s; in >> s;)
        env.emplace_back("FAKEBOARD_" + s.substr(0, s.find('=')), s.substr(s.find('=') + 1));
    return env;
}

// Runs @program on the scripted board, with @input on standard input.
Outcome run(const char *program, const std::vector<std::string> &args, harness::Env env,
            const std::string &input = "")
{
    harness::TempDir dir;
    const std::string record = dir.path() + "/record";
    env.insert(env.end(), {{"LD_LIBRARY_PATH", FAKE_BOARD_DIR},
                           {"FAKEBOARD_RECORD", record},
                           {"FAKEBOARD_CYCLES", "1000000"}});
    harness::Process p(
        {program, args, env, input.empty() ? Input::Closed : Input::OpenPipe, Output::File});
    if (!input.empty()) {
        p.write_input(input);
        p.close_input();
    }
    const int status = p.wait(20s).value_or(-1);
    std::vector<std::string> calls;
    for (const std::string &line : harness::read_lines(record)) {
        if (line.rfind("print ", 0) != 0)
            calls.push_back(line);
    }
    return {status, p.output(), p.errors(), calls};
}

// The words written, "80 0", each the board refused marked "80!".
std::string writes(const Outcome &r)
{
    std::string w;
    for (const std::string &c : r.calls) {
        if (c.rfind("do 1 ", 0) == 0)
            w += (w.empty() ? "" : " ") + c.substr(5, c.find(' ', 5) - 5) +
                 (c.find("-> -") != std::string::npos ? "!" : "");
    }
    return w;
}

void expect_one_reason(const Outcome &r, const char *tool, const std::string &reason)
{
    EXPECT_EQ(r.err.rfind(std::string(tool) + ": ", 0), 0U) << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(SetAndGet, WriteHoldReadAndRefuseAsAsked)
{
    struct Case {
        const char *program;
        std::vector<std::string> args;
        const char *board;
        int status;
        const char *out;
        const char *writes;
        const char *reason; // on standard error, when not ""
    };
    const char *set = DIO_SET;
    const char *get = DIO_GET;
    const Case cases[] = {
        {set, {"--for", "1500", "80"}, "WIRE=", 0, "", "80 0", ""},
        {set, {"--for", "0", "7=1", "12=1"}, "WIRE=", 0, "", "1080 0", ""},
        {set, {"--leave", "0x80"}, "WIRE=", 0, "", "80", ""},
        {set, {"--read", "--for", "0", "a5"}, "WIRE=", 0, "do:a5,di:a5\n", "a5 0", ""},
        {set, {"--read", "--leave", "12=1"}, "WIRE=", 0, "do:1000,di:1000\n", "1000", ""},
        // Arguments it refuses before it opens the board.
        {set, {"7=2"}, "", 2, "", "", "'7=2': a line is set to 0 or 1"},
        {set, {"32=1"}, "", 2, "", "", "line 32 is not one of 0-31"},
        {set, {"1ffffffff"}, "", 2, "", "", "'1ffffffff' is more than 32 bits"},
        {set, {"--outputs", "f", "80"}, "", 2, "", "", "DO 7 is outside --outputs f"},
        {set, {"--outputs", "f", "4=0", "5=0"}, "", 2, "", "", "DO 4-5 are outside --outputs f"},
        {set, {"7=1", "7=0"}, "", 2, "", "", "line 7 is named twice"},
        {set, {"80", "7=1"}, "", 2, "", "", "'80' among lines"},
        {set, {}, "", 2, "", "", "give a hex word"},
        {set, {"-i", "80"}, "", 2, "", "", "-i takes no word or lines"},
        {set, {"--leave", "--for", "5", "80"}, "", 2, "", "", "--leave and --for: give one"},
        // The board's refusals: the outputs are then written 0.
        {set, {"80"}, "OPEN=-1", 2, "", "", "board 1 did not open"},
        {set,
         {"--read", "80"},
         "FAIL_DO=1",
         2,
         "",
         "80! 0",
         "board 1 failed (Kestor_DOAll gave -5)"},
        {set, {"--leave", "80"}, "FAIL_DO=1", 2, "", "80! 0", "writing 80 to board 1 failed"},
        {set,
         {"--for", "0", "7=1"},
         "FAIL_DO=2",
         2,
         "",
         "80 0!",
         "gave -5): DO 7 may be left high"},
        // dio-get reads, and never writes.
        {get, {}, "DI=a5", 0, "di:a5\n", "", ""},
        {get, {"--inputs", "f"}, "DI=a5", 0, "di:5\n", "", ""},
        {get, {"--inputs", "0x80000000"}, "DI=80000001", 0, "di:80000000\n", "", ""},
        {get, {}, "OPEN=-1", 2, "", "", "board 1 did not open"},
        {get, {"--count", "2"}, "", 2, "", "", "--poll and --count are for --watch"},
        {get, {"--inputs", "0"}, "", 2, "", "", "'0' is not a mask"},
        {get, {"80"}, "", 2, "", "", "no arguments but the options"},
    };
    for (const Case &c : cases) {
        const std::string what = testing::PrintToString(c.args);
        const Outcome r = run(c.program, c.args, board(c.board));
        EXPECT_EQ(r.status, c.status) << what << r.err;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(writes(r), c.writes) << what;
        if (*c.reason == '\0')
            EXPECT_EQ(r.err, "") << what;
        else
            expect_one_reason(r, c.program == set ? "dio-set" : "dio-get", c.reason);
    }
}

// --read waits the settle time after its write, and the hold its time.
TEST(Set, ReadsAfterTheSettleTimeAndHoldsForItsTime)
{
    const Outcome r =
        run(DIO_SET, {"--read", "--settle", "50", "--for", "2000", "1"}, board("WIRE="));
    ASSERT_EQ(r.status, 0) << r.err;
    long slept[2] = {0, 0}; // before the read, after it
    bool read = false;
    for (const std::string &c : r.calls) {
        read = read || c.rfind("di ", 0) == 0;
        if (c.rfind("sleep ", 0) == 0 && c.find("ns") == std::string::npos)
            slept[read ? 1 : 0] += std::strtol(c.c_str() + 6, nullptr, 10);
    }
    EXPECT_NEAR(slept[0], 50, 1) << testing::PrintToString(r.calls);
    EXPECT_NEAR(slept[1], 2000, 2);
}

// Two runs of --read, one per pattern, make a report dio-check judges.
TEST(Set, ReadsAReportDioCheckJudges)
{
    for (const char *stuck : {"0", "20"}) {
        harness::TempDir dir;
        const harness::Env env = board(std::string("LOOPBACK=1 STUCK_LOW=") + stuck);
        const std::string report = run(DIO_SET, {"--read", "--for", "0", "55555555"}, env).out +
                                   run(DIO_SET, {"--read", "--for", "0", "aaaaaaaa"}, env).out;
        harness::write_file(dir.path() + "/report", report);
        harness::Process check(
            {DIO_CHECK, {dir.path() + "/report"}, {}, Input::Closed, Output::File});
        const bool fault = std::strcmp(stuck, "0") != 0;
        EXPECT_EQ(check.wait(20s), fault ? 1 : 0) << report << check.output();
        EXPECT_NE(check.output().find(fault ? "DI 5: stuck low" : "PASS"), std::string::npos)
            << check.output();
    }
}

// A prompt in a pipe: no prompt text, each bad command one reason and no
// write, the session going on; the end of input writes 0.
TEST(Set, PromptTakesCommandsAndRefusesBadOnesWithoutWriting)
{
    // Seven bad commands, among comments and blank lines.
    const std::string script = "set 7=1\nbogus\nset 7=2\ntoggle 40\nset 1ffffffff\nset 100\n"
                               "sleep x\nget extra\n# a comment\n\ntoggle 0 7   # flips both\n"
                               "get\nhigh\nlow\nset 3\nset 0=0\nwalk\nget\n";
    const Outcome r =
        run(DIO_SET, {"-i", "--outputs", "ff", "--settle", "5"}, board("WIRE="), script);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string walked;
    for (unsigned i = 0; i < 8; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "do:%x,di:%x\n", 1U << i, 1U << i);
        walked += line;
    }
    EXPECT_EQ(r.out, "do:1,di:1\n" + walked + "do:2,di:2\n");
    EXPECT_EQ(writes(r), "80 1 ff 0 3 2 1 2 4 8 10 20 40 80 2 0");
    const std::vector<std::string> reasons = harness::split_lines(r.err);
    ASSERT_EQ(reasons.size(), 7U) << r.err;
    for (const std::string &reason : reasons)
        EXPECT_EQ(reason.rfind("dio-set: ", 0), 0U) << reason;
    EXPECT_EQ(reasons[4], "dio-set: DO 8 is outside --outputs ff");
}

TEST(Set, PromptEndsOnAFailedWriteWithTheOutputsLow)
{
    const Outcome r = run(DIO_SET, {"-i"}, board("WIRE= FAIL_DO=2"), "set 1\nset 2\nget\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "") << "no command after the failure";
    EXPECT_EQ(writes(r), "1 2! 0");
    expect_one_reason(r, "dio-set", "writing 2 to board 1 failed");
}

// Every signal that would end it ends a hold, the prompt and a watch in
// order, the outputs low; one that cuts a timed hold short is its status.
TEST(SetAndGet, EndInOrderOnEverySignal)
{
    struct Held {
        const char *program;
        std::vector<std::string> args;
        bool to_the_end; // the signal is how it ends, not a cut
        bool every;      // every signal, or two
    };
    const std::vector<int> every = {SIGHUP,  SIGINT,  SIGTERM, SIGQUIT,
                                    SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE};
    const std::vector<int> some = {SIGHUP, SIGTERM};
    const Held runs[] = {{DIO_SET, {"80"}, true, true},
                         {DIO_SET, {"-i"}, true, false},
                         {DIO_GET, {"--watch"}, true, false},
                         {DIO_SET, {"--for", "60000", "80"}, false, true}};
    for (const Held &h : runs) {
        for (const int signal : h.every ? every : some) {
            const std::string what = testing::PrintToString(h.args) + " " + strsignal(signal);
            harness::TempDir dir;
            const std::string record = dir.path() + "/record";
            harness::Process p({h.program,
                                h.args,
                                {{"LD_LIBRARY_PATH", FAKE_BOARD_DIR},
                                 {"FAKEBOARD_RECORD", record},
                                 {"FAKEBOARD_CYCLES", "1000000"},
                                 {"FAKEBOARD_REAL_WAITS", "1"}},
                                Input::OpenPipe,
                                Output::File});
            std::this_thread::sleep_for(300ms);
            ::kill(p.pid(), signal);
            EXPECT_EQ(p.wait(5s), h.to_the_end ? 0 : 128 + signal) << what;
            if (h.program == std::string(DIO_GET)) {
                EXPECT_EQ(p.output(), "0.000 di:0\n") << what;
                EXPECT_EQ(p.errors(), "") << what;
                continue;
            }
            const std::vector<std::string> calls = harness::read_lines(record);
            ASSERT_FALSE(calls.empty()) << what;
            EXPECT_EQ(calls.back(), "do 1 0 -> 0") << what;
            const std::string name =
                signal == SIGINT ? "Ctrl+C" : std::string("SIG") + sigabbrev_np(signal);
            EXPECT_EQ(p.errors(),
                      h.to_the_end ? "" : "dio-set: stopped by " + name + " before --for ended\n")
                << what;
        }
    }
}

// A watch: a line at its start, then one per change of the judged inputs,
// with the lines that rose and fell, in seconds that never go back.
TEST(Get, WatchPrintsEachChangeWithTheLinesThatRoseAndFell)
{
    const Outcome scripted =
        run(DIO_GET, {"--watch", "--count", "3", "--inputs", "f"}, board("DI=0,0,10,8,8,c,4,0"));
    ASSERT_EQ(scripted.status, 0) << scripted.err;
    const std::regex form(R"((\d+\.\d{3}) di:([0-9a-f]+)((?: [+-]\d+)*))");
    std::vector<std::string> tails;
    for (const std::string &line : harness::split_lines(scripted.out)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, form)) << line;
        tails.push_back(m[2].str() + m[3].str());
    }
    EXPECT_EQ(tails, (std::vector<std::string>{"0", "8 +3", "c +2", "4 -3"}));
    EXPECT_EQ(scripted.out.rfind("0.000 di:0\n", 0), 0U);

    // A line that changes on its own, read in the fake's time: every
    // change shown, and only what changed.
    const Outcome wired = run(DIO_GET, {"--watch", "--count", "40", "--poll", "5"},
                              {{"FAKEBOARD_WIRE", "DI 3: intermittent"}});
    ASSERT_EQ(wired.status, 0) << wired.err;
    const std::vector<std::string> lines = harness::split_lines(wired.out);
    ASSERT_EQ(lines.size(), 41U);
    double last = 0;
    bool high = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, form)) << lines[i];
        const double seconds = std::stod(m[1].str());
        EXPECT_GT(seconds, last) << lines[i];
        last = seconds;
        high = !high;
        EXPECT_EQ(m[2].str() + m[3].str(), high ? "8 +3" : "0 -3") << lines[i];
    }
    EXPECT_EQ(writes(wired), "");
}

// The simulated board, whose state lives in the process, wired with DI 4
// and DI 5 crossed: the prompt drives and reads it.
TEST(Set, PromptOnTheSimulatedBoardShowsACrossedPlug)
{
    if (!DIO_STANDIN)
        GTEST_SKIP() << "the stand-in board library is not built here";
    harness::TempDir dir;
    harness::write_file(dir.path() + "/plug.map", "DI 4: DO 5\nDI 5: DO 4\n");
    harness::Process p({DIO_SET,
                        {"-i", "--outputs", "30"},
                        {{"VORNEL_BOARD1_PLUG", dir.path() + "/plug.map"}},
                        Input::OpenPipe,
                        Output::File});
    p.write_input("set 4=1\nget\nwatch\n\nwalk\nexit\nget\n");
    p.close_input();
    EXPECT_EQ(p.wait(20s), 0) << p.errors();
    EXPECT_EQ(p.output(), "do:10,di:20\n"
                          "0.000 di:20\n"
                          "do:10,di:20\n"
                          "do:20,di:10\n");
    EXPECT_EQ(p.errors(), "");
}

// At a terminal, a prompt before each command, and Ctrl+D ends it.
TEST(Set, PromptsAtATerminal)
{
    if (!DIO_STANDIN)
        GTEST_SKIP() << "the stand-in board library is not built here";
    const std::vector<std::string> argv = harness::command(DIO_SET);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (argv.size() == 1)
            execl(argv[0].c_str(), argv[0].c_str(), "-i", nullptr);
        else
            execl(argv[0].c_str(), argv[0].c_str(), argv[1].c_str(), "-i", nullptr);
        _exit(127);
    }
    // The terminal echoes what is typed; Ctrl+D at the start of a line ends
    // the input.
    const std::string typed = "set 3\nget\n\x04";
    ASSERT_EQ(write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    std::string seen;
    char buf[256];
    for (ssize_t n; (n = read(terminal, buf, sizeof buf)) > 0;)
        seen.append(buf, static_cast<std::size_t>(n));
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    close(terminal);
    EXPECT_EQ(status, 0);
    // The echo comes as the lines are typed, before or among the prompts.
    std::string shown = seen;
    for (const std::string echo : {"set 3\r\n", "get\r\n"}) {
        const std::size_t at = shown.find(echo);
        ASSERT_NE(at, std::string::npos) << seen;
        shown.erase(at, echo.size());
    }
    EXPECT_EQ(shown, "dio> dio> do:3,di:3\r\ndio> \r\n") << seen;
}

} // namespace

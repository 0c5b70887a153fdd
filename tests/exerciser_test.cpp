// The real dio-exerciser against the scripted board library in
// doubles/fake-board/, which records every call, wait and printed line in order.

#include "harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;
using harness::Input;
using harness::Output;

namespace {

constexpr int kStoppedByFake = 3;

struct Script {
    std::string open = "0";
    std::string di = "0";
    int cycles = 3;
    std::vector<std::string> args;
    Output output = Output::File;
};

struct Outcome {
    int status = -1;
    std::string output;
    std::string errors;
    std::vector<std::string> record;
};

Outcome run_on_fake(const Script &s)
{
    const harness::TempDir dir;
    const std::string record = dir.path() + "/record";
    Outcome o;
    {
        harness::Process p({DIO_EXERCISER,
                            s.args,
                            {{"LD_LIBRARY_PATH", FAKE_BOARD_DIR},
                             {"FAKEBOARD_RECORD", record},
                             {"FAKEBOARD_OPEN", s.open},
                             {"FAKEBOARD_DI", s.di},
                             {"FAKEBOARD_CYCLES", std::to_string(s.cycles)}},
                            Input::Closed,
                            s.output});
        o.status = p.wait(10s).value_or(-1);
        o.output = p.output();
        o.errors = p.errors();
    }
    o.record = harness::read_lines(record);
    return o;
}

void append_cycle(std::vector<std::string> &v, const std::string &pattern, const std::string &word)
{
    v.insert(v.end(), {"do 1 " + pattern + " -> 0", "sleep 1000ms", "di 1 -> " + word,
                       "print do:" + pattern + ",di:" + word});
}

TEST(FailurePath, ShowsTheMessageThenWaitsForOneCharacter)
{
    harness::Process p({DIO_EXERCISER,
                        {},
                        {{"LD_LIBRARY_PATH", FAKE_BOARD_DIR}, {"FAKEBOARD_OPEN", "-1"}},
                        Input::OpenPipe,
                        Output::Pipe});
    EXPECT_EQ(p.read_line(5s), "Open device failed!");
    EXPECT_FALSE(p.wait(300ms).has_value()) << "ended before any input";
    p.write_input("x");
    EXPECT_EQ(p.wait(5s), 0);
    EXPECT_EQ(p.output(), "");
}

// The open's result decides, by its sign alone: a negative one gives the
// message and touches no line; zero or more runs the cycle, in order.
TEST(Open, ItsSignAloneDecidesBetweenTheMessageAndTheCycle)
{
    for (const char *result : {"-1", "-2", "-2147483648", "0", "1", "2147483647"}) {
        SCOPED_TRACE(result);
        Script s;
        s.open = result;
        const Outcome o = run_on_fake(s);
        std::vector<std::string> expected{std::string("open 1 -> ") + result};
        EXPECT_EQ(o.errors, "");
        if (result[0] == '-') {
            EXPECT_EQ(o.status, 0);
            EXPECT_EQ(o.output, "Open device failed!\n");
            EXPECT_EQ(o.record, expected);
            continue;
        }
        append_cycle(expected, "55555555", "0");
        append_cycle(expected, "aaaaaaaa", "0");
        append_cycle(expected, "55555555", "0");
        expected.insert(expected.end(), {"do 1 aaaaaaaa -> 0", "stop"});
        EXPECT_EQ(o.record, expected);
        EXPECT_EQ(o.status, kStoppedByFake);
        EXPECT_EQ(o.output, "do:55555555,di:0\ndo:aaaaaaaa,di:0\ndo:55555555,di:0\n");
    }
}

TEST(Cycle, PatternAlternatesForLong)
{
    Script s;
    s.cycles = 40;
    const Outcome o = run_on_fake(s);
    int n = 0;
    for (const std::string &event : o.record) {
        if (event.rfind("do ", 0) == 0) {
            ++n;
            EXPECT_EQ(event, n % 2 == 1 ? "do 1 55555555 -> 0" : "do 1 aaaaaaaa -> 0") << n;
        }
    }
    EXPECT_EQ(n, 41);
}

TEST(Report, InputWordInLowerCaseHexWithoutLeadingZeros)
{
    Script s;
    s.di = "0,ffff,ffffffff,55555555,aaaaaaaa,1,80000000";
    s.cycles = 7;
    const Outcome o = run_on_fake(s);
    EXPECT_EQ(o.output, "do:55555555,di:0\n"
                        "do:aaaaaaaa,di:ffff\n"
                        "do:55555555,di:ffffffff\n"
                        "do:aaaaaaaa,di:55555555\n"
                        "do:55555555,di:aaaaaaaa\n"
                        "do:aaaaaaaa,di:1\n"
                        "do:55555555,di:80000000\n");
}

TEST(Report, LinesReachAPipeAsTheyArePrinted)
{
    // The fake ends the process abruptly in the third cycle, as an
    // outside stop would: only lines already flushed survive.
    Script s;
    s.cycles = 2;
    s.output = Output::Pipe;
    const Outcome o = run_on_fake(s);
    EXPECT_EQ(o.status, kStoppedByFake);
    EXPECT_EQ(o.output, "do:55555555,di:0\ndo:aaaaaaaa,di:0\n");
}

TEST(Arguments, ChangeNothing)
{
    Script plain;
    Script with_args;
    with_args.args = {"--help", "-v", "2", "", "do:0"};
    for (const char *open : {"0", "-1"}) {
        SCOPED_TRACE(open);
        plain.open = with_args.open = open;
        const Outcome a = run_on_fake(plain);
        const Outcome b = run_on_fake(with_args);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.output, b.output);
        EXPECT_EQ(a.record, b.record);
    }
}

} // namespace

// The stand-in board library on its own, and the real program on it.

#include "board.h"

#include "harness.h"
#include <cstdint>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using harness::Input;
using harness::Output;

namespace {

// Each opening re-reads the settings, so each test sets its own.
struct StandIn : testing::Test {
    void SetUp() override { unsetenv("VORNEL_BOARD1"); }
    void TearDown() override { unsetenv("VORNEL_BOARD1"); }
};

TEST_F(StandIn, OnlyBoardOneOpens)
{
    EXPECT_EQ(Kestor_OpenDevice(1), 0);
    for (const std::int32_t device : {0, 2, -1, INT32_MIN, INT32_MAX})
        EXPECT_LT(Kestor_OpenDevice(device), 0) << device;
}

TEST_F(StandIn, LoopbackReadsBackTheLastPatternWritten)
{
    ASSERT_EQ(Kestor_OpenDevice(1), 0);
    for (const std::uint32_t pattern : {0x55555555U, 0xaaaaaaaaU, 0U, 0xffffffffU}) {
        EXPECT_EQ(Kestor_DOAll(1, pattern), 0);
        EXPECT_EQ(Kestor_DIAll(1), pattern);
    }
    EXPECT_LT(Kestor_DOAll(2, 1), 0) << "board 2 was never opened";
    EXPECT_EQ(Kestor_DIAll(2), 0U);
}

TEST_F(StandIn, SettingsChooseTheBoard)
{
    setenv("VORNEL_BOARD1", "absent", 1);
    EXPECT_LT(Kestor_OpenDevice(1), 0);
    setenv("VORNEL_BOARD1", "no-such-kind", 1);
    EXPECT_LT(Kestor_OpenDevice(1), 0);
    setenv("VORNEL_BOARD1", "loopback", 1);
    EXPECT_EQ(Kestor_OpenDevice(1), 0);
    setenv("VORNEL_BOARD1", "LoopBack", 1);
    EXPECT_EQ(Kestor_OpenDevice(1), 0) << "a board's kind in any case";
}

TEST(Program, RunsOnTheSimulatedBoardInRealTime)
{
    const harness::Env plain{{"LD_LIBRARY_PATH", ""}, {"VORNEL_BOARD1", ""}};
    const auto start = std::chrono::steady_clock::now();
    harness::Process p({DIO_EXERCISER, {}, plain, Input::Closed, Output::Pipe});

    const char *expected[] = {"do:55555555,di:55555555", "do:aaaaaaaa,di:aaaaaaaa",
                              "do:55555555,di:55555555"};
    // Line k cannot come before k full waits; how late the test reads it
    // depends on the machine's load, so the spacing is only checked loosely.
    long long previous_ms = 0;
    long long k = 0;
    for (const char *line : expected) {
        EXPECT_EQ(p.read_line(3s), line);
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        EXPECT_GE(ms, ++k * 1000) << line;
        EXPECT_GE(ms - previous_ms, 800) << line;
        EXPECT_LE(ms - previous_ms, 1400) << line;
        previous_ms = ms;
    }
    EXPECT_FALSE(p.wait(0ms).has_value()) << "the cycle never ends by itself";
}

TEST(Program, FailsToOpenAnAbsentBoardWithAReasonOnlyWhenAsked)
{
    const std::pair<const char *, bool> settings[] = {
        {"", false}, {"0", false},  {"no", false},  {"False", false}, {"OFF", false},
        {"1", true}, {"yes", true}, {"TRUE", true}, {"on", true},     {"1x", true}};
    for (const auto &[verbose, on] : settings) {
        harness::Process p(
            {DIO_EXERCISER,
             {},
             {{"LD_LIBRARY_PATH", ""}, {"VORNEL_BOARD1", "absent"}, {"VORNEL_VERBOSE", verbose}},
             Input::Closed,
             Output::File});
        EXPECT_EQ(p.wait(5s), 0);
        EXPECT_EQ(p.output(), "Open device failed!\n");
        EXPECT_EQ(p.errors(), on ? "vornel: board 1 is absent (VORNEL_BOARD1=absent)\n" : "")
            << "VORNEL_VERBOSE=" << verbose;
    }
}

// A setting that would be ignored in silence (a misspelled name, or one
// that the board chosen does not read) fails the open: a simulated PASS
// must never stand for a board nobody touched.
TEST(Program, RefusesSettingsItWouldIgnore)
{
    struct Case {
        harness::Env env;
        const char *reason;
    };
    for (const Case &c : std::vector<Case>{
             {{{"VORNEL_BOARD1_D0", "gpiochip0:0-7"}},
              "VORNEL_BOARD1_D0 is not a setting; did you mean VORNEL_BOARD1_DO?"},
             {{{"VORNEL_BORAD1_MODBUS", "h"}}, "did you mean VORNEL_BOARD1_MODBUS?"},
             {{{"VORNEL_BOARD1_MODBUSS", "h"}}, "did you mean VORNEL_BOARD1_MODBUS?"},
             {{{"vornel_board1_di", "x"}}, "did you mean VORNEL_BOARD1_DI?"},
             {{{"VORNEL_COLOUR", "1"}}, "is not a setting; the settings are VORNEL_BOARD1, "},
             {{{"VORNEL_BOARD1_UNIT", "3"}},
              "the simulated board (board 1 when nothing else is set) does not go with "
              "VORNEL_BOARD1_UNIT, a setting of a Modbus module"},
             {{{"VORNEL_BOARD1_DO", "gpiochip0:0"}, {"VORNEL_BOARD1_TIMEOUT_MS", "100"}},
              "VORNEL_BOARD1_DO makes board 1 GPIO lines, which does not go with "
              "VORNEL_BOARD1_TIMEOUT_MS"},
             {{{"VORNEL_BOARD1", "Loopback"}, {"VORNEL_BOARD1_DI", "gpiochip0:0"}},
              "VORNEL_BOARD1=Loopback does not go with VORNEL_BOARD1_DI"},
             {{{"VORNEL_BOARD1_DO", "0:0-7"}},
              "0:0-7: a subdevice and its channels are on a comedi card; name it in "
              "VORNEL_BOARD1_COMEDI"},
             {{{"VORNEL_BOARD1_DO", "gpiochip0:0"}, {"VORNEL_BOARD1_DI", "inputs:0-3"}},
              "VORNEL_BOARD1_DI=inputs:0-3: coils and inputs are on a Modbus module"},
         }) {
        harness::Env env{{"LD_LIBRARY_PATH", ""}, {"VORNEL_VERBOSE", "1"}};
        env.insert(env.end(), c.env.begin(), c.env.end());
        if (c.env.front().first != "VORNEL_BOARD1")
            env.emplace_back("VORNEL_BOARD1", "");
        harness::Process p({DIO_EXERCISER, {}, env, Input::Closed, Output::File});
        EXPECT_EQ(p.wait(5s), 0) << c.reason;
        EXPECT_EQ(p.output(), "Open device failed!\n") << c.reason;
        const std::string errors = p.errors();
        EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
        EXPECT_EQ(errors.rfind("vornel: ", 0), 0U) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
}

// The simulated board wired by a map file: read at open, and an error in
// it fails the open with the reason.
TEST(Program, WiresTheSimulatedBoardAsAPlugFileSays)
{
    harness::TempDir dir;
    const std::string plug = dir.path() + "/jig.map";
    for (const auto &[text, reason] : std::vector<std::pair<std::string, std::string>>{
             {"", "jig.map: No such file or directory"},
             {"DI 3: intermittent\n", "jig.map: DI 3: intermittent is not something a plug can "
                                      "be wired as"},
             {"DI 3: depends on DO 1, DO 2\n", "DI 3: depends on DO 1, DO 2 is not something"},
             {"# a jig\nDI 3: DO 1 ^ DO 2\n", "jig.map: line 2: '^ DO 2' after DO 1 is not"},
             {"DI 0: !DO 0\nDI 1: DO 0 & DO 1  # shorted\nFAIL\n", ""},
         }) {
        std::remove(plug.c_str());
        if (!text.empty())
            harness::write_file(plug, text);
        harness::Process p({DIO_EXERCISER,
                            {},
                            {{"LD_LIBRARY_PATH", ""},
                             {"VORNEL_BOARD1", ""},
                             {"VORNEL_VERBOSE", "1"},
                             {"VORNEL_BOARD1_PLUG", plug}},
                            Input::Closed,
                            Output::Pipe});
        if (reason.empty()) {
            EXPECT_EQ(p.read_line(3s), "do:55555555,di:55555554");
            EXPECT_EQ(p.read_line(3s), "do:aaaaaaaa,di:aaaaaaa9");
            continue;
        }
        EXPECT_EQ(p.read_line(5s), "Open device failed!");
        EXPECT_EQ(p.wait(5s), 0);
        const std::string errors = p.errors();
        EXPECT_EQ(errors.rfind("vornel: VORNEL_BOARD1_PLUG: ", 0), 0U) << errors;
        EXPECT_NE(errors.find(reason), std::string::npos) << errors;
    }
}

} // namespace

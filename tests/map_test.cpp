// dio-map against the scripted board library, wired at random from the
// fault model with delays and bounce, in time of the fake's own; and its
// failures.

#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <csignal>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using harness::Input;
using harness::Output;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
    std::vector<std::string> record; // the board calls
};

Result map(const std::vector<std::string> &args, harness::Env env)
{
    harness::TempDir dir;
    const std::string record = dir.path() + "/record";
    env.insert(env.end(), {{"LD_LIBRARY_PATH", FAKE_BOARD_DIR},
                           {"FAKEBOARD_RECORD", record},
                           {"FAKEBOARD_CYCLES", "1000000"}});
    harness::Process p({DIO_MAP, args, env, Input::Closed, Output::File});
    const int status = p.wait(60s).value_or(-1);
    std::vector<std::string> calls;
    for (const std::string &line : harness::read_lines(record)) {
        if (line.rfind("do ", 0) == 0 || line.rfind("open ", 0) == 0)
            calls.push_back(line);
    }
    return {status, p.output(), p.errors(), calls};
}

// What an input reads, as the fake is told it and as the map names it.
struct Wire {
    char kind = 'f'; // f i l h a o x, as FAKEBOARD_WIRE has them
    std::uint32_t outputs = 0;
};

std::string named(const Wire &w)
{
    if (w.kind == 'l' || w.kind == 'h' || w.kind == 'x')
        return w.kind == 'l' ? "low" : w.kind == 'h' ? "high" : "intermittent";
    const bool logic = w.kind == 'i' && std::bitset<32>(w.outputs).count() > 1;
    std::string t = logic ? "depends on " : w.kind == 'i' ? "!" : "";
    const char *joint = logic ? ", " : w.kind == 'a' ? " & " : " | ";
    for (unsigned i = 0; i < 32; ++i) {
        if ((w.outputs >> i & 1U) != 0)
            t += (t.find("DO") != std::string::npos ? joint : "") + std::string("DO ") +
                 std::to_string(i);
    }
    return t;
}

// A board of @lines (a mask of outputs and inputs alike) with a few faults
// of the model: crossings (of the same parity among them), inversions,
// stuck lines, AND or OR shorts of 2-4 outputs, an output fanned out to two
// inputs, a flaky input.
std::array<Wire, 32> miswire(std::mt19937 &random, std::uint32_t lines)
{
    std::vector<unsigned> on;
    std::array<Wire, 32> w{};
    for (unsigned j = 0; j < 32; ++j) {
        w[j] = {'f', 1U << j};
        if ((lines >> j & 1U) != 0)
            on.push_back(j);
    }
    const auto any = [&] { return on[random() % on.size()]; };
    const int faults = static_cast<int>(random() % 4);
    for (int f = 0; f < faults; ++f) {
        const unsigned j = any();
        switch (random() % 8) {
        case 0: { // same parity, where the exerciser cannot see it
            const unsigned k = (lines >> (j ^ 2U) & 1U) != 0 ? j ^ 2U : any();
            std::swap(w[j], w[k]);
            break;
        }
        case 1:
            std::swap(w[j], w[any()]);
            break;
        case 2:
            if (w[j].kind == 'f')
                w[j].kind = 'i';
            break;
        case 3:
            w[j] = {random() % 2 == 0 ? 'l' : 'h', 0};
            break;
        case 4: { // a short: every input of its outputs reads the group
            std::uint32_t group = 0;
            const unsigned size = 2 + random() % 3;
            while (std::bitset<32>(group).count() < size)
                group |=
                    1U << (random() % 2 == 0 ? any() : (j + std::bitset<32>(group).count()) % 32);
            group &= lines;
            if (std::bitset<32>(group).count() < 2)
                break;
            const char kind = random() % 2 == 0 ? 'a' : 'o';
            for (Wire &x : w) {
                if (x.kind == 'f' && (x.outputs & group) != 0)
                    x = {kind, group};
            }
            break;
        }
        case 5:
            w[any()] = w[j]; // fanned out
            break;
        case 6:
            w[j].kind = 'x';
            break;
        default: // a device under test with logic: a NOR of two outputs
            w[j] = {'i', 1U << j | 1U << any()};
            break;
        }
    }
    return w;
}

TEST(Map, FindsEveryWiringOfTheModelInFewWrites)
{
    for (unsigned trial = 0; trial < 60; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::mt19937 random(trial);
        const std::uint32_t lines =
            trial % 4 == 3 ? static_cast<std::uint32_t>(random()) | 1U : ~0U;
        const unsigned n = static_cast<unsigned>(std::bitset<32>(lines).count());
        const std::array<Wire, 32> wires = miswire(random, lines);
        const unsigned repeat = 1 + trial % 2;

        std::string wiring;
        std::uint32_t used = 0;
        bool straight = true;
        unsigned first = 1000; // us: when the slowest input begins to follow
        unsigned last = 0;     // ... and when the last one is done bouncing
        for (unsigned j = 0; j < 32; ++j) {
            const Wire &w = wires[j];
            const unsigned delay = random() % 400;
            const unsigned bounce = random() % 3 == 0 ? random() % 100 : 0;
            char entry[64];
            std::snprintf(entry, sizeof entry, "%u %c %x %u %u,", j, w.kind, w.outputs, delay,
                          bounce);
            wiring += entry;
            if ((lines >> j & 1U) == 0)
                continue;
            straight = straight && w.kind == 'f' && w.outputs == 1U << j;
            if (w.kind != 'l' && w.kind != 'h' && w.kind != 'x') {
                used |= w.outputs;
                first = first == 1000 ? delay : std::max(first, delay);
                last = std::max(last, delay + bounce);
            }
        }
        char mask[16];
        std::snprintf(mask, sizeof mask, "%x", lines);
        const Result r = map({"--outputs", mask, "--inputs", mask, "--repeat",
                              std::to_string(repeat), "--max-settle", "20"},
                             {{"FAKEBOARD_WIRE", wiring}});
        ASSERT_EQ(r.status, straight ? 0 : 1) << r.out << r.err << wiring;
        EXPECT_EQ(r.err, "");

        std::string want;
        for (unsigned j = 0; j < 32; ++j) {
            if ((lines >> j & 1U) != 0)
                want += "DI " + std::to_string(j) + ": " + named(wires[j]) + "\n";
        }
        for (unsigned i = 0; i < 32; ++i) {
            if ((lines & ~used) >> i & 1U)
                want += "# DO " + std::to_string(i) + " drives no input\n";
        }
        std::string got;
        unsigned writes = 0;
        double settle = 0;
        for (const std::string &line : harness::split_lines(r.out)) {
            if (line.rfind("DI ", 0) == 0)
                got += line.substr(0, line.find("  #")) + "\n";
            else if (line.find("drives no input") != std::string::npos)
                got += line + "\n";
            const std::string within = "# inputs follow within ";
            if (line.find(" writes in ") != std::string::npos)
                writes = static_cast<unsigned>(std::strtoul(line.c_str() + 2, nullptr, 10));
            if (line.rfind(within, 0) == 0)
                settle = std::strtod(line.c_str() + within.size(), nullptr);
        }
        EXPECT_EQ(got, want) << wiring;

        // A few writes, and the outputs low at the end.
        const unsigned k = n <= 1    ? 0
                           : n <= 2  ? 2
                           : n <= 3  ? 3
                           : n <= 6  ? 4
                           : n <= 10 ? 5
                           : n <= 20 ? 6
                                     : 7; // the smallest with C(k, k/2) >= n
        const unsigned pass = (2 + k) * repeat + 1;
        EXPECT_EQ(std::count_if(r.record.begin(), r.record.end(),
                                [](const std::string &c) { return c.rfind("do ", 0) == 0; }),
                  writes);
        if (straight) {
            EXPECT_EQ(writes, pass);
        }
        EXPECT_GE(writes, pass);
        EXPECT_LE(writes, pass + 2 * n);
        EXPECT_EQ(r.record.back(), "do 1 0 -> 0");
        // The slowest input follows in the time measured, bounce and all.
        if (last > 0) {
            EXPECT_GE(settle * 1000, first) << r.out;
            EXPECT_LE(settle * 1000, last + 30.0) << r.out;
        }
    }
}

TEST(Map, PrintsOneJsonObjectOnRequest)
{
    const Result r = map({"--json", "--outputs", "f", "--inputs", "f", "--settle", "5"},
                         {{"FAKEBOARD_WIRE", "0 a 3 0 0,1 a 3 0 0,2 f 8 0 0,3 i 8 0 0"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(r.out.find("\"inputs\"")),
              "\"inputs\": [{\"di\": 0, \"reads\": \"and\", \"do\": [0, 1]}, {\"di\": 1, "
              "\"reads\": \"and\", \"do\": [0, 1]}, {\"di\": 2, \"reads\": \"follow\", \"do\": "
              "[3]}, {\"di\": 3, \"reads\": \"invert\", \"do\": [3]}], \"unused\": [2], "
              "\"result\": \"fail\"}\n");
    EXPECT_EQ(r.out.rfind("{\"board\": 1, \"settle_ms\": 5.000, \"writes\": ", 0), 0U) << r.out;
}

TEST(Map, PassesAsAMapFileExpects)
{
    harness::TempDir dir;
    const std::string file = dir.path() + "/jig.map";
    harness::write_file(
        file, "# the jig crosses DI 0 and DI 1\nDI 0: DO 1\nDI 1: DO 0  # crossed\nPASS\n");
    const harness::Env crossed{{"FAKEBOARD_WIRE", "0 f 2 0 0,1 f 1 0 0"}};
    const Result r = map({"--expect", file, "--outputs", "7", "--inputs", "7"}, crossed);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, r.out.find("\n# ")),
              "DI 0: DO 1  # expected\nDI 1: DO 0  # expected\nDI 2: DO 2");
    const Result plain = map({"--outputs", "7", "--inputs", "7"}, crossed);
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out.rfind("DI 0: DO 1  # crossed\n", 0), 0U) << plain.out;
}

TEST(Map, FailsWithOneReasonAndLeavesTheOutputsLow)
{
    harness::TempDir dir;
    struct Case {
        std::vector<std::string> args;
        harness::Env env;
        std::string map_file; // written to FILE, named in args
        const char *reason;
    };
    const std::string file = dir.path() + "/bad.map";
    for (const Case &c : std::vector<Case>{
             {{},
              {{"FAKEBOARD_OPEN", "-1"}},
              "",
              "board 1 did not open (with the stand-in "
              "board library, VORNEL_VERBOSE=1 says why)"},
             {{},
              {{"FAKEBOARD_FAIL_DO", "2"}},
              "",
              "writing ffffffff to board 1 failed "
              "(Kestor_DOAll gave -5)"},
             {{"--outputs", "0"}, {}, "", "--outputs: '0' is not a mask"},
             {{"--inputs", "1ffffffff"}, {}, "", "--inputs: '1ffffffff' is not a mask"},
             {{"--repeat", "0"}, {}, "", "--repeat"},
             {{"--settle", "-1"}, {}, "", "--settle: '-1' is not a number of milliseconds"},
             {{"--max-settle", "0"}, {}, "", "--max-settle: '0' is not"},
             {{"--board", "one"}, {}, "", "--board"},
             {{"--expect"}, {}, "", "--expect needs a value, FILE"},
             {{"--bogus"}, {}, "", "unknown option '--bogus'"},
             {{"extra"}, {}, "", "no arguments but the options: 'extra'"},
             {{"--expect", "/nonexistent/jig.map"}, {}, "", "/nonexistent/jig.map: No such file"},
             {{"--expect", file}, {}, "DI 40: DO 1\n", "line 1: DI 40 is beyond DI 0-31"},
             {{"--expect", file}, {}, "\nDI 3: sideways\n", "line 2: 'sideways' is not a reading"},
             {{"--expect", file}, {}, "DI 3: DO 32\n", "line 1: DO 32 is beyond DO 0-31"},
             {{"--expect", file}, {}, "DI 3: DO 1 & DO 1\n", "line 1: DO 1 is named twice"},
             {{"--expect", file}, {}, "DI 3: DO 1 & DO 2 | DO 4\n", "is not part of a reading"},
             {{"--expect", file}, {}, "DI 3: DO 1\nDI 3: DO 2\n", "line 2: DI 3 is named twice"},
         }) {
        if (!c.map_file.empty())
            harness::write_file(file, c.map_file);
        const Result r = map(c.args, c.env);
        EXPECT_EQ(r.status, 2) << c.reason;
        EXPECT_EQ(r.out, "") << c.reason;
        EXPECT_EQ(r.err.rfind("dio-map: ", 0), 0U) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        // A board that was written to is left low.
        const bool wrote = std::any_of(r.record.begin(), r.record.end(),
                                       [](const std::string &l) { return l[0] == 'd'; });
        if (wrote) {
            EXPECT_EQ(r.record.back(), "do 1 0 -> 0") << c.reason;
        }
    }
}

TEST(Map, EndsOnCtrlCAndSigtermWithTheOutputsLow)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        harness::TempDir dir;
        const std::string record = dir.path() + "/record";
        harness::Process p({DIO_MAP,
                            {"--settle", "200"},
                            {{"LD_LIBRARY_PATH", FAKE_BOARD_DIR},
                             {"FAKEBOARD_RECORD", record},
                             {"FAKEBOARD_CYCLES", "1000000"},
                             {"FAKEBOARD_REAL_WAITS", "1"}},
                            Input::Closed,
                            Output::File});
        std::this_thread::sleep_for(500ms);
        ::kill(p.pid(), signal);
        EXPECT_EQ(p.wait(5s), 128 + signal);
        EXPECT_EQ(p.output(), "") << "no map";
        const std::vector<std::string> calls = harness::read_lines(record);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), "do 1 0 -> 0");
        EXPECT_LT(std::count_if(calls.begin(), calls.end(),
                                [](const std::string &l) { return l.rfind("do ", 0) == 0; }),
                  10);
    }
}

} // namespace

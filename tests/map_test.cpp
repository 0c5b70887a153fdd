// dio-map against the scripted board library, wired at random from the
// fault model and timed as real inputs are, in time of the fake's own;
// and its failures.

#include "finder.h"
#include "harness.h"
#include "wiring.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <csignal>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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

using dio::wiring::Reading;
using dio::wiring::Reads;

// One input of a board: a reading of the fault model, or logic the fake
// board knows ("xor DO 2, DO 3, DO 4"); and how fast it follows, in us.
struct Line {
    Reading reading;
    std::string logic;
    unsigned rise = 0;
    unsigned fall = 0;
    unsigned bounce = 0;
    unsigned slot = 0; // when in each scan it is sampled
};

// A board of @lines (a mask of outputs and inputs alike): how each input
// is wired and timed, whether the board samples its inputs, and what the
// outputs were left at. Its text is the map file the fake board reads.
struct Board {
    std::uint32_t lines = ~0U;
    std::array<Line, 32> in;
    unsigned scan = 0;
    unsigned phase = 0;
    std::uint32_t start = 0;

    [[nodiscard]] std::string text() const
    {
        char head[96];
        std::snprintf(head, sizeof head, "# scan %u phase %u\n# start %x\n", scan, phase, start);
        std::string t = head;
        for (unsigned j = 0; j < 32; ++j) {
            const Line &i = in[j];
            char timing[80];
            std::snprintf(timing, sizeof timing, "  # rise %u fall %u bounce %u slot %u", i.rise,
                          i.fall, i.bounce, i.slot);
            t += "DI " + std::to_string(j) + ": " +
                 (i.logic.empty() ? dio::wiring::text(i.reading) : i.logic) + timing + "\n";
        }
        return t;
    }
};

// A few faults of the model on @b: crossings (of the same parity among
// them), inversions, stuck lines, AND or OR shorts of 2-4 outputs, an
// output fanned out to two inputs, a flaky input; and logic that must
// never pass for a wire: a NOR, an XOR of three outputs, three equal
// drivers shorted, an output AND either of its neighbours.
void miswire(std::mt19937 &random, Board &b)
{
    std::vector<unsigned> on;
    for (unsigned j = 0; j < 32; ++j) {
        b.in[j].reading = dio::wiring::straight(j);
        if ((b.lines >> j & 1U) != 0)
            on.push_back(j);
    }
    const auto any = [&] { return on[random() % on.size()]; };
    const auto out = [](unsigned i) { return "DO " + std::to_string(i); };
    const int faults = static_cast<int>(random() % 4);
    for (int f = 0; f < faults; ++f) {
        const unsigned j = any();
        Line &in = b.in[j];
        // Its neighbours among the lines, where it has two.
        const auto at = std::find(on.begin(), on.end(), j);
        const bool inside = at != on.begin() && at + 1 != on.end();
        const unsigned before = inside ? *(at - 1) : j;
        const unsigned after = inside ? *(at + 1) : j;
        switch (random() % 10) {
        case 0: { // same parity, where the exerciser cannot see it
            const unsigned k = (b.lines >> (j ^ 2U) & 1U) != 0 ? j ^ 2U : any();
            std::swap(b.in[j].reading, b.in[k].reading);
            break;
        }
        case 1:
            std::swap(in.reading, b.in[any()].reading);
            break;
        case 2:
            if (in.reading.reads == Reads::follow)
                in.reading.reads = Reads::invert;
            break;
        case 3:
            in.reading = {random() % 2 == 0 ? Reads::low : Reads::high, 0};
            break;
        case 4: { // a short: every input of its outputs reads the group
            std::uint32_t group = 0;
            const unsigned size = 2 + random() % 3;
            while (std::bitset<32>(group).count() < size)
                group |=
                    1U << (random() % 2 == 0 ? any() : (j + std::bitset<32>(group).count()) % 32);
            group &= b.lines;
            if (std::bitset<32>(group).count() < 2)
                break;
            const Reads kind = random() % 2 == 0 ? Reads::wired_and : Reads::wired_or;
            for (Line &x : b.in) {
                if (x.logic.empty() && x.reading.reads == Reads::follow &&
                    (x.reading.outputs & group) != 0)
                    x.reading = {kind, group};
            }
            break;
        }
        case 5:
            b.in[any()].reading = in.reading; // fanned out
            break;
        case 6:
            in.reading = {Reads::intermittent, 0};
            break;
        case 7:
            if (after != j)
                in.logic = "nor " + out(j) + ", " + out(after);
            break;
        case 8: { // an XOR of three outputs, none of them its own
            std::vector<unsigned> three;
            for (const unsigned i : on) {
                if (i != j && three.size() < 3 && random() % 2 == 0)
                    three.push_back(i);
            }
            if (three.size() == 3)
                in.logic = "xor " + out(three[0]) + ", " + out(three[1]) + ", " + out(three[2]);
            break;
        }
        default:
            if (inside)
                in.logic = random() % 2 == 0
                               ? "majority " + out(before) + ", " + out(j) + ", " + out(after)
                               : out(j) + " and either " + out(before) + ", " + out(after);
            break;
        }
    }
}

// How fast the inputs of @b follow, by @kind: at once; slower falling
// than rising; sampled once a scan of up to 100 ms; one slow line; from
// outputs left high; or any of these at once. Now and then an input is
// slower than @max_us on one edge.
void time_inputs(std::mt19937 &random, unsigned kind, unsigned max_us, Board &b)
{
    const auto upto = [&](unsigned us) {
        return us == 0 ? 0U : static_cast<unsigned>(random() % us);
    };
    const bool any = kind == 5;
    for (Line &in : b.in) {
        if (kind == 1 || (any && random() % 2 == 0)) {
            in.rise = upto(2000);
            in.fall = 2000 + upto(8000);
        } else if (kind == 2 || kind == 4 || any) {
            in.rise = in.fall = upto(5000);
        }
        if (random() % 4 == 0)
            in.bounce = upto(300);
    }
    if (kind == 2 || (any && random() % 2 == 0)) {
        b.scan = 5000 + upto(95000);
        b.phase = upto(b.scan);
        // Now and then the lines are sampled one after another, as by a
        // loop that copies them.
        const bool one_by_one = random() % 3 == 0;
        for (unsigned j = 0; j < 32 && one_by_one; ++j)
            b.in[j].slot = j * (b.scan / 40);
    }
    if (kind == 3 || (any && random() % 2 == 0)) {
        // Slow, and yet within max_us however late the scan takes it.
        Line &slow = b.in[random() % 32];
        (random() % 2 == 0 ? slow.rise : slow.fall) =
            (max_us - b.scan) / 2 + upto((max_us - b.scan) / 2 - 1000);
    }
    if (kind == 4 || (any && random() % 2 == 0)) {
        const std::uint32_t left[] = {0x55555555, 0xaaaaaaaa, static_cast<std::uint32_t>(random())};
        b.start = left[random() % 3];
    }
    // Slower than max_us, and seen to change before half as long again
    // has passed, however late the scan.
    Line &late = b.in[random() % 32];
    const int window = static_cast<int>(max_us * 4 / 10 - b.scan) - 10000;
    if (random() % 8 == 0 && late.logic.empty() && window > 0)
        (random() % 2 == 0 ? late.rise : late.fall) = max_us + max_us / 10 + upto(window);
}

std::string hex(std::uint32_t v)
{
    char t[16];
    std::snprintf(t, sizeof t, "%x", v);
    return t;
}

TEST(Map, FindsEveryWiringOfTheModelWhateverTheTiming)
{
    constexpr unsigned kMaxSettleUs = 200000;
    for (unsigned trial = 0; trial < 144; ++trial) {
        std::mt19937 random(trial);
        Board b;
        b.lines = trial % 4 == 3 ? static_cast<std::uint32_t>(random()) | 1U : ~0U;
        const unsigned n = static_cast<unsigned>(std::bitset<32>(b.lines).count());
        miswire(random, b);
        time_inputs(random, trial % 6, kMaxSettleUs, b);
        const unsigned repeat = 1 + trial / 6 % 2;

        // What each judged line must read, and the verdict. Logic may read
        // as anything but its own output, in two passes; in one, even that.
        std::string want;
        std::uint32_t used = 0;
        bool straight = true;
        bool logic = false;
        unsigned slowest = 0; // us: the slowest wire within --max-settle
        for (unsigned j = 0; j < 32; ++j) {
            const Line &in = b.in[j];
            if ((b.lines >> j & 1U) == 0)
                continue;
            const bool moves = in.logic.empty() && in.reading.outputs != 0;
            const bool late = moves && std::max(in.rise, in.fall) > kMaxSettleUs;
            straight =
                straight && in.logic.empty() && !late && in.reading == dio::wiring::straight(j);
            logic = logic || !in.logic.empty();
            std::string reads = dio::wiring::text(in.reading);
            if (!in.logic.empty())
                reads = "(logic)";
            else if (late)
                reads = "intermittent  # changes later than --max-settle (200 ms)";
            else if (moves)
                used |= in.reading.outputs;
            if (moves && !late &&
                (in.reading.reads == Reads::follow || in.reading.reads == Reads::invert))
                slowest = std::max({slowest, in.rise, in.fall});
            want += "DI " + std::to_string(j) + ": " + reads + "\n";
        }
        const Result r = map({"--outputs", hex(b.lines), "--inputs", hex(b.lines), "--repeat",
                              std::to_string(repeat), "--max-settle", "200"},
                             {{"FAKEBOARD_WIRE", b.text()}});
        SCOPED_TRACE("trial " + std::to_string(trial) + ": dio-map --outputs " + hex(b.lines) +
                     " --inputs " + hex(b.lines) + " --repeat " + std::to_string(repeat) +
                     " --max-settle 200, on this board:\n" + b.text());
        if (!logic || repeat > 1) {
            ASSERT_EQ(r.status, straight ? 0 : 1) << r.out << r.err;
        }
        EXPECT_EQ(r.err, "");

        // The map, as the test knows it: logic as "depends on" alone.
        std::string got;
        unsigned writes = 0;
        double settle = 0;
        for (const std::string &line : harness::split_lines(r.out)) {
            const std::string within = "# inputs follow within ";
            if (line.rfind("DI ", 0) == 0) {
                const bool late = line.find("--max-settle") != std::string::npos;
                const auto j = static_cast<unsigned>(std::strtoul(line.c_str() + 3, nullptr, 10));
                std::string reads = line.substr(0, late ? std::string::npos : line.find("  #"));
                const bool wire = reads == "DI " + std::to_string(j) + ": DO " + std::to_string(j);
                if (!b.in[j].logic.empty() && (repeat == 1 || !wire))
                    reads = "DI " + std::to_string(j) + ": (logic)";
                if (b.in[j].reading.reads == Reads::intermittent && b.in[j].logic.empty())
                    reads = reads.substr(0, reads.find("  #"));
                got += reads + "\n";
            } else if (line.find(" writes in ") != std::string::npos) {
                writes = static_cast<unsigned>(std::strtoul(line.c_str() + 2, nullptr, 10));
            } else if (line.rfind(within, 0) == 0) {
                settle = std::strtod(line.c_str() + within.size(), nullptr);
            }
        }
        if (!logic) {
            for (unsigned i = 0; i < 32; ++i) {
                if ((b.lines & ~used) >> i & 1U)
                    want += "# DO " + std::to_string(i) + " drives no input\n";
            }
            for (const std::string &line : harness::split_lines(r.out)) {
                if (line.find("drives no input") != std::string::npos)
                    got += line + "\n";
            }
        }
        EXPECT_EQ(got, want) << r.out;

        // A few writes, and the outputs low at the end.
        const unsigned k = n <= 1    ? 0
                           : n <= 2  ? 2
                           : n <= 3  ? 3
                           : n <= 6  ? 4
                           : n <= 10 ? 5
                           : n <= 20 ? 6
                                     : 7; // the smallest with C(k, k/2) >= n
        const unsigned pass = 2 + k;
        EXPECT_EQ(std::count_if(r.record.begin(), r.record.end(),
                                [](const std::string &c) { return c.rfind("do ", 0) == 0; }),
                  writes);
        const bool instant = trial % 6 == 0;
        if (straight && instant) {
            EXPECT_EQ(writes, pass * repeat + 1);
        }
        EXPECT_GE(writes, pass * repeat + 1);
        // Slow inputs cost a pass more at most (and a step up where the
        // outputs were left high); faults, a walk both ways.
        EXPECT_LE(writes, pass * (repeat + 1) + 2 + (straight ? 0 : 2 + 2 * n)) << r.out;
        EXPECT_EQ(r.record.back(), "do 1 0 -> 0");
        // The settle time covers the slowest input.
        EXPECT_GE(settle * 1000 + 500, slowest) << r.out; // printed to 1 ms from 100 ms
    }
}

// What the finder makes of logic no pass could tell from a wire alone: an
// XOR of any three outputs, and an output's majority with, AND or OR of,
// the outputs beside it, for every number of outputs but three (three
// one-bit codes leave the second assignment no choice).
TEST(Finder, NoLogicReadsAsItsOwnOutputInBothAssignments)
{
    using Logic = bool (*)(bool, bool, bool);
    const Logic exclusive = [](bool a, bool b, bool c) { return a != (b != c); };
    const Logic neighbours[] = {
        [](bool a, bool b, bool c) { return (a && b) || (a && c) || (b && c); },
        [](bool a, bool b, bool c) { return b && (a || c); },
        [](bool a, bool b, bool c) { return b || (a && c); },
    };
    for (unsigned n = 2; n <= 32; ++n) {
        if (n == 3)
            continue;
        const std::uint32_t driven = n == 32 ? ~0U : (1U << n) - 1;
        dio_map::Finder f(driven);
        // Every input reads @g of outputs @a, @b, @c: the inputs that read
        // as their own output in both passes.
        const auto own = [&](Logic g, unsigned a, unsigned b, unsigned c) {
            const auto word = [&](std::uint32_t pattern) {
                const bool v = g(pattern >> a & 1U, pattern >> b & 1U, pattern >> c & 1U);
                return v ? ~0U : 0U;
            };
            std::array<dio_map::PassWords, 2> passes{};
            for (unsigned p = 0; p < 2; ++p) {
                passes[p].assignment = p;
                for (unsigned t = 0; t < f.code_bits(); ++t)
                    passes[p].words[t] = word(f.code_vector(p, t));
            }
            f.decode(word(0), word(driven), passes.data(), 2, driven, 0);
            std::uint32_t wires = 0;
            for (unsigned j = 0; j < n; ++j) {
                if (f.reading(j) == dio::wiring::straight(j))
                    wires |= 1U << j;
            }
            return wires;
        };
        for (unsigned a = 0; a < n; ++a) {
            for (unsigned b = a + 1; b < n; ++b) {
                for (unsigned c = b + 1; c < n; ++c) {
                    ASSERT_EQ(own(exclusive, a, b, c) & ~(1U << a | 1U << b | 1U << c), 0U)
                        << "an XOR of DO " << a << ", DO " << b << ", DO " << c << ", of " << n;
                }
            }
        }
        for (unsigned q = 1; q + 1 < n; ++q) {
            for (const Logic g : neighbours)
                ASSERT_EQ(own(g, q - 1, q, q + 1) >> q & 1U, 0U) << "DI " << q << ", of " << n;
        }
    }
}

TEST(Map, PrintsOneJsonObjectOnRequest)
{
    const Result r = map(
        {"--json", "--outputs", "f", "--inputs", "f", "--settle", "5"},
        {{"FAKEBOARD_WIRE", "DI 0: DO 0 & DO 1\nDI 1: DO 0 & DO 1\nDI 2: DO 3\nDI 3: !DO 3\n"}});
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
    const harness::Env crossed{{"FAKEBOARD_WIRE", "DI 0: DO 1\nDI 1: DO 0\n"}};
    const Result r = map({"--expect", file, "--outputs", "7", "--inputs", "7"}, crossed);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.substr(0, r.out.find("\n# ")),
              "DI 0: DO 1  # expected\nDI 1: DO 0  # expected\nDI 2: DO 2");
    const Result plain = map({"--outputs", "7", "--inputs", "7"}, crossed);
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out.rfind("DI 0: DO 1  # crossed\n", 0), 0U) << plain.out;
    // As a Windows editor saves it, with a byte order mark, in any case;
    // and dio-map's own map, remarks and all, reads back as it was.
    harness::write_file(file, "\xef\xbb\xbf"
                              "di 0: do 1\r\nDi 1: Do 0\r\n");
    EXPECT_EQ(map({"--expect", file, "--outputs", "7", "--inputs", "7"}, crossed).status, 0);
    harness::write_file(file, plain.out);
    EXPECT_EQ(map({"--expect", file, "--outputs", "7", "--inputs", "7"}, crossed).status, 0);
}

// The last write, all outputs low, refused: the map stands, the outputs
// it may have left high are named, and the run is no success.
TEST(Map, NamesTheOutputsARefusedLastWriteLeavesDriven)
{
    // Two outputs: two passes of four writes, the ninth the last.
    const Result r = map({"--outputs", "3", "--inputs", "3"},
                         {{"FAKEBOARD_WIRE", ""}, {"FAKEBOARD_FAIL_DO", "9"}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.rfind("DI 0: DO 0\nDI 1: DO 1\n", 0), 0U) << r.out;
    EXPECT_EQ(r.record.back(), "do 1 0 -> -5");
    const std::string last = r.record[r.record.size() - 2];
    const std::string left = last == "do 1 1 -> 0"   ? "DO 0"
                             : last == "do 1 2 -> 0" ? "DO 1"
                                                     : "DO 0-1";
    EXPECT_EQ(r.err, "dio-map: board 1 refused the last write, all outputs low (Kestor_DOAll gave "
                     "-5): " +
                         left + " may be left high\n");
}

// Where --junit and standard output may point: written, and what they name
// stays what it was; never the map file read, and never lost in silence.
TEST(Map, WritesResultsWithoutReplacingWhatIsNotItsOwn)
{
    harness::TempDir dir;
    const std::string jig = dir.path() + "/jig.map";
    harness::write_file(jig, "DI 0: DO 0\n");
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string read_back;
    std::thread reader([&] { read_back = harness::read_file(fifo); });
    EXPECT_EQ(
        map({"--outputs", "3", "--inputs", "3", "--junit", fifo}, {{"FAKEBOARD_WIRE", ""}}).status,
        0);
    reader.join();
    EXPECT_NE(read_back.find("<testsuite name=\"dio-map\""), std::string::npos);
    struct stat st {};
    EXPECT_TRUE(::stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));

    const Result same = map({"--expect", jig, "--junit", dir.path() + "/./jig.map"}, {});
    EXPECT_EQ(same.status, 2);
    EXPECT_EQ(same.err, "dio-map: " + dir.path() +
                            "/./jig.map: is the map file --expect reads; give another name\n");
    EXPECT_TRUE(same.record.empty()) << "nothing written to the board";
    EXPECT_EQ(harness::read_file(jig), "DI 0: DO 0\n");

    harness::Process full(
        {"/bin/bash",
         {"-c", "exec " + harness::shell_command(DIO_MAP) + " --outputs 3 --inputs 3 >/dev/full"},
         {{"LD_LIBRARY_PATH", FAKE_BOARD_DIR}, {"FAKEBOARD_WIRE", ""}, {"FAKEBOARD_CYCLES", "100"}},
         Input::Closed,
         Output::File});
    EXPECT_EQ(full.wait(10s), 2);
    EXPECT_EQ(full.errors(), "dio-map: standard output: No space left on device\n");
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
             {{"--expect", file},
              {},
              "# jig 4\n\nDI 3: DO 1\nD1 4: DO 4\n",
              "line 4: 'D1 4: DO 4' is not"},
             {{"--expect", file},
              {},
              std::string("PASS\n\x89PNG\r\n\x1a\n\0", 13),
              "line 2: '?PNG' is not a line of a map"},
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

// Every signal that would end it: the outputs low first, then 128 and its
// number.
TEST(Map, EndsOnEverySignalThatWouldEndItWithTheOutputsLow)
{
    for (const int signal :
         {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE}) {
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
        std::this_thread::sleep_for(300ms);
        ::kill(p.pid(), signal);
        EXPECT_EQ(p.wait(5s), 128 + signal) << strsignal(signal);
        EXPECT_EQ(p.output(), "") << "no map";
        const std::vector<std::string> calls = harness::read_lines(record);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), "do 1 0 -> 0") << strsignal(signal);
        EXPECT_LT(std::count_if(calls.begin(), calls.end(),
                                [](const std::string &l) { return l.rfind("do ", 0) == 0; }),
                  10);
    }
}

} // namespace

// dio-check: its parts on hand-made reports, and the program on bad input
// and behind the real exerciser.

#include "harness.h"
#include "live_view.h"
#include "report.h"
#include "vcd_writer.h"
#include "verdict.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace dio_check;
using harness::Input;
using harness::Output;

namespace {

// --- Reading the report ----------------------------------------------

LineKind kind_of(const std::string &line)
{
    Sample s;
    return classify(line, s);
}

TEST(Report, ReadsTheExercisersLinesAndWindowsLineEnds)
{
    Sample s;
    ASSERT_EQ(classify("do:55555555,di:55555515", s), LineKind::report);
    EXPECT_EQ(s.out, 0x55555555U);
    EXPECT_EQ(s.in, 0x55555515U);
    ASSERT_EQ(classify("do:aaaaaaaa,di:0\r", s), LineKind::report);
    EXPECT_EQ(s.out, 0xaaaaaaaaU);
    EXPECT_EQ(s.in, 0U);
    ASSERT_EQ(classify("do:FFFFFFFF,di:1", s), LineKind::report);
    EXPECT_EQ(s.out, 0xffffffffU);
}

TEST(Report, TellsWhatALineIsWhenItIsNotAReportLine)
{
    for (const char *cut : {"d", "do:", "do:5555", "do:55555555,", "do:55555555,di:"})
        EXPECT_EQ(kind_of(cut), LineKind::cut_short) << cut;
    EXPECT_EQ(kind_of("Open device failed!"), LineKind::open_failed);
    EXPECT_EQ(kind_of("Open device failed!\r"), LineKind::open_failed);
    for (const std::string &junk : {std::string("do:1,di:\0"
                                                "2",
                                                10),
                                    std::string("\x7f"
                                                "ELF"),
                                    std::string("do:1\r,di:1"), std::string("\xc3(")})
        EXPECT_EQ(kind_of(junk), LineKind::binary) << dio_check::quoted(junk);
    for (const char *bad : {"do:123456789,di:0", "di:1,do:1", "do:1,di:1 ", "do:1;di:1",
                            "do:0x1,di:1", "do: 1,di:1", "do:1,di:1,do:1", "hello", "Ger\xc3\xa4t"})
        EXPECT_EQ(kind_of(bad), LineKind::malformed) << bad;
}

// Text is UTF-8 exactly as RFC 3629 has it, at each edge of its ranges.
TEST(Report, TellsUtf8FromWhatOnlyLooksLikeIt)
{
    for (const auto &[bytes, text] : std::vector<std::pair<const char *, bool>>{
             {"\xc2\xa0", true},
             {"\xdf\xbf", true},
             {"\xc1\xbf", false},
             {"\xe0\xa0\x80", true},
             {"\xe0\x97\x9b", false},
             {"\xe0\x9f\xbf", false},
             {"\xed\x9f\xbf", true},
             {"\xed\xa0\x80", false},
             {"\xed\xbf\xbf", false},
             {"\xee\x80\x80", true},
             {"\xef\xbf\xbf", true},
             {"\xf0\x90\x80\x80", true},
             {"\xf0\x8f\xbf\xbf", false},
             {"\xf4\x8f\xbf\xbf", true},
             {"\xf4\x90\x80\x80", false},
             {"\xf5\x80\x80\x80", false},
             {"\xe1\x80", false},
             {"\xe1\x80(", false},
         }) {
        const std::string line = std::string("x ") + bytes + " y";
        EXPECT_EQ(kind_of(line), text ? LineKind::malformed : LineKind::binary)
            << dio_check::quoted(line);
    }
}

TEST(Report, QuotesLinesSafely)
{
    EXPECT_EQ(dio_check::quoted(std::string("a\0b\"\x1b", 5)), "a\\x00b\\x22\\x1b");
    EXPECT_EQ(dio_check::quoted(std::string(50, 'x'), 4), "xxxx...");
}

// The reader over a pipe that delivers in odd pieces, across many
// refills of its buffer.
TEST(Report, ReaderSplitsLinesAcrossReadsAndDropsOverlongOnes)
{
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 20000; ++i) {
        if (i == 7000) {
            text += std::string(100000, 'x') + '\n'; // over-long, then dropped
            expected.emplace_back("overlong");
        }
        expected.push_back("do:" + std::to_string(i) + ",di:" + std::to_string(i % 97));
        text += expected.back() + '\n';
    }
    text += "do:1,di:"; // no line feed at the end
    expected.emplace_back("last do:1,di:");

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([&] {
        for (std::size_t at = 0; at < text.size(); at += 4093) {
            const std::size_t n = std::min<std::size_t>(4093, text.size() - at);
            if (write(fds[1], text.data() + at, n) != static_cast<ssize_t>(n))
                break;
        }
        close(fds[1]);
    });
    LineReader reader(fds[0]);
    std::vector<std::string> got;
    std::string_view line;
    for (LineReader::Status s; (s = reader.next(line)) != LineReader::Status::end;) {
        if (s == LineReader::Status::overlong) {
            EXPECT_EQ(line.size(), LineReader::kMaxLine);
            got.emplace_back("overlong");
        } else if (s == LineReader::Status::last_line) {
            got.push_back("last " + std::string(line));
        } else {
            ASSERT_EQ(s, LineReader::Status::line);
            got.emplace_back(line);
        }
    }
    writer.join();
    close(fds[0]);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(reader.line_number(), expected.size());
}

// --- The verdict ---------------------------------------------------------

// @n lines of the exerciser's alternating pattern, read through @wiring.
template <typename Wiring>
Tally run(int n, Wiring wiring, std::uint32_t wired = ~0U, Expect expect = Expect::follow)
{
    Tally tally(wired, expect);
    std::uint32_t pattern = 0x55555555;
    for (int i = 0; i < n; ++i, pattern = ~pattern)
        tally.add({pattern, wiring(pattern, i)});
    return tally;
}

std::vector<std::string> failures(const Tally &tally)
{
    std::vector<std::string> lines;
    for (const LineVerdict &v : tally.judge()) {
        if (v.verdict != Verdict::ok)
            lines.push_back(describe(v, tally.expect()));
    }
    return lines;
}

TEST(Verdict, LoopbackPasses)
{
    const Tally t = run(6, [](std::uint32_t out, int) { return out; });
    EXPECT_TRUE(failures(t).empty());
    EXPECT_EQ(exit_status(t), 0);
    EXPECT_EQ(summary(t), "6 report lines, 32 DI lines judged (wired ffffffff, expected to "
                          "follow DO)\nall 32 DI lines ok\n" +
                              std::string(kSameParity) + "\nPASS\n");
}

TEST(Verdict, NamesStuckLines)
{
    const Tally t = run(6, [](std::uint32_t out, int) { return (out & ~(1U << 5)) | (1U << 2); });
    EXPECT_EQ(failures(t), (std::vector<std::string>{"DI 2: stuck high", "DI 5: stuck low"}));
    EXPECT_EQ(exit_status(t), 1);
    EXPECT_EQ(summary(t), "6 report lines, 32 DI lines judged (wired ffffffff, expected to "
                          "follow DO)\nDI 2: stuck high\nDI 5: stuck low\n30 other DI lines ok; "
                          "3 of 6 report lines had a wrong input\nFAIL\n");
}

TEST(Verdict, InvertedLinesMayBeCrossedWithANeighbour)
{
    const Tally t = run(4, [](std::uint32_t out, int) { return out ^ 0x80001001U; });
    EXPECT_EQ(failures(t),
              (std::vector<std::string>{
                  "DI 0: inverted, always the opposite of DO 0 (inverted wiring, or crossed with "
                  "DO 1, which carries the opposite level in this pattern)",
                  "DI 12: inverted, always the opposite of DO 12 (inverted wiring, or crossed "
                  "with DO 11 or DO 13, which carry the opposite level in this pattern)",
                  "DI 31: inverted, always the opposite of DO 31 (inverted wiring, or crossed "
                  "with DO 30, which carries the opposite level in this pattern)"}));

    // Where the neighbours move with the line, crossing cannot explain it.
    Tally same(1U << 4);
    for (const std::uint32_t out : {0U, ~0U, 0U})
        same.add({out, ~out});
    EXPECT_EQ(failures(same),
              (std::vector<std::string>{"DI 4: inverted, always the opposite of DO 4"}));
}

TEST(Verdict, NeighboursJudgedAlikeShareALineInTheSummary)
{
    // Upside down but for DI 4-7, which are stuck low; DI 9 is not judged.
    const Tally t = run(
        4, [](std::uint32_t out, int) { return ~out & ~0xf0U; }, ~(1U << 9));
    const std::string inverted = ": inverted, always the opposite of DO ";
    const std::string crossed = " (inverted wiring, or each crossed with a neighbour, which "
                                "carries the opposite level in this pattern)\n";
    EXPECT_EQ(summary(t),
              "4 report lines, 31 DI lines judged (wired fffffdff, expected to follow DO)\nDI 0-3" +
                  inverted + "0-3" + crossed + "DI 4-7: stuck low\nDI 8" + inverted +
                  "8 (inverted wiring, or crossed with DO 7 or DO 9, which carry the opposite "
                  "level in this pattern)\nDI 10-31" +
                  inverted + "10-31" + crossed +
                  "0 other DI lines ok; 4 of 4 report lines had a wrong input\nFAIL\n");
    EXPECT_EQ(failures(t).size(), 31U) << "one verdict per line all the same";
}

TEST(Verdict, CountsIntermittentLines)
{
    const Tally t =
        run(10, [](std::uint32_t out, int i) { return i % 4 == 1 ? out ^ (1U << 20) : out; });
    EXPECT_EQ(failures(t),
              (std::vector<std::string>{"DI 20: intermittent, wrong in 3 of 10 lines"}));
    EXPECT_EQ(t.failing_lines(), 3U);
}

TEST(Verdict, JudgesOnlyWiredLines)
{
    // Nothing wired above DI 7: those read 0 and are not judged.
    const auto low_byte = [](std::uint32_t out, int) { return out & 0xffU; };
    const Tally t = run(4, low_byte, 0xffU);
    EXPECT_TRUE(failures(t).empty());
    EXPECT_EQ(t.judge().size(), 8U);
    EXPECT_NE(summary(t).find("8 DI lines judged (wired 000000ff"), std::string::npos);
    EXPECT_EQ(exit_status(run(4, low_byte, 0x1ffU)), 1);
}

TEST(Verdict, ExpectsTheOppositeFromAnInvertingJig)
{
    const auto inverting = [](std::uint32_t out, int) { return ~out ^ (1U << 3); };
    const Tally t = run(4, inverting, ~0U, Expect::inverted);
    EXPECT_EQ(failures(t).size(), 1U);
    EXPECT_EQ(failures(t)[0], "DI 3: follows DO 3, where the opposite was expected (or crossed "
                              "with DO 2 or DO 4, which carry the opposite level in this "
                              "pattern)");
    EXPECT_NE(summary(t).find("expected opposite to DO"), std::string::npos);
    EXPECT_EQ(exit_status(run(4, inverting, ~(1U << 3), Expect::inverted)), 0);
}

TEST(Verdict, NeedsBothLevelsOfAnOutput)
{
    for (const int n : {0, 1}) {
        const Tally t = run(n, [](std::uint32_t out, int) { return out; });
        EXPECT_EQ(exit_status(t), 1);
        EXPECT_NE(summary(t).find("a verdict needs both patterns, so at least 2 lines\nNO "
                                  "VERDICT\n"),
                  std::string::npos);
    }
    Tally steady;
    for (int i = 0; i < 3; ++i)
        steady.add({0x55555555U, 0x55555555U});
    EXPECT_EQ(exit_status(steady), 1);
    EXPECT_EQ(failures(steady)[0],
              "DI 0: undecided, DO 0 was 1 in all 3 lines (a verdict needs both levels)");
}

// --- Drawing it -----------------------------------------------------------

TEST(View, MarksWrongInputsWithAndWithoutColour)
{
    const Sample s{0x55555555U, 0x55555515U};
    const std::string plain = render_line(3, s, 0x40U, ~0U, ViewStyle{});
    EXPECT_EQ(plain, "3       do 01010101 01010101 01010101 01010101\n"
                     "        di 01010101 01010101 01010101 00010101\n"
                     "                                       ^\n");
    EXPECT_EQ(render_heading().find("31"), plain.find("do 0") + 3);
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);

    ViewStyle colour;
    colour.colour = true;
    const std::string coloured = render_line(3, s, 0x40U, ~0U, colour);
    EXPECT_NE(coloured.find("\x1b[1;31m0"), std::string::npos);
    EXPECT_NE(coloured.find('^'), std::string::npos);
    EXPECT_EQ(render_tally(12, 3, ViewStyle{}), "12 lines, 3 failing\n");
}

TEST(Vcd, WritesEveryLineAsTheChangesSinceTheOneBefore)
{
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
        VcdWriter vcd(f, "test");
        vcd.add(0, {0x1U, 0x1U});
        vcd.add(1000, {0x2U, 0x1U});
        vcd.add(1000, {0x2U, 0x3U}); // arrived with the one before
        vcd.add(3000, {0x2U, 0x3U}); // nothing changed
        vcd.finish(4000);
        EXPECT_TRUE(vcd.good());
    }
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(f);
    EXPECT_NE(text.find("$timescale 1 ms $end"), std::string::npos);
    EXPECT_NE(text.find("$var wire 1 o0 do0 $end"), std::string::npos);
    EXPECT_NE(text.find("$var wire 1 i31 di31 $end"), std::string::npos);
    const std::string body = text.substr(text.find("$enddefinitions $end\n") + 21);
    EXPECT_EQ(body.substr(0, 21), "#0\n$dumpvars\n1o0\n0o1\n");
    EXPECT_EQ(body.substr(body.find("$end\n") + 5), "#1000\n0o0\n1o1\n#1001\n1i1\n#4000\n");
}

// --- The program ---------------------------------------------------------

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result check(const std::string &input, std::vector<std::string> args = {})
{
    harness::TempDir dir;
    const std::string path = dir.path() + "/report.txt";
    harness::write_file(path, input);
    args.insert(args.begin(), path);
    harness::Process p({DIO_CHECK, args, {}, Input::Closed, Output::File});
    const std::optional<int> status = p.wait(10s);
    return {status.value_or(-1), p.output(), p.errors()};
}

const std::string kTwoGood = "do:55555555,di:55555555\ndo:aaaaaaaa,di:aaaaaaaa\n";

TEST(Program, GivesAVerdictWithoutEscapeCodesWhenNotOnATerminal)
{
    const Result r = check("do:55555555,di:55555555\r\ndo:aaaaaaaa,di:aaaaaa8a\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("DI 5: stuck low\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(check(kTwoGood).status, 0);
}

TEST(Program, StopsAtInputThatIsNotAReportKeepingWhatCameBefore)
{
    const struct {
        std::string input;
        std::string message;
    } cases[] = {
        {"Open device failed!\n",
         "line 1: \"Open device failed!\": the exerciser could not open board 1"},
        {kTwoGood + "$ ^C\n", "line 3: not a report line: \"$ ^C\""},
        {kTwoGood + std::string(5000, '7') + "\n", "line 3: longer than any report line"},
        {kTwoGood + std::string("\x89PNG\r\n\x1a\n\0\0", 10),
         R"(line 3: binary data, not a report line: "\x89PNG")"},
        {kTwoGood + "do:55555555,di", "line 3 is cut short and left out of the verdict"},
        {kTwoGood + "do:aaaaaaaa,di:aaaa", "line 3 is cut short and left out of the verdict"},
    };
    for (const auto &c : cases) {
        const Result r = check(c.input);
        const bool cut = c.message.find("cut short") != std::string::npos;
        EXPECT_EQ(r.status, cut ? 0 : 2) << c.message;
        EXPECT_EQ(r.err.rfind("dio-check: " + c.message, 0), 0U) << r.err;
        // The lines before it still count.
        const bool any = c.input != "Open device failed!\n";
        EXPECT_EQ(r.out.rfind(any ? "2 report lines" : "0 report lines", 0), 0U) << r.out;
        // ... and so does a line cut short, which is not judged.
        EXPECT_EQ(r.out.find("\n1 line cut short, left out\n") != std::string::npos, cut) << r.out;
    }
    // A whole line at the very end, without its line feed, counts; blank
    // lines are not report lines, and say nothing.
    EXPECT_EQ(check(kTwoGood + "do:55555555,di:55555555").out.rfind("3 report lines", 0), 0U);
    const Result blank = check("\n" + kTwoGood + "\r\n\n");
    EXPECT_EQ(blank.status, 0);
    EXPECT_EQ(blank.out.rfind("2 report lines", 0), 0U);
    EXPECT_EQ(blank.err, "");
}

TEST(Program, GivesNoVerdictWhenTheLinesAskedForDoNotCome)
{
    harness::TempDir dir;
    const std::string junit = dir.path() + "/run.xml";
    const Result ended = check(kTwoGood + kTwoGood + kTwoGood, {"--lines", "60", "--junit", junit});
    EXPECT_EQ(ended.status, 2);
    EXPECT_EQ(ended.out, "6 of 60 report lines: the report ended\nNO VERDICT\n");
    EXPECT_EQ(ended.err, "dio-check: stopped after 6 of 60 report lines (--lines): no verdict\n");
    EXPECT_NE(harness::read_file(junit).find(
                  R"(<error message="stopped after 6 of 60 report lines (--lines): no verdict"/>)"),
              std::string::npos)
        << harness::read_file(junit);
    // A signal, too: SIGTERM, or SIGHUP from a closed terminal.
    for (const int signal : {SIGTERM, SIGHUP}) {
        harness::Process p({DIO_CHECK, {"--lines", "60"}, {}, Input::OpenPipe, Output::File});
        p.write_input(kTwoGood + "do:55555555,di:55555555\n");
        std::this_thread::sleep_for(200ms);
        ::kill(p.pid(), signal);
        EXPECT_EQ(p.wait(5s), 2);
        EXPECT_EQ(p.output(), std::string("3 of 60 report lines: stopped by ") +
                                  (signal == SIGTERM ? "SIGTERM" : "SIGHUP") + "\nNO VERDICT\n");
    }
}

// Where a result file may point: each is written, and what it names stays
// what it was; the report itself is never one.
TEST(Program, WritesResultFilesWithoutReplacingWhatIsNotItsOwn)
{
    harness::TempDir dir;
    const std::string log = dir.path() + "/log.prom";
    harness::write_file(log, kTwoGood);
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string device = dir.path() + "/null";
    const bool root = ::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    // FIFO: written for the reader waiting at the other end.
    std::string read_back;
    std::thread reader([&] { read_back = harness::read_file(fifo); });
    const Result to_fifo = check(kTwoGood, {"--junit", fifo});
    reader.join();
    EXPECT_EQ(to_fifo.status, 0) << to_fifo.err;
    EXPECT_NE(read_back.find("<testsuite"), std::string::npos);
    struct stat st {};
    EXPECT_TRUE(::stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    if (root) {
        EXPECT_EQ(check(kTwoGood, {"--junit", device, "--vcd", device}).status, 0);
        EXPECT_TRUE(::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode));
    } else {
        std::printf("not root: no device of the test's own to write to\n");
    }
    // Standard output, named as a file.
    const Result to_stdout = check(kTwoGood, {"--junit", "/dev/stdout"});
    EXPECT_EQ(to_stdout.status, 0);
    EXPECT_NE(to_stdout.out.find("PASS\n<?xml"), std::string::npos) << to_stdout.out;
    // The report itself, by any of its names: refused before a byte moves.
    const std::string same = dir.path() + "/./log.prom";
    for (const char *option : {"--junit", "--vcd", "--metrics"}) {
        harness::Process p({DIO_CHECK, {log, option, same}, {}, Input::Closed, Output::File});
        EXPECT_EQ(p.wait(10s), 2) << option;
        EXPECT_EQ(p.output(), "") << option;
        EXPECT_EQ(p.errors(), "dio-check: " + same + ": is the report being read (" + log +
                                  "); give another name\n");
        EXPECT_EQ(harness::read_file(log), kTwoGood) << option;
    }
    harness::Process piped(
        {"/bin/bash",
         {"-c", "exec " + harness::shell_command(DIO_CHECK) + R"( --junit "$0" <"$0")", log},
         {},
         Input::Closed,
         Output::File});
    EXPECT_EQ(piped.wait(10s), 2);
    EXPECT_EQ(harness::read_file(log), kTwoGood);
    // A summary that cannot be written is no success.
    harness::Process full(
        {"/bin/bash",
         {"-c", "exec " + harness::shell_command(DIO_CHECK) + R"( "$0" >/dev/full)", log},
         {},
         Input::Closed,
         Output::File});
    EXPECT_EQ(full.wait(10s), 2);
    EXPECT_EQ(full.errors(), "dio-check: standard output: No space left on device\n");
}

TEST(Program, RefusesWrongOptionsAndFilesItCannotUse)
{
    // Each gets one line of its own, and a wrong option points at --help.
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--bogus"},
                                                 {"--lines"},
                                                 {"--lines", "0"},
                                                 {"--lines", "x"},
                                                 {"--wired", "0"},
                                                 {"--wired", "123456789"},
                                                 {"--expect", "sideways"},
                                                 {"--vcd"},
                                                 {"--metrics", "jig.txt"},
                                                 {"--metrics-label", "3x=1"},
                                                 {"--metrics-label", "jig"},
                                                 {"--vcd", "/nonexistent/run.vcd"},
                                                 {"--vcd", "/dev/full"},
                                                 {"--junit", "/nonexistent/run.xml"},
                                                 {"--metrics", "/nonexistent/jig.prom"}}) {
        const Result r = check(kTwoGood, args);
        EXPECT_EQ(r.status, 2) << args[0] << ' ' << args.back();
        EXPECT_EQ(r.err.rfind("dio-check: ", 0), 0U) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        const bool option = args.size() == 1 || args[1][0] != '/';
        EXPECT_EQ(r.err.find("(--help lists the options)\n") != std::string::npos, option) << r.err;
    }
    EXPECT_EQ(check(kTwoGood, {"--line", "4", "log.txt"}).err,
              "dio-check: unknown option '--line' (--help lists the options)\n");
    harness::Process missing({DIO_CHECK, {"/nonexistent/log.txt"}, {}, Input::Closed});
    EXPECT_EQ(missing.wait(10s), 2);
    EXPECT_EQ(missing.errors(), "dio-check: /nonexistent/log.txt: No such file or directory\n");
    const Result version = check("", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "dio-check 1.0.0\n");
}

TEST(Program, EndsWithTheSummaryAndItsJunitFileOnCtrlC)
{
    harness::TempDir dir;
    const std::string junit = dir.path() + "/run.xml";
    harness::Process p({DIO_CHECK, {"--junit", junit}, {}, Input::OpenPipe, Output::File});
    p.write_input(kTwoGood + "do:55555555,di:55555555\n");
    std::this_thread::sleep_for(200ms);
    ::kill(p.pid(), SIGINT);
    EXPECT_EQ(p.wait(5s), 0);
    EXPECT_EQ(p.output().rfind("3 report lines", 0), 0U) << p.output();
    EXPECT_NE(harness::read_file(junit).find(R"(tests="32" failures="0")"), std::string::npos);
}

TEST(Program, WritesTheWaveformAsLinesArriveFromAPipe)
{
    harness::TempDir dir;
    const std::string vcd = dir.path() + "/live.vcd";
    harness::Process p({DIO_CHECK, {"--vcd", vcd}, {}, Input::OpenPipe, Output::File});
    std::vector<std::string> times;
    const auto wait_for_times = [&](std::size_t n) {
        for (int i = 0; i < 500 && times.size() < n; ++i) {
            std::this_thread::sleep_for(10ms);
            times.clear();
            for (const std::string &line : harness::read_lines(vcd)) {
                if (line.rfind('#', 0) == 0)
                    times.push_back(line.substr(1));
            }
        }
    };
    // The second line 300 ms after the first was taken, however long
    // dio-check took to start; it reaches the file while dio-check runs.
    p.write_input("do:55555555,di:55555555\n");
    wait_for_times(1);
    std::this_thread::sleep_for(300ms);
    p.write_input("do:aaaaaaaa,di:aaaaaaaa\n");
    wait_for_times(2);
    ASSERT_EQ(times.size(), 2U);
    EXPECT_EQ(times[0], "0");
    const long arrived = std::stol(times[1]);
    EXPECT_GE(arrived, 250); // 300 ms apart as sent, less a moment
    EXPECT_LT(arrived, 1000);
    p.close_input();
    EXPECT_EQ(p.wait(5s), 0);
    EXPECT_EQ(harness::read_lines(vcd).back(), "#" + std::to_string(arrived + 1000));
}

// --- Behind the real exerciser --------------------------------------------

// Runs "dio-exerciser | dio-check <args>" in bash; the exerciser's status
// comes back at the end of standard error.
Result pipeline(const harness::Env &env, const std::string &args)
{
    const std::string script =
        harness::shell_command(DIO_EXERCISER) + " </dev/null | " +
        harness::shell_command(DIO_CHECK) + " " + args +
        "; s=(${PIPESTATUS[@]}); echo \"exerciser ${s[0]}\" >&2; exit ${s[1]}";
    harness::Process p({"/bin/bash", {"-c", script}, env, Input::Closed, Output::File});
    return {p.wait(20s).value_or(-1), p.output(), p.errors()};
}

#if DIO_STANDIN
TEST(Pipeline, PassesOnTheSimulatedBoardAndEndsTheExerciser)
{
    const Result r = pipeline({{"LD_LIBRARY_PATH", ""},
                               {"LD_PRELOAD", FAST_WAIT},
                               {"FASTWAIT_MS", "20"},
                               {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                               {"VORNEL_BOARD1", "loopback"}},
                              "--lines 6");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "6 report lines, 32 DI lines judged (wired ffffffff, expected to follow "
                     "DO)\nall 32 DI lines ok\n" +
                         std::string(kSameParity) + "\nPASS\n");
    // Its next line met a closed pipe.
    EXPECT_EQ(r.err, "exerciser 141\n");
}
#endif

#if DIO_STANDIN
// DI 2 and DI 4 crossed and DI 5 stuck low, on the simulated board's plug:
// the exerciser's pattern shows only DI 5, dio-map all three.
TEST(Pipeline, APlugMiswiredOnPurposeShowsInEachTool)
{
    harness::TempDir dir;
    const std::string plug = dir.path() + "/jig.map";
    harness::write_file(plug, "DI 2: DO 4\nDI 4: DO 2\nDI 5: low\n");
    const harness::Env env{{"LD_LIBRARY_PATH", ""}, {"LD_PRELOAD", FAST_WAIT},
                           {"FASTWAIT_MS", "20"},   {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                           {"VORNEL_BOARD1", ""},   {"VORNEL_BOARD1_PLUG", plug}};
    const Result r = pipeline(env, "--lines 4");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "4 report lines, 32 DI lines judged (wired ffffffff, expected to follow "
                     "DO)\nDI 5: stuck low\n31 other DI lines ok; 2 of 4 report lines had a "
                     "wrong input\nFAIL\n");

    harness::Process map({DIO_MAP, {}, env, Input::Closed, Output::File});
    EXPECT_EQ(map.wait(20s), 1);
    const std::string out = map.output();
    for (const char *line : {"DI 1: DO 1\nDI 2: DO 4  # crossed\nDI 3: DO 3\nDI 4: DO 2  # "
                             "crossed\nDI 5: low  # stuck\nDI 6: DO 6\n",
                             "\n# DO 5 drives no input\n", "\nFAIL\n"})
        EXPECT_NE(out.find(line), std::string::npos) << out;
}
#endif

TEST(Pipeline, NamesTheFaultsOfAScriptedBoard)
{
    const harness::Env faulty{{"LD_LIBRARY_PATH", FAKE_BOARD_DIR}, {"FAKEBOARD_CYCLES", "100000"},
                              {"FAKEBOARD_LOOPBACK", "1"},         {"FAKEBOARD_STUCK_LOW", "20"},
                              {"FAKEBOARD_INVERTED", "1000"},      {"FAKEBOARD_FLAKY", "100000"}};
    const Result r = pipeline(faulty, "--lines 6");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "6 report lines, 32 DI lines judged (wired ffffffff, expected to follow "
                     "DO)\nDI 5: stuck low\nDI 12: inverted, always the opposite of DO 12 "
                     "(inverted wiring, or crossed with DO 11 or DO 13, which carry the opposite "
                     "level in this pattern)\nDI 20: intermittent, wrong in 2 of 6 lines\n29 "
                     "other DI lines ok; 6 of 6 report lines had a wrong input\nFAIL\n");
    EXPECT_EQ(r.err, "exerciser 141\n");

    // Judging only the lines that work.
    const Result wired = pipeline(faulty, "--lines 4 --wired ffeeefdf");
    EXPECT_EQ(wired.status, 0) << wired.out;
}

} // namespace

#include "verdict.h"

#include "bits.h"

#include <cinttypes>
#include <cstdio>

namespace dio_check {

using dio::has;

namespace {

// snprintf into a string; every text here is short.
template <typename... Args> std::string format(const char *fmt, Args... args)
{
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

} // namespace

Tally::Tally(std::uint32_t wired, Expect expect) : wired_(wired), expect_(expect)
{
}

std::vector<LineVerdict> Tally::judge() const
{
    std::vector<LineVerdict> verdicts;
    for (unsigned int i = 0; i < 32; ++i) {
        if (!has(wired_, i))
            continue;
        LineVerdict v;
        v.line = i;
        v.wrong = wrong_[i];
        v.lines = lines_;
        const bool toggled = has(out_high_, i) && has(out_low_, i);
        if (v.wrong == 0 && toggled) {
            v.verdict = Verdict::ok;
        } else if (v.wrong != 0 && v.wrong < lines_) {
            // Right in some lines and wrong in others: a level that never
            // changes would be wrong in every line with the same output.
            v.verdict = !toggled            ? Verdict::intermittent
                        : !has(in_high_, i) ? Verdict::stuck_low
                        : !has(in_low_, i)  ? Verdict::stuck_high
                                            : Verdict::intermittent;
        } else if (!toggled) {
            v.verdict = Verdict::undecided;
            v.out_level = has(out_high_, i);
        } else {
            // Wrong in every line, with the output at both levels.
            v.verdict = Verdict::inverted;
            if (i > 0 && has(below_, i))
                v.crossed |= 1U << (i - 1);
            if (i < 31 && has(above_, i))
                v.crossed |= 1U << (i + 1);
        }
        verdicts.push_back(v);
    }
    return verdicts;
}

namespace {

// Whether @next continues the run of lines that @first began: the line
// after @last, judged the same way.
bool continues(const LineVerdict &first, unsigned int last, const LineVerdict &next)
{
    return next.line == last + 1 && next.verdict == first.verdict && next.wrong == first.wrong &&
           next.out_level == first.out_level && (next.crossed != 0) == (first.crossed != 0);
}

// "DI 5: stuck low", or "DI 0-31: inverted, ..." for a run of lines from
// @v's to @last that are all judged alike.
std::string describe_run(const LineVerdict &v, unsigned int last, Expect expect)
{
    const bool run = last != v.line;
    const std::string lines =
        std::to_string(v.line) + (run ? "-" + std::to_string(last) : std::string());
    const char *di = lines.c_str();
    switch (v.verdict) {
    case Verdict::ok:
        return format("DI %s: ok", di);
    case Verdict::stuck_low:
        return format("DI %s: stuck low", di);
    case Verdict::stuck_high:
        return format("DI %s: stuck high", di);
    case Verdict::intermittent:
        return format("DI %s: intermittent, wrong in %" PRIu64 " of %" PRIu64 " lines", di, v.wrong,
                      v.lines);
    case Verdict::undecided:
        return format("DI %s: undecided, DO %s %s %d in all %" PRIu64
                      " lines (a verdict needs both levels)",
                      di, di, run ? "were" : "was", v.out_level ? 1 : 0, v.lines);
    case Verdict::inverted:
        break;
    }
    std::string text = expect == Expect::follow
                           ? format("DI %s: inverted, always the opposite of DO %s", di, di)
                           : format("DI %s: %s DO %s, where the opposite was expected", di,
                                    run ? "follow" : "follows", di);
    if (v.crossed == 0)
        return text;
    // Crossed with a neighbour looks the same when the neighbour carries
    // the opposite level in every line, as the exerciser's alternating
    // pattern does.
    const char *wiring = expect == Expect::follow ? "inverted wiring, or " : "or ";
    if (run)
        return text + " (" + wiring +
               "each crossed with a neighbour, which carries the opposite level in this "
               "pattern)";
    std::string neighbours;
    for (unsigned int j = 0; j < 32; ++j) {
        if (has(v.crossed, j))
            neighbours += (neighbours.empty() ? "DO " : " or DO ") + std::to_string(j);
    }
    return text + " (" + wiring + "crossed with " + neighbours +
           (v.crossed & (v.crossed - 1) ? ", which carry" : ", which carries") +
           " the opposite level in this pattern)";
}

} // namespace

std::string describe(const LineVerdict &v, Expect expect)
{
    return describe_run(v, v.line, expect);
}

bool cut_short(const Tally &tally, const Ending &ending)
{
    return ending.wanted != 0 && tally.lines() < ending.wanted;
}

std::string summary(const Tally &tally, const Ending &ending)
{
    const std::uint64_t lines = tally.lines();
    const std::string cut = ending.cut == 0 ? ""
                                            : format("%" PRIu64 " line%s cut short, left out\n",
                                                     ending.cut, ending.cut == 1 ? "" : "s");
    if (cut_short(tally, ending)) {
        return format("%" PRIu64 " of %" PRIu64 " report lines: %s%s\n", lines, ending.wanted,
                      ending.stopped != nullptr ? "stopped by " : "the report ended",
                      ending.stopped != nullptr ? ending.stopped : "") +
               cut + "NO VERDICT\n";
    }
    if (lines < 2) {
        return format("%" PRIu64 " report line%s: a verdict needs both patterns, so at least "
                      "2 lines\n",
                      lines, lines == 1 ? "" : "s") +
               cut + "NO VERDICT\n";
    }
    const std::vector<LineVerdict> verdicts = tally.judge();
    std::string text =
        format("%" PRIu64 " report lines, %u DI lines judged (wired %08" PRIx32 ", expected %s)\n",
               lines, static_cast<unsigned int>(verdicts.size()), tally.wired(),
               tally.expect() == Expect::follow ? "to follow DO" : "opposite to DO") +
        cut;
    unsigned int ok = 0;
    // Neighbouring lines judged alike share a line: a board wired upside
    // down reads as one line, not 32.
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        const LineVerdict &v = verdicts[i];
        if (v.verdict == Verdict::ok) {
            ++ok;
            continue;
        }
        unsigned int last = v.line;
        while (i + 1 < verdicts.size() && continues(v, last, verdicts[i + 1]))
            last = verdicts[++i].line;
        text += describe_run(v, last, tally.expect()) + '\n';
    }
    if (ok == verdicts.size()) {
        // What a PASS here cannot say: its pattern drives every other line
        // alike, so two lines of the same parity may be swapped unseen.
        text += format("all %u DI lines ok\n%s\nPASS\n", ok, kSameParity);
    } else {
        text += format("%u other DI line%s ok; %" PRIu64 " of %" PRIu64
                       " report lines had a wrong input\nFAIL\n",
                       ok, ok == 1 ? "" : "s", tally.failing_lines(), lines);
    }
    return text;
}

int exit_status(const Tally &tally, const Ending &ending)
{
    if (cut_short(tally, ending))
        return 2;
    if (tally.lines() < 2)
        return 1;
    for (const LineVerdict &v : tally.judge()) {
        if (v.verdict != Verdict::ok)
            return 1;
    }
    return 0;
}

} // namespace dio_check

// Judging the input lines: does each one follow its output?
#ifndef DIO_CHECK_VERDICT_H
#define DIO_CHECK_VERDICT_H

#include "report.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#if defined(_MSC_VER)
#include <intrin.h>
#endif

namespace dio_check {

// What an input line is expected to read: its output's level (a loopback
// plug), or the opposite (a jig whose inputs invert).
enum class Expect { follow, inverted };

enum class Verdict {
    ok,           // always as expected
    stuck_low,    // always 0
    stuck_high,   // always 1
    inverted,     // always the opposite of what was expected
    intermittent, // right in some lines, wrong in others
    undecided,    // its output never took both levels
};

struct LineVerdict {
    unsigned int line = 0; // DI number, 0-31
    Verdict verdict = Verdict::ok;
    std::uint64_t wrong = 0;   // report lines in which it was wrong
    std::uint64_t lines = 0;   // report lines judged
    bool out_level = false;    // for undecided: the one level its output had
    std::uint32_t crossed = 0; // for inverted: DO lines it may be crossed with
};

// Everything the verdict needs, kept as it goes: a few words, so memory
// does not grow with the report.
class Tally {
  public:
    explicit Tally(std::uint32_t wired = 0xffffffffU, Expect expect = Expect::follow);

    // What the inputs should read for @out.
    [[nodiscard]] std::uint32_t expected(std::uint32_t out) const
    {
        return expect_ == Expect::follow ? out : ~out;
    }
    // The judged input bits of @s that are not as expected.
    [[nodiscard]] std::uint32_t wrong_bits(Sample s) const
    {
        return (s.in ^ expected(s.out)) & wired_;
    }

    // Counts one report line in; returns its wrong bits.
    std::uint32_t add(Sample s)
    {
        const std::uint32_t exp = expected(s.out);
        const std::uint32_t wrong = (s.in ^ exp) & wired_;
        ++lines_;
        out_high_ |= s.out;
        out_low_ |= ~s.out;
        in_high_ |= s.in;
        in_low_ |= ~s.in;
        right_ |= ~wrong;
        // An input crossed with a neighbour reads what that one should.
        below_ &= ~(s.in ^ (exp << 1U));
        above_ &= ~(s.in ^ (exp >> 1U));
        if (wrong != 0) {
            ++failing_lines_;
            for (std::uint32_t w = wrong; w != 0; w &= w - 1)
                ++wrong_[lowest_bit(w)];
        }
        return wrong;
    }

    [[nodiscard]] std::uint64_t lines() const { return lines_; }
    // Report lines with at least one judged input wrong.
    [[nodiscard]] std::uint64_t failing_lines() const { return failing_lines_; }
    [[nodiscard]] std::uint32_t wired() const { return wired_; }
    // Report lines in which input @line was not as expected.
    [[nodiscard]] std::uint64_t wrong_count(unsigned int line) const { return wrong_[line]; }
    [[nodiscard]] Expect expect() const { return expect_; }

    // One verdict per judged input line, lowest number first.
    [[nodiscard]] std::vector<LineVerdict> judge() const;

  private:
    static unsigned int lowest_bit(std::uint32_t w)
    {
#if defined(_MSC_VER)
        unsigned long i = 0;
        _BitScanForward(&i, w);
        return static_cast<unsigned int>(i);
#else
        return static_cast<unsigned int>(__builtin_ctz(w));
#endif
    }

    std::uint32_t wired_;
    Expect expect_;
    std::uint64_t lines_ = 0;
    std::uint64_t failing_lines_ = 0;
    std::uint32_t out_high_ = 0;
    std::uint32_t out_low_ = 0;
    std::uint32_t in_high_ = 0;
    std::uint32_t in_low_ = 0;
    std::uint32_t right_ = 0;
    std::uint32_t below_ = ~0U;
    std::uint32_t above_ = ~0U;
    std::array<std::uint64_t, 32> wrong_{};
};

// The line before PASS: what the exerciser's pattern cannot show.
constexpr const char *kSameParity =
    "lines of the same parity look alike to this pattern: dio-map checks every wire";

// "DI 5: stuck low", and so on.
std::string describe(const LineVerdict &v, Expect expect);

// How the report ended, besides its lines.
struct Ending {
    std::uint64_t cut = 0;         // lines cut short, left out of the verdict
    std::uint64_t wanted = 0;      // the lines asked for (--lines); 0: all
    const char *stopped = nullptr; // the signal that stopped the run, if one did
};

// Whether the run ended before the lines asked for: no verdict then.
bool cut_short(const Tally &tally, const Ending &ending);

// The summary printed at the end: a line for each input line that failed,
// a count of the rest, and the outcome.
std::string summary(const Tally &tally, const Ending &ending = {});

// 0 when every judged input line is ok, 2 when the run ended before the
// lines asked for, else 1.
int exit_status(const Tally &tally, const Ending &ending = {});

} // namespace dio_check

#endif

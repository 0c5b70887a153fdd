#include "mapper.h"

#include "bits.h"
#include "board.h"

#include "stop.h"
#include <cstdint>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace dio_map {
namespace {

using Clock = std::chrono::steady_clock;
using dio::has;

// The quiet after the last change that ends a watch: longer than a
// contact bounces between two reads.
constexpr double kQuiet = 2.0;
// The longest scan cycle of a module that samples its inputs, until the
// fall step has timed the board's own.
constexpr double kLongestScan = 100;
// Between the reads of a watch: often enough to time a change to a tenth
// of a millisecond, rarely enough to leave a bus room.
constexpr double kPoll = 0.1;
// A watch that waits for an input gives it half as long again as
// --max-settle, to tell one that follows late from one that never does.
constexpr double kLateFactor = 1.5;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Sleeps @span_ms, or less when a signal arrives.
void pause(double span_ms)
{
#if defined(_WIN32)
    Sleep(static_cast<DWORD>(std::clamp(span_ms, 0.0, 50.0)));
#else
    const auto ns = std::max(1LL, static_cast<long long>(std::ceil(span_ms * 1e6)));
    const timespec t{static_cast<std::time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    nanosleep(&t, nullptr); // a signal ends it early, with EINTR
#endif
}

// One write and what was read after it.
struct Taken {
    std::uint32_t pattern = 0;
    std::uint32_t word = 0;
    double took = -1;       // ms from the write to the read; negative: not read
    bool prime = false;     // the first write, from the outputs as they were left
    std::uint32_t sure = 0; // lines seen to reach their new level and stay
};

// How to watch a write: until each line of @must differs from @before; with
// @cut, not a moment longer.
struct Watch {
    std::uint32_t before = 0;
    std::uint32_t must = 0;
    bool cut = false;
};

// The readings of one write, line by line.
struct Merged {
    std::uint32_t word = 0;
    std::uint32_t trusted = 0; // lines a reading can be trusted for
    std::uint32_t differ = 0;  // lines two such readings disagree on
};

// What the inputs did while a write was watched.
struct Watched {
    std::uint32_t arrived = 0; // lines it waited for that reached their new level
    std::uint32_t late = 0;    // ... only after max_settle_ms
    Clock::time_point start;   // when the write began
    // When each line was first seen to change, in ms from the start
    // (negative: not at all), and how long after the read before.
    std::array<double, kLines> first{};
    std::array<double, kLines> spread{};
};

class Mapper {
  public:
    Mapper(const Settings &s, Map &m)
        : s_(s), m_(m), measuring_(s.settle_ms < 0), steady_(s.inputs), passes_(s.repeat)
    {
    }

    void run();

  private:
    // --- the board ---
    bool write(std::uint32_t pattern, Clock::time_point &start);
    bool read(std::uint32_t &word);
    [[nodiscard]] bool ok() const { return m_.outcome == Outcome::mapped; }

    // --- what the inputs take to follow ---
    void saw_change(Clock::time_point at, double gap);
    [[nodiscard]] double settle() const;
    [[nodiscard]] double wait() const;

    // --- one write and its reading ---
    bool watch(Clock::time_point start, const Watch &how, Taken &t, Watched &w);
    bool settled(Clock::time_point start, Taken &t);
    bool take(std::uint32_t pattern, Taken &t);
    bool take(std::uint32_t pattern, Taken &t, Watch how, Watched &w);

    // --- the passes ---
    bool first_pass();
    bool fall_step(Taken &high);
    bool pass(unsigned p);
    [[nodiscard]] Merged merged(unsigned v, unsigned a) const;
    bool take_again();
    void decode();
    [[nodiscard]] bool all_wires() const;
    bool walk();

    const Settings &s_;
    Map &m_;
    const bool measuring_;
    std::uint32_t steady_; // judged lines not yet seen to be intermittent
    std::uint32_t unsteady_ = 0;

    // Every write of the passes, vector by vector, allocated before the
    // first: [0] all low, [1] all high, [2 + t] code vector t.
    std::vector<std::array<Taken, 2 + kMaxCodeBits>> passes_;
    std::array<PassWords, kAssignments> words_{};
    std::array<Taken, 3> extra_{}; // the fall step's high and low, a rise step's high
    std::uint32_t left_ = 0;       // the inputs as the outputs were left
    std::uint32_t rose_ = 0;       // lines that moved on the first step to all high
    std::uint32_t stuck_low_ = 0;  // ... that stayed low then

    // Timing: the longest an input took after its write, bounce included;
    // the scan period, at most: until the fall step has timed it, the
    // shortest time between two changes seen in two different scans
    // (negative before two were seen); and when the last change was seen,
    // and how long after the read before it.
    double took_ = 0;
    double scan_ = -1;
    bool timed_scan_ = false;
    Clock::time_point last_change_;
    double last_gap_ = -1;
    Clock::time_point last_read_;
    std::uint32_t last_word_ = 0;
    bool have_read_ = false;
};

bool Mapper::write(std::uint32_t pattern, Clock::time_point &start)
{
    pattern &= s_.outputs;
    start = Clock::now();
    const std::int32_t result = Kestor_DOAll(s_.board, pattern);
    ++m_.writes;
    if (result < 0) {
        m_.outcome = Outcome::write_failed;
        m_.failed_pattern = pattern;
        m_.failed_result = result;
    } else {
        m_.driven = pattern;
    }
    if (ok() && dio::stop_signal != 0) {
        m_.outcome = Outcome::stopped;
    }
    return ok();
}

bool Mapper::read(std::uint32_t &word)
{
    word = Kestor_DIAll(s_.board);
    const Clock::time_point now = Clock::now();
    if (have_read_ && ((word ^ last_word_) & steady_) != 0)
        saw_change(now, ms(now - last_read_));
    have_read_ = true;
    last_read_ = now;
    last_word_ = word;
    if (dio::stop_signal != 0)
        m_.outcome = Outcome::stopped;
    return ok();
}

// A read at @at showed a change that the read @gap before it had not. A
// board that samples its inputs shows a change only at a scan, one scan
// period after the one before, so no two changes seen in two different
// scans are closer than a period: counting the time each was seen in,
// and the read before it, which may have sampled before it was sent. That
// holds where every input is sampled at once; a board that samples one
// input after another does not keep to it, and the fall step times the
// period line by line.
void Mapper::saw_change(Clock::time_point at, double gap)
{
    if (last_gap_ >= 0 && !timed_scan_) {
        const double apart = ms(at - last_change_) + 2 * last_gap_;
        scan_ = scan_ < 0 ? apart : std::min(scan_, apart);
    }
    last_change_ = at;
    last_gap_ = gap;
}

double Mapper::settle() const
{
    if (!measuring_)
        return s_.settle_ms;
    // Before two changes were seen, nothing tells the scan period: allow
    // one as long as the longest input took, and the quiet. Two changes a
    // long watch apart tell little more until the fall step has timed a
    // scan itself: until then, a scan cycle is taken to be no longer than
    // modules make them.
    if (scan_ < 0)
        return took_ + took_ + kQuiet;
    return took_ + (timed_scan_ ? scan_ : std::min(scan_, kLongestScan));
}

double Mapper::wait() const
{
    return measuring_ ? wait_for_settle(settle()) : s_.settle_ms;
}

// Reads the inputs again and again after a write begun at @start, until
// each line of @how.must differs from @how.before (or has had kLateFactor
// times max_settle_ms), every judged line is quiet, and the wait has
// passed; then @t holds the last word. A line is quiet once it has not
// changed for kQuiet, and for half as long as it went on changing: a
// contact that bounced for 4 ms gets 2 ms more, one that flickers on and
// on gets ever longer. A line that follows only after max_settle_ms is
// late; one still changing when time runs out, unsteady.
bool Mapper::watch(Clock::time_point start, const Watch &how, Taken &t, Watched &w)
{
    const double max = s_.max_settle_ms;
    std::array<double, kLines> &first = w.first;
    std::array<double, kLines> last{};
    first.fill(-1);
    last.fill(-1);
    w.start = start;
    std::uint32_t word = how.before;
    double now = 0;
    double read_at = 0;
    const auto quiet = [&](unsigned j) {
        return last[j] < 0 || now - last[j] >= std::max(kQuiet, (last[j] - first[j]) / 2);
    };
    for (;;) {
        std::uint32_t next = 0;
        if (!read(next))
            return false;
        const double before = read_at;
        read_at = now = ms(Clock::now() - start);
        const std::uint32_t changed = (next ^ word) & steady_;
        for (unsigned j = 0; j < kLines; ++j) {
            if (!has(changed, j))
                continue;
            last[j] = now;
            if (first[j] < 0) {
                first[j] = now;
                w.spread[j] = now - before;
            }
        }
        word = next;
        const std::uint32_t must = how.must & steady_;
        const bool in = ((word ^ how.before) & must) == must;
        if (in && how.cut)
            break;
        bool still = true;
        for (unsigned j = 0; j < kLines && still; ++j)
            still = !has(steady_, j) || quiet(j);
        if ((in || now >= kLateFactor * max) && still && now >= wait())
            break;
        if (now >= kLateFactor * max) {
            // Still changing: not the same for the same outputs.
            for (unsigned j = 0; j < kLines; ++j) {
                if (has(steady_, j) && !quiet(j))
                    unsteady_ |= std::uint32_t{1} << j;
            }
            steady_ &= ~unsteady_;
            break;
        }
        pause(kPoll);
    }
    t.word = word;
    t.took = now;
    w.arrived = (word ^ how.before) & how.must & steady_;
    for (unsigned j = 0; j < kLines; ++j) {
        if (!has(steady_, j) || first[j] < 0)
            continue;
        if (first[j] > max)
            w.late |= std::uint32_t{1} << j;
        else if (!how.cut)
            took_ = std::max(took_, last[j]);
    }
    m_.late |= w.late;
    steady_ &= ~w.late; // their changes come whenever: none is timed
    return true;
}

// Reads after the wait, and again a scan period later, when a board that
// samples its inputs has sampled them anew. A line that differs changed
// after the settle time, with the outputs held: it is intermittent.
bool Mapper::settled(Clock::time_point start, Taken &t)
{
    const double span = wait();
    while (ms(Clock::now() - start) < span) {
        pause(std::min(span - ms(Clock::now() - start), 50.0));
        if (dio::stop_signal != 0) {
            m_.outcome = Outcome::stopped;
            return false;
        }
    }
    std::uint32_t once = 0;
    std::uint32_t twice = 0;
    if (!read(once))
        return false;
    if (measuring_ && scan_ > 0)
        pause(scan_);
    if (!read(twice))
        return false;
    t.word = twice;
    t.took = ms(Clock::now() - start);
    unsteady_ |= (once ^ twice) & steady_;
    steady_ &= ~unsteady_;
    return true;
}

// Writes @pattern and reads the inputs once they have followed.
bool Mapper::take(std::uint32_t pattern, Taken &t)
{
    Clock::time_point start;
    t.pattern = pattern & s_.outputs;
    t.prime = false;
    t.sure = 0;
    return write(pattern, start) && settled(start, t);
}

// Writes @pattern and watches the inputs follow; @how.before defaults to
// what they read last.
bool Mapper::take(std::uint32_t pattern, Taken &t, Watch how, Watched &w)
{
    if (!measuring_)
        return take(pattern, t);
    Clock::time_point start;
    t.pattern = pattern & s_.outputs;
    t.prime = false;
    if (!write(pattern, start) || !watch(start, how, t, w))
        return false;
    t.sure = how.cut ? 0 : w.arrived;
    return true;
}

// All low from whatever the outputs were left at, all high, then the code
// vectors, each watched. The step to all high waits for every line that
// was low to follow; a line high before it may be an input still falling
// from the outputs as they were left, which the fall step tells.
bool Mapper::first_pass()
{
    const Finder &f = m_.finder;
    std::array<Taken, 2 + kMaxCodeBits> &p = passes_[0];
    Watched w;
    if (!read(left_) || !take(0, p[0], Watch{left_}, w))
        return false;
    p[0].prime = true;
    if (!take(f.driven(), p[1], Watch{p[0].word, steady_ & ~p[0].word}, w))
        return false;
    rose_ = (p[1].word ^ p[0].word) & steady_;
    stuck_low_ = steady_ & ~p[0].word & ~p[1].word;
    for (unsigned t = 0; t < f.code_bits(); ++t) {
        if (!take(f.code_vector(0, t), p[2 + t], Watch{last_word_}, w))
            return false;
    }
    return true;
}

// Steps up to all high into @high, then down to all low, watching every
// line but those stuck low on the first step up. The step down is written
// the moment the last line expected to rise has: a scan, if the board
// samples its inputs, has just passed, and the step down's first change
// shows the next, one scan period later. A line whose rise the first step
// up did not see (one high before it: still falling from the outputs as
// they were left, an inversion, or stuck high) gets a step up of its own,
// so that both its edges are measured.
bool Mapper::fall_step(Taken &high)
{
    const Finder &f = m_.finder;
    const Taken &first_up = passes_[0][1];
    const std::uint32_t up = first_up.word; // what all high read
    const std::uint32_t rising = (last_word_ ^ up) & rose_ & first_up.sure & steady_;
    Watched rose;
    if (!(rising != 0 ? take(f.driven(), high, Watch{last_word_, rising, true}, rose)
                      : take(f.driven(), high)))
        return false;
    // A line that stayed low on the first step up may have been an
    // inversion of an output left high, still rising when that step took
    // it back: where any input was high before the first write, it is
    // waited for too.
    Taken &low = extra_[1];
    const std::uint32_t must = steady_ & ~((left_ & steady_) != 0 ? 0 : stuck_low_);
    Watched w;
    if (!take(0, low, Watch{up, must}, w))
        return false;
    // The scan period: a line seen to rise on the step up and to fall on
    // the step down was sampled twice, one period apart at least; the line
    // that rose last, at the scan just before the step down, one period
    // apart at most. Each line may have a scan of its own phase; all have
    // one period.
    for (unsigned j = 0; j < kLines && measuring_ && rising != 0; ++j) {
        if (!has(rising & w.arrived, j) || rose.first[j] < 0 || w.first[j] < 0)
            continue;
        const double apart =
            ms(w.start - rose.start) + w.first[j] - rose.first[j] + rose.spread[j] + w.spread[j];
        scan_ = timed_scan_ ? std::min(scan_, apart) : apart;
        timed_scan_ = true;
    }
    // A line that went up and never came down is slower than max_settle.
    m_.late |= must & rose_ & up & low.word;
    steady_ &= ~m_.late;
    const std::uint32_t unseen = steady_ & ~stuck_low_ & ~first_up.sure;
    if (unseen == 0)
        return true;
    return take(f.driven(), extra_[2], Watch{last_word_, unseen}, w);
}

// Pass @p after the first: the second assignment in every other pass,
// from all high to all low in those. In the second, that step is the
// fall step, measured.
bool Mapper::pass(unsigned p)
{
    const Finder &f = m_.finder;
    const unsigned a = p % kAssignments;
    std::array<Taken, 2 + kMaxCodeBits> &taken = passes_[p];
    if (p == 1 && measuring_) {
        if (!fall_step(extra_[0]))
            return false;
    } else if (a == 1) {
        if (!take(f.driven(), taken[1]) || !take(0, taken[0]))
            return false;
    } else if (!take(0, taken[0]) || !take(f.driven(), taken[1])) {
        return false;
    }
    for (unsigned t = 0; t < f.code_bits(); ++t) {
        if (!take(f.code_vector(a, t), taken[2 + t]))
            return false;
    }
    return true;
}

// The readings of write @v (0 all low, 1 all high, 2 + t code vector t of
// assignment @a), merged: each line from the last reading that can be
// trusted for it, one taken once the inputs had settled or one where the
// line was seen to follow; the readings of the first write, from the
// outputs as they were left, are the last resort, and never compared.
Merged Mapper::merged(unsigned v, unsigned a) const
{
    const double needed = settle();
    Merged m;
    std::uint32_t last = 0;
    bool have_last = false;
    const auto merge = [&](const Taken &t) {
        if (t.took < 0 || (t.prime && have_last))
            return;
        last = t.word;
        have_last = true;
        if (t.prime)
            return;
        const std::uint32_t trust = t.took >= needed ? s_.inputs : t.sure;
        m.differ |= (m.word ^ t.word) & m.trusted & trust;
        m.word = (m.word & ~trust) | (t.word & trust);
        m.trusted |= trust;
    };
    for (unsigned p = 0; p < passes_.size(); ++p) {
        if (v < 2 || p % kAssignments == a)
            merge(passes_[p][v]);
    }
    if (v < 2)
        merge(extra_[1 + v]);
    m.word = (m.word & m.trusted) | (last & ~m.trusted);
    return m;
}

// Takes again, once, each write some line of which was read sooner than
// the inputs turned out to need (before the fall step measured the slower
// edge, say), and was not seen to follow: a reading that may have been
// taken while the inputs still moved is never judged. All low is left as
// the first write read it after one pass that read every line as a wire,
// which a line still falling from the outputs as they were left would not.
bool Mapper::take_again()
{
    const Finder &f = m_.finder;
    const unsigned assignments = std::min<unsigned>(s_.repeat, kAssignments);
    for (unsigned v = extra_[1].took < 0 && s_.repeat == 1 ? 1 : 0; v < 2 + f.code_bits(); ++v) {
        for (unsigned a = 0; a < (v < 2 ? 1 : assignments); ++a) {
            if ((steady_ & ~merged(v, a).trusted) == 0)
                continue;
            const std::uint32_t pattern = v == 0   ? 0
                                          : v == 1 ? f.driven()
                                                   : f.code_vector(a, v - 2);
            if (!take(pattern, passes_[a][v]))
                return false;
        }
    }
    return true;
}

void Mapper::decode()
{
    Finder &f = m_.finder;
    const Merged low = merged(0, 0);
    const Merged high = merged(1, 0);
    std::uint32_t differ = low.differ | high.differ;
    const unsigned assignments = std::min<unsigned>(s_.repeat, kAssignments);
    for (unsigned a = 0; a < assignments; ++a) {
        words_[a].assignment = a;
        for (unsigned t = 0; t < f.code_bits(); ++t) {
            const Merged m = merged(2 + t, a);
            words_[a].words[t] = m.word;
            differ |= m.differ;
        }
    }
    unsteady_ |= differ & s_.inputs;
    steady_ &= ~unsteady_;
    f.decode(low.word, high.word, words_.data(), assignments, s_.inputs, unsteady_ | m_.late);
}

// Whether every judged line reads as a wire or an inversion of one: what
// an input slower on the edge not yet measured could not read.
bool Mapper::all_wires() const
{
    if ((m_.finder.walk_zero() | m_.finder.walk_one()) != 0)
        return false; // suspects
    for (unsigned j = 0; j < kLines; ++j) {
        const dio::wiring::Reads r = m_.finder.reading(j).reads;
        if (has(s_.inputs, j) && r != dio::wiring::Reads::follow && r != dio::wiring::Reads::invert)
            return false;
    }
    return true;
}

// Walks the suspects: each output low alone, or high alone.
bool Mapper::walk()
{
    Finder &f = m_.finder;
    std::array<std::uint32_t, kLines> zero{};
    std::array<std::uint32_t, kLines> one{};
    for (int way = 0; way < 2; ++way) {
        const std::uint32_t walked = way == 0 ? f.walk_zero() : f.walk_one();
        for (unsigned i = 0; i < kLines; ++i) {
            if (!has(walked, i))
                continue;
            const std::uint32_t bit = std::uint32_t{1} << i;
            Taken t;
            if (!take(way == 0 ? f.driven() & ~bit : bit, t))
                return false;
            (way == 0 ? zero : one)[i] = t.word;
        }
    }
    f.resolve(zero, one);
    return true;
}

void Mapper::run()
{
    bool done = first_pass();
    for (unsigned p = 1; done && p < s_.repeat; ++p)
        done = pass(p);
    if (done && s_.repeat == 1 && measuring_) {
        // One pass measured the step up only. A line slower on the way
        // down reads more ones than a code has, and so does one that was
        // still falling from the outputs as they were left: not a wire.
        decode();
        if (!all_wires())
            done = fall_step(extra_[0]);
    }
    if (done && measuring_)
        done = take_again();
    if (done) {
        decode();
        done = walk();
    }
    m_.settle_ms = settle();
    m_.wait_ms = wait();
    (void)done; // the outcome says why it stopped
}

} // namespace

double wait_for_settle(double settle_ms)
{
    return settle_ms * 1.25 + 1.0;
}

Map find_map(const Settings &s)
{
    Map m;
    m.finder = Finder(s.outputs);
    Mapper(s, m).run();
    m.lowered = Kestor_DOAll(s.board, 0);
    ++m.writes;
    if (m.lowered >= 0)
        m.driven = 0;
    return m;
}

} // namespace dio_map

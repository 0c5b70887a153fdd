#include "finder.h"

#include "bits.h"

#include <vector>

namespace dio_map {
namespace {

using dio::has;
using dio::ones;
using dio::wiring::Reads;

unsigned binomial(unsigned n, unsigned r)
{
    unsigned c = 1;
    for (unsigned i = 1; i <= r; ++i)
        c = c * (n - r + i) / i;
    return c;
}

std::uint32_t majority(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    return (a & b) | (a & c) | (b & c);
}

// A form of logic over outputs at positions p[0..3] (in the order of the
// driven outputs) that reads as the code of the output at p[3] in the
// first assignment, and must not in the second.
struct Rule {
    enum Kind { xor3, majority3, and_or, or_and } kind;
    unsigned p[4];

    [[nodiscard]] bool matches(const std::uint32_t *code) const
    {
        const std::uint32_t a = code[p[0]];
        const std::uint32_t b = code[p[1]];
        const std::uint32_t c = code[p[2]];
        switch (kind) {
        case xor3:
            return (a ^ b ^ c) == code[p[3]];
        case majority3:
            return majority(a, b, c) == b;
        case and_or:
            return (b & (a | c)) == b;
        case or_and:
            break;
        }
        return (b | (a & c)) == b;
    }
    [[nodiscard]] unsigned last() const
    {
        unsigned m = 0;
        for (const unsigned q : p)
            m = q > m ? q : m;
        return m;
    }
};

// The forms that read as one output's code in @first: an XOR of any
// three outputs, and an output's majority with, AND or OR of, the pair
// beside it (equal drivers shorted together, or a device under test).
std::vector<Rule> rules_for(const std::uint32_t *first, unsigned n, bool neighbours)
{
    std::array<int, 1U << kMaxCodeBits> position{};
    position.fill(-1);
    for (unsigned q = 0; q < n; ++q)
        position[first[q]] = static_cast<int>(q);
    std::vector<Rule> rules;
    for (unsigned a = 0; a < n; ++a) {
        for (unsigned b = a + 1; b < n; ++b) {
            for (unsigned c = b + 1; c < n; ++c) {
                const int t = position[first[a] ^ first[b] ^ first[c]];
                if (t >= 0)
                    rules.push_back({Rule::xor3, {a, b, c, static_cast<unsigned>(t)}});
            }
        }
    }
    for (unsigned q = 1; neighbours && q + 1 < n; ++q) {
        for (const Rule::Kind kind : {Rule::majority3, Rule::and_or, Rule::or_and}) {
            const Rule r{kind, {q - 1, q, q + 1, q}};
            if (r.matches(first))
                rules.push_back(r);
        }
    }
    return rules;
}

} // namespace

Finder::Finder(std::uint32_t driven) : driven_(driven)
{
    const unsigned n = ones(driven);
    while (binomial(k_, k_ / 2) < n)
        ++k_;
    // The codes of weight k/2, each sharing all bits but one with the code
    // before it where one is left: outputs side by side, the likeliest to
    // be shorted, then read a word that only a few outputs' codes fit.
    std::array<std::uint32_t, 35> codes{}; // C(7, 3) at most
    unsigned count = 0;
    for (std::uint32_t c = 0; c < (1U << k_); ++c) {
        if (ones(c) == k_ / 2)
            codes[count++] = c;
    }
    std::uint64_t taken = 0; // bit r: codes[r] is handed out
    for (unsigned i = 0, before = count; i < kLines; ++i) {
        if (!has(driven, i))
            continue;
        unsigned pick = count;
        for (unsigned r = 0; r < count; ++r) {
            if ((taken >> r & 1U) != 0)
                continue;
            if (pick == count)
                pick = r;
            if (before < count && ones(codes[r] ^ codes[before]) == 2) {
                pick = r;
                break;
            }
        }
        taken |= std::uint64_t{1} << pick;
        before = pick;
        code_[0][i] = codes[pick];
    }
    assign_second();
    for (unsigned a = 0; a < kAssignments; ++a) {
        for (unsigned i = 0; i < kLines; ++i) {
            for (unsigned t = 0; t < k_ && has(driven, i); ++t) {
                if (has(code_[a][i], t))
                    code_vector_[a][t] |= std::uint32_t{1} << i;
            }
        }
    }
}

// The second assignment: a search, position by position in the order of
// the driven outputs, for codes that break every rule the first one
// matches, each output with a code other than its first. It finishes in
// about n steps for every n but 3, where three one-bit codes leave no
// choice for the neighbours' rules; they are dropped there.
void Finder::assign_second()
{
    std::array<unsigned, kLines> at{}; // the driven outputs, in order
    std::array<std::uint32_t, kLines> first{};
    unsigned n = 0;
    for (unsigned i = 0; i < kLines; ++i) {
        if (has(driven_, i)) {
            at[n] = i;
            first[n++] = code_[0][i];
        }
    }
    std::array<std::uint32_t, 35> codes{};
    unsigned count = 0;
    for (std::uint32_t c = 0; c < (1U << k_); ++c) {
        if (ones(c) == k_ / 2)
            codes[count++] = c;
    }
    std::array<std::uint32_t, kLines> second = first;
    for (const bool neighbours : {true, false}) {
        const std::vector<Rule> rules = rules_for(first.data(), n, neighbours);
        const auto fits = [&](unsigned p) {
            if (n > 1 && second[p] == first[p])
                return false;
            for (const Rule &r : rules) {
                if (r.last() == p && r.matches(second.data()))
                    return false;
            }
            return true;
        };
        std::array<int, kLines> choice{};
        choice.fill(-1);
        std::uint64_t taken = 0;
        unsigned p = 0;
        for (long budget = 100000; p < n && budget > 0; --budget) {
            if (choice[p] >= 0)
                taken &= ~(std::uint64_t{1} << choice[p]);
            int c = choice[p] + 1;
            for (; c < static_cast<int>(count); ++c) {
                second[p] = codes[c];
                if ((taken >> c & 1U) == 0 && fits(p))
                    break;
            }
            if (c == static_cast<int>(count)) {
                choice[p] = -1;
                if (p == 0)
                    break;
                --p;
                continue;
            }
            choice[p] = c;
            taken |= std::uint64_t{1} << c;
            ++p;
        }
        if (p == n)
            break;
        second = first; // none found: try again without the neighbours' rules
    }
    for (unsigned q = 0; q < n; ++q)
        code_[1][at[q]] = second[q];
}

Finder::Line Finder::judge(std::uint32_t low, std::uint32_t high, const PassWords *passes,
                           unsigned count, unsigned j) const
{
    const std::uint32_t full = (std::uint32_t{1} << k_) - 1;
    const unsigned weight = k_ / 2;
    Line line;
    line.low = has(low, j);
    line.high = has(high, j);
    const bool rises = !line.low && line.high;
    const bool falls = line.low && !line.high;
    bool zero = true;  // every code vector read 0
    bool ones_ = true; // ... and 1
    unsigned seen = 0;
    for (unsigned p = 0; p < count; ++p) {
        std::uint32_t raw = 0;
        for (unsigned t = 0; t < k_; ++t)
            raw |= static_cast<std::uint32_t>(has(passes[p].words[t], j)) << t;
        zero = zero && raw == 0;
        ones_ = ones_ && raw == full;
        line.word[passes[p].assignment] = falls ? ~raw & full : raw;
        seen |= 1U << passes[p].assignment;
    }
    if (!line.low && !line.high && zero) {
        line.reading = {Reads::low, 0};
        return line;
    }
    if (line.low && line.high && ones_) {
        line.reading = {Reads::high, 0};
        return line;
    }
    line.suspect = Suspect::other;
    if (!rises && !falls)
        return line;
    // One output whose code it read in every assignment.
    unsigned found = kLines;
    bool agree = true;
    unsigned fewer = 0; // assignments where it read fewer ones than a code has
    unsigned more = 0;
    for (unsigned a = 0; a < kAssignments; ++a) {
        if ((seen >> a & 1U) == 0)
            continue;
        unsigned out = kLines;
        for (unsigned i = 0; i < kLines; ++i) {
            if (has(driven_, i) && code_[a][i] == line.word[a])
                out = i;
        }
        agree = agree && out != kLines && (found == kLines || found == out);
        found = out;
        fewer += static_cast<unsigned>(ones(line.word[a]) < weight);
        more += static_cast<unsigned>(ones(line.word[a]) > weight);
    }
    const unsigned passes_seen = ones(seen);
    if (agree && found < kLines) {
        line.reading = {rises ? Reads::follow : Reads::invert, std::uint32_t{1} << found};
        line.suspect = Suspect::none;
        return line;
    }
    // Several outputs on one input: in every assignment their codes cover
    // what it reads (AND) or what it reads covers their codes (OR).
    if (rises && (fewer == passes_seen || more == passes_seen)) {
        const bool and_ = fewer == passes_seen;
        std::uint32_t candidates = driven_;
        for (unsigned a = 0; a < kAssignments; ++a) {
            for (unsigned i = 0; i < kLines && (seen >> a & 1U) != 0; ++i) {
                const std::uint32_t c = code_[a][i];
                const std::uint32_t w = line.word[a];
                if (and_ ? (c & w) != w : (c & w) != c)
                    candidates &= ~(std::uint32_t{1} << i);
            }
        }
        if (ones(candidates) >= 2) {
            line.suspect = and_ ? Suspect::wired_and : Suspect::wired_or;
            line.candidates = candidates;
        }
    }
    return line;
}

void Finder::decode(std::uint32_t low, std::uint32_t high, const PassWords *passes, unsigned count,
                    std::uint32_t judged, std::uint32_t unsteady)
{
    judged_ = judged;
    walk_zero_ = walk_one_ = 0;
    used_ = 0;
    for (unsigned p = 0; p < count; ++p)
        used_ |= 1U << passes[p].assignment;
    for (unsigned j = 0; j < kLines; ++j) {
        if (!has(judged, j) || has(unsteady, j)) {
            lines_[j] = Line{};
            lines_[j].reading = {Reads::intermittent, 0};
            continue;
        }
        Line line = judge(low, high, passes, count, j);
        if (line.suspect == Suspect::other)
            line.candidates = driven_;
        if (line.suspect == Suspect::wired_and || line.suspect == Suspect::other)
            walk_zero_ |= line.candidates;
        if (line.suspect == Suspect::wired_or || line.suspect == Suspect::other)
            walk_one_ |= line.candidates;
        lines_[j] = line;
    }
}

void Finder::resolve(const std::array<std::uint32_t, kLines> &zero,
                     const std::array<std::uint32_t, kLines> &one)
{
    const std::uint32_t full = (std::uint32_t{1} << k_) - 1;
    for (unsigned j = 0; j < kLines; ++j) {
        Line &line = lines_[j];
        if (line.suspect == Suspect::none)
            continue;
        const bool and_ = line.suspect == Suspect::wired_and;
        // The outputs that moved the input when they alone moved.
        std::uint32_t moved = 0;
        std::array<std::uint32_t, kAssignments> codes{};
        codes.fill(and_ ? full : 0);
        for (unsigned i = 0; i < kLines; ++i) {
            if (!has(line.candidates, i))
                continue;
            const bool by_zero = has(walk_zero_, i) && has(zero[i], j) != line.high;
            const bool by_one = has(walk_one_, i) && has(one[i], j) != line.low;
            if (!by_zero && !by_one)
                continue;
            moved |= std::uint32_t{1} << i;
            for (unsigned a = 0; a < kAssignments; ++a)
                codes[a] = and_ ? codes[a] & code_[a][i] : codes[a] | code_[a][i];
        }
        // An AND or OR group must explain the code words read, too.
        bool group = line.suspect != Suspect::other && ones(moved) >= 2;
        for (unsigned a = 0; a < kAssignments; ++a)
            group = group && ((used_ >> a & 1U) == 0 || codes[a] == line.word[a]);
        if (group)
            line.reading = {and_ ? Reads::wired_and : Reads::wired_or, moved};
        else
            line.reading = {Reads::other, moved != 0 ? moved : line.candidates};
    }
}

void Finder::set_intermittent(unsigned line)
{
    lines_[line] = Line{};
    lines_[line].reading = {Reads::intermittent, 0};
}

std::uint32_t Finder::unused() const
{
    std::uint32_t used = 0;
    for (unsigned j = 0; j < kLines; ++j) {
        if (has(judged_, j))
            used |= lines_[j].reading.outputs;
    }
    return driven_ & ~used;
}

} // namespace dio_map

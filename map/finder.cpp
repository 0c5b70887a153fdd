#include "finder.h"

#include <bitset>

namespace dio_map {
namespace {

using dio::wiring::Reads;

unsigned ones(std::uint32_t w)
{
    return static_cast<unsigned>(std::bitset<32>(w).count());
}

bool has(std::uint32_t word, unsigned bit)
{
    return (word >> bit & 1U) != 0;
}

unsigned binomial(unsigned n, unsigned r)
{
    unsigned c = 1;
    for (unsigned i = 1; i <= r; ++i)
        c = c * (n - r + i) / i;
    return c;
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
        code_[i] = codes[pick];
        for (unsigned t = 0; t < k_; ++t) {
            if (has(code_[i], t))
                code_vector_[t] |= std::uint32_t{1} << i;
        }
    }
}

std::uint32_t Finder::pattern(unsigned vector) const
{
    return vector == 0 ? 0 : vector == 1 ? driven_ : code_vector_[vector - 2];
}

void Finder::decode(const std::uint32_t *words, std::uint32_t judged, std::uint32_t unsteady)
{
    judged_ = judged;
    walk_zero_ = walk_one_ = 0;
    const std::uint32_t full = (std::uint32_t{1} << k_) - 1;
    const unsigned weight = k_ / 2;
    for (unsigned j = 0; j < kLines; ++j) {
        Line line;
        if (!has(judged, j) || has(unsteady, j)) {
            line.reading = {Reads::intermittent, 0};
            lines_[j] = line;
            continue;
        }
        line.low = has(words[0], j);
        line.high = has(words[1], j);
        std::uint32_t word = 0;
        for (unsigned t = 0; t < k_; ++t)
            word |= static_cast<std::uint32_t>(has(words[2 + t], j)) << t;
        const bool rises = !line.low && line.high;
        const bool falls = line.low && !line.high;
        line.word = falls ? ~word & full : word;

        if (!line.low && !line.high && word == 0) {
            line.reading = {Reads::low, 0};
        } else if (line.low && line.high && word == full) {
            line.reading = {Reads::high, 0};
        } else if ((rises || falls) && ones(line.word) == weight) {
            // One output's code, if any output has it.
            for (unsigned i = 0; i < kLines; ++i) {
                if (has(driven_, i) && code_[i] == line.word)
                    line.reading = {rises ? Reads::follow : Reads::invert, std::uint32_t{1} << i};
            }
            if (line.reading.outputs == 0)
                line.suspect = Suspect::other;
        } else if (rises) {
            // Several outputs on one input: their codes cover what it reads
            // (AND) or what it reads covers their codes (OR).
            const bool and_ = ones(line.word) < weight;
            line.suspect = and_ ? Suspect::wired_and : Suspect::wired_or;
            for (unsigned i = 0; i < kLines; ++i) {
                const std::uint32_t c = code_[i];
                if (has(driven_, i) && (and_ ? (c & line.word) == line.word : (c & line.word) == c))
                    line.candidates |= std::uint32_t{1} << i;
            }
            (and_ ? walk_zero_ : walk_one_) |= line.candidates;
        } else {
            line.suspect = Suspect::other;
        }
        if (line.suspect == Suspect::other) {
            line.candidates = driven_;
            walk_zero_ |= driven_;
            walk_one_ |= driven_;
        }
        lines_[j] = line;
    }
}

void Finder::resolve(const std::array<std::uint32_t, kLines> &zero,
                     const std::array<std::uint32_t, kLines> &one)
{
    for (unsigned j = 0; j < kLines; ++j) {
        Line &line = lines_[j];
        if (line.suspect == Suspect::none)
            continue;
        // The outputs that moved the input when they alone moved.
        std::uint32_t moved = 0;
        std::uint32_t codes = line.suspect == Suspect::wired_and ? ~0U : 0;
        for (unsigned i = 0; i < kLines; ++i) {
            if (!has(line.candidates, i))
                continue;
            const bool by_zero = has(walk_zero_, i) && has(zero[i], j) != line.high;
            const bool by_one = has(walk_one_, i) && has(one[i], j) != line.low;
            if (by_zero || by_one) {
                moved |= std::uint32_t{1} << i;
                codes = line.suspect == Suspect::wired_and ? codes & code_[i] : codes | code_[i];
            }
        }
        // An AND or OR group must explain the code word read, too.
        const bool group = ones(moved) >= 2 && (codes & ((1U << k_) - 1)) == line.word;
        if (line.suspect != Suspect::other && group)
            line.reading = {line.suspect == Suspect::wired_and ? Reads::wired_and : Reads::wired_or,
                            moved};
        else
            line.reading = {Reads::other, moved != 0 ? moved : line.candidates};
    }
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

// How dio-map finds what each input reads from the outputs in a few
// writes: the vectors it writes, and what their readings say.
//
// Each pass writes all outputs low, all high, then k code vectors. Each of
// the n driven outputs has a k-bit code of weight k/2 (k the smallest with
// C(k, k/2) >= n: 7 for 32 outputs), and code vector t drives the outputs
// whose code has bit t. An input that follows one output reads that
// output's code over the code vectors; one that inverts it, its
// complement; a stuck one, a constant. A wired-AND of outputs reads fewer
// than k/2 ones, a wired-OR more: only those inputs are walked further,
// across the outputs whose codes fit what they read.
#ifndef DIO_MAP_FINDER_H
#define DIO_MAP_FINDER_H

#include "wiring.h"

#include <array>
#include <cstdint>

namespace dio_map {

constexpr unsigned kLines = 32;
constexpr unsigned kMaxCodeBits = 7; // C(7, 3) = 35 codes for 32 outputs

class Finder {
  public:
    explicit Finder(std::uint32_t driven);

    // Vectors in one pass: all low, all high, the code vectors.
    [[nodiscard]] unsigned vectors() const { return 2 + k_; }
    [[nodiscard]] std::uint32_t pattern(unsigned vector) const;

    // Judges each line of @judged from the words one pass read, vector by
    // vector; the lines of @unsteady did not read the same in every pass.
    void decode(const std::uint32_t *words, std::uint32_t judged, std::uint32_t unsteady);

    // The outputs to walk after decode(): each driven low alone (a walking
    // zero, for wired-AND suspects), or high alone (a walking one).
    [[nodiscard]] std::uint32_t walk_zero() const { return walk_zero_; }
    [[nodiscard]] std::uint32_t walk_one() const { return walk_one_; }

    // Settles the suspects from what the walks read: @zero[i] with DO i
    // alone low, @one[i] with DO i alone high.
    void resolve(const std::array<std::uint32_t, kLines> &zero,
                 const std::array<std::uint32_t, kLines> &one);

    [[nodiscard]] const dio::wiring::Reading &reading(unsigned line) const
    {
        return lines_[line].reading;
    }
    // Driven outputs that no judged input depends on.
    [[nodiscard]] std::uint32_t unused() const;

  private:
    enum class Suspect { none, wired_and, wired_or, other };
    struct Line {
        dio::wiring::Reading reading;
        Suspect suspect = Suspect::none;
        std::uint32_t word = 0;       // its code word, complemented if it inverts
        std::uint32_t candidates = 0; // the outputs whose codes fit it
        bool low = false;             // what it read with all outputs low
        bool high = false;            // ... and all high
    };

    std::uint32_t driven_;
    std::uint32_t judged_ = 0;
    unsigned k_ = 0;
    std::array<std::uint32_t, kLines> code_{};              // DO i's code
    std::array<std::uint32_t, kMaxCodeBits> code_vector_{}; // code vector t
    std::array<Line, kLines> lines_{};
    std::uint32_t walk_zero_ = 0;
    std::uint32_t walk_one_ = 0;
};

} // namespace dio_map

#endif

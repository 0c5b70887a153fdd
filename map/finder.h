// How dio-map finds what each input reads from the outputs in a few
// writes: the vectors it writes, and what their readings say.
//
// A pass writes all outputs low and all high, and k code vectors. Each of
// the n driven outputs has a k-bit code of weight k/2 (k the smallest with
// C(k, k/2) >= n: 7 for 32 outputs), and code vector t drives the outputs
// whose code has bit t. An input that follows one output reads that
// output's code over the code vectors; one that inverts it, its
// complement; a stuck one, a constant. A wired-AND of outputs reads fewer
// than k/2 ones, a wired-OR more: only those inputs are walked further,
// across the outputs whose codes fit what they read.
//
// Passes take turns between two assignments of the codes to the outputs.
// In the first, neighbouring outputs have codes that differ in two bits,
// so that a short between neighbours reads a word few codes fit. The
// second is chosen so that logic which reads as one output's code in the
// first (an XOR of three outputs, the majority of an output and its two
// neighbours, an output AND or OR the pair beside it) does not in the
// second: an input is taken as a wire only when both agree.
#ifndef DIO_MAP_FINDER_H
#define DIO_MAP_FINDER_H

#include "wiring.h"

#include <array>
#include <cstdint>

namespace dio_map {

constexpr unsigned kLines = 32;
constexpr unsigned kMaxCodeBits = 7; // C(7, 3) = 35 codes for 32 outputs
constexpr unsigned kAssignments = 2;

// The code word each input read over one pass's code vectors: bit t of
// words[t] is what input j read with code vector t.
struct PassWords {
    unsigned assignment = 0;
    std::array<std::uint32_t, kMaxCodeBits> words{};
};

class Finder {
  public:
    explicit Finder(std::uint32_t driven);

    [[nodiscard]] std::uint32_t driven() const { return driven_; }
    [[nodiscard]] unsigned code_bits() const { return k_; }
    // Code vector @t of assignment @a: the outputs whose code has bit t.
    [[nodiscard]] std::uint32_t code_vector(unsigned a, unsigned t) const
    {
        return code_vector_[a][t];
    }
    // DO @i's code in assignment @a.
    [[nodiscard]] std::uint32_t code(unsigned a, unsigned i) const { return code_[a][i]; }

    // Judges each line of @judged from what it read with all outputs low
    // (@low) and all high (@high), and over the code vectors of @count
    // passes; the lines of @unsteady did not read the same for the same
    // outputs.
    void decode(std::uint32_t low, std::uint32_t high, const PassWords *passes, unsigned count,
                std::uint32_t judged, std::uint32_t unsteady);

    // The outputs to walk after decode(): each driven low alone (a walking
    // zero, for wired-AND suspects), or high alone (a walking one).
    [[nodiscard]] std::uint32_t walk_zero() const { return walk_zero_; }
    [[nodiscard]] std::uint32_t walk_one() const { return walk_one_; }

    // Settles the suspects from what the walks read: @zero[i] with DO i
    // alone low, @one[i] with DO i alone high.
    void resolve(const std::array<std::uint32_t, kLines> &zero,
                 const std::array<std::uint32_t, kLines> &one);

    // Calls a line intermittent whatever it read (it changed too late).
    void set_intermittent(unsigned line);

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
        // Its code word in each pass, complemented if it inverts.
        std::array<std::uint32_t, kAssignments> word{};
        std::uint32_t candidates = 0; // the outputs whose codes fit it
        bool low = false;             // what it read with all outputs low
        bool high = false;            // ... and all high
    };

    void assign_second();
    [[nodiscard]] Line judge(std::uint32_t low, std::uint32_t high, const PassWords *passes,
                             unsigned count, unsigned j) const;

    std::uint32_t driven_;
    std::uint32_t judged_ = 0;
    unsigned k_ = 0;
    unsigned used_ = 1; // assignments in the last decode(): words valid
    std::array<std::array<std::uint32_t, kLines>, kAssignments> code_{};
    std::array<std::array<std::uint32_t, kMaxCodeBits>, kAssignments> code_vector_{};
    std::array<Line, kLines> lines_{};
    std::uint32_t walk_zero_ = 0;
    std::uint32_t walk_one_ = 0;
};

} // namespace dio_map

#endif

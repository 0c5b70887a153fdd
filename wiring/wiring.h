// What each input line of a board reads, in terms of its outputs: the map
// that dio-map writes, and reads back (--expect), and that the stand-in's
// simulated board can be wired by. One line per input, "DI <n>: <reading>",
// its words in any case; anything after '#' is a remark, and PASS and FAIL
// lines are left out. Any other line is an error.
#ifndef DIO_WIRING_H
#define DIO_WIRING_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dio::wiring {

enum class Reads {
    follow,       // DO i
    invert,       // !DO i
    low,          // always 0
    high,         // always 1
    wired_and,    // DO a & DO b ...: 0 wins
    wired_or,     // DO a | DO b ...: 1 wins
    intermittent, // not the same for the same outputs
    other,        // depends on DO a, DO b ... in some other way
};

struct Reading {
    Reads reads = Reads::follow;
    std::uint32_t outputs = 0; // the DO lines it depends on, bit i for DO i

    bool operator==(const Reading &o) const { return reads == o.reads && outputs == o.outputs; }
    bool operator!=(const Reading &o) const { return !(*this == o); }
};

// DI @line following DO @line: a straight wire.
inline Reading straight(unsigned line)
{
    return {Reads::follow, std::uint32_t{1} << line};
}

struct Map {
    std::array<Reading, 32> di; // DI j reads di[j]; straight unless named
    std::uint32_t named = 0;    // the DI lines the map names

    Map()
    {
        for (unsigned j = 0; j < di.size(); ++j)
            di[j] = straight(j);
    }
};

// "DO 3", "!DO 3", "low", "DO 1 & DO 4", "depends on DO 0, DO 2", ...
std::string text(const Reading &r);

// "follow", "invert", "low", "high", "and", "or", "intermittent", "other".
const char *kind_name(Reads reads);

// Reads the lines of a map from @text into @map. Returns "", or what is
// wrong, with its line number ("line 3: DI 40 is beyond DI 0-31"); @map
// is then left as it was.
std::string parse(std::string_view text, Map &map);

// Reads the map file at @path with parse(); a reason starts with @path.
std::string read_file(const std::string &path, Map &map);

// The word the inputs read when the outputs hold @pattern, for a map of
// wires, inversions, stuck lines and wired-AND or -OR groups.
std::uint32_t inputs(const Map &map, std::uint32_t pattern);

} // namespace dio::wiring

#endif

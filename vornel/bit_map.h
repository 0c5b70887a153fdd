// Which numbered lines or addresses carry the bits of a 32-bit word, as a
// user writes it in a setting: "<where>:<list>", e.g. "gpiochip0:0-15,20"
// for lines of a GPIO chip or "coils:16-31" for Modbus coils.
#ifndef VORNEL_BIT_MAP_H
#define VORNEL_BIT_MAP_H

#include "io_board.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vornel {

struct BitMap {
    std::string where;                  // a chip, a Modbus table, a subdevice
    std::vector<std::uint32_t> numbers; // bit i of the word is numbers[i] ...
    std::vector<std::string> names;     // ... unless names[i] names its line
};

constexpr std::size_t kMaxBits = 32;
constexpr std::uint32_t kMaxNumber = 65535;

// Reads @text, decimal digits only (no sign, no spaces), into @value if it
// lies within [@low, @high]; false, and @value untouched, otherwise.
bool parse_decimal(const std::string &text, std::uint32_t low, std::uint32_t high,
                   std::uint32_t &value);

// Parses @text into @map: numbers and ranges 0-65535 separated by commas,
// a range may run downwards, at most 32 numbers, none twice. With @names,
// an item that is not a number or a range of numbers is a line's name, and
// a list of names alone needs no "<where>:". Returns an empty string on
// success, otherwise what is wrong with @text, with @example as the form to
// follow; @map is then left as it was.
std::string parse_bit_map(const std::string &text, BitMap &map,
                          const char *example = "gpiochip0:0-15,20", bool names = false);

// What a setting's "<where>:" names, by its form alone: a Modbus table
// ("coils", "inputs"), a comedi subdevice (a number), or anything else: a
// GPIO chip (a list of line names has no "<where>:" at all).
enum class Where { chip, table, subdevice };
Where where_of(const std::string &setting);

// Reads VORNEL_BOARD1_DO into @maps[0] and VORNEL_BOARD1_DI into @maps[1]
// with parse_bit_map(), and has @check look further at each that parsed.
// Returns "", or what is wrong after the setting's name; a setting not
// given leaves its map empty.
using MapCheck = std::string (*)(const std::string &text, const BitMap &map);
std::string parse_outputs_and_inputs(const Settings &settings, BitMap (&maps)[2],
                                     const char *example, bool names, MapCheck check = nullptr);

// What @map names, bit 0 first, as a user would write it: "gpiochip0
// lines 0-31", "0,2,4", "DO0,DO-1", runs as ranges; @unit names the numbers
// ("lines", "channels", "coils") after @map's "<where>".
std::string describe(const BitMap &map, const char *unit);

// "<outputs> out, <inputs> in" for the two maps of a board, each with
// describe() and its @unit; a map without numbers is left out.
std::string describe(const BitMap &outputs, const char *output_unit, const BitMap &inputs,
                     const char *input_unit);

// The numbers of @map, lowest first, each with the bit it carries.
std::vector<std::pair<std::uint32_t, unsigned>> by_number(const BitMap &map);

} // namespace vornel

#endif

// Puts fake GPIO chips behind the stand-in board library, for running the
// real program on them. Set up from the environment:
//   FAKECHIP_CHIPS  chips and their number of lines: "gpiochip0=32;gpiochip1=32"
//   FAKECHIP_WIRES  "gpiochip0:0-31>gpiochip1:0-31": each input line on the
//                   right reads the output line on the left in the same place
//   FAKECHIP_HELD   "gpiochip0:3=other-tool": lines someone else holds

#include "bit_map.h"
#include "fake_chip.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> items(const char *name)
{
    std::vector<std::string> out;
    const char *v = std::getenv(name);
    std::string s = v != nullptr ? v : "";
    for (std::size_t start = 0; start < s.size();) {
        std::size_t end = s.find(';', start);
        if (end == std::string::npos)
            end = s.size();
        out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

void set_up(fakechip::FakeChips &chips)
{
    for (const std::string &chip : items("FAKECHIP_CHIPS")) {
        const std::size_t eq = chip.find('=');
        chips.add_chip(chip.substr(0, eq), std::stoul(chip.substr(eq + 1)));
    }
    for (const std::string &wire : items("FAKECHIP_WIRES")) {
        const std::size_t gt = wire.find('>');
        vornel::BitMap from;
        vornel::BitMap to;
        if (gt == std::string::npos || !vornel::parse_bit_map(wire.substr(0, gt), from).empty() ||
            !vornel::parse_bit_map(wire.substr(gt + 1), to).empty())
            std::abort();
        for (std::size_t i = 0; i < from.numbers.size() && i < to.numbers.size(); ++i)
            chips.wire(from.where, from.numbers[i], to.where, to.numbers[i]);
    }
    for (const std::string &held : items("FAKECHIP_HELD")) {
        const std::size_t colon = held.find(':');
        const std::size_t eq = held.find('=');
        chips.hold(held.substr(0, colon), std::stoul(held.substr(colon + 1, eq - colon - 1)),
                   held.substr(eq + 1));
    }
}

} // namespace

namespace vornel {

ChipIo &chip_io()
{
    static fakechip::FakeChips chips;
    static const bool ready = (set_up(chips), true);
    (void)ready;
    return chips;
}

} // namespace vornel

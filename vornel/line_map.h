// Which lines of a GPIO chip carry the bits of a 32-bit word, as a user
// writes it in a setting: "<chip>:<lines>", e.g. "gpiochip0:0-15,20,24-31".
#ifndef VORNEL_LINE_MAP_H
#define VORNEL_LINE_MAP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

struct LineMap {
    std::string chip;                   // "gpiochip0", or a path
    std::vector<std::uint32_t> offsets; // bit i of the word is line offsets[i]
};

// Parses @text into @map, with at most @max_lines lines. Returns an empty
// string on success, otherwise what is wrong with @text.
std::string parse_line_map(const std::string &text, std::size_t max_lines, LineMap &map);

// The device file of @chip: /dev/<chip>, or @chip itself if it is a path.
std::string chip_path(const std::string &chip);

} // namespace vornel

#endif

#include "line_map.h"

#include <cctype>

namespace vornel {
namespace {

constexpr std::uint32_t kMaxOffset = 65535; // far beyond any chip

std::string trim(const std::string &s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])) != 0)
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])) != 0)
        --e;
    return s.substr(b, e - b);
}

// A line offset: decimal digits only, no sign, not absurdly large.
bool parse_offset(const std::string &s, std::uint32_t &value)
{
    if (s.empty() || s.size() > 5)
        return false;
    std::uint32_t v = 0;
    for (const char c : s) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0)
            return false;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (v > kMaxOffset)
        return false;
    value = v;
    return true;
}

} // namespace

std::string parse_line_map(const std::string &text, std::size_t max_lines, LineMap &map)
{
    const std::string usage = "expected <chip>:<lines>, as in gpiochip0:0-15,20";
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return "'" + text + "': " + usage;
    LineMap parsed;
    parsed.chip = trim(text.substr(0, colon));
    if (parsed.chip.empty())
        return "'" + text + "': no chip named; " + usage;

    const std::string lines = text.substr(colon + 1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = lines.find(',', start);
        const std::string item = trim(
            lines.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const std::size_t dash = item.find('-');
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        const bool ok = dash == std::string::npos
                            ? parse_offset(item, first) && parse_offset(item, last)
                            : parse_offset(trim(item.substr(0, dash)), first) &&
                                  parse_offset(trim(item.substr(dash + 1)), last);
        if (!ok)
            return "'" + text + "': '" + item + "' is not a line number or a range such as 0-15";
        // A range may run downwards: 7-0 puts line 7 on bit 0.
        const int step = first <= last ? 1 : -1;
        for (std::uint32_t o = first;; o = static_cast<std::uint32_t>(static_cast<int>(o) + step)) {
            if (parsed.offsets.size() == max_lines)
                return "'" + text + "': more than " + std::to_string(max_lines) + " lines";
            parsed.offsets.push_back(o);
            if (o == last)
                break;
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    map = parsed;
    return {};
}

std::string chip_path(const std::string &chip)
{
    return chip.find('/') == std::string::npos ? "/dev/" + chip : chip;
}

} // namespace vornel

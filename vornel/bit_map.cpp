#include "bit_map.h"

#include "settings.h"
#include "text.h"

#include <algorithm>
#include <cctype>

namespace vornel {
namespace {

std::string trim(const std::string &s)
{
    return std::string(dio::trim(s));
}

} // namespace

bool parse_decimal(const std::string &text, std::uint32_t low, std::uint32_t high,
                   std::uint32_t &value)
{
    // Ten digits would overflow; more than nine are never meant here.
    if (text.empty() || text.size() > 9)
        return false;
    std::uint32_t v = 0;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0)
            return false;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (v < low || v > high)
        return false;
    value = v;
    return true;
}

std::string parse_bit_map(const std::string &text, BitMap &map, const char *example, bool names)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos && !names)
        return "'" + text + "': expected <name>:<list>, as in " + example;
    BitMap parsed;
    if (colon != std::string::npos) {
        parsed.where = trim(text.substr(0, colon));
        if (parsed.where.empty())
            return "'" + text + "': nothing named before ':'";
    }
    const auto digits = [](const std::string &s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    };
    const auto twice = [&](const std::string &what) {
        return "'" + text + "': " + what + " is named twice";
    };

    const std::string list = colon == std::string::npos ? text : text.substr(colon + 1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string item = trim(
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        // A range only when both sides are numbers, so names may hold a '-'.
        const std::size_t dash = item.find('-');
        const std::string low = dash == std::string::npos ? item : trim(item.substr(0, dash));
        const std::string high = dash == std::string::npos ? item : trim(item.substr(dash + 1));
        std::uint32_t first = 0;
        std::uint32_t last = 0;
        if (names && !(digits(low) && digits(high)) && !item.empty() &&
            std::all_of(item.begin(), item.end(),
                        [](char c) { return std::isprint(static_cast<unsigned char>(c)) != 0; })) {
            if (parsed.numbers.size() == kMaxBits)
                return "'" + text + "': more than " + std::to_string(kMaxBits) + " bits";
            if (std::find(parsed.names.begin(), parsed.names.end(), item) != parsed.names.end())
                return twice(item);
            parsed.numbers.push_back(0);
            parsed.names.push_back(item);
        } else if (!parse_decimal(low, 0, kMaxNumber, first) ||
                   !parse_decimal(high, 0, kMaxNumber, last)) {
            return "'" + text + "': '" + item +
                   "' is not a number 0-65535 or a range such as 0-15" +
                   (names ? ", nor a line's name" : "");
        } else if (parsed.where.empty()) {
            return "'" + text + "': a line number needs its chip, as in " + example;
        } else {
            // A range may run downwards: 7-0 puts 7 on bit 0.
            const int step = first <= last ? 1 : -1;
            for (std::uint32_t n = first;;
                 n = static_cast<std::uint32_t>(static_cast<int>(n) + step)) {
                if (parsed.numbers.size() == kMaxBits)
                    return "'" + text + "': more than " + std::to_string(kMaxBits) + " bits";
                for (std::size_t i = 0; i < parsed.numbers.size(); ++i) {
                    if (parsed.numbers[i] == n && parsed.names[i].empty())
                        return twice(std::to_string(n));
                }
                parsed.numbers.push_back(n);
                parsed.names.emplace_back();
                if (n == last)
                    break;
            }
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    map = parsed;
    return {};
}

std::string describe(const BitMap &map, const char *unit)
{
    std::string list;
    const auto named = [&map](std::size_t i) {
        return i < map.names.size() && !map.names[i].empty();
    };
    for (std::size_t i = 0; i < map.numbers.size(); ++i) {
        if (named(i)) {
            list += (list.empty() ? "" : ",") + map.names[i];
            continue;
        }
        // A run up or down, as far as the numbers go on by one.
        std::size_t last = i;
        const auto next = [&](std::size_t k, int step) {
            return k + 1 < map.numbers.size() && !named(k + 1) &&
                   static_cast<int>(map.numbers[k + 1]) - static_cast<int>(map.numbers[k]) == step;
        };
        const int step = next(i, 1) ? 1 : -1;
        while (next(last, step))
            ++last;
        list += (list.empty() ? "" : ",") + std::to_string(map.numbers[i]) +
                (last > i ? "-" + std::to_string(map.numbers[last]) : "");
        i = last;
    }
    std::string text;
    for (const std::string &part : {map.where, std::string(unit), list})
        text += text.empty() || part.empty() ? part : " " + part;
    return text;
}

std::string describe(const BitMap &outputs, const char *output_unit, const BitMap &inputs,
                     const char *input_unit)
{
    std::string text;
    if (!outputs.numbers.empty())
        text = describe(outputs, output_unit) + " out";
    if (!inputs.numbers.empty())
        text += (text.empty() ? "" : ", ") + describe(inputs, input_unit) + " in";
    return text;
}

Where where_of(const std::string &setting)
{
    const std::size_t colon = setting.find(':');
    if (colon == std::string::npos)
        return Where::chip;
    const std::string where = trim(setting.substr(0, colon));
    if (where == "coils" || where == "inputs")
        return Where::table;
    const bool number =
        !where.empty() && where.find_first_not_of("0123456789") == std::string::npos;
    return number ? Where::subdevice : Where::chip;
}

std::string parse_outputs_and_inputs(const Settings &settings, BitMap (&maps)[2],
                                     const char *example, bool names, MapCheck check)
{
    const char *setting[2] = {kDo, kDi};
    for (int i = 0; i < 2; ++i) {
        const std::string text = settings(setting[i]);
        if (text.empty())
            continue;
        std::string reason = parse_bit_map(text, maps[i], example, names);
        if (reason.empty() && check != nullptr)
            reason = check(text, maps[i]);
        if (!reason.empty())
            return std::string(setting[i]) + ": " + reason;
    }
    return {};
}

std::vector<std::pair<std::uint32_t, unsigned>> by_number(const BitMap &map)
{
    std::vector<std::pair<std::uint32_t, unsigned>> sorted;
    for (std::size_t i = 0; i < map.numbers.size(); ++i)
        sorted.emplace_back(map.numbers[i], static_cast<unsigned>(i));
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

} // namespace vornel

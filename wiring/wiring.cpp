#include "wiring.h"

#include "text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace dio::wiring {
namespace {

using dio::trim;

constexpr std::size_t kMaxFile = 1U << 20U; // far more than 32 lines need

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Whether @s begins with @word, in any case.
bool begins(std::string_view s, std::string_view word)
{
    if (s.size() < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
        if (c != word[i])
            return false;
    }
    return true;
}

bool is(std::string_view s, std::string_view word)
{
    return s.size() == word.size() && begins(s, word);
}

// Takes a decimal 0-31 off the front of @s, the number of a @what line.
bool take_line_number(std::string_view &s, unsigned &n, std::string &why, const char *what)
{
    std::size_t digits = 0;
    while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9')
        ++digits;
    if (digits == 0) {
        why = std::string("expected a number after ") + what;
        return false;
    }
    unsigned v = 0;
    for (std::size_t i = 0; i < digits && i < 3; ++i)
        v = v * 10 + static_cast<unsigned>(s[i] - '0');
    if (digits > 2 || v > 31) {
        why = std::string(what) + " " + std::string(s.substr(0, digits)) + " is beyond " + what +
              " 0-31";
        return false;
    }
    n = v;
    s.remove_prefix(digits);
    return true;
}

// "DO <n>" off the front of @s, spaces around it allowed.
bool take_output(std::string_view &s, unsigned &n, std::string &why)
{
    s = trim(s);
    if (!begins(s, "do")) {
        why = "expected DO <n>";
        return false;
    }
    s = trim(s.substr(2));
    return take_line_number(s, n, why, "DO");
}

constexpr const char *kReadings = "DO i, !DO i, low, high, DO a & DO b, DO a | DO b, "
                                  "intermittent, or depends on DO a, DO b";

bool parse_reading(std::string_view s, Reading &r, std::string &why)
{
    s = trim(s);
    if (is(s, "low") || is(s, "high") || is(s, "intermittent")) {
        r = {is(s, "low") ? Reads::low : is(s, "high") ? Reads::high : Reads::intermittent, 0};
        return true;
    }
    const std::string_view depends = "depends on";
    const bool other = begins(s, depends);
    const bool inverted = !other && !s.empty() && s.front() == '!';
    if (other)
        s.remove_prefix(depends.size());
    else if (inverted)
        s.remove_prefix(1);
    if (!begins(trim(s), "do")) {
        why = "'" + std::string(trim(s)) + "' is not a reading (" + kReadings + ")";
        return false;
    }
    char joint = 0; // between the outputs: '&', '|' or ','
    std::uint32_t outputs = 0;
    unsigned count = 0;
    for (;;) {
        unsigned n = 0;
        if (!take_output(s, n, why))
            return false;
        if ((outputs >> n & 1U) != 0) {
            why = "DO " + std::to_string(n) + " is named twice";
            return false;
        }
        outputs |= std::uint32_t{1} << n;
        ++count;
        s = trim(s);
        if (s.empty())
            break;
        const char c = s.front();
        if ((c != '&' && c != '|' && c != ',') || (joint != 0 && c != joint) ||
            (c == ',') != other || inverted) {
            why = "'" + std::string(s) + "' after DO " + std::to_string(n) + " is not part of " +
                  "a reading (" + kReadings + ")";
            return false;
        }
        joint = c;
        s.remove_prefix(1);
    }
    r.outputs = outputs;
    r.reads = other          ? Reads::other
              : inverted     ? Reads::invert
              : count == 1   ? Reads::follow
              : joint == '&' ? Reads::wired_and
                             : Reads::wired_or;
    return true;
}

} // namespace

const char *kind_name(Reads reads)
{
    switch (reads) {
    case Reads::follow:
        return "follow";
    case Reads::invert:
        return "invert";
    case Reads::low:
        return "low";
    case Reads::high:
        return "high";
    case Reads::wired_and:
        return "and";
    case Reads::wired_or:
        return "or";
    case Reads::intermittent:
        return "intermittent";
    case Reads::other:
        break;
    }
    return "other";
}

std::string text(const Reading &r)
{
    switch (r.reads) {
    case Reads::low:
    case Reads::high:
    case Reads::intermittent:
        return kind_name(r.reads);
    default:
        break;
    }
    const char *joint = r.reads == Reads::wired_and  ? " & "
                        : r.reads == Reads::wired_or ? " | "
                                                     : ", ";
    std::string t = r.reads == Reads::invert ? "!" : r.reads == Reads::other ? "depends on " : "";
    bool first = true;
    for (unsigned i = 0; i < 32; ++i) {
        if ((r.outputs >> i & 1U) == 0)
            continue;
        t += (first ? "DO " : std::string(joint) + "DO ") + std::to_string(i);
        first = false;
    }
    return t;
}

std::string parse(std::string_view text, Map &map)
{
    Map parsed;
    std::size_t number = 0;
    // A byte order mark, as editors on Windows write one.
    if (text.substr(0, 3) == "\xef\xbb\xbf")
        text.remove_prefix(3);
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        ++number;
        line = trim(line.substr(0, line.find('#')));
        const auto fail = [&](const std::string &why) {
            return "line " + std::to_string(number) + ": " + why;
        };
        // Besides DI lines, a map holds remarks and dio-map's verdict.
        if (line.empty() || is(line, "pass") || is(line, "fail"))
            continue;
        if (!begins(line, "di") || line.size() < 3 ||
            !(is_space(line[2]) || (line[2] >= '0' && line[2] <= '9'))) {
            std::string shown(line.substr(0, 40));
            for (char &c : shown)
                c = static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f
                        ? '?'
                        : c;
            return fail("'" + shown + (line.size() > 40 ? "...'" : "'") +
                        " is not a line of a map (DI <n>: <reading>, a remark after #, PASS or "
                        "FAIL)");
        }
        std::string why;
        std::string_view rest = trim(line.substr(2));
        unsigned di = 0;
        if (!take_line_number(rest, di, why, "DI"))
            return fail(why);
        rest = trim(rest);
        if (rest.empty() || rest.front() != ':')
            return fail("expected DI " + std::to_string(di) + ": <reading>");
        Reading r;
        if (!parse_reading(rest.substr(1), r, why))
            return fail(why);
        if ((parsed.named >> di & 1U) != 0)
            return fail("DI " + std::to_string(di) + " is named twice");
        parsed.di[di] = r;
        parsed.named |= std::uint32_t{1} << di;
    }
    map = parsed;
    return {};
}

std::string read_file(const std::string &path, Map &map)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return path + ": " + std::strerror(errno);
    std::vector<char> bytes(kMaxFile + 1);
    const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return path + ": cannot be read";
    if (n > kMaxFile)
        return path + ": larger than any map (over 1 MiB)";
    const std::string why = parse(std::string_view(bytes.data(), n), map);
    return why.empty() ? why : path + ": " + why;
}

std::uint32_t inputs(const Map &map, std::uint32_t pattern)
{
    std::uint32_t word = 0;
    for (unsigned j = 0; j < 32; ++j) {
        const Reading &r = map.di[j];
        const std::uint32_t driven = pattern & r.outputs;
        bool level = false;
        switch (r.reads) {
        case Reads::follow:
        case Reads::wired_or:
            level = driven != 0;
            break;
        case Reads::invert:
            level = driven == 0;
            break;
        case Reads::high:
            level = true;
            break;
        case Reads::wired_and:
            level = r.outputs != 0 && driven == r.outputs;
            break;
        default:
            break;
        }
        word |= static_cast<std::uint32_t>(level) << j;
    }
    return word;
}

} // namespace dio::wiring

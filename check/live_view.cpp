#include "live_view.h"

#include "bits.h"

#include <cinttypes>
#include <cstdio>

namespace dio_check {

using dio::has;

namespace {

constexpr const char *kRed = "\x1b[1;31m";
constexpr const char *kDim = "\x1b[2m";
constexpr const char *kPlain = "\x1b[0m";
constexpr const char *kIndent = "        ";

// One row of 32 cells, bit 31 first, a space between bytes. @cell gives a
// bit's character; @colour_of its colour (or nullptr).
template <typename Cell, typename Colour> std::string row(Cell cell, Colour colour_of, bool colour)
{
    std::string text;
    const char *current = nullptr;
    for (int bit = 31; bit >= 0; --bit) {
        const char *want = colour ? colour_of(bit) : nullptr;
        if (want != current) {
            text += want != nullptr ? want : kPlain;
            current = want;
        }
        text += cell(bit);
        if (bit % 8 == 0 && bit != 0)
            text += ' ';
    }
    if (current != nullptr)
        text += kPlain;
    return text;
}

} // namespace

std::string render_heading()
{
    return std::string(kIndent) + "   31    24 23    16 15     8 7      0\n";
}

std::string render_line(std::uint64_t number, Sample s, std::uint32_t wrong, std::uint32_t wired,
                        const ViewStyle &style)
{
    const auto bits = [](std::uint32_t word) {
        return [word](int bit) { return has(word, bit) ? '1' : '0'; };
    };
    const auto dim_unwired = [wired](int bit) { return has(wired, bit) ? nullptr : kDim; };
    const auto mark_wrong = [wired, wrong](int bit) {
        return has(wrong, bit) ? kRed : has(wired, bit) ? nullptr : kDim;
    };

    char label[32];
    std::snprintf(label, sizeof label, "%-7" PRIu64 " ", number);
    std::string text = label;
    text += "do " + row(bits(s.out), dim_unwired, style.colour) + '\n';
    text += std::string(kIndent) + "di " + row(bits(s.in), mark_wrong, style.colour) + '\n';
    if (wrong != 0) {
        const auto marks = [wrong](int bit) { return has(wrong, bit) ? '^' : ' '; };
        const auto red = [](int) { return kRed; };
        std::string marked = row(marks, red, style.colour);
        // No trailing blanks.
        const std::size_t last = marked.find_last_not_of(' ');
        if (!style.colour)
            marked.erase(last + 1);
        text += std::string(kIndent) + "   " + marked + '\n';
    }
    return text;
}

std::string render_tally(std::uint64_t lines, std::uint64_t failing, const ViewStyle &style)
{
    char text[96];
    std::snprintf(text, sizeof text, "%" PRIu64 " line%s, %" PRIu64 " failing", lines,
                  lines == 1 ? "" : "s", failing);
    std::string out;
    if (style.colour && failing != 0)
        out = std::string(kRed) + text + kPlain;
    else
        out = text;
    return style.redraw ? out : out + '\n';
}

std::string erase_tally(const ViewStyle &style)
{
    return style.redraw ? "\r\x1b[K" : "";
}

} // namespace dio_check

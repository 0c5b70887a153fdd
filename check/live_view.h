// The live view on a terminal: each report line as 32 output and 32 input
// bits, the inputs that disagree marked, and a running tally below.
#ifndef DIO_CHECK_LIVE_VIEW_H
#define DIO_CHECK_LIVE_VIEW_H

#include "report.h"

#include <cstdint>
#include <string>

namespace dio_check {

struct ViewStyle {
    bool colour = false; // ANSI colours (off with NO_COLOR)
    bool redraw = false; // the tally is redrawn in place, not repeated
};

// Bit numbers over the columns of render_line().
std::string render_heading();

// Report line @number: "do" and "di" rows of bits, 31 first, grouped by
// eight; the bits in @wrong are marked with '^' in a third row (and in
// colour); bits outside @wired are dimmed when in colour.
std::string render_line(std::uint64_t number, Sample s, std::uint32_t wrong, std::uint32_t wired,
                        const ViewStyle &style);

// "12 lines, 3 failing", to be shown under the last line.
std::string render_tally(std::uint64_t lines, std::uint64_t failing, const ViewStyle &style);

// What takes the tally off the screen again before anything else is shown.
std::string erase_tally(const ViewStyle &style);

} // namespace dio_check

#endif

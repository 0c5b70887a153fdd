// One run of dio-check: reads a report, judges each input line, draws the
// lines on a terminal as they come, writes the result files asked for and
// prints the summary.
#ifndef DIO_CHECK_CHECKER_H
#define DIO_CHECK_CHECKER_H

#include "metrics.h"
#include "verdict.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dio_check {

struct Options {
    std::string input = "-"; // a saved report, or - for standard input
    std::uint64_t limit = 0; // report lines to judge; 0: up to the end
    std::uint32_t wired = 0xffffffffU;
    Expect expect = Expect::follow;
    std::string vcd;     // a waveform to write too
    std::string junit;   // a JUnit file to write too
    std::string metrics; // Prometheus metrics to keep, a name ending in .prom
    std::vector<Label> labels;
};

// Checks the report @o names; returns the exit status: 0 every judged
// line ok, 1 not, 2 when the input was not a report, was cut short of
// --lines, or a file could not be read or written.
int check(const Options &o);

} // namespace dio_check

#endif

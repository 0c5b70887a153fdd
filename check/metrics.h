// dio-check's counts in Prometheus' text format, for node_exporter's
// textfile collector: a burn-in watched from one Prometheus.
#ifndef DIO_CHECK_METRICS_H
#define DIO_CHECK_METRICS_H

#include "verdict.h"

#include <string>
#include <vector>

namespace dio_check {

// One more label on every series, from --metrics-label NAME=VALUE.
struct Label {
    std::string name;
    std::string value;
};

// Reads "NAME=VALUE" into @label: a name by Prometheus' rules, not one of
// its own (__...) nor "di", which dio-check uses. Returns "" or why not.
std::string parse_label(const std::string &text, Label &label);

// The whole file for the lines so far, the last at @last_line_seconds
// (since the epoch; 0 before the first). No sample has a timestamp.
std::string render_metrics(const Tally &tally, const std::vector<Label> &labels,
                           double last_line_seconds);

} // namespace dio_check

#endif

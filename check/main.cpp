// dio-check: reads dio-exerciser's report and says, for each input line,
// whether it follows its output. Shows the lines live on a terminal and
// can write them as a waveform, a JUnit file and Prometheus metrics.

#include "checker.h"
#include "cli.h"

#include <exception>
#include <string>
#include <vector>

namespace {

using dio::kTrouble;

// Reads the command line into @o. Returns -1 to go on, or the exit status.
int parse_options(int argc, char **argv, dio_check::Options &o)
{
    CLI::App app{"Reads dio-exerciser's report and says, for each input line (DI), whether it "
                 "follows its output (DO).\nExit status: 0 all judged lines ok, 1 any not (or too "
                 "few lines), 2 the input was not a report, it ended before --lines, a file "
                 "could not be read or written, or an option was wrong.",
                 "dio-check"};
    app.set_version_flag("--version", "dio-check " DIO_CHECK_VERSION);
    app.add_option("report", o.input, "The report: a saved log, or - for standard input (default)");
    app.add_option("--lines", o.limit, "Stop after N report lines and give the verdict")
        ->type_name("N")
        ->check(CLI::Validator(
            [](std::string &text) {
                return !text.empty() && text.size() <= 18 &&
                               text.find_first_not_of("0123456789") == std::string::npos &&
                               text.find_first_not_of('0') != std::string::npos
                           ? std::string()
                           : "'" + text + "' is not a whole number of lines, 1 or more";
            },
            ""));
    dio::add_mask_option(app, "--wired", o.wired,
                         "Judge only these DI lines, a hex mask (default ffffffff)");
    std::string expect = "follow";
    app.add_option("--expect", expect,
                   "follow: each DI reads its DO (a loopback plug, the default); inverted: the "
                   "opposite (inputs that invert)")
        ->type_name("follow|inverted")
        ->check(CLI::IsMember({"follow", "inverted"}).description(""));
    app.add_option("--vcd", o.vcd, "Also write the run as a Value Change Dump waveform")
        ->type_name("FILE");
    app.add_option("--junit", o.junit,
                   "Also write the verdict as JUnit XML, one test case per judged DI line")
        ->type_name("FILE");
    app.add_option("--metrics", o.metrics,
                   "Keep Prometheus metrics in FILE (ending in .prom), rewritten after every "
                   "report line, for node_exporter's textfile collector")
        ->type_name("FILE");
    std::vector<std::string> labels;
    app.add_option("--metrics-label", labels,
                   "Add this label to every series, as in jig=3 (may be given again)")
        ->type_name("NAME=VALUE");
    app.footer("On a terminal, each report line is drawn as its 32 DO and DI bits, wrong "
               "inputs in red and marked with ^, with a running tally; NO_COLOR turns the "
               "colours off and TERM=dumb all escape codes. Elsewhere only the summary is "
               "printed.");
    const int parsed = dio::parse_command_line(app, argc, argv, "one report at most");
    if (parsed >= 0)
        return parsed;
    o.expect = expect == "inverted" ? dio_check::Expect::inverted : dio_check::Expect::follow;
    for (const std::string &text : labels) {
        dio_check::Label label;
        const std::string why = dio_check::parse_label(text, label);
        if (!why.empty()) {
            dio::complain("--metrics-label " + why + " (--help lists the options)");
            return kTrouble;
        }
        o.labels.push_back(label);
    }
    const std::string prom = ".prom";
    if (!o.metrics.empty() &&
        (o.metrics.size() <= prom.size() ||
         o.metrics.compare(o.metrics.size() - prom.size(), prom.size(), prom) != 0)) {
        dio::complain("--metrics " + o.metrics +
                      ": give a name ending in .prom, the only files node_exporter's textfile "
                      "collector reads (--help lists the options)");
        return kTrouble;
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    dio::set_tool_name("dio-check");
    try {
        dio_check::Options o;
        const int parsed = parse_options(argc, argv, o);
        return parsed >= 0 ? parsed : dio_check::check(o);
    } catch (const std::exception &e) {
        dio::complain(e.what());
        return kTrouble;
    }
}

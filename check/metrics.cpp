#include "metrics.h"

#include <cinttypes>
#include <cstdio>

namespace dio_check {
namespace {

bool is_name_start(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// "{jig="3",di="5"}": the labels, with \, " and line feeds escaped.
std::string label_set(const std::vector<Label> &labels, const std::string &di)
{
    std::string set;
    const auto add = [&set](const std::string &name, const std::string &value) {
        set += (set.empty() ? "{" : ",") + name + "=\"";
        for (const char c : value)
            set += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
        set += '"';
    };
    for (const Label &l : labels)
        add(l.name, l.value);
    if (!di.empty())
        add("di", di);
    return set.empty() ? set : set + "}";
}

void family(std::string &out, const char *name, const char *type, const char *help)
{
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string number(std::uint64_t n)
{
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIu64, n);
    return text;
}

} // namespace

std::string parse_label(const std::string &text, Label &label)
{
    const std::size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    bool fits = !name.empty() && is_name_start(name[0]);
    for (const char c : name)
        fits = fits && (is_name_start(c) || (c >= '0' && c <= '9'));
    if (equals == std::string::npos)
        return "'" + text + "': give NAME=VALUE, as in jig=3";
    if (!fits)
        return "'" + name + "' is not a label name (letters, digits and _, not first a digit)";
    if (name.rfind("__", 0) == 0 || name == "di")
        return "'" + name + "' is a label of Prometheus' or of dio-check's own";
    label = {name, text.substr(equals + 1)};
    return {};
}

std::string render_metrics(const Tally &tally, const std::vector<Label> &labels,
                           double last_line_seconds)
{
    const std::string plain = label_set(labels, "");
    std::string out;
    family(out, "dio_check_report_lines_total", "counter", "Report lines read.");
    out += "dio_check_report_lines_total" + plain + " " + number(tally.lines()) + "\n";
    family(out, "dio_check_failing_report_lines_total", "counter",
           "Report lines with at least one judged input wrong.");
    out +=
        "dio_check_failing_report_lines_total" + plain + " " + number(tally.failing_lines()) + "\n";
    family(out, "dio_check_input_wrong_total", "counter",
           "Report lines in which this judged input was not as expected.");
    std::string ok;
    for (unsigned int i = 0; i < 32; ++i) {
        if ((tally.wired() >> i & 1U) == 0)
            continue;
        const std::string set = label_set(labels, std::to_string(i));
        out += "dio_check_input_wrong_total" + set + " " + number(tally.wrong_count(i)) + "\n";
        ok += "dio_check_input_ok" + set + (tally.wrong_count(i) == 0 ? " 1\n" : " 0\n");
    }
    family(out, "dio_check_input_ok", "gauge",
           "1 while this judged input has been as expected in every line so far, else 0.");
    out += ok;
    family(out, "dio_check_last_report_line_timestamp_seconds", "gauge",
           "When the last report line arrived, in seconds since the epoch.");
    char when[48];
    std::snprintf(when, sizeof when, " %.3f\n", last_line_seconds);
    out += "dio_check_last_report_line_timestamp_seconds" + plain + when;
    return out;
}

} // namespace dio_check

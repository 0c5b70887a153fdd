#include "junit.h"

#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace dio {
namespace {

std::string host_name()
{
    char name[256] = {};
#if defined(_WIN32)
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size) == 0)
        return "localhost";
#else
    if (gethostname(name, sizeof name - 1) != 0)
        return "localhost";
#endif
    return name;
}

std::string attribute(const char *name, const std::string &value)
{
    return std::string(" ") + name + "=\"" + xml_escaped(value) + "\"";
}

} // namespace

std::string xml_escaped(std::string_view s)
{
    std::string out;
    for (const char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' ? '?' : c;
        }
    }
    return out;
}

std::string junit_xml(const std::string &suite, const std::vector<TestCase> &cases,
                      std::time_t started, double seconds)
{
    unsigned counts[4] = {};
    for (const TestCase &c : cases)
        ++counts[static_cast<int>(c.outcome)];
    char when[32] = "1970-01-01T00:00:00";
    std::tm utc{};
#if defined(_WIN32)
    const bool known = gmtime_s(&utc, &started) == 0;
#else
    const bool known = gmtime_r(&started, &utc) != nullptr;
#endif
    if (known)
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &utc);
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite" +
                      attribute("name", suite) + attribute("tests", std::to_string(cases.size())) +
                      attribute("failures", std::to_string(counts[1])) +
                      attribute("errors", std::to_string(counts[2])) +
                      attribute("skipped", std::to_string(counts[3])) + attribute("time", time) +
                      attribute("timestamp", when) + attribute("hostname", host_name()) + ">\n";
    static const char *const kElements[] = {"", "failure", "error", "skipped"};
    for (const TestCase &c : cases) {
        xml += "  <testcase" + attribute("name", c.name) + attribute("classname", c.classname);
        if (c.outcome == TestCase::Outcome::passed) {
            xml += "/>\n";
            continue;
        }
        const char *element = kElements[static_cast<int>(c.outcome)];
        xml += ">\n    <" + std::string(element) + attribute("message", c.message);
        if (!c.type.empty())
            xml += attribute("type", c.type);
        xml += c.text.empty() ? "/>\n"
                              : ">" + xml_escaped(c.text) + "</" + std::string(element) + ">\n";
        xml += "  </testcase>\n";
    }
    return xml + "</testsuite>\n";
}

} // namespace dio

// A run as JUnit XML, the form test runners read (Jenkins, GitLab): one
// <testsuite> per run, one <testcase> per judged input line.
#ifndef DIO_COMMON_JUNIT_H
#define DIO_COMMON_JUNIT_H

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace dio {

struct TestCase {
    enum class Outcome { passed, failure, error, skipped };
    std::string name;      // "DI 5"
    std::string classname; // "dio-check", "dio-map.board1"
    Outcome outcome = Outcome::passed;
    std::string message; // the verdict as the tool prints it
    std::string type;    // a word for the kind of fault
    std::string text;    // the detail
};

// @s with &, <, >, " and ' as XML entities; control characters other
// than tab and line feed, which XML 1.0 cannot hold, as '?'.
std::string xml_escaped(std::string_view s);

// The whole document for the run of @suite that began at @started and took
// @seconds, on this machine.
std::string junit_xml(const std::string &suite, const std::vector<TestCase> &cases,
                      std::time_t started, double seconds);

} // namespace dio

#endif

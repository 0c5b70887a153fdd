#include "cli.h"

#include <cstdio>
#include <cstdlib>

namespace dio {
namespace {

const char *tool = "dio";

} // namespace

void set_tool_name(const char *name)
{
    tool = name;
}

const char *tool_name()
{
    return tool;
}

bool parse_mask(const std::string &text, std::uint32_t &mask)
{
    const std::size_t p = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 2 : 0;
    const std::size_t digits = text.size() - p;
    if (digits == 0 || digits > 8 ||
        text.find_first_not_of("0123456789abcdefABCDEF", p) != std::string::npos)
        return false;
    mask = static_cast<std::uint32_t>(std::strtoul(text.c_str() + p, nullptr, 16));
    return mask != 0;
}

void add_mask_option(CLI::App &app, const std::string &name, std::uint32_t &mask,
                     const std::string &description)
{
    // The check runs before the function: only a good mask reaches it. No
    // name for the check: CLI11 would show it beside the option's in --help.
    const CLI::Validator check{[](std::string &text) {
                                   std::uint32_t m = 0;
                                   return parse_mask(text, m) ? std::string()
                                                              : "'" + text +
                                                                    "' is not a mask of 1 to 8 "
                                                                    "hex digits with a bit set";
                               },
                               ""};
    app.add_option_function<std::string>(
           name, [&mask](const std::string &text) { parse_mask(text, mask); }, description)
        ->type_name("MASK")
        ->check(check);
}

void add_board_option(CLI::App &app, std::int32_t &board)
{
    app.add_option("--board", board, "The board's number (default 1)")
        ->type_name("N")
        ->check(CLI::Range(0, 2147483647).description(""));
}

std::string did_not_open(std::int32_t board)
{
    return "board " + std::to_string(board) +
           " did not open (with the stand-in board library, VORNEL_VERBOSE=1 says why)";
}

void complain(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
}

int parse_command_line(CLI::App &app, int argc, char **argv, const char *extra)
{
    // Extras are named here: CLI11 would list them all and in no useful
    // order ("log.txt --line" for "--line 4 log.txt").
    app.allow_extras();
    std::string wrong;
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        wrong = e.what();
        // "--lines: 1 required N missing", as a user would say it.
        const std::size_t required = wrong.find(": 1 required ");
        if (required != std::string::npos && wrong.size() > 8 &&
            wrong.compare(wrong.size() - 8, 8, " missing") == 0)
            wrong = wrong.substr(0, required) + " needs a value, " +
                    wrong.substr(required + 13, wrong.size() - 8 - required - 13);
    }
    if (wrong.empty() && !app.remaining().empty()) {
        wrong = std::string(extra) + ": '" + app.remaining().front() + "'";
        for (const std::string &arg : app.remaining()) {
            if (arg.size() > 1 && arg[0] == '-') {
                wrong = "unknown option '" + arg + "'";
                break;
            }
        }
    }
    if (wrong.empty())
        return -1;
    complain(wrong + " (--help lists the options)");
    return kTrouble;
}

} // namespace dio

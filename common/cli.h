// What dio-check and dio-map share on their command lines: masks written
// the same way, and one form for every wrong option.
#ifndef DIO_COMMON_CLI_H
#define DIO_COMMON_CLI_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

namespace dio {

// "ffff", "0xFFFF": a mask of 1 to 8 hex digits, not 0.
bool parse_mask(const std::string &text, std::uint32_t &mask);

// Checks an option's value with parse_mask(), for CLI11.
CLI::Validator mask_check();

// Writes "<tool>: <message>" to standard error, after what standard
// output holds.
void complain(const char *tool, const std::string &message);

// Parses the command line into @app; @extra says what a word that is not
// an option may not be ("one report at most"). Returns -1 to go on, or the
// exit status: 0 after --help or --version, 2 after a wrong option, which
// gets one line "<tool>: ... (--help lists the options)".
int parse_command_line(CLI::App &app, int argc, char **argv, const char *tool, const char *extra);

} // namespace dio

#endif

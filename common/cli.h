// What the tools share on their command lines: their name in every
// message, masks written the same way, one form for every wrong option,
// and one status for trouble.
#ifndef DIO_COMMON_CLI_H
#define DIO_COMMON_CLI_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

namespace dio {

// The status of a run that could not do its work: a wrong option, a board
// that did not open, a write refused, a file that could not be read or
// written.
constexpr int kTrouble = 2;

// Names the tool in its messages: set once, at its start.
void set_tool_name(const char *name);
const char *tool_name();

// "ffff", "0xFFFF": a mask of 1 to 8 hex digits, not 0.
bool parse_mask(const std::string &text, std::uint32_t &mask);

// A hex-mask option (MASK, checked with parse_mask()) that sets @mask when
// given; @mask keeps its default otherwise.
void add_mask_option(CLI::App &app, const std::string &name, std::uint32_t &mask,
                     const std::string &description);

// --board N, the board's number, into @board.
void add_board_option(CLI::App &app, std::int32_t &board);

// "board 1 did not open (...)", with where the stand-in says why.
std::string did_not_open(std::int32_t board);

// Writes "<tool>: <message>" to standard error, after what standard
// output holds.
void complain(const std::string &message);

// Parses the command line into @app; @extra says what a word that is not
// an option may not be ("one report at most"). Returns -1 to go on, or the
// exit status: 0 after --help or --version, kTrouble after a wrong option,
// which gets one line "<tool>: ... (--help lists the options)".
int parse_command_line(CLI::App &app, int argc, char **argv, const char *extra);

} // namespace dio

#endif

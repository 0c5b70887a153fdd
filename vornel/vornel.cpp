// Vornel, the stand-in board library: the three operations that
// dio-exerciser calls, for machines without the board maker's library.
//
// Board 1 is a simulated board with a loopback plug, or, on Linux, lines of
// GPIO chips, as the environment says (see README.md, "The stand-in board
// library"). Every other board number fails to open.

#include "board.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(__linux__)
#include "gpio_board.h"
#endif

namespace {

enum class Kind { None, Loopback, Gpio };

struct Board {
    Kind kind = Kind::None;
    std::uint32_t last_written = 0; // what the loopback plug feeds back
};

Board board1;

std::string setting(const char *name)
{
    const char *v = std::getenv(name);
    return v != nullptr ? v : "";
}

// Says why something failed, but only when asked to: the program's own
// output is a contract and stays clean by default.
void report(const std::string &reason)
{
    const std::string v = setting("VORNEL_VERBOSE");
    if (!v.empty() && v != "0")
        std::fprintf(stderr, "vornel: %s\n", reason.c_str());
}

#if defined(__linux__)
vornel::GpioBoard &gpio()
{
    static vornel::GpioBoard board(vornel::chip_io());
    return board;
}

// Reads the setting @name, if given, into @map.
bool parse_lines(const char *name, const std::string &text, vornel::LineMap &map)
{
    const std::string reason = text.empty() ? "" : vornel::parse_line_map(text, 32, map);
    if (!reason.empty())
        report(std::string(name) + ": " + reason);
    return reason.empty();
}

// The lines of board 1, from VORNEL_BOARD1_DO and VORNEL_BOARD1_DI.
bool open_gpio(const std::string &outputs, const std::string &inputs)
{
    vornel::LineMap out;
    vornel::LineMap in;
    if (!parse_lines("VORNEL_BOARD1_DO", outputs, out) ||
        !parse_lines("VORNEL_BOARD1_DI", inputs, in))
        return false;
    // Other tools show who holds the lines: the program, by its name.
    const std::string reason = gpio().open(out, in, program_invocation_short_name);
    if (!reason.empty()) {
        report(reason);
        return false;
    }
    return true;
}
#endif

Kind open_board(std::int32_t device)
{
    if (device != 1) {
        report("board " + std::to_string(device) + " does not exist (only board 1 does)");
        return Kind::None;
    }
    const std::string kind = setting("VORNEL_BOARD1");
    const std::string outputs = setting("VORNEL_BOARD1_DO");
    const std::string inputs = setting("VORNEL_BOARD1_DI");
    const bool lines_named = !outputs.empty() || !inputs.empty();

    if (kind == "gpio" || (kind.empty() && lines_named)) {
        if (!lines_named) {
            report("VORNEL_BOARD1=gpio: name the lines in VORNEL_BOARD1_DO and VORNEL_BOARD1_DI");
            return Kind::None;
        }
#if defined(__linux__)
        return open_gpio(outputs, inputs) ? Kind::Gpio : Kind::None;
#else
        report("GPIO boards need Linux");
        return Kind::None;
#endif
    }
    if (lines_named) {
        report("VORNEL_BOARD1=" + kind + " does not go with VORNEL_BOARD1_DO or _DI");
        return Kind::None;
    }
    if (kind.empty() || kind == "loopback")
        return Kind::Loopback;
    if (kind == "absent")
        report("board 1 is absent (VORNEL_BOARD1=absent)");
    else
        report("VORNEL_BOARD1=" + kind + ": use loopback, gpio or absent");
    return Kind::None;
}

} // namespace

extern "C" {

KESTOR_API std::int32_t Kestor_OpenDevice(std::int32_t device)
{
    const Kind kind = open_board(device);
    if (device == 1) {
#if defined(__linux__)
        if (kind != Kind::Gpio)
            gpio().release();
#endif
        board1.kind = kind;
    }
    return kind != Kind::None ? 0 : -1;
}

// 0, or negative when the board is not open or a write was refused.
KESTOR_API std::int32_t Kestor_DOAll(std::int32_t device, std::uint32_t pattern)
{
    if (device != 1 || board1.kind == Kind::None)
        return -1;
#if defined(__linux__)
    if (board1.kind == Kind::Gpio) {
        std::string reason;
        const int result = gpio().write(pattern, reason);
        if (result < 0)
            report(reason);
        return result;
    }
#endif
    board1.last_written = pattern;
    return 0;
}

// Inputs that cannot be read read 0, as do inputs with no line.
KESTOR_API std::uint32_t Kestor_DIAll(std::int32_t device)
{
    if (device != 1 || board1.kind == Kind::None)
        return 0;
#if defined(__linux__)
    if (board1.kind == Kind::Gpio) {
        std::string reason;
        const std::uint32_t word = gpio().read(reason);
        if (!reason.empty())
            report(reason);
        return word;
    }
#endif
    return board1.last_written;
}

} // extern "C"

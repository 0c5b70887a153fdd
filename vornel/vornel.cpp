// Vornel, the stand-in board library: the three operations that
// dio-exerciser calls, for machines without the board maker's library.
//
// Board 1 is a simulated board with a loopback plug, lines of GPIO chips, a
// Modbus remote I/O module or a comedi card, as the environment says (see
// README.md, "The stand-in board library"). Every other board number fails
// to open. This file only reads the settings and picks the kind of board;
// each kind lives in a file of its own behind io_board.h.

#include "board.h"
#include "io_board.h"
#include "loopback_board.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(__linux__)
#include "gpio_board.h"
#endif
#if defined(VORNEL_HAVE_MODBUS)
#include "modbus_board.h"
#endif
#if defined(VORNEL_HAVE_COMEDI)
#include "comedi_board.h"
#endif

namespace {

vornel::IoBoard *board1 = nullptr; // while it is open

std::string setting(const char *name)
{
    const char *v = std::getenv(name);
    return v != nullptr ? v : "";
}

// VORNEL_VERBOSE is off when unset, empty, or a usual word for off, in any
// case; any other value turns it on, so that a typo never hides a reason.
bool verbose()
{
    std::string v = setting("VORNEL_VERBOSE");
    for (char &c : v)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return !(v.empty() || v == "0" || v == "no" || v == "false" || v == "off");
}

// Says why something failed, but only when asked to: the program's own
// output is a contract and stays clean by default.
void report(const std::string &reason)
{
    if (!verbose())
        return;
    // A setting may hold any byte: each reason stays one line of text.
    std::string line;
    for (const char c : reason) {
        const auto u = static_cast<unsigned char>(c);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
        line += u < 0x20 || u == 0x7f ? escaped : std::string(1, c);
    }
    std::fprintf(stderr, "vornel: %s\n", line.c_str());
}

// The kind of board the settings ask for, or null and why not.
vornel::IoBoard *pick(std::string &reason)
{
    const std::string kind = setting("VORNEL_BOARD1");
    const bool module_named = !setting("VORNEL_BOARD1_MODBUS").empty();
    const bool card_named = !setting("VORNEL_BOARD1_COMEDI").empty();
    const bool lines_named =
        !setting("VORNEL_BOARD1_DO").empty() || !setting("VORNEL_BOARD1_DI").empty();

    if (module_named && card_named) {
        reason = "VORNEL_BOARD1_MODBUS and VORNEL_BOARD1_COMEDI name two boards: keep one";
        return nullptr;
    }
    if (kind == "comedi" || (kind.empty() && card_named)) {
#if defined(VORNEL_HAVE_COMEDI)
        static vornel::ComediBoard comedi(vornel::comedi_io());
        return &comedi;
#elif defined(__linux__)
        reason = "this board library was built without comedi boards (DIO_COMEDI=OFF)";
        return nullptr;
#else
        reason = "comedi boards need Linux (comedilib)";
        return nullptr;
#endif
    }
    if (card_named) {
        reason = "VORNEL_BOARD1=" + kind + " does not go with VORNEL_BOARD1_COMEDI";
        return nullptr;
    }

    if (kind == "modbus" || (kind.empty() && module_named)) {
#if defined(VORNEL_HAVE_MODBUS)
        static vornel::ModbusBoard modbus;
        return &modbus;
#else
        reason = "this board library was built without Modbus boards (DIO_MODBUS=OFF)";
        return nullptr;
#endif
    }
    if (module_named) {
        reason = "VORNEL_BOARD1=" + kind + " does not go with VORNEL_BOARD1_MODBUS";
        return nullptr;
    }
    if (kind.empty() && lines_named) {
        // coils: and inputs: are Modbus words, never a GPIO chip's name.
        for (const char *name : {"VORNEL_BOARD1_DO", "VORNEL_BOARD1_DI"}) {
            const std::string value = setting(name);
            if (value.rfind("coils:", 0) == 0 || value.rfind("inputs:", 0) == 0) {
                reason = std::string(name) + "=" + value +
                         ": coils and inputs are on a Modbus module; name it in "
                         "VORNEL_BOARD1_MODBUS";
                return nullptr;
            }
        }
    }
    if (kind == "gpio" || (kind.empty() && lines_named)) {
#if defined(__linux__)
        static vornel::GpioBoard gpio(vornel::chip_io());
        return &gpio;
#else
        reason = "GPIO boards need Linux";
        return nullptr;
#endif
    }
    if (lines_named) {
        reason = "VORNEL_BOARD1=" + kind + " does not go with VORNEL_BOARD1_DO or _DI";
        return nullptr;
    }
    if (kind.empty() || kind == "loopback") {
        static vornel::LoopbackBoard loopback;
        return &loopback;
    }
    if (kind == "absent")
        reason = "board 1 is absent (VORNEL_BOARD1=absent)";
    else
        reason = "VORNEL_BOARD1=" + kind + ": use loopback, gpio, modbus, comedi or absent";
    return nullptr;
}

} // namespace

extern "C" {

KESTOR_API std::int32_t Kestor_OpenDevice(std::int32_t device)
{
    if (device != 1) {
        report("board " + std::to_string(device) + " does not exist (only board 1 does)");
        return -1;
    }
    if (board1 != nullptr)
        board1->release();
    board1 = nullptr;
    std::string reason;
    vornel::IoBoard *board = pick(reason);
    if (board != nullptr)
        reason = board->open(setting);
    if (!reason.empty()) {
        report(reason);
        return -1;
    }
    board1 = board;
    return 0;
}

// 0, or negative when the board is not open or the write failed.
KESTOR_API std::int32_t Kestor_DOAll(std::int32_t device, std::uint32_t pattern)
{
    if (device != 1 || board1 == nullptr)
        return -1;
    std::string reason;
    const int result = board1->write(pattern, reason);
    if (!reason.empty())
        report(reason);
    return result;
}

// Inputs that cannot be read read 0, as do inputs with no line.
KESTOR_API std::uint32_t Kestor_DIAll(std::int32_t device)
{
    if (device != 1 || board1 == nullptr)
        return 0;
    std::string reason;
    const std::uint32_t word = board1->read(reason);
    if (!reason.empty())
        report(reason);
    return word;
}

} // extern "C"

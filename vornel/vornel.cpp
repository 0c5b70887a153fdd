// Vornel, the stand-in board library: the three operations that
// dio-exerciser calls, for machines without the board maker's library.
//
// Board 1 is a simulated board with a loopback plug, lines of GPIO chips, a
// Modbus remote I/O module or a comedi card, as the environment says (see
// doc/boards.md, "The stand-in board library"). Every other board number fails
// to open. This file only reads the settings and picks the kind of board;
// each kind lives in a file of its own behind io_board.h.

#include "bit_map.h"
#include "board.h"
#include "io_board.h"
#include "loopback_board.h"
#include "settings.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__linux__)
#include "gpio_board.h"
#endif
#if !defined(_WIN32)
#include <unistd.h> // environ
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
    std::string v = setting(vornel::kVerbose);
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

// The names of the environment's variables.
std::vector<std::string> environment_names()
{
#if defined(_WIN32)
    char **entries = _environ;
#else
    char **entries = environ;
#endif
    std::vector<std::string> names;
    for (char **e = entries; e != nullptr && *e != nullptr; ++e) {
        const char *equals = std::strchr(*e, '=');
        // Windows keeps its per-drive folders as "=C:=C:\...".
        if (equals != nullptr && equals != *e && equals[1] != '\0')
            names.emplace_back(*e, static_cast<std::size_t>(equals - *e));
    }
    return names;
}

struct Kind {
    const char *name; // as VORNEL_BOARD1 gives it
    unsigned bit;
};
constexpr Kind kKinds[] = {{"loopback", vornel::kLoopback},
                           {"gpio", vornel::kGpio},
                           {"modbus", vornel::kModbus},
                           {"comedi", vornel::kComedi}};

// The kind of board the settings ask for, with the setting that chose it
// when VORNEL_BOARD1 does not name it; or "" and why not.
std::string choose_kind(std::string &chooser, std::string &reason)
{
    using namespace vornel;
    std::string kind = setting(kBoard1);
    for (char &c : kind)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool module_named = !setting(kModbusTarget).empty();
    const bool card_named = !setting(kComediDevice).empty();
    if (module_named && card_named) {
        reason = "VORNEL_BOARD1_MODBUS and VORNEL_BOARD1_COMEDI name two boards: keep one";
        return {};
    }
    if (!kind.empty())
        return kind;
    if (card_named) {
        chooser = kComediDevice;
        return "comedi";
    }
    if (module_named) {
        chooser = kModbusTarget;
        return "modbus";
    }
    for (const char *name : {kDo, kDi}) {
        const std::string value = setting(name);
        if (value.empty())
            continue;
        if (chooser.empty())
            chooser = name;
        // Lines of GPIO chips, unless the list names a Modbus table or a
        // comedi subdevice, which need their module or card named.
        const Where where = where_of(value);
        if (where == Where::table) {
            reason = std::string(name) + "=" + value +
                     ": coils and inputs are on a Modbus module; name it in VORNEL_BOARD1_MODBUS";
        } else if (where == Where::subdevice) {
            reason = std::string(name) + "=" + value +
                     ": a subdevice and its channels are on a comedi card; name it in "
                     "VORNEL_BOARD1_COMEDI (VORNEL_BOARD1=comedi for /dev/comedi0)";
        }
        if (!reason.empty())
            return {};
    }
    if (!chooser.empty())
        return "gpio";
    if (!setting(kPlug).empty())
        chooser = kPlug;
    return "loopback";
}

// The board the settings ask for, or null and why not.
vornel::IoBoard *pick(std::string &reason)
{
    using namespace vornel;
    reason = unknown_setting(environment_names());
    if (!reason.empty())
        return nullptr;
    std::string chooser;
    const std::string kind = choose_kind(chooser, reason);
    if (!reason.empty())
        return nullptr;
    if (kind == "absent") {
        reason = "board 1 is absent (VORNEL_BOARD1=absent)";
        return nullptr;
    }
    const Kind *chosen = nullptr;
    for (const Kind &k : kKinds) {
        if (kind == k.name)
            chosen = &k;
    }
    if (chosen == nullptr) {
        reason =
            "VORNEL_BOARD1=" + setting(kBoard1) + ": use loopback, gpio, modbus, comedi or absent";
        return nullptr;
    }
    // A setting this kind does not read would be ignored in silence.
    for (const KnownSetting &s : kKnownSettings) {
        if ((s.kinds & chosen->bit) != 0 || setting(s.name).empty())
            continue;
        const std::string of = std::string(s.name) + ", a setting of " + kinds_text(s.kinds);
        if (chooser.empty() && setting(kBoard1).empty())
            reason =
                "the simulated board (board 1 when nothing else is set) does not go with " + of;
        else if (chooser.empty())
            reason = "VORNEL_BOARD1=" + setting(kBoard1) + " does not go with " + of;
        else
            reason = chooser + " makes board 1 " + kinds_text(chosen->bit) +
                     ", which does not go with " + of;
        return nullptr;
    }

    if (chosen->bit == kComedi) {
#if defined(VORNEL_HAVE_COMEDI)
        static ComediBoard comedi(comedi_io());
        return &comedi;
#elif defined(__linux__)
        reason = "this board library was built without comedi boards (DIO_COMEDI=OFF)";
        return nullptr;
#else
        reason = "comedi boards need Linux (comedilib)";
        return nullptr;
#endif
    }
    if (chosen->bit == kModbus) {
#if defined(VORNEL_HAVE_MODBUS)
        static ModbusBoard modbus;
        return &modbus;
#else
        reason = "this board library was built without Modbus boards (DIO_MODBUS=OFF)";
        return nullptr;
#endif
    }
    if (chosen->bit == kGpio) {
#if defined(__linux__)
        static GpioBoard gpio(chip_io());
        return &gpio;
#else
        reason = "GPIO boards need Linux";
        return nullptr;
#endif
    }
    static LoopbackBoard loopback;
    return &loopback;
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
    if (board == nullptr || !reason.empty()) {
        report(reason.empty() ? "board 1: no kind of board was chosen" : reason);
        return -1;
    }
    board1 = board;
    report("board 1: " + board->describe());
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

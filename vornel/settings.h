// Every setting the library reads from the environment, and the kinds of
// board that read each: one list, for the lookups, for the check that
// refuses a name the library does not know, and for the reasons.
#ifndef VORNEL_SETTINGS_H
#define VORNEL_SETTINGS_H

#include <cstddef>
#include <string>
#include <vector>

namespace vornel {

// The kinds of board 1, as bits, so that a setting can name several.
enum BoardKind : unsigned {
    kLoopback = 1U << 0U,
    kGpio = 1U << 1U,
    kModbus = 1U << 2U,
    kComedi = 1U << 3U,
    kEveryKind = kLoopback | kGpio | kModbus | kComedi,
};

inline constexpr char kBoard1[] = "VORNEL_BOARD1";
inline constexpr char kDo[] = "VORNEL_BOARD1_DO";
inline constexpr char kDi[] = "VORNEL_BOARD1_DI";
inline constexpr char kModbusTarget[] = "VORNEL_BOARD1_MODBUS";
inline constexpr char kSerial[] = "VORNEL_BOARD1_SERIAL";
inline constexpr char kUnit[] = "VORNEL_BOARD1_UNIT";
inline constexpr char kTimeoutMs[] = "VORNEL_BOARD1_TIMEOUT_MS";
inline constexpr char kComediDevice[] = "VORNEL_BOARD1_COMEDI";
inline constexpr char kPlug[] = "VORNEL_BOARD1_PLUG";
inline constexpr char kVerbose[] = "VORNEL_VERBOSE";

struct KnownSetting {
    const char *name;
    unsigned kinds; // the kinds of board that read it
};

inline constexpr KnownSetting kKnownSettings[] = {
    {kBoard1, kEveryKind},
    {kDo, kGpio | kModbus | kComedi},
    {kDi, kGpio | kModbus | kComedi},
    {kModbusTarget, kModbus},
    {kSerial, kModbus},
    {kUnit, kModbus},
    {kTimeoutMs, kModbus},
    {kComediDevice, kComedi},
    {kPlug, kLoopback},
    {kVerbose, kEveryKind},
};

// The known setting @name is, or null. Windows' names know no case.
const KnownSetting *known_setting(const std::string &name);

// Why one of @names, the environment's variable names, is not a setting
// although it begins with VORNEL_ (in any case), naming the known setting
// closest to it; "" when every such name is known.
std::string unknown_setting(const std::vector<std::string> &names);

// "a Modbus module", "GPIO lines or a comedi card": the kinds in @kinds,
// as a reason names them.
std::string kinds_text(unsigned kinds);

} // namespace vornel

#endif

// Modbus settings (VORNEL_BOARD1_MODBUS, _SERIAL, _UNIT, _DO, _DI and
// _TIMEOUT_MS, one per line) read as the Modbus board reads them before it
// connects: what is taken lies within its bounds, names each address once,
// and reads the same again when written back as settings.
#include "check.h"
#include "modbus_board.h"

#include <map>

namespace {

const char *const kNames[] = {"VORNEL_BOARD1_MODBUS", "VORNEL_BOARD1_SERIAL",
                              "VORNEL_BOARD1_UNIT",   "VORNEL_BOARD1_DO",
                              "VORNEL_BOARD1_DI",     "VORNEL_BOARD1_TIMEOUT_MS"};

std::string list_of(const vornel::BitMap &map)
{
    std::string text = map.where + ":";
    for (std::size_t i = 0; i < map.numbers.size(); ++i)
        text += (i > 0 ? "," : "") + std::to_string(map.numbers[i]);
    return map.numbers.empty() ? "" : text;
}

void check_map(const vornel::BitMap &map)
{
    FUZZ_CHECK(map.numbers.size() <= vornel::kMaxBits);
    for (std::size_t i = 0; i < map.numbers.size(); ++i) {
        for (std::size_t j = i + 1; j < map.numbers.size(); ++j)
            FUZZ_CHECK(map.numbers[i] != map.numbers[j]);
    }
}

bool same(const vornel::ModbusConfig &a, const vornel::ModbusConfig &b)
{
    return a.serial == b.serial && a.host == b.host && a.port == b.port && a.device == b.device &&
           a.baud == b.baud && a.data_bits == b.data_bits && a.parity == b.parity &&
           a.stop_bits == b.stop_bits && a.unit == b.unit && a.timeout_ms == b.timeout_ms &&
           a.outputs.numbers == b.outputs.numbers && a.inputs.numbers == b.inputs.numbers &&
           a.inputs_are_coils == b.inputs_are_coils;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<std::string> f = fuzz::fields(data, size, 6);
    std::map<std::string, std::string> settings;
    for (std::size_t i = 0; i < f.size(); ++i)
        settings[kNames[i]] = f[i];
    vornel::ModbusConfig c;
    const auto from = [](std::map<std::string, std::string> &s) {
        return [&s](const char *name) { return s[name]; };
    };
    if (!vornel::parse_modbus_config(from(settings), c).empty())
        return 0;

    FUZZ_CHECK(c.serial ? !c.device.empty() : !c.host.empty() && c.device.empty());
    FUZZ_CHECK(c.unit >= 0 && (c.unit <= 247 || (c.unit == 255 && !c.serial)));
    FUZZ_CHECK(c.timeout_ms >= 50 && c.timeout_ms <= 10000);
    FUZZ_CHECK(!c.outputs.numbers.empty() || !c.inputs.numbers.empty());
    FUZZ_CHECK(c.outputs.numbers.empty() || c.outputs.where == "coils");
    check_map(c.outputs);
    check_map(c.inputs);
    const int port = c.serial ? 1 : std::stoi(c.port);
    FUZZ_CHECK(port >= 1 && port <= 65535 && (c.serial || std::to_string(port) == c.port));

    // Written back as a user would write it, it reads the same.
    std::map<std::string, std::string> again{
        {"VORNEL_BOARD1_MODBUS",
         c.serial ? f[0]
                  : (c.host.find(':') != std::string::npos ? "[" + c.host + "]" : c.host) + ":" +
                        c.port},
        {"VORNEL_BOARD1_UNIT", std::to_string(c.unit)},
        {"VORNEL_BOARD1_DO", list_of(c.outputs)},
        {"VORNEL_BOARD1_DI", list_of(c.inputs)},
        {"VORNEL_BOARD1_TIMEOUT_MS", std::to_string(c.timeout_ms)}};
    if (c.serial)
        again["VORNEL_BOARD1_SERIAL"] = std::to_string(c.baud) + "," + std::to_string(c.data_bits) +
                                        c.parity + std::to_string(c.stop_bits);
    vornel::ModbusConfig d;
    FUZZ_CHECK(vornel::parse_modbus_config(from(again), d).empty());
    FUZZ_CHECK(same(c, d));
    return 0;
}

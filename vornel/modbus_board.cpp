#include "modbus_board.h"
#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include <modbus.h>

namespace vornel {
namespace {

// A setting's number, within [low, high].
bool parse_int(const std::string &s, int low, int high, int &value)
{
    std::uint32_t v = 0;
    if (!parse_decimal(s, static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high), v))
        return false;
    value = static_cast<int>(v);
    return true;
}

bool printable(const std::string &s)
{
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return std::isgraph(static_cast<unsigned char>(c)) != 0; });
}

// "<host>[:<port>]", an IPv6 address in brackets.
std::string parse_host(const std::string &text, ModbusConfig &c)
{
    const std::string name = "VORNEL_BOARD1_MODBUS='" + text + "': ";
    std::string host;
    std::string port = "502";
    if (text.find("://") != std::string::npos)
        return name + "give the module's host name or address, not a URL, as in 192.168.1.20:502";
    if (text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos)
            return name + "no ']' after the IPv6 address";
        host = text.substr(1, close - 1);
        // An IPv6 address, perhaps with a zone: "fe80::1%eth0".
        const std::string address = host.substr(0, host.find('%'));
        if (address.find(':') == std::string::npos ||
            address.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return name + "'" + host + "' in brackets is not an IPv6 address";
        const std::string rest = text.substr(close + 1);
        if (!rest.empty() && rest[0] != ':')
            return name + "expected :<port> after ']'";
        if (!rest.empty())
            port = rest.substr(1);
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos)
            return name + "write an IPv6 address in brackets, as in [fd00::5]:1502";
        host = text.substr(0, colon);
        if (colon != std::string::npos)
            port = text.substr(colon + 1);
    }
    if (host.empty())
        return name + "no host named";
    if (!printable(host) || host.size() > 253)
        return name + "not a host name or address";
    int number = 0;
    if (!parse_int(port, 1, 65535, number))
        return name + "'" + port + "' is not a port 1-65535";
    c.host = host;
    c.port = std::to_string(number);
    return {};
}

// "<baud>[,<data bits><parity><stop bits>]", e.g. "19200,8E1".
std::string parse_serial(const std::string &text, ModbusConfig &c)
{
    const std::string name = "VORNEL_BOARD1_SERIAL='" + text + "': ";
    const std::size_t comma = text.find(',');
    const std::string baud = text.substr(0, comma);
    int b = 0;
    if (!parse_int(baud, 1, 4000000, b) || !link::baud_supported(b))
        return name + "'" + baud +
               "' is not a baud rate a serial port takes (9600, 19200, 115200...)";
    if (comma != std::string::npos) {
        const std::string f = text.substr(comma + 1);
        const char parity = f.size() == 3 ? static_cast<char>(std::toupper(f[1])) : '?';
        if (f.size() != 3 || f[0] < '5' || f[0] > '8' || (f[2] != '1' && f[2] != '2') ||
            (parity != 'N' && parity != 'E' && parity != 'O'))
            return name + "'" + f + "' is not a framing such as 8N1 (data bits 5-8, parity N, E " +
                   "or O, stop bits 1 or 2)";
        c.data_bits = f[0] - '0';
        c.parity = parity;
        c.stop_bits = f[2] - '0';
    }
    c.baud = b;
    return {};
}

std::string parse_table(const char *name, const std::string &text, bool coils_only, BitMap &map,
                        bool &coils)
{
    const std::string usage =
        coils_only ? "coils:<addresses>" : "inputs:<addresses> or coils:<addresses>";
    const std::string reason = parse_bit_map(text, map, coils_only ? "coils:0-15" : "inputs:0-15");
    if (!reason.empty())
        return std::string(name) + ": " + reason;
    coils = map.where == "coils";
    if (where_of(text) != Where::table || (coils_only && !coils))
        return std::string(name) + "='" + text + "': expected " + usage;
    return {};
}

std::string range(int start, int count)
{
    return count == 1 ? std::to_string(start)
                      : std::to_string(start) + "-" + std::to_string(start + count - 1);
}

bool is_exception(int err)
{
    return err >= EMBXILFUN && err <= EMBXGTAR;
}

} // namespace

std::string parse_modbus_config(const Settings &settings, ModbusConfig &config)
{
    ModbusConfig c;
    const std::string target = settings(kModbusTarget);
    const std::string serial = settings(kSerial);
    if (target.empty())
        return std::string("VORNEL_BOARD1=modbus: name the module in VORNEL_BOARD1_MODBUS, as "
                           "<host>[:<port>] or a serial port, ") +
               link::serial_port_form();
    std::string reason = link::foreign_serial_port(target);
    c.device = link::serial_port(target);
    if (!reason.empty()) {
        reason = "VORNEL_BOARD1_MODBUS=" + reason;
    } else if (!c.device.empty()) {
        c.serial = true;
        if (!serial.empty())
            reason = parse_serial(serial, c);
    } else if (!serial.empty()) {
        reason = std::string("VORNEL_BOARD1_SERIAL is for a serial port (VORNEL_BOARD1_MODBUS=") +
                 link::serial_port_form() + "), not for Modbus TCP";
    } else {
        reason = parse_host(target, c);
    }
    if (!reason.empty())
        return reason;

    const std::string unit = settings(kUnit);
    if (!unit.empty() &&
        (!parse_int(unit, 0, 255, c.unit) || (c.unit > 247 && (c.serial || c.unit != 255))))
        return "VORNEL_BOARD1_UNIT='" + unit + "': use a unit id 0-247" +
               (c.serial ? "" : ", or 255");
    const std::string timeout = settings(kTimeoutMs);
    if (!timeout.empty() && !parse_int(timeout, 50, 10000, c.timeout_ms))
        return "VORNEL_BOARD1_TIMEOUT_MS='" + timeout + "': use 50-10000 milliseconds";

    const std::string outputs = settings(kDo);
    const std::string inputs = settings(kDi);
    if (outputs.empty() && inputs.empty())
        return "VORNEL_BOARD1_MODBUS: name the coils in VORNEL_BOARD1_DO or the inputs in "
               "VORNEL_BOARD1_DI";
    bool coils = true;
    if (!outputs.empty())
        reason = parse_table(kDo, outputs, true, c.outputs, coils);
    if (reason.empty() && !inputs.empty())
        reason = parse_table(kDi, inputs, false, c.inputs, c.inputs_are_coils);
    if (!reason.empty())
        return reason;
    config = c;
    return {};
}

std::string ModbusBoard::open(const Settings &settings)
{
    release();
    ModbusConfig config;
    const std::string reason = parse_modbus_config(settings, config);
    return reason.empty() ? open_config(config) : reason;
}

// The mapped addresses in runs of adjacent ones, each with its bits.
std::vector<ModbusBoard::Run> ModbusBoard::runs_of(const BitMap &map)
{
    std::vector<Run> runs;
    for (const auto &[address, bit] : by_number(map)) {
        if (runs.empty() || static_cast<int>(address) != runs.back().start + runs.back().count)
            runs.push_back(Run{static_cast<int>(address), 0, {}});
        Run &run = runs.back();
        run.bit[run.count++] = bit;
    }
    return runs;
}

std::string ModbusBoard::open_config(const ModbusConfig &config)
{
    release();
    config_ = config;
    output_runs_ = runs_of(config.outputs);
    input_runs_ = runs_of(config.inputs);

    std::string reason;
    if (config.serial) {
        where_ = config.device;
        ctx_ = modbus_new_rtu(config.device.c_str(), config.baud, config.parity, config.data_bits,
                              config.stop_bits);
    } else {
        where_ =
            (config.host.find(':') != std::string::npos ? "[" + config.host + "]" : config.host) +
            ":" + config.port;
        // The name is looked up once: a reconnect then never waits for it.
        const std::string why = link::resolve(config.host, config.port, addresses_);
        if (!why.empty()) {
            release();
            // "ttyUSB0" is a serial port named without its folder.
            const bool tty = config.host.rfind("tty", 0) == 0;
            return config.host + ": " + why +
                   (tty ? std::string(" (a serial port is ") + link::serial_port_form() + ")" : "");
        }
        // libmodbus frames the messages; the socket is ours (see connect_tcp).
        ctx_ = modbus_new_tcp(nullptr, MODBUS_TCP_DEFAULT_PORT);
    }
    if (ctx_ == nullptr || modbus_set_slave(ctx_, config.unit) != 0 ||
        modbus_set_byte_timeout(ctx_, 0, 0) != 0) {
        reason = where_ + ": " + std::strerror(errno);
        release();
        return reason;
    }

    // Prove the mapping without changing an output: read it all once.
    const Clock::time_point end = deadline();
    std::uint32_t word = 0;
    if (connect(end, reason) != 0)
        reason = where_ + ": " + reason;
    else if (read_runs(output_runs_, true, end, word, reason) &&
             read_runs(input_runs_, config.inputs_are_coils, end, word, reason))
        return {};
    if (reason.find("no reply") != std::string::npos)
        reason += " (a wrong unit id looks like this too)";
    release();
    return reason;
}

ModbusBoard::Clock::time_point ModbusBoard::deadline() const
{
    // Each call may connect once and then wait for its replies.
    return Clock::now() + std::chrono::milliseconds(2 * config_.timeout_ms);
}

int ModbusBoard::connect(Clock::time_point deadline, std::string &reason)
{
    if (connected_)
        return 0;
    if (!config_.serial)
        return connect_tcp(deadline, reason);
    if (modbus_connect(ctx_) != 0) {
        const int err = link::serial_error();
        reason = "opening the port: " + link::error_text(err);
        return err;
    }
    // Nothing that came before this connection is an answer to it.
    modbus_flush(ctx_);
    connected_ = true;
    return 0;
}

int ModbusBoard::connect_tcp(Clock::time_point deadline, std::string &reason)
{
    int err = ETIMEDOUT;
    for (const link::Address &address : addresses_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        // Bounded by the timeout and by what is left of the call.
        const int s = link::connect(
            address, static_cast<int>(std::min<long long>(left.count(), config_.timeout_ms)), err);
        if (s >= 0) {
            modbus_set_socket(ctx_, s);
            connected_ = true;
            return 0;
        }
    }
    reason = err == ETIMEDOUT ? "no connection within " + std::to_string(config_.timeout_ms) + " ms"
                              : "connecting: " + link::error_text(err);
    return err;
}

// "0-7,16,18-19": every address of @runs, for messages.
std::string ModbusBoard::addresses(const std::vector<Run> &runs)
{
    std::string text;
    for (const Run &run : runs)
        text += (text.empty() ? "" : ",") + range(run.start, run.count);
    return text;
}

bool ModbusBoard::set_timeout(Clock::time_point deadline, const char *what, const Run &run,
                              std::string &reason)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left < 1000) {
        // Many runs of addresses on a slow line can need more than that.
        reason = where_ + ": " + what + " " + range(run.start, run.count) + ": gave up after " +
                 std::to_string(2 * config_.timeout_ms) +
                 " ms for one call (a longer VORNEL_BOARD1_TIMEOUT_MS allows more)";
        return false;
    }
    const long long us = std::min<long long>(left, config_.timeout_ms * 1000LL);
    link::clear_error();
    modbus_set_response_timeout(ctx_, static_cast<std::uint32_t>(us / 1000000),
                                static_cast<std::uint32_t>(us % 1000000));
    return true;
}

bool ModbusBoard::read_runs(const std::vector<Run> &runs, bool coils, Clock::time_point deadline,
                            std::uint32_t &word, std::string &reason)
{
    bool ok = true;
    const char *what = coils ? "reading coils" : "reading inputs";
    for (const Run &run : runs) {
        if (!set_timeout(deadline, what, run, reason))
            return false;
        const int rc = coils ? modbus_read_bits(ctx_, run.start, run.count, values_)
                             : modbus_read_input_bits(ctx_, run.start, run.count, values_);
        if (rc != run.count) {
            failed(what, run, rc < 0 ? errno : EMBBADDATA, reason);
            ok = false;
            if (!connected_)
                return false;
            continue;
        }
        for (int k = 0; k < run.count; ++k) {
            if (values_[k] != 0)
                word |= std::uint32_t{1} << run.bit[k];
        }
    }
    return ok;
}

int ModbusBoard::write(std::uint32_t pattern, std::string &reason)
{
    if (ctx_ == nullptr) {
        reason = "the Modbus board is not open";
        return -EBADF;
    }
    if (output_runs_.empty())
        return 0;
    const Clock::time_point end = deadline();
    const int err = connect(end, reason);
    if (err != 0) {
        reason = where_ + ": writing coils " + addresses(output_runs_) + ": " + reason;
        return -err;
    }
    int result = 0;
    for (const Run &run : output_runs_) {
        for (int k = 0; k < run.count; ++k)
            values_[k] = static_cast<std::uint8_t>(pattern >> run.bit[k] & 1U);
        if (!set_timeout(end, "writing coils", run, reason))
            return -ETIMEDOUT;
        const int rc = modbus_write_bits(ctx_, run.start, run.count, values_);
        if (rc != run.count) {
            const int err = rc < 0 ? errno : EMBBADDATA;
            failed("writing coils", run, err, reason);
            if (result == 0)
                result = -err;
            if (!connected_)
                break;
        }
    }
    return result;
}

std::uint32_t ModbusBoard::read(std::string &reason)
{
    std::uint32_t word = 0;
    if (ctx_ == nullptr || input_runs_.empty())
        return 0;
    const Clock::time_point end = deadline();
    if (connect(end, reason) == 0)
        read_runs(input_runs_, config_.inputs_are_coils, end, word, reason);
    else
        reason = where_ + (config_.inputs_are_coils ? ": reading coils " : ": reading inputs ") +
                 addresses(input_runs_) + ": " + reason;
    return word;
}

void ModbusBoard::failed(const char *what, const Run &run, int err, std::string &reason)
{
    // Said before the connection is dropped, which may change what the
    // system holds as its last error.
    if (reason.empty()) {
        const std::string why =
            err == ETIMEDOUT ? "no reply within " + std::to_string(config_.timeout_ms) + " ms"
                             : link::request_error_text(err);
        reason = where_ + " unit " + std::to_string(config_.unit) + ": " + what + " " +
                 range(run.start, run.count) + ": " + why;
    }
    // A reply that came late, broke off or did not fit must never be taken
    // for the answer to a later request: start afresh with the next call.
    if (!is_exception(err))
        drop();
}

void ModbusBoard::drop()
{
    if (connected_)
        modbus_close(ctx_);
    connected_ = false;
}

std::string ModbusBoard::describe() const
{
    return "Modbus module " + where_ + " unit " + std::to_string(config_.unit) + ": " +
           vornel::describe(config_.outputs, "", config_.inputs, "");
}

void ModbusBoard::release()
{
    drop();
    if (ctx_ != nullptr)
        modbus_free(ctx_);
    ctx_ = nullptr;
    addresses_.clear();
    output_runs_.clear();
    input_runs_.clear();
    where_.clear();
}

} // namespace vornel

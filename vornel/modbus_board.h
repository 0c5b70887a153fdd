// A board that is a Modbus remote I/O module: output bits drive coils,
// input bits read discrete inputs (or coils back), over Modbus TCP or
// Modbus RTU on a serial port, through libmodbus.
//
// Settings:
//   VORNEL_BOARD1_MODBUS      <host>[:<port>] (TCP), or a serial port (RTU):
//                             /dev/... on Linux, COM<n> on Windows
//   VORNEL_BOARD1_SERIAL      <baud>[,<data bits><parity><stop bits>], RTU only
//   VORNEL_BOARD1_UNIT        the unit id, default 1
//   VORNEL_BOARD1_DO          coils:<addresses>
//   VORNEL_BOARD1_DI          inputs:<addresses> or coils:<addresses>
//   VORNEL_BOARD1_TIMEOUT_MS  the bound for connecting and for each reply
#ifndef VORNEL_MODBUS_BOARD_H
#define VORNEL_MODBUS_BOARD_H

#include "bit_map.h"
#include "io_board.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "modbus_link.h"

#include <modbus.h>

namespace vornel {

struct ModbusConfig {
    bool serial = false;
    std::string host;   // TCP: a name or an address, without brackets
    std::string port;   // TCP: decimal
    std::string device; // RTU: the serial port, as libmodbus opens it
    int baud = 9600;
    int data_bits = 8;
    char parity = 'N';
    int stop_bits = 1;
    int unit = 1;
    int timeout_ms = 500;
    BitMap outputs; // coils
    BitMap inputs;  // discrete inputs, or coils read back
    bool inputs_are_coils = false;
};

// Reads the settings into @config. Returns an empty string, or what is
// wrong with them.
std::string parse_modbus_config(const Settings &settings, ModbusConfig &config);

class ModbusBoard final : public IoBoard {
  public:
    ModbusBoard() = default;
    ~ModbusBoard() override { release(); }
    ModbusBoard(const ModbusBoard &) = delete;
    ModbusBoard &operator=(const ModbusBoard &) = delete;
    ModbusBoard(ModbusBoard &&) = delete;
    ModbusBoard &operator=(ModbusBoard &&) = delete;

    // Connects, then reads every mapped coil and input once, to prove the
    // module answers for them; no output changes.
    std::string open(const Settings &settings) override;
    std::string open_config(const ModbusConfig &config);

    // One write-multiple-coils request per run of adjacent coils.
    int write(std::uint32_t pattern, std::string &reason) override;
    // One read request per run of adjacent inputs; a failed run reads 0.
    std::uint32_t read(std::string &reason) override;
    void release() override;
    [[nodiscard]] std::string describe() const override;

  private:
    using Clock = std::chrono::steady_clock;

    // Adjacent addresses, read or written in one request.
    struct Run {
        int start = 0;
        int count = 0;
        unsigned bit[kMaxBits] = {}; // the word's bit for address start + k
    };

    static std::vector<Run> runs_of(const BitMap &map);
    static std::string addresses(const std::vector<Run> &runs);
    // 0 once connected, else an errno value and why.
    int connect(Clock::time_point deadline, std::string &reason);
    int connect_tcp(Clock::time_point deadline, std::string &reason);
    bool set_timeout(Clock::time_point deadline, const char *what, const Run &run,
                     std::string &reason);
    // Reads @runs of coils or inputs into @word; false on the first failure.
    bool read_runs(const std::vector<Run> &runs, bool coils, Clock::time_point deadline,
                   std::uint32_t &word, std::string &reason);
    // After a failed request: what happened, and the connection dropped
    // unless the module answered with an exception.
    void failed(const char *what, const Run &run, int err, std::string &reason);
    void drop();
    [[nodiscard]] Clock::time_point deadline() const;

    modbus_t *ctx_ = nullptr;
    bool connected_ = false;
    ModbusConfig config_;
    std::string where_;                    // the module, for messages
    std::vector<link::Address> addresses_; // TCP: resolved once, at open
    std::vector<Run> output_runs_;
    std::vector<Run> input_runs_;
    std::uint8_t values_[kMaxBits] = {}; // one coil or input per byte
};

} // namespace vornel

#endif

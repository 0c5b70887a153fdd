// A board on a data-acquisition card that the kernel's comedi subsystem
// drives: output bits drive channels of a digital output or digital I/O
// subdevice, input bits read channels of a digital input or digital I/O
// subdevice, through comedilib.
//
// Settings:
//   VORNEL_BOARD1_COMEDI  the device file, /dev/comedi0 when not set
//   VORNEL_BOARD1_DO      <subdevice>:<channels>
//   VORNEL_BOARD1_DI      <subdevice>:<channels>
// With neither DO nor DI set, DO is channels 0-31 of the first digital
// output subdevice (else the first digital I/O one), DI of the first
// digital input subdevice (else the first digital I/O one).
#ifndef VORNEL_COMEDI_BOARD_H
#define VORNEL_COMEDI_BOARD_H

#include "bit_map.h"
#include "comedi_io.h"
#include "io_board.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

class ComediBoard final : public IoBoard {
  public:
    explicit ComediBoard(ComediIo &io) : io_(io) {}
    ~ComediBoard() override { release(); }
    ComediBoard(const ComediBoard &) = delete;
    ComediBoard &operator=(const ComediBoard &) = delete;
    ComediBoard(ComediBoard &&) = delete;
    ComediBoard &operator=(ComediBoard &&) = delete;

    // Opens the device, checks the mapping against its subdevices, sets
    // the directions of digital I/O channels and drives the outputs low.
    std::string open(const Settings &settings) override;

    // One dio_bitfield2 call per window of 32 channels that the outputs
    // span on a subdevice.
    int write(std::uint32_t pattern, std::string &reason) override;
    // The same for the inputs; the bits of a window that fails read 0.
    std::uint32_t read(std::string &reason) override;
    void release() override;
    [[nodiscard]] std::string describe() const override { return described_; }

  private:
    // Up to 32 channels of one subdevice, from @base up, in one call.
    struct Window {
        unsigned subdevice = 0;
        unsigned base = 0;
        unsigned mask = 0; // the mapped channels, bit k for channel base + k
        unsigned count = 0;
        std::uint8_t offset[kMaxBits] = {}; // channel base + offset[i] ...
        std::uint8_t bit[kMaxBits] = {};    // ... carries bit[i] of the word
    };

    std::string not_opened(const std::string &path);
    void first_digital(BitMap (&maps)[2]);
    std::string check(const BitMap &map, const char *setting, bool output);
    std::string set_directions(const BitMap &outputs, const BitMap &inputs);
    void add_windows(const BitMap &map, std::vector<Window> &windows) const;
    int transfer(const std::vector<Window> &windows, std::uint32_t pattern, bool writing,
                 std::uint32_t &word, std::string &reason);
    std::string failure(const std::string &what);

    ComediIo &io_;
    bool open_ = false;
    std::string path_;
    std::vector<Window> outputs_;
    std::vector<Window> inputs_;
    std::string described_;
};

} // namespace vornel

#endif

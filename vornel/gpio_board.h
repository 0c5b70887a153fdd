// A board made of GPIO lines: up to 32 output lines and up to 32 input
// lines, on one chip or two, through the kernel's GPIO character device.
#ifndef VORNEL_GPIO_BOARD_H
#define VORNEL_GPIO_BOARD_H

#include "chip_io.h"
#include "line_map.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vornel {

class GpioBoard {
  public:
    explicit GpioBoard(ChipIo &io) : io_(io) {}
    ~GpioBoard() { release(); }
    GpioBoard(const GpioBoard &) = delete;
    GpioBoard &operator=(const GpioBoard &) = delete;
    GpioBoard(GpioBoard &&) = delete;
    GpioBoard &operator=(GpioBoard &&) = delete;

    // Requests all named lines at once, one request per chip, under the
    // name @consumer. Returns an empty string, or why it failed; on failure
    // no line stays requested. Releases lines of an earlier open first.
    std::string open(const LineMap &outputs, const LineMap &inputs, const std::string &consumer);

    // Drives every output line from its bit of @pattern, with one call per
    // chip. Returns 0, or -errno of a call the kernel refused (with the
    // reason in @reason).
    int write(std::uint32_t pattern, std::string &reason);

    // Reads every input line into its bit, with one call per chip. Bits
    // with no line read 0, and so do the bits of a chip the kernel refused
    // to read (with the reason in @reason).
    std::uint32_t read(std::string &reason);

    void release();

  private:
    struct Chip {
        std::string path;                   // its device file
        std::string name;                   // as the kernel names it
        std::vector<std::uint32_t> offsets; // the request: outputs, then inputs
        int fd = -1;                        // the request's line file
        std::uint64_t output_mask = 0;      // positions in the request
        std::uint64_t input_mask = 0;
    };
    struct Bit {
        std::size_t chip;
        unsigned position;
    };

    std::string request(Chip &chip, const std::string &consumer);
    std::string busy_reason(int chip_fd, const Chip &chip);

    ChipIo &io_;
    std::vector<Chip> chips_;
    std::vector<Bit> output_bits_; // bit i of the pattern
    std::vector<Bit> input_bits_;  // bit i of the input word
};

} // namespace vornel

#endif

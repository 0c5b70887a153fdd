// A board made of GPIO lines: up to 32 output lines and up to 32 input
// lines, on one chip or several, through the kernel's GPIO character
// device.
//
// Settings: VORNEL_BOARD1_DO and VORNEL_BOARD1_DI, each "<chip>:<lines>",
// where a line is a number or the kernel's name for it, or a list of names
// alone, looked up on every chip.
#ifndef VORNEL_GPIO_BOARD_H
#define VORNEL_GPIO_BOARD_H

#include "bit_map.h"
#include "chip_io.h"
#include "io_board.h"

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vornel {

class GpioBoard final : public IoBoard {
  public:
    explicit GpioBoard(ChipIo &io) : io_(io) {}
    ~GpioBoard() override { release(); }
    GpioBoard(const GpioBoard &) = delete;
    GpioBoard &operator=(const GpioBoard &) = delete;
    GpioBoard(GpioBoard &&) = delete;
    GpioBoard &operator=(GpioBoard &&) = delete;

    std::string open(const Settings &settings) override;

    // Requests all named lines at once, one request per chip (a chip
    // named in two ways is still one chip), under the name @consumer.
    // Returns an empty string, or why it failed; on failure no line stays
    // requested. Releases lines of an earlier open first.
    std::string open_lines(const BitMap &outputs, const BitMap &inputs,
                           const std::string &consumer);

    // Drives every output line from its bit of @pattern, with one call per
    // chip. Returns 0, or -errno of a call the kernel refused.
    int write(std::uint32_t pattern, std::string &reason) override;

    // Reads every input line into its bit, with one call per chip. Bits
    // with no line read 0, and so do the bits of a chip the kernel refused
    // to read.
    std::uint32_t read(std::string &reason) override;

    void release() override;
    [[nodiscard]] std::string describe() const override { return described_; }

  private:
    struct Chip {
        std::string path;                   // its device file, as first named
        std::string name;                   // as the kernel names it
        dev_t device = 0;                   // what makes two names one chip
        ino_t inode = 0;                    // the same, for what is not a device
        std::vector<std::uint32_t> offsets; // the request: outputs, then inputs
        int fd = -1;                        // the request's line file
        std::uint64_t output_mask = 0;      // positions in the request
        std::uint64_t input_mask = 0;
    };
    struct Bit {
        std::size_t chip;
        unsigned position;
    };

    std::string add(const BitMap &map, std::vector<Bit> &bits, bool output);
    std::string add_line(const std::string &path, const std::string &name, std::uint32_t offset,
                         bool output, std::vector<Bit> &bits);
    std::string find_line(const std::string &where, const std::string &line, std::string &path,
                          std::string &chip_name, std::uint32_t &offset);
    // A chip's line names as find_line() reads them, or why they could not be.
    struct ChipLines {
        std::string path;
        std::string name;
        std::vector<std::string> names;
        std::string reason;
    };
    const ChipLines &line_names(const std::string &path);
    std::string request(Chip &chip, const std::string &consumer);
    std::string busy_reason(int chip_fd, const Chip &chip);

    ChipIo &io_;
    std::vector<Chip> chips_;
    std::vector<Bit> output_bits_;      // bit i of the pattern
    std::vector<Bit> input_bits_;       // bit i of the input word
    std::vector<ChipLines> read_lines_; // while opening: each chip read once
    std::string described_;
};

// The device file of @chip: /dev/<chip>, or @chip itself if it is a path.
std::string chip_path(const std::string &chip);

} // namespace vornel

#endif

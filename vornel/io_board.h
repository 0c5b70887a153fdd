// What every kind of board 1 offers the library: open it from the
// settings, drive its outputs, read its inputs, let it go.
#ifndef VORNEL_IO_BOARD_H
#define VORNEL_IO_BOARD_H

#include <cstdint>
#include <functional>
#include <string>

namespace vornel {

// The value of a setting by its name, "" when it is not set.
using Settings = std::function<std::string(const char *name)>;

class IoBoard {
  public:
    IoBoard() = default;
    IoBoard(const IoBoard &) = delete;
    IoBoard &operator=(const IoBoard &) = delete;
    IoBoard(IoBoard &&) = delete;
    IoBoard &operator=(IoBoard &&) = delete;
    virtual ~IoBoard() = default;

    // Opens the board as @settings describe it, after releasing what an
    // earlier open held. Returns an empty string, or why it failed; on
    // failure the board holds nothing.
    virtual std::string open(const Settings &settings) = 0;

    // Drives the outputs from @pattern, bit i on output i. Returns 0, or a
    // negative value with the reason in @reason.
    virtual int write(std::uint32_t pattern, std::string &reason) = 0;

    // Reads the inputs, input i into bit i. Bits that cannot be read read
    // 0, and @reason then says why.
    virtual std::uint32_t read(std::string &reason) = 0;

    virtual void release() = 0;

    // What the board opened is, in a few words: "gpiochip0 lines 0-31
    // out, gpiochip1 lines 0-31 in", say.
    [[nodiscard]] virtual std::string describe() const = 0;
};

} // namespace vornel

#endif

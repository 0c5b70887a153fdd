// Standard input a line at a time, for the prompt, and whether a line is
// waiting without waiting for one, for the watch that a line ends.
#ifndef DIO_SET_INPUT_H
#define DIO_SET_INPUT_H

#include <cstddef>
#include <string>

namespace dio_set {

class LineReader {
  public:
    // The longest line taken as a command; a longer one is dropped whole.
    static constexpr std::size_t kLongestLine = 4096;

    LineReader();

    enum class Got { line, end, too_long };

    // Blocks for the next line, without its line end. Got::end at the end
    // of input, on an error reading it, and when a signal asks to stop.
    Got next(std::string &line);

    // Whether a whole line, or the end of input, is waiting; never blocks.
    bool waiting();

    // Whether standard input is a terminal, where a person types.
    [[nodiscard]] bool terminal() const { return terminal_; }

  private:
    // Reads what standard input holds into the buffer: at least a byte, or
    // the end, when @block; only what is there already when not.
    void fill(bool block);

    std::string buffer_;
    bool ended_ = false;
    bool dropping_ = false; // within a line longer than kLongestLine
    bool terminal_ = false;
};

} // namespace dio_set

#endif

// Driving outputs by hand: words and lines as dio-set's arguments and
// prompt take them, the outputs held, and the prompt itself. dio-set's core.
#ifndef DIO_SET_SESSION_H
#define DIO_SET_SESSION_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace dio_set {

struct Settings {
    std::int32_t board = 1;
    std::uint32_t outputs = ~0U; // the outputs it may drive
    double settle_ms = 10;       // from a write to the read that shows it
    double poll_ms = 10;         // between two reads of a watch
};

// Reads one hex word ("80", "0x80") or lines ("7=1 12=0") into @word, which
// holds the value the lines not named keep. Returns "", or why not: a line
// beyond 0-31, a value other than 0 or 1, a word over 32 bits, or a line
// outside @allowed; @word is then left as it was.
std::string parse_assignment(const std::vector<std::string> &words, std::uint32_t allowed,
                             std::uint32_t &word);

// What became of a reading.
enum class Shown { yes, stopped, lost }; // printed; a signal came first; stdout failed

// The outputs of a board that is open: each write whole, the word last
// written kept.
class Outputs {
  public:
    explicit Outputs(const Settings &s) : s_(s) {}

    // Writes @word. False when the library refused it; why() then says so.
    bool write(std::uint32_t word);
    [[nodiscard]] std::uint32_t held() const { return held_; }
    [[nodiscard]] const std::string &why() const { return why_; }

    // Prints "do:<hex>,di:<hex>" with what the inputs read once the settle
    // time has passed since the last write.
    [[nodiscard]] Shown print_reading() const;

    // Writes every output low, the end of every run. Returns "", or which
    // outputs may be left high when the library refused.
    std::string lower();

  private:
    const Settings &s_;
    std::uint32_t held_ = 0;
    std::uint32_t maybe_high_ = 0; // every line a write may have left high
    std::chrono::steady_clock::time_point written_at_;
    std::string why_;
};

// Takes commands from standard input, one a line, with a "dio> " prompt
// where it is a terminal, until exit, the end of input or a signal, which
// leave the outputs to be written low. Returns the exit status: 0, or 2
// when a write failed or standard output could not be written.
int prompt(const Settings &s, Outputs &outputs);

} // namespace dio_set

#endif

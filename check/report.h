// Reading dio-exerciser's report: one "do:%x,di:%x" line per cycle.
#ifndef DIO_CHECK_REPORT_H
#define DIO_CHECK_REPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dio_check {

// One report line: the pattern written to the outputs, the word read back.
struct Sample {
    std::uint32_t out = 0;
    std::uint32_t in = 0;
};

// What a line of the report turned out to be.
enum class LineKind {
    report,      // a whole report line
    cut_short,   // the start of a report line, and nothing more
    open_failed, // the exerciser's "Open device failed!"
    binary,      // holds bytes that are not text
    malformed,   // text, but not a report line
};

// @line without the carriage return a Windows log ends it with.
std::string_view without_cr(std::string_view line);

// Looks at one line, without its line feed; a trailing carriage return
// is allowed. Fills @sample for a report line.
LineKind classify(std::string_view line, Sample &sample);

// @line as it may be shown in a message: bytes that are not printable
// written as \xNN, and cut after @limit bytes with "...".
std::string quoted(std::string_view line, std::size_t limit = 40);

// Reads lines from a file descriptor through a fixed buffer, so memory
// stays the same however long the input.
class LineReader {
  public:
    // Longer than any report line can be; a longer one is not read whole.
    static constexpr std::size_t kMaxLine = 64;

    enum class Status {
        line,        // a line ended by a line feed
        last_line,   // the input ended in the middle of a line
        overlong,    // a line longer than kMaxLine; @line is its start
        end,         // the input ended
        interrupted, // a signal interrupted the wait; call again to go on
        failed,      // reading failed; see error()
    };

    explicit LineReader(int fd) : fd_(fd) {}

    // The next line, without its line feed, valid until the next call.
    Status next(std::string_view &line);
    // Number of the line next() returned last, from 1.
    [[nodiscard]] std::uint64_t line_number() const { return line_number_; }
    // errno of the last read that failed.
    [[nodiscard]] int error() const { return error_; }

  private:
    static constexpr std::size_t kSize = 1U << 16U;

    bool fill();

    int fd_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t line_number_ = 0;
    int error_ = 0;
    bool eof_ = false;
    bool skipping_ = false;
    char buf_[kSize];
};

} // namespace dio_check

#endif

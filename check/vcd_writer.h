// Writes report lines as a Value Change Dump, the waveform format that
// GTKWave, PulseView and sigrok read: one 1-bit signal per output and per
// input line, do0..do31 and di0..di31, in milliseconds.
#ifndef DIO_CHECK_VCD_WRITER_H
#define DIO_CHECK_VCD_WRITER_H

#include "report.h"

#include <cstdint>
#include <cstdio>

namespace dio_check {

class VcdWriter {
  public:
    // Writes to @file, which stays the caller's; the header goes out at once.
    VcdWriter(std::FILE *file, const char *version);

    // The levels of @s from @ms on; only the signals that changed are
    // written. Times must not go backwards.
    void add(std::uint64_t ms, Sample s);
    // Ends the dump at @ms, so that the last line has a length too.
    void finish(std::uint64_t ms);

    // False once any write has failed.
    [[nodiscard]] bool good() const { return std::ferror(file_) == 0; }

  private:
    void time(std::uint64_t ms);
    void changes(char side, std::uint32_t now, std::uint32_t before, bool all);

    std::FILE *file_;
    bool started_ = false;
    std::uint64_t last_ms_ = 0;
    Sample last_;
};

} // namespace dio_check

#endif

#include "vcd_writer.h"

#include <cinttypes>

namespace dio_check {

// Signal identifiers: 'o' or 'i' and the line number, as in "1o5".
VcdWriter::VcdWriter(std::FILE *file, const char *version) : file_(file)
{
    std::fprintf(file_, "$version %s $end\n$timescale 1 ms $end\n$scope module dio $end\n",
                 version);
    for (const char *side : {"do", "di"}) {
        for (int i = 0; i < 32; ++i)
            std::fprintf(file_, "$var wire 1 %c%d %s%d $end\n", side[1], i, side, i);
    }
    std::fputs("$upscope $end\n$enddefinitions $end\n", file_);
}

void VcdWriter::time(std::uint64_t ms)
{
    std::fprintf(file_, "#%" PRIu64 "\n", ms);
    last_ms_ = ms;
}

void VcdWriter::changes(char side, std::uint32_t now, std::uint32_t before, bool all)
{
    const std::uint32_t changed = all ? ~0U : now ^ before;
    for (int i = 0; i < 32; ++i) {
        if (((changed >> i) & 1U) == 0)
            continue;
        std::fprintf(file_, "%c%c%d\n", ((now >> i) & 1U) != 0 ? '1' : '0', side, i);
    }
}

void VcdWriter::add(std::uint64_t ms, Sample s)
{
    if (!started_) {
        time(ms);
        std::fputs("$dumpvars\n", file_);
        changes('o', s.out, 0, true);
        changes('i', s.in, 0, true);
        std::fputs("$end\n", file_);
        started_ = true;
    } else if (s.out != last_.out || s.in != last_.in) {
        // Each line gets a time of its own, even two arriving together.
        time(ms > last_ms_ ? ms : last_ms_ + 1);
        changes('o', s.out, last_.out, false);
        changes('i', s.in, last_.in, false);
    }
    last_ = s;
}

void VcdWriter::finish(std::uint64_t ms)
{
    if (started_ && ms > last_ms_)
        time(ms);
    std::fflush(file_);
}

} // namespace dio_check

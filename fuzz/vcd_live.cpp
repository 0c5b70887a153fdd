// What dio-check draws, for any run of samples: the waveform, read back by
// a small VCD reader, holds each sample's levels from its time on, times
// rising; the live view shows each sample's bits and marks exactly the
// wrong ones.
#include "check.h"
#include "live_view.h"
#include "vcd_writer.h"

#include <cinttypes>
#include <cstring>
#include <map>
#include <sstream>

namespace {

using dio_check::Sample;

// The levels at each time of the dump in @text.
std::vector<std::pair<std::uint64_t, Sample>> read_back(const std::string &text)
{
    std::map<std::string, std::pair<char, int>> signals; // id: side, line
    std::vector<std::pair<std::uint64_t, Sample>> times;
    Sample now;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        char id[16];
        char name[16];
        if (std::sscanf(line.c_str(), "$var wire 1 %15s %15s $end", id, name) == 2) {
            FUZZ_CHECK(std::strncmp(name, "do", 2) == 0 || std::strncmp(name, "di", 2) == 0);
            signals[id] = {name[1], static_cast<int>(std::strtol(name + 2, nullptr, 10))};
        } else if (line[0] == '#') {
            const std::uint64_t t = std::strtoull(line.c_str() + 1, nullptr, 10);
            FUZZ_CHECK(times.empty() || t > times.back().first);
            times.emplace_back(t, now);
        } else if (line[0] == '0' || line[0] == '1') {
            const auto s = signals.find(line.substr(1));
            FUZZ_CHECK(s != signals.end() && !times.empty());
            std::uint32_t &word = s->second.first == 'o' ? now.out : now.in;
            const std::uint32_t bit = 1U << s->second.second;
            word = line[0] == '1' ? word | bit : word & ~bit;
            times.back().second = now;
        }
    }
    return times;
}

// The bits whose cell in the row of 32 at @at of @line holds @mark: bit
// 31 first, a space between bytes, trailing blanks perhaps cut.
std::uint32_t cells(const std::string &line, std::size_t at, char mark)
{
    std::uint32_t word = 0;
    for (int bit = 31; bit >= 0; --bit) {
        const std::size_t i = at + static_cast<std::size_t>(31 - bit + (31 - bit) / 8);
        if (i < line.size() && line[i] == mark)
            word |= 1U << static_cast<unsigned>(bit);
    }
    return word;
}

bool operator!=(Sample a, Sample b)
{
    return a.out != b.out || a.in != b.in;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    char *text = nullptr;
    std::size_t length = 0;
    std::FILE *file = open_memstream(&text, &length);
    std::vector<std::pair<std::uint64_t, Sample>> put;
    {
        dio_check::VcdWriter vcd(file, "fuzz");
        std::uint64_t ms = 0;
        const std::uint32_t wired = size >= 4 ? fuzz::word(std::string(data, data + 4), 0) : ~0U;
        for (std::size_t i = 4; i + 9 <= size && put.size() < 200; i += 9) {
            ms += std::uint64_t{data[i]} * 7U; // sometimes no time at all between two
            const Sample s{fuzz::word(std::string(data + i + 1, data + i + 5), 0),
                           fuzz::word(std::string(data + i + 5, data + i + 9), 0)};
            vcd.add(ms, s);
            put.emplace_back(ms, s);
            const std::uint32_t wrong = (s.in ^ s.out) & wired;
            std::istringstream view(dio_check::render_line(put.size(), s, wrong, wired, {}));
            std::string row[3];
            for (std::string &r : row)
                std::getline(view, r);
            FUZZ_CHECK(row[0].find(" do ") == 7 && cells(row[0], 11, '1') == s.out &&
                       cells(row[0], 11, '0') == ~s.out);
            FUZZ_CHECK(row[1].find("di ") == 8 && cells(row[1], 11, '1') == s.in &&
                       cells(row[1], 11, '0') == ~s.in);
            FUZZ_CHECK(cells(row[2], 11, '^') == wrong && (wrong != 0) == !row[2].empty());
        }
        vcd.finish(ms + 1000);
        FUZZ_CHECK(vcd.good());
    }
    std::fclose(file);
    const auto times = read_back(std::string(text, length));
    std::free(text);
    // The levels drawn change as the samples do, and never before their time.
    std::vector<std::pair<std::uint64_t, Sample>> drawn;
    for (const auto &entry : times) {
        if (drawn.empty() || entry.second != drawn.back().second)
            drawn.push_back(entry);
    }
    std::size_t d = 0;
    for (std::size_t k = 0; k < put.size(); ++k) {
        if (k > 0 && !(put[k].second != put[k - 1].second))
            continue;
        FUZZ_CHECK(d < drawn.size() && !(drawn[d].second != put[k].second) &&
                   drawn[d].first >= put[k].first);
        ++d;
    }
    FUZZ_CHECK(d == drawn.size());
    return 0;
}

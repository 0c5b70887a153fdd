// Bits of a 32-bit word of lines: bit i is line i.
#ifndef DIO_COMMON_BITS_H
#define DIO_COMMON_BITS_H

#include <bitset>
#include <cstdint>
#include <string>

namespace dio {

inline bool has(std::uint32_t word, unsigned bit)
{
    return (word >> bit & 1U) != 0;
}

inline unsigned ones(std::uint32_t word)
{
    return static_cast<unsigned>(std::bitset<32>(word).count());
}

// "DO 0-3, 7, 9" for @kind "DO" and the lines of @word, runs as ranges.
inline std::string line_list(const char *kind, std::uint32_t word)
{
    std::string text;
    for (unsigned i = 0; i < 32; ++i) {
        if (!has(word, i) || (i > 0 && has(word, i - 1)))
            continue;
        unsigned last = i;
        while (last < 31 && has(word, last + 1))
            ++last;
        text += (text.empty() ? std::string(kind) + " " : ", ") + std::to_string(i) +
                (last > i ? "-" + std::to_string(last) : "");
    }
    return text;
}

} // namespace dio

#endif

// Bits of a 32-bit word of lines: bit i is line i.
#ifndef DIO_COMMON_BITS_H
#define DIO_COMMON_BITS_H

#include <bitset>
#include <cstdint>

namespace dio {

inline bool has(std::uint32_t word, unsigned bit)
{
    return (word >> bit & 1U) != 0;
}

inline unsigned ones(std::uint32_t word)
{
    return static_cast<unsigned>(std::bitset<32>(word).count());
}

} // namespace dio

#endif

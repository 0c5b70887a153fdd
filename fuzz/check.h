// What the fuzz targets share: a property that must hold, and the text of
// an input.
#ifndef DIO_FUZZ_CHECK_H
#define DIO_FUZZ_CHECK_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Stops at once, naming the property, so that the fuzzer keeps the input.
#define FUZZ_CHECK(property) ((property) ? (void)0 : fuzz::failed(#property, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void failed(const char *property, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, property);
    std::abort();
}

// @data cut at each line feed into at most @n fields; missing ones are "".
inline std::vector<std::string> fields(const std::uint8_t *data, std::size_t size, std::size_t n)
{
    std::vector<std::string> out(n);
    std::size_t f = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' && f + 1 < n)
            ++f;
        else
            out[f] += static_cast<char>(data[i]);
    }
    return out;
}

// The first four bytes of @bytes as a little-endian word, else @otherwise.
inline std::uint32_t word(const std::string &bytes, std::uint32_t otherwise)
{
    if (bytes.size() < 4)
        return otherwise;
    std::uint32_t w = 0;
    for (int i = 3; i >= 0; --i)
        w = w << 8U | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    return w;
}

} // namespace fuzz

#endif

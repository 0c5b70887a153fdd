// Plays the board maker's own library in the tests that build the program
// against a library other than the stand-in: its board 1 reads back every
// output inverted, so its lines tell which library the program runs on.

#include "board.h"

#include <cstdint>

namespace {
std::uint32_t outputs = 0;
}

extern "C" {

KESTOR_API std::int32_t Kestor_OpenDevice(std::int32_t device)
{
    return device == 1 ? 0 : -1;
}

KESTOR_API std::int32_t Kestor_DOAll(std::int32_t /*device*/, std::uint32_t pattern)
{
    outputs = pattern;
    return 0;
}

KESTOR_API std::uint32_t Kestor_DIAll(std::int32_t /*device*/)
{
    return ~outputs;
}

} // extern "C"

// Vornel, the stand-in board library: the three operations that
// dio-exerciser calls, for machines without the board maker's library.
//
// Board 1 is a simulated board with a loopback plug unless the environment
// says otherwise (see README.md, "The stand-in board library").

#include "board.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum class Kind { None, Loopback };

struct Board {
    Kind kind = Kind::None;
    std::uint32_t last_written = 0; // what the loopback plug feeds back
};

Board board1;

bool verbose()
{
    const char *v = std::getenv("VORNEL_VERBOSE");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

// Says why opening failed, but only when asked to: the program's own
// output is a contract and stays clean by default.
void report(const char *reason)
{
    if (verbose())
        std::fprintf(stderr, "vornel: %s\n", reason);
}

Board *open_board(std::int32_t device)
{
    if (device != 1) {
        report("no such board (only board 1 exists)");
        return nullptr;
    }
    const char *setting = std::getenv("VORNEL_BOARD1");
    if (setting == nullptr || *setting == '\0' || std::strcmp(setting, "loopback") == 0) {
        board1.kind = Kind::Loopback;
        return &board1;
    }
    if (std::strcmp(setting, "absent") == 0) {
        report("board 1 is absent (VORNEL_BOARD1=absent)");
        return nullptr;
    }
    report("VORNEL_BOARD1: unknown board kind (use loopback or absent)");
    return nullptr;
}

Board *opened(std::int32_t device)
{
    return device == 1 && board1.kind != Kind::None ? &board1 : nullptr;
}

} // namespace

extern "C" {

KESTOR_API std::int32_t Kestor_OpenDevice(std::int32_t device)
{
    return open_board(device) != nullptr ? 0 : -1;
}

KESTOR_API std::int32_t Kestor_DOAll(std::int32_t device, std::uint32_t pattern)
{
    Board *b = opened(device);
    if (b == nullptr)
        return -1;
    b->last_written = pattern;
    return 0;
}

KESTOR_API std::uint32_t Kestor_DIAll(std::int32_t device)
{
    const Board *b = opened(device);
    return b != nullptr ? b->last_written : 0;
}

} // extern "C"

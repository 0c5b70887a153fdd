// Drives a board through the board library's calls to find its map: the
// passes of vectors, the watches that measure how fast the inputs follow,
// the reads that wait for them, and the walks that settle the suspects.
//
// Real inputs are not instant. Each may take its own time to follow, a
// different time to rise and to fall, bounce, and reach the program only
// at the next scan of a module that samples them every few milliseconds.
// The first pass watches every write until the inputs are quiet; its step
// from all low to all high, and the second pass's step back, are watched
// until every input has followed, so that both edges are measured. The
// settle time is the longest any input took, bounce included, and the
// most a scan can add: no two changes seen in two different scans are
// closer than one scan period. Every other read waits past it, and reads
// twice; an input still moving is read again until it is quiet, never
// judged. A reading taken before the settle time was known is taken again.
#ifndef DIO_MAP_MAPPER_H
#define DIO_MAP_MAPPER_H

#include "finder.h"

#include <cstdint>

namespace dio_map {

struct Settings {
    std::int32_t board = 1;
    std::uint32_t outputs = ~0U; // driven; the others are written 0
    std::uint32_t inputs = ~0U;  // judged
    double settle_ms = -1;       // a fixed wait after each write; measured when negative
    double max_settle_ms = 1000; // the longest an input may take to follow
    unsigned repeat = 2;         // passes
};

enum class Outcome { mapped, stopped, write_failed };

struct Map {
    Outcome outcome = Outcome::mapped;
    Finder finder{~0U};
    std::uint32_t late = 0; // followed only after max_settle_ms, or never came back
    double settle_ms = 0;   // the inputs follow within this (or the fixed wait)
    double wait_ms = 0;     // what a read waits after its write
    unsigned writes = 0;
    std::uint32_t failed_pattern = 0; // the write the library refused
    std::int32_t failed_result = 0;   // ... and what it returned
    std::uint32_t driven = 0;         // the last write the library took
    std::int32_t lowered = 0;         // what the last write, all low, returned
};

// Finds the map of board @s.board, which must be open, and writes its
// outputs low at the end (Map::lowered says whether the library took it);
// a signal in dio::stop_signal ends it early.
Map find_map(const Settings &s);

// The wait after each write for a settle time of @settle_ms.
double wait_for_settle(double settle_ms);

} // namespace dio_map

#endif

// A board library for measuring dio-exerciser itself: a loopback board
// that times the cycles and counts heap allocations in the program.
//
// Steered by the environment:
//   DIOBENCH_WARMUP      cycles before measuring (default 10)
//   DIOBENCH_CYCLES      cycles to measure (default 1000)
//   DIOBENCH_SKIP_WAITS  1: the program's waits pass at once
//   DIOBENCH_ON_READ     1: a cycle begins at each read, not each write, and
//                        each read finds other inputs, for a program that
//                        only reads
//   DIOBENCH_REPORT      file the figures are written to; the process then
//                        ends with status 0 at the start of the next cycle

#include "board.h"
#include "count_allocations.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <unistd.h>

namespace {

std::uint32_t last_written = 0;
unsigned long cycle = 0;
long long started_ns = 0;
unsigned long allocations_at_start = 0;
long long previous_ns = 0;
long long shortest_ns = 0;
long long longest_ns = 0;

unsigned long env(const char *name, unsigned long fallback)
{
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoul(v, nullptr, 10) : fallback;
}

// Read once, so the cycles measured do not include reading them.
const unsigned long warmup = env("DIOBENCH_WARMUP", 10);
const unsigned long cycles = env("DIOBENCH_CYCLES", 1000);
const bool skip_waits = env("DIOBENCH_SKIP_WAITS", 0) != 0;
const bool on_read = env("DIOBENCH_ON_READ", 0) != 0;

long long now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Called at the start of every cycle, i.e. at each write of the outputs.
void tick()
{
    const long long t = now_ns();
    ++cycle;
    if (cycle == warmup + 1) {
        started_ns = t;
        allocations_at_start = allocations_so_far();
    } else if (cycle > warmup + 1) {
        const long long period = t - previous_ns;
        if (shortest_ns == 0 || period < shortest_ns)
            shortest_ns = period;
        if (period > longest_ns)
            longest_ns = period;
    }
    previous_ns = t;
    if (cycle < warmup + cycles + 1)
        return;

    const unsigned long allocated = allocations_so_far() - allocations_at_start;
    const char *path = std::getenv("DIOBENCH_REPORT");
    std::FILE *f = path != nullptr ? std::fopen(path, "w") : nullptr;
    if (f != nullptr) {
        std::fprintf(f,
                     "cycles %lu\nnanoseconds %lld\nallocations %lu\nallocations_before %lu\n"
                     "shortest %lld\nlongest %lld\n",
                     cycles, t - started_ns, allocated, allocations_at_start, shortest_ns,
                     longest_ns);
        std::fclose(f);
    }
    _exit(0);
}

} // namespace

extern "C" {

KESTOR_API std::int32_t Kestor_OpenDevice(std::int32_t device)
{
    return device == 1 ? 0 : -1;
}

KESTOR_API std::int32_t Kestor_DOAll(std::int32_t /*device*/, std::uint32_t pattern)
{
    if (!on_read)
        tick();
    last_written = pattern;
    return 0;
}

KESTOR_API std::uint32_t Kestor_DIAll(std::int32_t /*device*/)
{
    if (!on_read)
        return last_written;
    tick();
    return static_cast<std::uint32_t>(cycle * 0x9e3779b9UL);
}

KESTOR_API int nanosleep(const struct timespec *req, struct timespec *rem)
{
    if (skip_waits)
        return 0;
    return clock_nanosleep(CLOCK_MONOTONIC, 0, req, rem);
}

} // extern "C"

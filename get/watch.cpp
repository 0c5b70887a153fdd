#include "watch.h"

#include "bits.h"
#include "board.h"
#include "stop.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace dio_get {

void pause_ms(double ms)
{
#if defined(_WIN32)
    Sleep(static_cast<DWORD>(ms < 1 ? 1 : ms));
#else
    const auto ns = static_cast<long long>(std::ceil(ms * 1e6));
    const timespec t{static_cast<std::time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    nanosleep(&t, nullptr); // a signal ends it early
#endif
}

bool watch(const WatchSettings &s, WatchEnd end, void *context)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point began = Clock::now();
    std::uint32_t shown = Kestor_DIAll(s.board) & s.inputs;
    std::uint64_t changes = 0;
    char line[32 * 4 + 64];
    std::snprintf(line, sizeof line, "0.000 di:%x\n", static_cast<unsigned>(shown));
    for (;;) {
        if (std::fputs(line, stdout) == EOF || std::fflush(stdout) != 0)
            return false;
        if (s.count != 0 && changes == s.count)
            return true;
        std::uint32_t word = shown;
        while (word == shown) {
            if (dio::stop_signal != 0 || (end != nullptr && end(context)))
                return true;
            pause_ms(s.poll_ms);
            word = Kestor_DIAll(s.board) & s.inputs;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        int n =
            std::snprintf(line, sizeof line, "%.3f di:%x", seconds, static_cast<unsigned>(word));
        for (unsigned j = 0; j < 32; ++j) {
            if (dio::has(word ^ shown, j))
                n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %c%u",
                                   dio::has(word, j) ? '+' : '-', j);
        }
        std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "\n");
        shown = word;
        ++changes;
    }
}

} // namespace dio_get

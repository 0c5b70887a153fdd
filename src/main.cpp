// dio-exerciser: drives a board's digital outputs with an alternating
// pattern and prints what its digital inputs read back, once a second.

#include "board.h"

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <chrono>
#include <thread>

// Sleep as Windows has it: blocks the thread for @milliseconds.
static void Sleep(unsigned long milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
#endif

int main()
{
    const std::int32_t device = 1;

    if (Kestor_OpenDevice(device) < 0) {
        std::printf("Open device failed!\n");
        // Show the message before blocking on input, even into a pipe.
        std::fflush(stdout);
        std::getchar();
        return 0;
    }

    std::uint32_t pattern = 0x55555555;
    for (;;) {
        Kestor_DOAll(device, pattern);
        Sleep(1000);
        const std::uint32_t input = Kestor_DIAll(device);
        std::printf("do:%x,di:%x\n", static_cast<unsigned int>(pattern),
                    static_cast<unsigned int>(input));
        // The program is only ever stopped from outside: a line left in
        // the buffer would be late for a watcher and lost at the stop.
        std::fflush(stdout);
        pattern = ~pattern;
    }
}

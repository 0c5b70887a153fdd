// dio-probe: opens board 1 and writes and reads the words given, for the
// checks the exerciser's two patterns cannot make (a byte swap, say).
//
//   dio-probe <word|di|hold>...
//
// A hex word is written, and after 300 ms the inputs are read and printed
// as the exerciser prints them; "di" only reads; "hold" keeps the board
// open until the process is killed. Prints "Open device failed!" and ends
// with status 1 if the board does not open.

#include "board.h"

#include <cstdint>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char **argv)
{
    if (Kestor_OpenDevice(1) < 0) {
        std::printf("Open device failed!\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "hold") {
            std::fflush(stdout);
            for (;;)
                std::this_thread::sleep_for(std::chrono::hours(1));
        }
        if (arg == "di") {
            std::printf("di:%x\n", Kestor_DIAll(1));
            continue;
        }
        const auto word = static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 16));
        Kestor_DOAll(1, word);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::printf("do:%x,di:%x\n", word, Kestor_DIAll(1));
    }
    return 0;
}

// dio-bench's Modbus part: the cost of one Kestor_DOAll + Kestor_DIAll pair
// on the stand-in's Modbus board, against modbus-peer over loopback TCP,
// next to the same two requests made with libmodbus alone, and the heap
// allocations the pair makes.

#include "modbus_bench.h"
#include "board.h"

#include "count_allocations.h"
#include <cstdint>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <modbus.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Starts the peer on a free loopback port; returns its pid and port, and
// the pipe to its standard input, which ends it when closed.
bool start_peer(pid_t &pid, std::string &port, int &input)
{
    int out[2];
    int in[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(in, O_CLOEXEC) != 0)
        return false;
    input = in[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char program[] = MODBUS_PEER;
    char tcp[] = "--tcp";
    char address[] = "127.0.0.1";
    char quiet[] = "--quiet";
    char *argv[] = {program, tcp, address, quiet, nullptr};
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in[0]);
    char line[64] = {};
    const ssize_t n = rc == 0 ? read(out[0], line, sizeof line - 1) : -1;
    close(out[0]);
    if (n <= 5 || std::string(line, 5) != "port ")
        return false;
    port = std::to_string(std::strtol(line + 5, nullptr, 10));
    return true;
}

struct Figures {
    std::vector<double> ns;
    [[nodiscard]] double median() const
    {
        std::vector<double> v = ns;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    [[nodiscard]] double worst() const { return *std::max_element(ns.begin(), ns.end()); }
};

} // namespace

int bench_modbus()
{
    pid_t peer = 0;
    std::string port;
    int peer_input = -1;
    if (!start_peer(peer, port, peer_input)) {
        std::fprintf(stderr, "dio-bench: %s did not start\n", MODBUS_PEER);
        return 1;
    }
    const std::string module = "127.0.0.1:" + port;
    setenv("VORNEL_BOARD1", "", 1);
    setenv("VORNEL_BOARD1_MODBUS", module.c_str(), 1);
    setenv("VORNEL_BOARD1_DO", "coils:0-31", 1);
    setenv("VORNEL_BOARD1_DI", "inputs:0-31", 1);
    modbus_t *bare =
        modbus_new_tcp("127.0.0.1", static_cast<int>(std::strtol(port.c_str(), nullptr, 10)));
    if (Kestor_OpenDevice(1) != 0 || bare == nullptr || modbus_set_slave(bare, 1) != 0 ||
        modbus_connect(bare) != 0) {
        std::fprintf(stderr, "dio-bench: cannot reach the peer at %s\n", module.c_str());
        close(peer_input);
        waitpid(peer, nullptr, 0);
        return 1;
    }

    if (allocations_so_far() == 0) {
        std::fprintf(stderr, "dio-bench: allocations are not being counted\n");
        return 1;
    }
    const std::size_t rounds = 10;
    const std::size_t pairs = 2000;
    Figures board;
    Figures plain;
    board.ns.reserve(rounds * pairs);
    plain.ns.reserve(rounds * pairs);
    std::uint8_t coils[32];
    std::uint8_t inputs[32];
    std::uint32_t pattern = 0x55555555;
    bool right = true;
    unsigned long allocated = 0;
    for (std::size_t round = 0; round <= rounds; ++round) {
        const bool warmup = round == 0;
        // The two alternate in rounds, so that both see the same machine.
        const unsigned long before = allocations_so_far();
        for (std::size_t i = 0; i < pairs; ++i) {
            const auto t = Clock::now();
            Kestor_DOAll(1, pattern);
            right = right && Kestor_DIAll(1) == pattern;
            const auto ns = std::chrono::duration<double, std::nano>(Clock::now() - t).count();
            if (!warmup)
                board.ns.push_back(ns);
            pattern = ~pattern;
        }
        if (!warmup)
            allocated += allocations_so_far() - before;
        for (std::size_t i = 0; i < pairs; ++i) {
            for (int k = 0; k < 32; ++k)
                coils[k] = static_cast<std::uint8_t>(pattern >> k & 1U);
            const auto t = Clock::now();
            modbus_write_bits(bare, 0, 32, coils);
            modbus_read_input_bits(bare, 0, 32, inputs);
            const auto ns = std::chrono::duration<double, std::nano>(Clock::now() - t).count();
            if (!warmup)
                plain.ns.push_back(ns);
            pattern = ~pattern;
        }
    }
    modbus_close(bare);
    modbus_free(bare);
    close(peer_input);
    waitpid(peer, nullptr, 0);

    const auto n = static_cast<double>(rounds * pairs);
    std::printf("Modbus TCP on loopback, write 32 coils + read 32 inputs (%zu pairs each):\n",
                rounds * pairs);
    std::printf("  Kestor_DOAll + Kestor_DIAll:  median %8.1f us, worst %8.1f us\n",
                board.median() / 1e3, board.worst() / 1e3);
    std::printf("  libmodbus alone:              median %8.1f us, worst %8.1f us\n",
                plain.median() / 1e3, plain.worst() / 1e3);
    std::printf("  ratio of medians:             %8.2f     (goal: at most 1.2)\n",
                board.median() / plain.median());
    std::printf("  heap allocations per pair:    %8.3f    (%lu in %.0f pairs)\n",
                static_cast<double>(allocated) / n, allocated, n);
    if (!right) {
        std::fprintf(stderr, "dio-bench: the Modbus board read back a wrong word\n");
        return 1;
    }
    return allocated == 0 ? 0 : 1;
}

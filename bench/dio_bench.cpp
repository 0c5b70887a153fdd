// dio-bench: measures dio-exerciser on a timing board library.
//
//   dio-bench [--no-period]
//
// Prints the cost of one cycle with the waits skipped, next to a bare loop
// that only formats and writes the same line; the heap allocations per
// cycle; and the real period over ten cycles (about twelve seconds; skipped
// with --no-period). Then the heap allocations of dio-map while it writes
// and reads. Where the stand-in has Modbus boards, also the cost
// of one write-and-read pair on one over loopback TCP (modbus_bench.cpp).
// Last, dio-check reading saved reports of 10 thousand and 10 million
// lines (check_bench.cpp).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "check_bench.h"
#if defined(DIO_BENCH_MODBUS)
#include "modbus_bench.h"
#endif

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Report = std::map<std::string, long long>;

// Runs the program at @path (dio-exerciser, dio-map) on the timing board with its
// output thrown away.
Report run_on_bench_board(const char *path, unsigned long warmup, unsigned long cycles,
                          bool skip_waits)
{
    char report_path[] = "/tmp/dio-bench.XXXXXX";
    const int fd = mkstemp(report_path);
    if (fd < 0) {
        std::perror("mkstemp");
        std::exit(1);
    }
    close(fd);

    std::vector<std::string> env_strings{
        std::string("LD_LIBRARY_PATH=") + BENCH_BOARD_DIR,
        "DIOBENCH_WARMUP=" + std::to_string(warmup), "DIOBENCH_CYCLES=" + std::to_string(cycles),
        std::string("DIOBENCH_SKIP_WAITS=") + (skip_waits ? "1" : "0"),
        std::string("DIOBENCH_REPORT=") + report_path};
    std::vector<char *> envp;
    envp.reserve(env_strings.size() + 1);
    for (auto &s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string program_text = path;
    char *program = program_text.data();
    char *argv[] = {program, nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "dio-bench: %s did not run to the end\n", program);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);

    Report r;
    std::FILE *f = std::fopen(report_path, "r");
    char line[128];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
        char *space = std::strchr(line, ' ');
        if (space != nullptr)
            r[std::string(line, space)] = std::strtoll(space + 1, nullptr, 10);
    }
    if (f != nullptr)
        std::fclose(f);
    unlink(report_path);
    return r;
}

// The floor: format and write the same line, flushed, to the same place.
double bare_loop_ns(unsigned long cycles)
{
    std::FILE *out = std::fopen("/dev/null", "w");
    if (out == nullptr)
        return 0;
    std::uint32_t pattern = 0x55555555;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned long i = 0; i < cycles; ++i) {
        std::fprintf(out, "do:%x,di:%x\n", static_cast<unsigned>(pattern),
                     static_cast<unsigned>(pattern));
        std::fflush(out);
        pattern = ~pattern;
    }
    const auto ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start);
    std::fclose(out);
    return ns.count() / static_cast<double>(cycles);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const bool period = !(argc > 1 && std::strcmp(argv[1], "--no-period") == 0);
    const unsigned long cycles = 200000;
    const int runs = 5;

    std::vector<double> program_ns;
    std::vector<double> bare_ns;
    long long allocations = 0;
    for (int i = 0; i < runs; ++i) {
        const Report r = run_on_bench_board(DIO_EXERCISER, 1000, cycles, true);
        program_ns.push_back(static_cast<double>(r.at("nanoseconds")) /
                             static_cast<double>(cycles));
        allocations += r.at("allocations");
        if (r.at("allocations_before") == 0) {
            std::fprintf(stderr, "dio-bench: allocations are not being counted\n");
            return 1;
        }
        bare_ns.push_back(bare_loop_ns(cycles));
    }
    std::printf("one cycle, waits skipped:    %8.1f ns  (median of %d runs of %lu cycles)\n",
                median(program_ns), runs, cycles);
    std::printf("bare format-and-write loop:  %8.1f ns\n", median(bare_ns));
    std::printf("heap allocations per cycle:  %8.3f    (%lld in %lu cycles)\n",
                static_cast<double>(allocations) / static_cast<double>(cycles * runs), allocations,
                cycles * runs);
    if (period) {
        const unsigned long n = 10;
        const Report r = run_on_bench_board(DIO_EXERCISER, 1, n, false);
        std::printf("real period over %lu cycles: %8.3f ms  (shortest %.3f, longest %.3f; "
                    "nominal 1000)\n",
                    n, static_cast<double>(r.at("nanoseconds")) / 1e6 / static_cast<double>(n),
                    static_cast<double>(r.at("shortest")) / 1e6,
                    static_cast<double>(r.at("longest")) / 1e6);
    }
    // dio-map on a healthy board writes 19 times, the last one low; every
    // write and read from its second write on must allocate nothing.
    const Report map = run_on_bench_board(DIO_MAP, 1, 17, false);
    std::printf("dio-map, heap allocations from its 2nd write to its last: %lld  (%lld before)\n",
                map.at("allocations"), map.at("allocations_before"));
    int status =
        allocations == 0 && map.at("allocations") == 0 && map.at("allocations_before") > 0 ? 0 : 1;
#if defined(DIO_BENCH_MODBUS)
    std::fflush(stdout);
    status |= bench_modbus();
#endif
    std::fflush(stdout);
    status |= bench_check();
    return status;
}

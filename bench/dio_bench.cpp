// dio-bench: measures dio-exerciser on a timing board library.
//
//   dio-bench [--no-period]
//
// Prints the cost of one cycle with the waits skipped, next to a bare loop
// that only formats and writes the same line; the heap allocations per
// cycle; and the real period over ten cycles (about twelve seconds; skipped
// with --no-period). Then the heap allocations of dio-map while it writes
// and reads, of dio-set's prompt while it walks the outputs, and of
// dio-get while it watches inputs that change at every read. Where the
// stand-in has Modbus boards, also the cost
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

// Runs the program at @path (dio-exerciser, dio-map, ...) on the timing
// board with @args, standard input from @input, its output thrown away.
Report run_on_bench_board(const char *path, unsigned long warmup, unsigned long cycles,
                          bool skip_waits, std::vector<std::string> args = {},
                          const char *input = "/dev/null", bool on_read = false)
{
    char report_path[] = "/tmp/dio-bench.XXXXXX";
    const int fd = mkstemp(report_path);
    if (fd < 0) {
        std::perror("mkstemp");
        std::exit(1);
    }
    close(fd);

    std::vector<std::string> env_strings{std::string("LD_LIBRARY_PATH=") + BENCH_BOARD_DIR,
                                         "DIOBENCH_WARMUP=" + std::to_string(warmup),
                                         "DIOBENCH_CYCLES=" + std::to_string(cycles),
                                         std::string("DIOBENCH_SKIP_WAITS=") +
                                             (skip_waits ? "1" : "0"),
                                         std::string("DIOBENCH_REPORT=") + report_path,
                                         std::string("DIOBENCH_ON_READ=") + (on_read ? "1" : "0")};
    std::vector<char *> envp;
    envp.reserve(env_strings.size() + 1);
    for (auto &s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string program_text = path;
    char *program = program_text.data();
    std::vector<char *> argv{program};
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input, O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data()) != 0 ||
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
    // dio-set's prompt walks 32 outputs, a write and a read each; dio-get
    // watches inputs that change at every read, and prints each change.
    char walk[] = "/tmp/dio-bench-walk.XXXXXX";
    const int walk_fd = mkstemp(walk);
    if (walk_fd < 0 || write(walk_fd, "walk\n", 5) != 5 || close(walk_fd) != 0) {
        std::perror("dio-bench: a prompt script");
        return 1;
    }
    const Report set = run_on_bench_board(DIO_SET, 2, 30, true, {"-i", "--settle", "0"}, walk);
    unlink(walk);
    std::printf("dio-set -i, heap allocations over 30 writes of a walk: %lld  (%lld before)\n",
                set.at("allocations"), set.at("allocations_before"));
    const Report get = run_on_bench_board(DIO_GET, 10, 1000, true, {"--watch"}, "/dev/null", true);
    std::printf("dio-get --watch, heap allocations over 1000 reads, each a change: %lld  "
                "(%lld before); %.1f us a read\n",
                get.at("allocations"), get.at("allocations_before"),
                static_cast<double>(get.at("nanoseconds")) / 1e3 / 1000);
    int status = allocations == 0 && map.at("allocations") == 0 &&
                         map.at("allocations_before") > 0 && set.at("allocations") == 0 &&
                         get.at("allocations") == 0
                     ? 0
                     : 1;
#if defined(DIO_BENCH_MODBUS)
    std::fflush(stdout);
    status |= bench_modbus();
#endif
    std::fflush(stdout);
    status |= bench_check();
    return status;
}

// dio-check reading a saved report, waveform off: lines per second, and
// its peak memory for a short and a long report, which should be equal.

#include "check_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The exerciser's alternating lines, with DI 9 wrong in one line of 1000,
// so that the verdict's slow path is taken too.
bool write_report(const std::string &path, unsigned long lines)
{
    std::FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        return false;
    std::uint32_t pattern = 0x55555555;
    for (unsigned long i = 0; i < lines; ++i, pattern = ~pattern) {
        const std::uint32_t in = i % 1000 == 999 ? pattern ^ (1U << 9) : pattern;
        std::fprintf(f, "do:%x,di:%x\n", static_cast<unsigned>(pattern), static_cast<unsigned>(in));
    }
    return std::fclose(f) == 0;
}

struct Run {
    double seconds = 0;
    long peak_kib = 0;
    int status = -1;
};

Run run_check(const std::string &report)
{
    char program[] = DIO_CHECK;
    std::string path = report;
    char *argv[] = {program, path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    Run run;
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        struct rusage usage {};
        if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
            run.status = WEXITSTATUS(status);
            run.peak_kib = usage.ru_maxrss;
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

} // namespace

int bench_check()
{
    int failed = 0;
    for (const unsigned long lines : {10000UL, 10000000UL}) {
        const std::string report = std::string(BENCH_WORK_DIR) + "/check-report.txt";
        if (!write_report(report, lines)) {
            std::perror(report.c_str());
            return 1;
        }
        std::vector<Run> runs;
        runs.reserve(3);
        for (int i = 0; i < 3; ++i)
            runs.push_back(run_check(report));
        unlink(report.c_str());
        std::sort(runs.begin(), runs.end(),
                  [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
        const Run &mid = runs[1];
        // The report has a fault in it: dio-check must say FAIL.
        if (mid.status != 1) {
            std::fprintf(stderr, "dio-bench: dio-check ended with %d, not 1\n", mid.status);
            failed = 1;
        }
        std::printf("dio-check, %8lu lines:   %8.2f million lines/s  (%.3f s, median of 3), "
                    "peak memory %ld KiB\n",
                    lines, static_cast<double>(lines) / mid.seconds / 1e6, mid.seconds,
                    mid.peak_kib);
    }
    return failed;
}

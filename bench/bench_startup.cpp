// Start-up to the visible main window: kvendar32 against a bare Qt Widgets window, the two taking
// turns in one run on the same display. Each child runs with StartupProbe preloaded, which reports
// the clock at its first paint and ends it; the figure is from fork to that paint.
//   kvendar_bench_startup <kvendar32> <bare window> <probe library> [runs=21]
#include "Measure.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

long long NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct Start
{
    double wallMs = -1; // from fork to the child's first paint; negative when it failed
    double cpuMs = -1;  // the child's processor time (user and system), which a loaded machine disturbs less
};

Start StartToPaint(const char* program, const char* probe)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const long long start = NowNs();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        setenv("LD_PRELOAD", probe, 1);
        setenv("KVENDAR_PROBE_FD", std::to_string(fds[1]).c_str(), 1);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char line[64] = {};
    ssize_t got = 0;
    for (ssize_t n; (n = read(fds[0], line + got, sizeof line - 1 - size_t(got))) > 0;)
        got += n;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return {double(std::atoll(line) - start) / 1e6, ms(usage.ru_utime) + ms(usage.ru_stime)};
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s KVENDAR32 BARE_WINDOW PROBE_LIBRARY [runs=21]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 21;
    std::vector<double> programWall, bareWall, programCpu, bareCpu;
    // One unmeasured start of each fills the page cache with both programs' libraries.
    if (StartToPaint(argv[1], argv[3]).wallMs < 0 || StartToPaint(argv[2], argv[3]).wallMs < 0) {
        std::fprintf(stderr, "a program did not paint a window (is there a display?)\n");
        return 1;
    }
    for (int i = 0; i < runs; ++i) {
        const Start p = StartToPaint(argv[1], argv[3]);
        const Start b = StartToPaint(argv[2], argv[3]);
        if (p.wallMs < 0 || b.wallMs < 0) {
            std::fprintf(stderr, "run %d failed\n", i);
            return 1;
        }
        programWall.push_back(p.wallMs);
        bareWall.push_back(b.wallMs);
        programCpu.push_back(p.cpuMs);
        bareCpu.push_back(b.cpuMs);
    }
    const double pw = kvbench::Median(programWall), bw = kvbench::Median(bareWall);
    const double pc = kvbench::Median(programCpu), bc = kvbench::Median(bareCpu);
    std::printf("start-up to first paint, median of %d: program %.1f ms, bare window %.1f ms, ratio %.2f\n", runs, pw,
                bw, pw / bw);
    std::printf("processor time to first paint, median of %d: program %.1f ms, bare window %.1f ms, ratio %.2f\n", runs,
                pc, bc, pc / bc);
    return 0;
}

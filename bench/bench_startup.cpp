// Start-up to the visible main window: kvendar32 against a bare Qt Widgets window, the two taking
// turns in one run on the same display. Each child runs with StartupProbe preloaded, which reports
// the clock at its first paint and ends it; the figure is from fork to that paint.
//   kvendar_bench_startup <kvendar32> <bare window> <probe library> [runs=21]
#include "Measure.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
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

// Milliseconds from fork to the child's first paint, or a negative number when it failed.
double StartToPaint(const char* program, const char* probe)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
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
    waitpid(pid, &status, 0);
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(std::atoll(line) - start) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s KVENDAR32 BARE_WINDOW PROBE_LIBRARY [runs=21]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 21;
    std::vector<double> program, bare;
    // One unmeasured start of each fills the page cache with both programs' libraries.
    if (StartToPaint(argv[1], argv[3]) < 0 || StartToPaint(argv[2], argv[3]) < 0) {
        std::fprintf(stderr, "a program did not paint a window (is there a display?)\n");
        return 1;
    }
    for (int i = 0; i < runs; ++i) {
        program.push_back(StartToPaint(argv[1], argv[3]));
        bare.push_back(StartToPaint(argv[2], argv[3]));
        if (program.back() < 0 || bare.back() < 0) {
            std::fprintf(stderr, "run %d failed\n", i);
            return 1;
        }
    }
    const double p = kvbench::Median(program), b = kvbench::Median(bare);
    std::printf("start-up to first paint, median of %d: kvendar32 %.1f ms, bare window %.1f ms, ratio %.2f\n", runs, p,
                b, p / b);
    return 0;
}

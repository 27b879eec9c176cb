// The export against what any program pays to move the same bytes:
//   kvendar_bench_export <folder> csv [repeats=5]
//     times the CSV export of everything against a plain read of the input files plus a plain write
//     (1 MB blocks, then fsync, as the export does) of as many bytes as the export wrote, all in the
//     same run; medians after one unmeasured run.
//   kvendar_bench_export <folder> xlsx
//     exports the workbook once and reports the process's peak resident size above its size at start.
#include "PlainRead.h"
#include "core/exchange/Export.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace {

double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct Timing
{
    double wallMs;
    double cpuMs; // user and system time of the process: what the work costs when the machine is busy
};

// Medians of wall and processor time, after one unmeasured run.
Timing Median(int repeats, const std::function<void()>& run)
{
    run();
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        const double cpuStart = CpuMs();
        timer.start();
        run();
        wall.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(CpuMs() - cpuStart);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

qint64 FolderBytes(const QString& folder)
{
    qint64 total = 0;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files))
        total += info.size();
    return total;
}

void PlainWrite(const QString& fileName, qint64 bytes)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return;
    std::vector<char> block(1 << 20, 'x');
    while (bytes > 0) {
        const ssize_t n = ::write(fd, block.data(), size_t(std::min<qint64>(bytes, qint64(block.size()))));
        if (n <= 0)
            break;
        bytes -= n;
    }
    ::fsync(fd);
    ::close(fd);
}

// VmRSS or VmHWM of this process, in kB.
long StatusKb(const char* field)
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, length) == 0)
            kb = std::atol(line + length + 1);
    std::fclose(status);
    return kb;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long startKb = StatusKb("VmRSS");
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: kvendar_bench_export <folder> csv|xlsx [repeats]\n");
        return 2;
    }
    const QString data = args.at(1);
    QTemporaryDir out;
    if (args.at(2) == u"xlsx") {
        QElapsedTimer timer;
        timer.start();
        const kv::ExportResult result = kv::ExportTables(data, kv::ExportFormat::Xlsx, kv::TestSelection(),
                                                         out.filePath(QStringLiteral("all.xlsx")));
        const double ms = double(timer.elapsed());
        const long peakKb = StatusKb("VmHWM");
        std::printf("xlsx export of %lld tests, %lld values: %.0f ms, %.1f MB; peak resident %.1f MB above the "
                    "start (%.1f MB at start)\n",
                    result.Tests, result.Values, ms, QFileInfo(out.filePath(QStringLiteral("all.xlsx"))).size() / 1e6,
                    (peakKb - startKb) / 1024.0, startKb / 1024.0);
        return 0;
    }

    const int repeats = args.size() > 3 ? args.at(3).toInt() : 5;
    const QString csv = out.filePath(QStringLiteral("csv"));
    const Timing exported =
        Median(repeats, [&] { kv::ExportTables(data, kv::ExportFormat::Csv, kv::TestSelection(), csv); });
    const qint64 written = FolderBytes(csv);
    const QStringList inputs = {data + QStringLiteral("/tests.dat"), data + QStringLiteral("/values.dat"),
                                data + QStringLiteral("/answers.dat")};
    const Timing read = Median(repeats, [&] {
        for (const QString& input : inputs)
            kvbench::PlainRead(input);
    });
    const QString plain = out.filePath(QStringLiteral("plain"));
    const Timing write = Median(repeats, [&] { PlainWrite(plain, written); });
    std::printf("                       wall ms   cpu ms\n");
    std::printf("plain read of inputs %9.1f %8.1f\n", read.wallMs, read.cpuMs);
    std::printf("plain write %6.1f MB %9.1f %8.1f\n", written / 1e6, write.wallMs, write.cpuMs);
    std::printf("csv export           %9.1f %8.1f\n", exported.wallMs, exported.cpuMs);
    std::printf("export / (read + write): wall %.2f, cpu %.2f\n", exported.wallMs / (read.wallMs + write.wallMs),
                exported.cpuMs / (read.cpuMs + write.cpuMs));
    return 0;
}

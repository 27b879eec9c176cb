#pragma once

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <functional>
#include <vector>

namespace kvbench {

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Wall-clock milliseconds of one run of work.
inline double Ms(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Kilobytes from /proc/self/status; key with its colon ("VmHWM:", "VmRSS:").
inline long StatusKb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key)) + 1).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Resets the peak resident size to the current one (Linux 4.0 and later).
inline bool ResetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

} // namespace kvbench

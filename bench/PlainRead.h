#pragma once

#include <QFile>
#include <QString>

#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kvbench {

// Keeps the compiler from dropping the read loop.
inline volatile unsigned g_sink;

// The baseline every benchmark compares against: what any program has to pay to get the bytes at
// all, read() in 1 MB blocks, touching each block.
inline void PlainRead(const QString& fileName)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY);
    if (fd < 0)
        return;
    std::vector<char> block(1 << 20);
    unsigned sum = 0;
    ssize_t n;
    while ((n = ::read(fd, block.data(), block.size())) > 0)
        sum += unsigned(block[size_t(n) - 1]);
    ::close(fd);
    g_sink = sum;
}

} // namespace kvbench

#include "database/Journal.h"

#include "database/DurableIo.h"
#include "database/RecordFile.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr char kMagic[8] = {'K', 'V', 'J', 'O', 'U', 'R', 'N', '1'};
// Far above three names and three torn tails; a larger "journal" is not one of ours.
constexpr qint64 kMaxJournal = 1 << 20;

quint32 Crc32(const char* data, qsizetype size)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i)
        crc = table[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

template <typename T> void Append(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian<T>(value, bytes);
    out.append(bytes, sizeof(T));
}

// Reads a little-endian T at pos, advancing it; false when the bytes run out.
template <typename T> bool Take(const QByteArray& in, qsizetype& pos, T& value)
{
    if (in.size() - pos < qsizetype(sizeof(T)))
        return false;
    value = qFromLittleEndian<T>(in.constData() + pos);
    pos += qsizetype(sizeof(T));
    return true;
}

bool ReadWhole(int fd, QByteArray& into)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return false;
    if (st.st_size > kMaxJournal) {
        into.clear();
        return true; // decodes as damaged
    }
    into.resize(qsizetype(st.st_size));
    qsizetype filled = 0;
    while (filled < into.size()) {
        const ssize_t n = ::pread(fd, into.data() + filled, size_t(into.size() - filled), off_t(filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        filled += n;
    }
    into.resize(filled);
    return true;
}

const QString kNames[3] = {QStringLiteral("tests.dat"), QStringLiteral("values.dat"), QStringLiteral("answers.dat")};

[[noreturn]] void Fail(int error, const QString& fileName)
{
    throw Error(RecoveryErrorText(error, fileName));
}

struct FdCloser
{
    int fd;
    ~FdCloser() { ::close(fd); }
};

} // namespace

QString TestsFileName(const QString& dataDir)
{
    return dataDir + QStringLiteral("/tests.dat");
}
QString ValuesFileName(const QString& dataDir)
{
    return dataDir + QStringLiteral("/values.dat");
}
QString AnswersFileName(const QString& dataDir)
{
    return dataDir + QStringLiteral("/answers.dat");
}
QString JournalFileName(const QString& dataDir)
{
    return dataDir + QStringLiteral("/journal.dat");
}

QByteArray EncodeJournal(const std::vector<JournalEntry>& entries)
{
    QByteArray out(kMagic, sizeof kMagic);
    Append<quint32>(out, 0); // the length, known at the end
    Append<quint32>(out, quint32(entries.size()));
    for (const JournalEntry& e : entries) {
        const QByteArray name = e.name.toLatin1();
        Append<quint8>(out, quint8(name.size()));
        out.append(name);
        Append<quint64>(out, quint64(e.wholeEnd));
        Append<quint32>(out, quint32(e.tail.size()));
        out.append(e.tail);
    }
    qToLittleEndian<quint32>(quint32(out.size() + 4), out.data() + sizeof kMagic);
    Append<quint32>(out, Crc32(out.constData(), out.size()));
    return out;
}

bool JournalHoldsWrite(const QByteArray& bytes)
{
    const QByteArray head = bytes.left(sizeof kMagic);
    return std::any_of(head.begin(), head.end(), [](char c) { return c != 0; });
}

bool DecodeJournal(const QByteArray& bytes, std::vector<JournalEntry>& entries)
{
    entries.clear();
    constexpr qsizetype kHeader = sizeof kMagic + 8;
    if (bytes.size() < kHeader + 4 || !bytes.startsWith(QByteArray(kMagic, sizeof kMagic)))
        return false;
    const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + sizeof kMagic);
    if (length < kHeader + 4 || length > quint32(bytes.size()))
        return false;
    const qsizetype body = qsizetype(length) - 4;
    if (qFromLittleEndian<quint32>(bytes.constData() + body) != Crc32(bytes.constData(), body))
        return false;
    const QByteArray in = bytes.left(body);
    qsizetype pos = sizeof kMagic + 4;
    quint32 count = 0;
    if (!Take(in, pos, count) || count > 3)
        return false;
    for (quint32 i = 0; i < count; ++i) {
        quint8 nameSize = 0;
        if (!Take(in, pos, nameSize) || in.size() - pos < nameSize)
            return false;
        JournalEntry e;
        e.name = QString::fromLatin1(in.constData() + pos, nameSize);
        pos += nameSize;
        quint64 wholeEnd = 0;
        quint32 tailSize = 0;
        if (!Take(in, pos, wholeEnd) || !Take(in, pos, tailSize) || in.size() - pos < qsizetype(tailSize) ||
            wholeEnd > quint64(std::numeric_limits<qint64>::max()))
            return false;
        e.wholeEnd = qint64(wholeEnd);
        e.tail = in.mid(pos, tailSize);
        pos += tailSize;
        entries.push_back(std::move(e));
    }
    return pos == in.size();
}

QString RecoveryErrorText(int error, const QString& fileName)
{
    return QStringLiteral("База данных не восстановлена после прерванной записи: %1 (%2). Последний тест "
                          "может быть записан не полностью.")
        .arg(ReasonText(error), QDir::toNativeSeparators(fileName));
}

bool ClearJournal(int fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return false;
    if (st.st_size == 0)
        return true;
    // Far too large to be ours: no point in writing that many zeros.
    if (st.st_size > kMaxJournal)
        return TruncateFile(fd, 0) && SyncFile(fd);
    // All of it, not just the magic: a later journal written over this one and torn by a power cut
    // must find zeros behind it, never an older journal's entries that could pass for its own.
    const QByteArray zeros(qsizetype(st.st_size), '\0');
    return WriteAt(fd, zeros.constData(), zeros.size(), 0) && SyncFileData(fd);
}

RecoveryOutcome RecoverLocked(const QString& dataDir, const int (&fds)[3])
{
    const QString journal = JournalFileName(dataDir);
    const QByteArray path = QFile::encodeName(journal);
    const int jfd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (jfd < 0) {
        if (errno == ENOENT)
            return RecoveryOutcome::Clean;
        Fail(errno, journal);
    }
    const FdCloser closer{jfd};
    QByteArray bytes;
    if (!ReadWhole(jfd, bytes))
        Fail(errno, journal);
    // The writer we may have waited for finished and retired its journal.
    if (!JournalHoldsWrite(bytes))
        return RecoveryOutcome::Clean;

    std::vector<JournalEntry> entries;
    if (!DecodeJournal(bytes, entries)) {
        // The journal is made durable before the first append, so one cut short means nothing was
        // appended under it.
        if (!ClearJournal(jfd))
            Fail(errno, journal);
        return RecoveryOutcome::TornJournal;
    }

    // Everything is checked before the first change, so a journal that cannot be applied leaves
    // the folder exactly as it was found.
    int targets[3] = {-1, -1, -1};
    for (const JournalEntry& e : entries) {
        int which = -1;
        for (int i = 0; i < 3; ++i) {
            if (e.name == kNames[i])
                which = i;
        }
        if (which < 0)
            Fail(EINVAL, journal);
        targets[which] = fds[which];
    }
    for (const JournalEntry& e : entries) {
        for (int i = 0; i < 3; ++i) {
            if (e.name != kNames[i] || targets[i] < 0)
                continue;
            struct stat st
            {
            };
            if (::fstat(targets[i], &st) != 0)
                Fail(errno, dataDir + u'/' + kNames[i]);
            // Shorter than where the writer began means the file is not the one the journal saw;
            // cutting "back" would only pad it with zeros.
            if (st.st_size < e.wholeEnd)
                targets[i] = -1;
        }
    }
    for (const JournalEntry& e : entries) {
        for (int i = 0; i < 3; ++i) {
            if (e.name != kNames[i] || targets[i] < 0)
                continue;
            const QString file = dataDir + u'/' + kNames[i];
            if (!TruncateFile(targets[i], e.wholeEnd))
                Fail(errno, file);
            if (!e.tail.isEmpty() && !WriteAt(targets[i], e.tail.constData(), e.tail.size(), e.wholeEnd))
                Fail(errno, file);
            if (!SyncFile(targets[i]))
                Fail(errno, file);
        }
    }
    // Only once the files are back on disk may the journal go; a crash before this point finds it
    // again, and putting the files back a second time gives the same bytes.
    if (!ClearJournal(jfd))
        Fail(errno, journal);
    return RecoveryOutcome::RolledBack;
}

RecoveryOutcome RecoverDataDir(const QString& dataDir, int lockWaitMs)
{
    const QString journal = JournalFileName(dataDir);
    struct stat st
    {
    };
    const QByteArray path = QFile::encodeName(journal);
    if (::lstat(path.constData(), &st) != 0 || st.st_size == 0)
        return RecoveryOutcome::Clean;
    {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char head[sizeof kMagic] = {};
            const ssize_t n = ::pread(fd, head, sizeof head, 0);
            ::close(fd);
            if (n > 0 && !JournalHoldsWrite(QByteArray(head, n)))
                return RecoveryOutcome::Clean;
        }
    }

    // A read-only folder can neither lose its journal nor be trusted to take the cut-back files:
    // say so and leave everything as it is.
    if (::access(QFile::encodeName(dataDir).constData(), W_OK | X_OK) != 0)
        Fail(errno, dataDir);

    struct Locks
    {
        int fds[3] = {-1, -1, -1};
        ~Locks()
        {
            for (int fd : fds) {
                if (fd >= 0)
                    ::close(fd);
            }
        }
    } locks;
    const QString files[3] = {TestsFileName(dataDir), ValuesFileName(dataDir), AnswersFileName(dataDir)};
    // Every file is locked, a missing one made empty, so that no writer can start on it while the
    // journal is being judged: a journal being written looks torn.
    for (int i = 0; i < 3; ++i) {
        locks.fds[i] = OpenLocked(files[i], O_RDWR | O_CREAT, lockWaitMs);
        if (locks.fds[i] < 0)
            Fail(errno, files[i]);
    }
    return RecoverLocked(dataDir, locks.fds);
}

} // namespace kv

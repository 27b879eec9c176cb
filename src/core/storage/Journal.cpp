#include "core/storage/Journal.h"

#include "core/platform/Errors.h"
#include "core/storage/DurableIo.h"
#include "core/storage/RecordFile.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr char kMagic[8] = {'K', 'V', 'J', 'O', 'U', 'R', 'N', '1'};
// Far above three names and three torn tails; a larger "journal" is not one of ours.
constexpr qint64 kMaxJournal = 1 << 20;

constexpr char kSealMagic[8] = {'K', 'V', 'S', 'E', 'A', 'L', '0', '1'};

quint32 Crc32(const char* data, qsizetype size)
{
    return Crc32Update(0, data, size);
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

// Whether the file holds, from `from` to at least `end`, bytes whose checksum is crc; nullopt with
// errno set when it cannot be read.
std::optional<bool> HoldsWrite(int fd, qint64 from, qint64 end, quint32 crc)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    if (st.st_size < end)
        return false;
    QByteArray buffer(qsizetype(std::min<qint64>(end - from, 1 << 20)), Qt::Uninitialized);
    quint32 sum = 0;
    for (qint64 at = from; at < end;) {
        const qint64 n = std::min<qint64>(buffer.size(), end - at);
        if (!ReadAt(fd, buffer.data(), n, at))
            return std::nullopt;
        sum = Crc32Update(sum, buffer.constData(), n);
        at += n;
    }
    return sum == crc;
}

const QString kNames[3] = {QStringLiteral("tests.dat"), QStringLiteral("values.dat"), QStringLiteral("answers.dat")};

[[noreturn]] void Fail(int error, const QString& fileName)
{
    throw Error(RecoveryErrorText(error, fileName));
}

struct FdCloser
{
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

quint32 Crc32Update(quint32 crc, const char* data, qsizetype size)
{
    // Eight bytes per step (slicing by eight): a merge's seal covers everything it appends, so the
    // checksum runs over hundreds of megabytes and must not cost more than writing them.
    static const auto tables = [] {
        std::array<std::array<quint32, 256>, 8> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (quint32 i = 0; i < 256; ++i) {
            for (int k = 1; k < 8; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
        }
        return t;
    }();
    const auto* p = reinterpret_cast<const uchar*>(data);
    quint32 c = ~crc;
    for (; size >= 8; size -= 8, p += 8) {
        const quint32 lo = qFromLittleEndian<quint32>(p) ^ c;
        const quint32 hi = qFromLittleEndian<quint32>(p + 4);
        c = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^ tables[4][lo >> 24] ^
            tables[3][hi & 0xFF] ^ tables[2][(hi >> 8) & 0xFF] ^ tables[1][(hi >> 16) & 0xFF] ^ tables[0][hi >> 24];
    }
    for (; size > 0; --size, ++p)
        c = tables[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return ~c;
}

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

QByteArray EncodeSeal(const QByteArray& journal, const std::vector<SealEntry>& entries)
{
    QByteArray out(kSealMagic, sizeof kSealMagic);
    Append<quint32>(out, 0); // the length, known at the end
    Append<quint32>(out, quint32(entries.size()));
    for (const SealEntry& e : entries) {
        Append<quint64>(out, quint64(e.end));
        Append<quint32>(out, e.crc);
    }
    // Bound to its journal: a seal left behind an older journal never vouches for a newer one.
    Append<quint32>(out, qFromLittleEndian<quint32>(journal.constData() + journal.size() - 4));
    qToLittleEndian<quint32>(quint32(out.size() + 4), out.data() + sizeof kSealMagic);
    Append<quint32>(out, Crc32(out.constData(), out.size()));
    return out;
}

bool DecodeSeal(const QByteArray& bytes, std::vector<SealEntry>& entries)
{
    entries.clear();
    std::vector<JournalEntry> journal;
    if (!DecodeJournal(bytes, journal))
        return false;
    const qsizetype at = qFromLittleEndian<quint32>(bytes.constData() + sizeof kMagic);
    const QByteArray seal = bytes.mid(at);
    constexpr qsizetype kHeader = sizeof kSealMagic + 8;
    if (seal.size() < kHeader + 8 || !seal.startsWith(QByteArray(kSealMagic, sizeof kSealMagic)))
        return false;
    const quint32 length = qFromLittleEndian<quint32>(seal.constData() + sizeof kSealMagic);
    if (length < kHeader + 8 || length > quint32(seal.size()))
        return false;
    const qsizetype body = qsizetype(length) - 4;
    if (qFromLittleEndian<quint32>(seal.constData() + body) != Crc32(seal.constData(), body))
        return false;
    if (qFromLittleEndian<quint32>(seal.constData() + body - 4) !=
        qFromLittleEndian<quint32>(bytes.constData() + at - 4))
        return false;
    qsizetype pos = sizeof kSealMagic + 4;
    quint32 count = 0;
    if (!Take(seal, pos, count) || count != journal.size() || body - 4 - pos != qsizetype(count) * 12)
        return false;
    for (quint32 i = 0; i < count; ++i) {
        quint64 end = 0;
        quint32 crc = 0;
        Take(seal, pos, end);
        Take(seal, pos, crc);
        if (end > quint64(std::numeric_limits<qint64>::max()) || qint64(end) < journal[i].wholeEnd)
            return false;
        entries.push_back({qint64(end), crc});
    }
    return true;
}

QString RecoveryErrorText(int error, const QString& fileName)
{
    return QStringLiteral("База данных не восстановлена после прерванной записи: %1 (%2). Последний тест "
                          "может быть записан не полностью.")
        .arg(ReasonText(error), QDir::toNativeSeparators(fileName));
}

bool ClearJournal(int fd, qint64 knownSize)
{
    qint64 size = knownSize;
    if (size < 0) {
        struct stat st
        {
        };
        if (::fstat(fd, &st) != 0)
            return false;
        size = st.st_size;
    }
    if (size == 0)
        return true;
    // Far too large to be ours: no point in writing that many zeros.
    if (size > kMaxJournal)
        return TruncateFile(fd, 0) && SyncFile(fd);
    // All of it, not just the magic: a later journal written over this one and torn by a power cut
    // must find zeros behind it, never an older journal's entries that could pass for its own.
    const QByteArray zeros(qsizetype(size), '\0');
    return WriteAt(fd, zeros.constData(), zeros.size(), 0) && SyncFileData(fd);
}

bool ReadJournal(int fd, QByteArray& into)
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
    const qint64 filled = ReadUpTo(fd, into.data(), into.size(), 0);
    if (filled < 0)
        return false;
    into.resize(qsizetype(filled));
    return true;
}

RecoveryOutcome RecoverLocked(const QString& dataDir, const int (&fds)[3], OpenJournal* keep)
{
    const QString journal = JournalFileName(dataDir);
    const QByteArray path = QFile::encodeName(journal);
    const int jfd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (jfd < 0) {
        if (errno == ENOENT)
            return RecoveryOutcome::Clean;
        Fail(errno, journal);
    }
    FdCloser closer{jfd};
    QByteArray bytes;
    if (!ReadJournal(jfd, bytes))
        Fail(errno, journal);
    // An empty read is an empty file or one far too large to be ours; -1 leaves the latter to be
    // measured again when it is cleared.
    const qint64 clearedSize = bytes.isEmpty() ? -1 : bytes.size();
    const auto handOver = [&] {
        if (keep) {
            keep->fd = jfd;
            keep->size = clearedSize;
            closer.fd = -1;
        }
    };
    // The writer we may have waited for finished and retired its journal.
    if (!JournalHoldsWrite(bytes)) {
        handOver();
        return RecoveryOutcome::Clean;
    }

    std::vector<JournalEntry> entries;
    if (!DecodeJournal(bytes, entries)) {
        // The journal is made durable before the first append, so one cut short means nothing was
        // appended under it.
        if (!ClearJournal(jfd))
            Fail(errno, journal);
        handOver();
        return RecoveryOutcome::TornJournal;
    }

    // Everything is checked before the first change, so a journal that cannot be applied leaves
    // the folder exactly as it was found.
    int which[3] = {-1, -1, -1};
    int targets[3] = {-1, -1, -1};
    for (size_t n = 0; n < entries.size(); ++n) {
        for (int i = 0; i < 3; ++i) {
            if (entries[n].name == kNames[i])
                which[n] = i;
        }
        if (which[n] < 0)
            Fail(EINVAL, journal);
        targets[which[n]] = fds[which[n]];
    }

    // A sealed writer got as far as flushing its files; if every byte it wrote is there, the write
    // stands and only has to be made durable before its journal goes.
    std::vector<SealEntry> seal;
    if (DecodeSeal(bytes, seal)) {
        bool whole = true;
        for (size_t n = 0; n < entries.size() && whole; ++n) {
            const QString file = dataDir + u'/' + kNames[which[n]];
            const std::optional<bool> holds = HoldsWrite(fds[which[n]], entries[n].wholeEnd, seal[n].end, seal[n].crc);
            if (!holds)
                Fail(errno, file);
            whole = *holds;
        }
        if (whole) {
            for (size_t n = 0; n < entries.size(); ++n) {
                if (!SyncFile(fds[which[n]]))
                    Fail(errno, dataDir + u'/' + kNames[which[n]]);
            }
            if (!ClearJournal(jfd))
                Fail(errno, journal);
            handOver();
            return RecoveryOutcome::Completed;
        }
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
    handOver();
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
        // Whatever stands there is looked at without following a link or waiting on a FIFO, and
        // anything but a file is refused.
        const int fd = OpenForReading(journal, -1);
        if (fd < 0 && (errno == ELOOP || errno == EISDIR || errno == ENXIO))
            Fail(errno, journal);
        if (fd >= 0) {
            char head[sizeof kMagic] = {};
            const qint64 n = ReadUpTo(fd, head, sizeof head, 0);
            ::close(fd);
            if (n > 0 && !JournalHoldsWrite(QByteArray(head, qsizetype(n))))
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

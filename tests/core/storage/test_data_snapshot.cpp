// The one reader of the Data folder: whole records only, a block at a time, up to the sizes seen
// under the three locks; a journal left by a writer that died is undone first or, for a folder that
// is only read, bounds the reading; a file that another program keeps locked is refused after the
// wait, and the locks are let go once the sizes are noted.

#include "core/storage/DataSnapshot.h"
#include "core/storage/Journal.h"
#include "core/storage/uvsDataBase.h"

#include "support/DbFiles.h"
#include "support/ForeignLock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace kv;
using kvtest::ReadFile;
using kvtest::WriteFile;

namespace {

constexpr DataSnapshot::FileKind kKinds[] = {DataSnapshot::Tests, DataSnapshot::Values, DataSnapshot::Answers};

// count records of the kind, each with its own number and bytes that tell it from its neighbours.
QByteArray Records(DataSnapshot::FileKind kind, int count)
{
    QByteArray bytes;
    for (int i = 1; i <= count; ++i) {
        if (kind == DataSnapshot::Tests) {
            TvsDBTestRec rec;
            rec.SetId(quint32(i));
            rec.SetFio(QStringLiteral("Испытуемый %1").arg(i));
            rec.SetAge(20 + i % 50);
            bytes.append(rec.bytes.data(), TvsDBTestRec::kSize);
        } else if (kind == DataSnapshot::Values) {
            TvsDBValueRec rec;
            rec.SetId(i);
            rec.SetTestId(1 + i / 3);
            rec.SetScore(i % 7);
            rec.SetName(QStringLiteral("Ценность %1").arg(i));
            bytes.append(rec.bytes.data(), TvsDBValueRec::kSize);
        } else {
            TvsDBAnswerRec rec;
            rec.SetId(quint32(i));
            rec.SetTestId(quint32(1 + i / 3));
            rec.SetQuestion(quint32(i));
            rec.SetChosen(1);
            bytes.append(rec.bytes.data(), TvsDBAnswerRec::kSize);
        }
    }
    return bytes;
}

QString PathOf(const QTemporaryDir& dir, DataSnapshot::FileKind kind)
{
    return dir.filePath(DataSnapshot::FileName(kind));
}

// Every record the reader hands out, one block after another.
QByteArray ReadAll(const DataSnapshot& snapshot, DataSnapshot::FileKind kind, int* blocks = nullptr)
{
    DataSnapshot::Reader reader(snapshot, kind);
    QByteArray all;
    const char* block;
    int count = 0;
    while (const size_t n = reader.Next(block)) {
        all.append(block, qsizetype(n) * DataSnapshot::RecordSize(kind));
        ++count;
    }
    if (reader.failed())
        all.append("<failed>");
    if (blocks)
        *blocks = count;
    return all;
}

using Counts = QList<int>; // per file, in the order tests, values, answers

} // namespace

class TestDataSnapshot : public QObject
{
    Q_OBJECT

private slots:
    // records: whole records per file, -1 for a missing file; torn: bytes of a cut-short record
    // after them; cut: records a journal left by a dead writer says the file held before it, -1
    // when the journal does not name the file (no journal at all when no file is named).
    void foldersAsTheyAreFound_data()
    {
        QTest::addColumn<Counts>("records");
        QTest::addColumn<Counts>("torn");
        QTest::addColumn<Counts>("cut");
        QTest::newRow("whole records") << Counts{3, 7, 4} << Counts{0, 0, 0} << Counts{-1, -1, -1};
        QTest::newRow("torn tails") << Counts{3, 7, 4} << Counts{100, 93, 180} << Counts{-1, -1, -1};
        QTest::newRow("only a torn record") << Counts{0, 0, 0} << Counts{680, 1, 5} << Counts{-1, -1, -1};
        QTest::newRow("empty files") << Counts{0, 0, 0} << Counts{0, 0, 0} << Counts{-1, -1, -1};
        QTest::newRow("no values and no answers") << Counts{2, -1, -1} << Counts{0, 0, 0} << Counts{-1, -1, -1};
        QTest::newRow("values over several blocks") << Counts{1, 25000, 0} << Counts{0, 50, 0} << Counts{-1, -1, -1};
        QTest::newRow("a pending journal") << Counts{3, 7, 4} << Counts{0, 0, 0} << Counts{2, 5, -1};
        QTest::newRow("a pending journal over torn tails") << Counts{3, 7, 4} << Counts{10, 20, 30} << Counts{1, 7, 0};
    }
    void foldersAsTheyAreFound()
    {
        QFETCH(Counts, records);
        QFETCH(Counts, torn);
        QFETCH(Counts, cut);
        QTemporaryDir dir;
        QByteArray files[3];
        std::vector<JournalEntry> entries;
        for (const DataSnapshot::FileKind kind : kKinds) {
            if (records[kind] < 0)
                continue;
            files[kind] = Records(kind, records[kind]) + QByteArray(torn[kind], '\x7f');
            WriteFile(PathOf(dir, kind), files[kind]);
            if (cut[kind] >= 0)
                entries.push_back(
                    {DataSnapshot::FileName(kind), qint64(cut[kind]) * DataSnapshot::RecordSize(kind), {}});
        }
        const QString journal = JournalFileName(dir.path());
        if (!entries.empty())
            WriteFile(journal, EncodeJournal(entries));

        // Read only: the journal bounds what is read, and nothing in the folder changes.
        {
            const DataSnapshot snapshot(dir.path(), DataSnapshot::Journal::Respect);
            QCOMPARE(snapshot.Recovery(), RecoveryOutcome::Clean);
            for (const DataSnapshot::FileKind kind : kKinds) {
                const int size = DataSnapshot::RecordSize(kind);
                QCOMPARE(snapshot.Exists(kind), records[kind] >= 0);
                const int whole = cut[kind] >= 0 ? cut[kind] : std::max(records[kind], 0);
                QCOMPARE(snapshot.Records(kind), qint64(whole));
                QCOMPARE(snapshot.TornBytes(kind), qint64(cut[kind] >= 0 || records[kind] < 0 ? 0 : torn[kind]));
                int blocks = 0;
                QCOMPARE(ReadAll(snapshot, kind, &blocks), files[kind].left(qsizetype(whole) * size));
                QCOMPARE(blocks, records[kind] > 20000 ? 3 : whole > 0 ? 1 : 0);
                QCOMPARE(ReadFile(PathOf(dir, kind)), records[kind] < 0 ? QByteArray("<missing>") : files[kind]);
            }
        }

        // Undone first: the dead writer's appends are cut off the files themselves, and the
        // reading is the same.
        const DataSnapshot snapshot(dir.path());
        QCOMPARE(snapshot.Recovery(), entries.empty() ? RecoveryOutcome::Clean : RecoveryOutcome::RolledBack);
        for (const DataSnapshot::FileKind kind : kKinds) {
            const int size = DataSnapshot::RecordSize(kind);
            const int whole = cut[kind] >= 0 ? cut[kind] : std::max(records[kind], 0);
            QCOMPARE(snapshot.Records(kind), qint64(whole));
            QCOMPARE(ReadAll(snapshot, kind), files[kind].left(qsizetype(whole) * size));
            if (cut[kind] >= 0)
                QCOMPARE(ReadFile(PathOf(dir, kind)), files[kind].left(qsizetype(whole) * size));
        }
    }

    // Another program in the middle of a save holds a file: the reader waits for it, then says
    // which file is busy.
    void fileLockedByAWriterIsRefused_data()
    {
        QTest::addColumn<int>("kind");
        for (const DataSnapshot::FileKind kind : kKinds)
            QTest::newRow(qPrintable(DataSnapshot::FileName(kind))) << int(kind);
    }
    void fileLockedByAWriterIsRefused()
    {
        QFETCH(int, kind);
        QTemporaryDir dir;
        for (const DataSnapshot::FileKind k : kKinds)
            WriteFile(PathOf(dir, k), Records(k, 2));
        const QString busy = PathOf(dir, DataSnapshot::FileKind(kind));
        kvtest::ForeignLock holder(busy);
        QVERIFY(holder.locked());
        QElapsedTimer timer;
        timer.start();
        try {
            const DataSnapshot snapshot(dir.path(), DataSnapshot::Journal::Respect);
            QFAIL("a locked file was read");
        } catch (const ReadError& e) {
            QCOMPARE(e.code(), EWOULDBLOCK);
            QCOMPARE(e.fileName(), busy);
            QCOMPARE(e.message(),
                     QStringLiteral("Файл занят другой программой: %1").arg(QDir::toNativeSeparators(busy)));
        }
        QVERIFY(timer.elapsed() >= kLockWaitMs - 100);
    }

    void writerDoneWithinTheWaitIsWaitedFor()
    {
        QTemporaryDir dir;
        WriteFile(PathOf(dir, DataSnapshot::Tests), Records(DataSnapshot::Tests, 2));
        kvtest::ForeignLock holder(PathOf(dir, DataSnapshot::Values), 300);
        QVERIFY(holder.locked());
        const DataSnapshot snapshot(dir.path());
        QCOMPARE(snapshot.Records(DataSnapshot::Tests), qint64(2));
        // The holder made the file it locked: an empty values.dat.
        QVERIFY(snapshot.Exists(DataSnapshot::Values));
        QCOMPARE(snapshot.Records(DataSnapshot::Values), qint64(0));
    }

    // The locks go once the sizes are noted: a save meanwhile neither waits nor shows up half.
    void saveDuringTheReadingNeitherWaitsNorShows()
    {
        QTemporaryDir dir;
        WriteFile(PathOf(dir, DataSnapshot::Tests), Records(DataSnapshot::Tests, 3));
        const DataSnapshot snapshot(dir.path());
        QElapsedTimer timer;
        timer.start();
        TvsDBTestRec added;
        AppendTestRec(PathOf(dir, DataSnapshot::Tests), added);
        QVERIFY(timer.elapsed() < kLockWaitMs / 2);
        QCOMPARE(added.Id(), 4u);
        QCOMPARE(ReadAll(snapshot, DataSnapshot::Tests), Records(DataSnapshot::Tests, 3));
        QCOMPARE(DataSnapshot(dir.path()).Records(DataSnapshot::Tests), qint64(4));
    }

    // Something else where a file should be: refused at once with the file's name, never followed
    // and never waited on, whether the folder is only read or recovered first.
    void whatStandsInPlaceOfAFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("recover");
        QTest::addColumn<QString>("reason");
        const QStringList names{QStringLiteral("tests.dat"), QStringLiteral("values.dat"),
                                QStringLiteral("answers.dat"), QStringLiteral("journal.dat")};
        const QStringList whats{QStringLiteral("symlink"), QStringLiteral("fifo"), QStringLiteral("folder")};
        const QStringList reasons{QStringLiteral("на этом месте символическая ссылка"),
                                  QStringLiteral("на этом месте не обычный файл"),
                                  QStringLiteral("на этом месте папка")};
        for (const QString& name : names) {
            for (int w = 0; w < whats.size(); ++w) {
                for (const bool recover : {false, true}) {
                    QTest::addRow("%s as a %s, %s", qPrintable(name), qPrintable(whats[w]),
                                  recover ? "recovered first" : "only read")
                        << name << whats[w] << recover << reasons[w];
                }
            }
        }
    }
    void whatStandsInPlaceOfAFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, what);
        QFETCH(bool, recover);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        for (const DataSnapshot::FileKind k : kKinds)
            WriteFile(PathOf(dir, k), Records(k, 2));
        const QString path = dir.filePath(name);
        QFile::remove(path);
        // A link to good records: following it would read them.
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.dat"));
        WriteFile(elsewhere,
                  name == QStringLiteral("journal.dat") ? QByteArray(8, '\0') : ReadFile(PathOf(dir, kKinds[0])));
        if (what == QStringLiteral("symlink"))
            QVERIFY(QFile::link(elsewhere, path));
        else if (what == QStringLiteral("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QDir(dir.path()).mkdir(name));

        // A reader blocked on the FIFO would never come back: the alarm ends the test instead.
        ::alarm(20);
        QElapsedTimer timer;
        timer.start();
        QString message;
        try {
            const DataSnapshot snapshot(dir.path(),
                                        recover ? DataSnapshot::Journal::Undo : DataSnapshot::Journal::Respect);
        } catch (const Error& e) {
            message = e.message();
        }
        ::alarm(0);
        QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
        QVERIFY(timer.elapsed() < kLockWaitMs / 2);
    }

    void folderThatIsNoFolder_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << false << QStringLiteral("Папка не найдена: ");
        QTest::newRow("a file") << true << QStringLiteral("Это не папка: ");
    }
    void folderThatIsNoFolder()
    {
        QFETCH(bool, exists);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data"));
        if (exists)
            WriteFile(path, "x");
        try {
            const DataSnapshot snapshot(path, DataSnapshot::Journal::Respect);
            QFAIL("a folder that is not there was read");
        } catch (const Error& e) {
            QCOMPARE(e.message(), message + QDir::toNativeSeparators(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestDataSnapshot)
#include "test_data_snapshot.moc"

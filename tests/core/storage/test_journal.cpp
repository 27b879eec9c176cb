// The Data folder's transaction: a writer killed after any one of its steps leaves, once the folder
// is opened again, either exactly what was there before or exactly the finished save; a torn
// journal, a journal whose writer is still at work, and a read-only folder; and the fault tests of
// the save (a file-size limit, a foreign lock, two savers) over all three files.

#include "core/storage/DurableIo.h"
#include "core/storage/Journal.h"
#include "core/storage/SaveTransaction.h"
#include "core/storage/uvsDataBase.h"

#include "support/DbFiles.h"
#include "support/ForeignLock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <map>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kv;
using kvtest::ChildResult;
using kvtest::ReadFile;
using kvtest::RunInChild;
using kvtest::WriteFile;

namespace {

const QStringList kDataFiles = {QStringLiteral("tests.dat"), QStringLiteral("values.dat"),
                                QStringLiteral("answers.dat")};

// What a reader of the folder sees: the three files' bytes (a missing file reads as an empty one,
// since no reader can tell them apart) and whether a journal with something in it is left.
struct Folder
{
    std::map<QString, QByteArray> files;
    bool journal = false;
    bool operator==(const Folder&) const = default;
};

Folder Snapshot(const QString& dir)
{
    Folder f;
    for (const QString& name : kDataFiles) {
        QFile file(dir + u'/' + name);
        f.files[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QFile journal(JournalFileName(dir));
    f.journal = journal.open(QIODevice::ReadOnly) && JournalHoldsWrite(journal.readAll());
    return f;
}

// Puts the folder in state f; an empty file is left out, so that a save has to create it.
void Restore(const QString& dir, const Folder& f)
{
    for (const auto& [name, bytes] : f.files) {
        QFile::remove(dir + u'/' + name);
        if (!bytes.isEmpty())
            WriteFile(dir + u'/' + name, bytes);
    }
    QFile::remove(JournalFileName(dir));
}

QString Describe(const Folder& f)
{
    QStringList parts;
    for (const auto& [name, bytes] : f.files)
        parts << QStringLiteral("%1:%2").arg(name).arg(bytes.size());
    if (f.journal)
        parts << QStringLiteral("journal");
    return parts.join(u' ');
}

// One transaction: `tests` tests, each with `values` value records and `answers` answer records,
// the way the save (one test) and a merge (several) write them. Returns the crash seam's steps
// up to the commit: a crash at that step tears the last record, with the journal still unsealed.
int Write(const QString& dir, int tests, int values, int answers)
{
    TvsDBSave save(dir);
    for (int t = 0; t < tests; ++t) {
        TvsDBTestRec test;
        test.SetFio(QStringLiteral("Респондент %1").arg(t));
        save.AppendTest(test);
        TvsDBValueRec value;
        for (int i = 0; i < values; ++i) {
            value.SetTestId(qint32(test.Id()));
            value.SetTypeNumber(quint8(1 + i % 4));
            value.SetScore(values - i);
            value.SetName(QStringLiteral("ценность %1").arg(i));
            save.AppendValue(value);
        }
        TvsDBAnswerRec answer;
        for (int q = 0; q < answers; ++q) {
            answer.SetTestId(test.Id());
            answer.SetQuestion(quint32(q + 1));
            answer.SetUpper(QStringLiteral("верх %1").arg(q));
            answer.SetLower(QStringLiteral("низ %1").arg(q));
            answer.SetChosen(quint8(1 + q % 2));
            answer.SetResponseMs(quint32(500 + q));
            save.AppendAnswer(answer);
        }
    }
    const int beforeCommit = crashseam::Steps();
    save.Commit();
    return beforeCommit;
}

QByteArray TestRecords(int count)
{
    QByteArray b;
    for (int i = 1; i <= count; ++i) {
        TvsDBTestRec r;
        r.SetId(quint32(i));
        r.SetFio(QStringLiteral("прежний %1").arg(i));
        b += QByteArray(r.bytes.data(), TvsDBTestRec::kSize);
    }
    return b;
}

// A child that ends after crashAt steps of fn; 0 when it ran to the end, kCrashExit when it crashed.
int CrashChild(int crashAt, const std::function<void()>& fn)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        crashseam::Arm(crashAt);
        int code = 0;
        try {
            fn();
        } catch (...) {
            code = 2;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A writer in another process that has appended its records (so the journal is on disk) and keeps
// its locks until holdMs have passed, then commits.
class SlowWriter
{
public:
    SlowWriter(const QString& dir, int holdMs)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            qFatal("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            int code = 1;
            try {
                TvsDBSave save(dir);
                TvsDBTestRec test;
                save.AppendTest(test);
                TvsDBValueRec value;
                value.SetTestId(qint32(test.Id()));
                save.AppendValue(value);
                [[maybe_unused]] ssize_t n = ::write(ready[1], "r", 1);
                ::usleep(useconds_t(holdMs) * 1000);
                save.Commit();
                code = 0;
            } catch (...) {
            }
            ::_exit(code);
        }
        ::close(ready[1]);
        char c = 0;
        m_ready = ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
    }
    ~SlowWriter() { Wait(); }
    bool ready() const { return m_ready; }
    int Wait()
    {
        if (m_pid > 0) {
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            m_pid = -1;
        }
        return m_code;
    }

private:
    pid_t m_pid = -1;
    bool m_ready = false;
    int m_code = -1;
};

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void journalDecodesOnlyWhole();
    void crashAtEveryStep_data();
    void crashAtEveryStep();
    void crashDuringRecovery();
    void nextSaveRecoversFirst();
    void singleAppendRecoversFirst();
    void sealedWriteIsKeptOnlyWhole_data();
    void sealedWriteIsKeptOnlyWhole();
    void olderSealNeverVouchesForANewJournal();
    void tornJournalIsEmptied();
    void liveWriterIsWaitedFor();
    void busyWriterIsNeverRecoveredUnder();
    void readOnlyFolderIsReportedUnchanged();
    void sizeLimitRollsBackAllThree_data();
    void sizeLimitRollsBackAllThree();
    void foreignLockOnAnyFile();
    void twoSaversKeepAnswersWithTheirTest();
};

void TestJournal::journalDecodesOnlyWhole()
{
    const std::vector<JournalEntry> entries = {{QStringLiteral("tests.dat"), 1362, QByteArray("abc")},
                                               {QStringLiteral("values.dat"), 0, QByteArray()},
                                               {QStringLiteral("answers.dat"), 181, QByteArray(180, '\xfe')}};
    const QByteArray bytes = EncodeJournal(entries);
    std::vector<JournalEntry> back;
    QVERIFY(DecodeJournal(bytes, back));
    QCOMPARE(back.size(), size_t(3));
    for (size_t i = 0; i < 3; ++i) {
        QCOMPARE(back[i].name, entries[i].name);
        QCOMPARE(back[i].wholeEnd, entries[i].wholeEnd);
        QCOMPARE(back[i].tail, entries[i].tail);
    }
    // A crash while the journal was written leaves a prefix of it; a disk may flip a byte.
    for (qsizetype n = 0; n < bytes.size(); ++n)
        QVERIFY2(!DecodeJournal(bytes.left(n), back), qPrintable(QString::number(n)));
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        QByteArray bad = bytes;
        bad[i] = char(bad[i] ^ 0x10);
        QVERIFY2(!DecodeJournal(bad, back), qPrintable(QString::number(i)));
    }
    // What follows the journal's own length is left from a longer one before it.
    QVERIFY(DecodeJournal(bytes + QByteArray(4000, '\0'), back));
    QCOMPARE(back.size(), size_t(3));
    // Eight zero bytes in front mark a journal that holds no write, whatever follows.
    QVERIFY(JournalHoldsWrite(bytes));
    QVERIFY(!JournalHoldsWrite(QByteArray(8, '\0') + bytes.mid(8)));
    QVERIFY(!JournalHoldsWrite(QByteArray()));

    // The seal behind it: whole, it gives back every end and checksum; torn or flipped, it is no seal.
    const std::vector<SealEntry> ends = {{2043, 0xDEADBEEFu}, {94, 7u}, {181 * 3, 0u}};
    const QByteArray seal = EncodeSeal(bytes, ends);
    std::vector<SealEntry> sealed;
    QVERIFY(!DecodeSeal(bytes, sealed));
    QVERIFY(DecodeSeal(bytes + seal, sealed));
    QCOMPARE(sealed.size(), size_t(3));
    for (size_t i = 0; i < 3; ++i) {
        QCOMPARE(sealed[i].end, ends[i].end);
        QCOMPARE(sealed[i].crc, ends[i].crc);
    }
    QVERIFY(DecodeSeal(bytes + seal + QByteArray(100, '\0'), sealed));
    for (qsizetype n = 0; n < seal.size(); ++n)
        QVERIFY2(!DecodeSeal(bytes + seal.left(n), sealed), qPrintable(QString::number(n)));
    for (qsizetype i = 0; i < seal.size(); ++i) {
        QByteArray bad = seal;
        bad[i] = char(bad[i] ^ 0x10);
        QVERIFY2(!DecodeSeal(bytes + bad, sealed), qPrintable(QString::number(i)));
    }
    // Another journal's seal, or an end before the entry's cut, is refused.
    std::vector<JournalEntry> other = entries;
    other[1].wholeEnd = 94;
    QVERIFY(!DecodeSeal(EncodeJournal(other) + seal, sealed));
    QVERIFY(!DecodeSeal(bytes + EncodeSeal(bytes, {{1000, 0u}, {0, 0u}, {181, 0u}}), sealed));
    QVERIFY(!DecodeSeal(bytes + EncodeSeal(bytes, {{2043, 0u}, {94, 0u}}), sealed));
    // The checksum is the usual CRC-32, and carrying it on over pieces gives the same as at once.
    QCOMPARE(Crc32Update(0, "123456789", 9), 0xCBF43926u);
    const QByteArray text = QByteArray("Что для Вас важнее? ").repeated(7);
    quint32 pieces = 0;
    for (qsizetype at = 0; at < text.size(); at += 13)
        pieces = Crc32Update(pieces, text.constData() + at, std::min<qsizetype>(13, text.size() - at));
    QCOMPARE(pieces, Crc32Update(0, text.constData(), text.size()));
}

void TestJournal::crashAtEveryStep_data()
{
    QTest::addColumn<int>("tests");
    QTest::addColumn<int>("values");
    QTest::addColumn<int>("answers");
    QTest::addColumn<bool>("existing"); // files with records and torn tails before the save
    QTest::newRow("first save, no answers") << 1 << 3 << 0 << false;
    QTest::newRow("save onto torn tails, no answers") << 1 << 3 << 0 << true;
    QTest::newRow("save with its answers") << 1 << 4 << 6 << true;
    QTest::newRow("merge of three tests") << 3 << 2 << 3 << true;
}

void TestJournal::crashAtEveryStep()
{
    QFETCH(int, tests);
    QFETCH(int, values);
    QFETCH(int, answers);
    QFETCH(bool, existing);

    QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("Data"));
    QVERIFY(QDir().mkpath(dir));
    Folder before;
    before.files[QStringLiteral("tests.dat")] = existing ? TestRecords(2) + QByteArray(100, 't') : QByteArray();
    before.files[QStringLiteral("values.dat")] = existing ? QByteArray(94 * 5 + 3, 'v') : QByteArray();
    before.files[QStringLiteral("answers.dat")] = existing ? QByteArray(181 * 2 + 90, 'a') : QByteArray();

    // The finished save, and how many steps it takes.
    Restore(dir, before);
    crashseam::Arm(0);
    const int commitAt = Write(dir, tests, values, answers);
    const int steps = crashseam::Steps();
    const Folder after = Snapshot(dir);
    QVERIFY(!(after == before));
    QVERIFY(steps > commitAt + 2);

    int sawBefore = 0;
    int sawAfter = 0;
    for (int k = 1; k <= steps; ++k) {
        Restore(dir, before);
        QCOMPARE(CrashChild(k, [&] { Write(dir, tests, values, answers); }), crashseam::kCrashExit);
        RecoverDataDir(dir);
        const Folder now = Snapshot(dir);
        if (now == before && sawAfter == 0)
            ++sawBefore;
        else if (now == after)
            ++sawAfter;
        else
            QFAIL(qPrintable(QStringLiteral("crash after step %1 of %2 left %3").arg(k).arg(steps).arg(Describe(now))));
    }
    // Past the last step the child runs to the end.
    Restore(dir, before);
    QCOMPARE(CrashChild(steps + 1, [&] { Write(dir, tests, values, answers); }), 0);
    QVERIFY(Snapshot(dir) == after);
    // Every step up to the seal's write, torn by the crash, is undone; once the seal is whole the
    // write is kept, flushes and all still to come.
    QCOMPARE(sawBefore, commitAt + 1);
    QCOMPARE(sawAfter, steps - commitAt - 1);
}

void TestJournal::crashDuringRecovery()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Folder before;
    before.files[QStringLiteral("tests.dat")] = TestRecords(1) + QByteArray(7, 't');
    before.files[QStringLiteral("values.dat")] = QByteArray(94 + 50, 'v');
    before.files[QStringLiteral("answers.dat")] = QByteArray(33, 'a');
    Restore(dir, before);
    crashseam::Arm(0);
    const int commitAt = Write(dir, 1, 2, 2);
    // The writer dies writing its last record, before the seal: a remnant to undo.
    const auto crashWriter = [&] {
        Restore(dir, before);
        QCOMPARE(CrashChild(commitAt, [&] { Write(dir, 1, 2, 2); }), crashseam::kCrashExit);
        QVERIFY(Snapshot(dir).journal);
        QVERIFY(Snapshot(dir).files != before.files);
    };

    crashWriter();
    crashseam::Arm(0);
    QCOMPARE(RecoverDataDir(dir), RecoveryOutcome::RolledBack);
    const int recoverySteps = crashseam::Steps();
    QVERIFY(Snapshot(dir) == before);
    QVERIFY(recoverySteps >= 8); // a cut, a tail and an fsync per file, the removal and its sync

    // Recovery killed at any of its own steps is finished by the next one.
    for (int j = 1; j <= recoverySteps; ++j) {
        crashWriter();
        QCOMPARE(CrashChild(j, [&] { RecoverDataDir(dir); }), crashseam::kCrashExit);
        RecoverDataDir(dir);
        QVERIFY2(Snapshot(dir) == before,
                 qPrintable(QStringLiteral("recovery step %1: %2").arg(j).arg(Describe(Snapshot(dir)))));
    }
}

void TestJournal::nextSaveRecoversFirst()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Write(dir, 1, 2, 1);
    const Folder before = Snapshot(dir);
    crashseam::Arm(0);
    const int commitAt = Write(dir, 1, 3, 3);
    Restore(dir, before);
    // Killed writing its last record, before the seal.
    QCOMPARE(CrashChild(commitAt, [&] { Write(dir, 1, 3, 3); }), crashseam::kCrashExit);
    QVERIFY(Snapshot(dir).journal);

    // The next save, with no reader before it, undoes the remnant and numbers right after test 1.
    Write(dir, 1, 1, 1);
    QVERIFY(!Snapshot(dir).journal);
    const auto tests = ReadTests(TestsFileName(dir));
    const auto values = ReadValues(ValuesFileName(dir));
    const auto answers = ReadAnswers(AnswersFileName(dir));
    QVERIFY(tests && values && answers);
    QCOMPARE(tests->Count(), 2);
    QCOMPARE(tests->Items(1).Id(), 2u);
    QCOMPARE(values->Count(), 3);
    QCOMPARE(values->Items(2).TestId(), 2);
    QCOMPARE(answers->Count(), 2);
    QCOMPARE(answers->Items(1).TestId(), 2u);
    QCOMPARE(answers->Items(1).Id(), 2u);
}

void TestJournal::singleAppendRecoversFirst()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Write(dir, 2, 1, 0);
    const QByteArray tests = ReadFile(TestsFileName(dir));
    crashseam::Arm(0);
    const int commitAt = Write(dir, 1, 1, 0);
    QFile::resize(TestsFileName(dir), tests.size());
    QFile::resize(ValuesFileName(dir), 2 * TvsDBValueRec::kSize);
    QCOMPARE(CrashChild(commitAt, [&] { Write(dir, 1, 1, 0); }), crashseam::kCrashExit);
    QCOMPARE(ReadFile(TestsFileName(dir)).size(), tests.size() + TvsDBTestRec::kSize);

    // The lone append lands where the killed save's test would have been undone to.
    TvsDBTestRec rec;
    AppendTestRec(TestsFileName(dir), rec);
    QCOMPARE(rec.Id(), 3u);
    QCOMPARE(ReadFile(TestsFileName(dir)), tests + QByteArray(rec.bytes.data(), TvsDBTestRec::kSize));
    QVERIFY(!Snapshot(dir).journal);
}

void TestJournal::sealedWriteIsKeptOnlyWhole_data()
{
    // How the disk may hold a sealed write after a power cut: the seal reached it, the files' pages
    // or sizes perhaps not.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("kept");
    QTest::newRow("every byte there") << QString() << true;
    QTest::newRow("a value's page lost") << QStringLiteral("values byte") << false;
    QTest::newRow("answers short of their end") << QStringLiteral("answers short") << false;
    QTest::newRow("test record lost, size kept") << QStringLiteral("tests zeroed") << false;
    QTest::newRow("seal torn") << QStringLiteral("seal byte") << false;
}

void TestJournal::sealedWriteIsKeptOnlyWhole()
{
    QFETCH(QString, damage);
    QFETCH(bool, kept);

    QTemporaryDir root;
    const QString dir = root.path();
    Folder before;
    before.files[QStringLiteral("tests.dat")] = TestRecords(2) + QByteArray(100, 't');
    before.files[QStringLiteral("values.dat")] = QByteArray(94 * 5 + 3, 'v');
    before.files[QStringLiteral("answers.dat")] = QByteArray(181 * 2 + 90, 'a');
    Restore(dir, before);
    crashseam::Arm(0);
    const int commitAt = Write(dir, 1, 3, 4);
    const Folder after = Snapshot(dir);

    // One step past the seal's write: the seal and every record are written, nothing flushed yet.
    Restore(dir, before);
    QCOMPARE(CrashChild(commitAt + 2, [&] { Write(dir, 1, 3, 4); }), crashseam::kCrashExit);
    QVERIFY(Snapshot(dir).files == after.files);
    QVERIFY(Snapshot(dir).journal);

    const auto patch = [](const QString& file, qint64 at, const QByteArray& bytes) {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(at));
        QCOMPARE(f.write(bytes), bytes.size());
    };
    const qint64 valuesStart = 94 * 5;
    if (damage == u"values byte") {
        patch(ValuesFileName(dir), valuesStart + 94 + 20, QByteArray(1, '\x5a'));
    } else if (damage == u"answers short") {
        QVERIFY(QFile::resize(AnswersFileName(dir), after.files.at(QStringLiteral("answers.dat")).size() - 181));
    } else if (damage == u"tests zeroed") {
        patch(TestsFileName(dir), 2 * TvsDBTestRec::kSize, QByteArray(TvsDBTestRec::kSize, '\0'));
    } else if (damage == u"seal byte") {
        const QByteArray journal = ReadFile(JournalFileName(dir));
        const qsizetype seal = journal.indexOf("KVSEAL01");
        QVERIFY(seal > 0);
        patch(JournalFileName(dir), seal + 17, QByteArray(1, char(journal.at(seal + 17) ^ 0x40)));
    }

    QCOMPARE(RecoverDataDir(dir), kept ? RecoveryOutcome::Completed : RecoveryOutcome::RolledBack);
    QVERIFY2(Snapshot(dir) == (kept ? after : before), qPrintable(Describe(Snapshot(dir))));
    QCOMPARE(RecoverDataDir(dir), RecoveryOutcome::Clean);
}

void TestJournal::olderSealNeverVouchesForANewJournal()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Write(dir, 1, 2, 2);
    const Folder first = Snapshot(dir);
    // The finished write left its seal behind the zeroed start, right where the next one's goes.
    const QByteArray left = ReadFile(JournalFileName(dir));
    QVERIFY(!JournalHoldsWrite(left));
    const qsizetype seal = left.indexOf("KVSEAL01");
    QVERIFY(seal > 0);

    crashseam::Arm(0);
    const int commitAt = Write(dir, 1, 2, 2);
    Restore(dir, first);
    WriteFile(JournalFileName(dir), left);
    QCOMPARE(CrashChild(commitAt, [&] { Write(dir, 1, 2, 2); }), crashseam::kCrashExit);
    const QByteArray crashed = ReadFile(JournalFileName(dir));
    QVERIFY(JournalHoldsWrite(crashed));
    QCOMPARE(crashed.indexOf("KVSEAL01"), seal);

    QCOMPARE(RecoverDataDir(dir), RecoveryOutcome::RolledBack);
    QVERIFY(Snapshot(dir) == first);
}

void TestJournal::tornJournalIsEmptied()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Write(dir, 1, 2, 2);
    const Folder before = Snapshot(dir);
    const QByteArray journal = EncodeJournal({{QStringLiteral("tests.dat"), 0, QByteArray()},
                                              {QStringLiteral("values.dat"), 0, QByteArray()},
                                              {QStringLiteral("answers.dat"), 0, QByteArray()}});
    // Whole, it would cut every file to nothing; cut short, it means nothing was appended under it.
    for (const qsizetype n : {qsizetype(1), qsizetype(12), journal.size() - 1}) {
        WriteFile(JournalFileName(dir), journal.left(n));
        QCOMPARE(RecoverDataDir(dir), RecoveryOutcome::TornJournal);
        QVERIFY(Snapshot(dir) == before);
    }
    QCOMPARE(RecoverDataDir(dir), RecoveryOutcome::Clean);
}

void TestJournal::liveWriterIsWaitedFor()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Write(dir, 1, 1, 0);
    SlowWriter writer(dir, 300);
    QVERIFY(writer.ready());
    QVERIFY(Snapshot(dir).journal);
    // The journal is the live writer's: recovery waits for its locks and then finds it gone.
    QCOMPARE(RecoverDataDir(dir, 5000), RecoveryOutcome::Clean);
    QCOMPARE(writer.Wait(), 0);
    const auto tests = ReadTests(TestsFileName(dir));
    const auto values = ReadValues(ValuesFileName(dir));
    QCOMPARE(tests->Count(), 2);
    QCOMPARE(values->Count(), 2);
    QVERIFY(!Snapshot(dir).journal);
}

void TestJournal::busyWriterIsNeverRecoveredUnder()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Write(dir, 1, 1, 0);
    SlowWriter writer(dir, 1500);
    QVERIFY(writer.ready());
    const Folder during = Snapshot(dir);
    QVERIFY(during.journal);
    try {
        RecoverDataDir(dir, 100);
        QFAIL("recovered while the writer held its locks");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(QStringLiteral("занята другой программой")), qPrintable(e.message()));
    }
    QVERIFY(Snapshot(dir) == during);
    QCOMPARE(writer.Wait(), 0);
    QCOMPARE(ReadTests(TestsFileName(dir))->Count(), 2);
}

void TestJournal::readOnlyFolderIsReportedUnchanged()
{
    QTemporaryDir root;
    const QString dir = root.filePath(QStringLiteral("Data"));
    QVERIFY(CheckDataDir(dir));
    Write(dir, 1, 1, 1);
    const Folder before = Snapshot(dir);
    crashseam::Arm(0);
    const int commitAt = Write(dir, 1, 2, 2);
    Restore(dir, before);
    QCOMPARE(CrashChild(commitAt, [&] { Write(dir, 1, 2, 2); }), crashseam::kCrashExit);
    const Folder crashed = Snapshot(dir);
    QVERIFY(crashed.journal);

    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0555) == 0);
    QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0755) == 0);
    const ChildResult r = RunInChild([&](QString& message) {
        // Root writes through any permission bits, so recovery runs as an unprivileged user there.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 2;
        try {
            RecoverDataDir(dir);
        } catch (const Error& e) {
            message = e.message();
            return 0;
        }
        return 1;
    });
    ::chmod(QFile::encodeName(dir).constData(), 0700);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.message.contains(QStringLiteral("нет права на запись")), qPrintable(r.message));
    QVERIFY(Snapshot(dir) == crashed);

    // Writable again, the same journal is applied.
    QCOMPARE(RecoverDataDir(dir), RecoveryOutcome::RolledBack);
    QVERIFY(Snapshot(dir) == before);
}

void TestJournal::sizeLimitRollsBackAllThree_data()
{
    // The file-size limit lets writes reach `slack` bytes past the original size of the named file,
    // which is the largest of the three, so the write that fails is cut part-way.
    QTest::addColumn<QString>("limited");
    QTest::addColumn<int>("slack");
    QTest::newRow("test record cut") << QStringLiteral("tests.dat") << 300;
    QTest::newRow("a value cut") << QStringLiteral("values.dat") << 94 * 2 + 40;
    QTest::newRow("first answer cut") << QStringLiteral("answers.dat") << 90;
    QTest::newRow("fourth answer cut") << QStringLiteral("answers.dat") << 181 * 3 + 100;
}

void TestJournal::sizeLimitRollsBackAllThree()
{
    QFETCH(QString, limited);
    QFETCH(int, slack);

    QTemporaryDir root;
    const QString dir = root.path();
    // The limited file is made the largest, with a torn tail, so the limit leaves the others room.
    Folder before;
    const int big = 40000;
    before.files[QStringLiteral("tests.dat")] = QByteArray(681 * 2 + 11, 't');
    before.files[QStringLiteral("values.dat")] = QByteArray(94 * 3 + 5, 'v');
    before.files[QStringLiteral("answers.dat")] = QByteArray(181 * 2 + 17, 'a');
    const int sizes[3] = {681, 94, 181};
    const int which = int(kDataFiles.indexOf(limited));
    const int count = big / sizes[which];
    before.files[limited] = QByteArray(sizes[which] * count + 17, 'x');
    Restore(dir, before);
    const qint64 limit = qint64(sizes[which]) * count + slack;

    const ChildResult r = RunInChild([&](QString& message) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{rlim_t(limit), rlim_t(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 2;
        try {
            Write(dir, 1, 5, 10);
        } catch (const Error& e) {
            message = e.message();
            return 0;
        }
        return 1;
    });
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.message.contains(QStringLiteral("предельного размера")) && r.message.contains(limited),
             qPrintable(r.message));
    QVERIFY2(Snapshot(dir) == before, qPrintable(Describe(Snapshot(dir))));
}

void TestJournal::foreignLockOnAnyFile()
{
    QTemporaryDir root;
    const QString dir = root.path();
    Write(dir, 1, 2, 3);
    const Folder before = Snapshot(dir);
    for (const QString& name : kDataFiles) {
        kvtest::ForeignLock holder(dir + u'/' + name);
        QVERIFY(holder.locked());
        try {
            TvsDBSave save(dir, 200);
            QFAIL("a save into a locked folder started");
        } catch (const Error& e) {
            QVERIFY2(e.message().contains(QStringLiteral("занята другой программой")) && e.message().contains(name),
                     qPrintable(e.message()));
        }
        holder.Release();
        QVERIFY(Snapshot(dir) == before);
    }
}

void TestJournal::twoSaversKeepAnswersWithTheirTest()
{
    QTemporaryDir root;
    const QString dir = root.path();
    const int perProcess = 15;
    pid_t pids[2];
    for (pid_t& pid : pids) {
        pid = ::fork();
        if (pid == 0) {
            int code = 1;
            try {
                for (int i = 0; i < perProcess; ++i)
                    Write(dir, 1, 2, 3);
                code = 0;
            } catch (...) {
            }
            ::_exit(code);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto tests = ReadTests(TestsFileName(dir));
    const auto answers = ReadAnswers(AnswersFileName(dir));
    QVERIFY(tests && answers);
    QCOMPARE(tests->Count(), 2 * perProcess);
    QCOMPARE(answers->Count(), 3 * 2 * perProcess);
    for (int i = 0; i < answers->Count(); ++i) {
        const TvsDBAnswerRec& a = answers->Items(i);
        QCOMPARE(a.Id(), quint32(i + 1));
        QCOMPARE(a.TestId(), quint32(i / 3 + 1));
        QCOMPARE(a.Question(), quint32(i % 3 + 1));
    }
    QVERIFY(!Snapshot(dir).journal);
}

QTEST_GUILESS_MAIN(TestJournal)
#include "test_journal.moc"

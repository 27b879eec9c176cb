// The record files: byte layout, numbering, readers, the data folder, and saves that fail for real
// (a file-size limit, a lock held by another process, a folder without write permission).

#include "core/storage/SaveTransaction.h"
#include "core/storage/uvsDataBase.h"

#include "support/CoreSupport.h"
#include "support/DbFiles.h"
#include "support/ForeignLock.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kv;
using kvtest::ChildResult;
using kvtest::LoadHex;
using kvtest::ReadFile;
using kvtest::RunInChild;
using kvtest::WriteFile;

namespace {

QByteArray Bytes(const TvsDBTestRec& r)
{
    return QByteArray(r.bytes.data(), TvsDBTestRec::kSize);
}
QByteArray Bytes(const TvsDBValueRec& r)
{
    return QByteArray(r.bytes.data(), TvsDBValueRec::kSize);
}

TvsDBTestRec TestWithId(quint32 id, const QString& fio = QString())
{
    TvsDBTestRec r;
    r.SetId(id);
    r.SetFio(fio);
    return r;
}

TvsDBValueRec ValueWithIds(qint32 id, qint32 testId, const QString& name = QString())
{
    TvsDBValueRec r;
    r.SetId(id);
    r.SetTestId(testId);
    r.SetName(name);
    return r;
}

QByteArray Records(const QList<quint32>& testIds)
{
    QByteArray b;
    for (quint32 id : testIds)
        b += Bytes(TestWithId(id));
    return b;
}

QByteArray ValueRecords(const QList<qint32>& testIds)
{
    QByteArray b;
    qint32 id = 1;
    for (qint32 t : testIds) {
        b += Bytes(ValueWithIds(id, t, QStringLiteral("ценность %1").arg(id)));
        ++id;
    }
    return b;
}

// One save of a test with valueCount values, as the results window does it.
quint32 SaveOne(const QString& dir, int valueCount, const QString& fio = QStringLiteral("Тест"))
{
    TvsDBSave save(dir + QStringLiteral("/tests.dat"), dir + QStringLiteral("/values.dat"));
    TvsDBTestRec test;
    test.SetFio(fio);
    save.AppendTest(test);
    TvsDBValueRec value;
    for (int i = 0; i < valueCount; ++i) {
        value.SetTestId(qint32(test.Id()));
        value.SetScore(valueCount - i);
        value.SetName(QStringLiteral("ценность %1").arg(i));
        save.AppendValue(value);
    }
    save.Commit();
    return test.Id();
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void testRecordLayout();
    void valueRecordLayout();
    void shortStringsAreCutTo80();
    void recordDate_data();
    void recordDate();
    void sexText();
    void appendNumbers_data();
    void appendNumbers();
    void readersOnMissingEmptyAndTrailing();
    void readersAcrossBlocks();
    void wholeReadOfALargeFile();
    void filteredReadKeepingEveryRecord();
    void readListsReleaseMixedRecords();
    void readersFilter();
    void readerWithRaisingFilterGivesNone();
    void checkDataDir();
    void newFilesAreOwnerOnly();
    void failedWriteRollsBack_data();
    void failedWriteRollsBack();
    void lockedFileFailsAfterWaiting();
    void lockReleasedWithinWaitLands();
    void twoProcessesSavingKeepEachTestWhole();
    void readOnlyFolderIsReported();
};

void TestDatabase::testRecordLayout()
{
    const QByteArray fixture = LoadHex(QStringLiteral("test_record.hex"));
    QCOMPARE(fixture.size(), TvsDBTestRec::kSize);

    TvsDBTestRec r;
    r.SetId(0x04030201u);
    r.SetFio(QStringLiteral("Иванов Пётр"));
    r.SetDate(37865.75);
    r.SetAge(-35);
    r.SetSex(2);
    r.SetSocial(QStringLiteral("Холост"));
    r.SetChildren(QStringLiteral("Нет детей"));
    r.SetPlaceOfLiving(QStringLiteral("Москва"));
    r.SetEducation(QStringLiteral("Высшее"));
    r.SetSocialStatus(QStringLiteral("Другое "));
    r.SetBussines(QStringLiteral("СМИ"));
    r.SetMaterialLevel(QStringLiteral("Средний"));
    r.SetTypeScore(1, 7);
    r.SetTypeScore(2, 0);
    r.SetTypeScore(3, -1);
    r.SetTypeScore(4, 0x12345678);
    QCOMPARE(Bytes(r).toHex(' '), fixture.toHex(' '));

    TvsDBTestRec back;
    std::memcpy(back.bytes.data(), fixture.constData(), size_t(fixture.size()));
    QCOMPARE(back.Id(), 0x04030201u);
    QCOMPARE(back.Fio(), QStringLiteral("Иванов Пётр"));
    QCOMPARE(back.Date(), 37865.75);
    QCOMPARE(back.Age(), -35);
    QCOMPARE(back.Sex(), quint8(2));
    QCOMPARE(back.Social(), QStringLiteral("Холост"));
    QCOMPARE(back.Children(), QStringLiteral("Нет детей"));
    QCOMPARE(back.PlaceOfLiving(), QStringLiteral("Москва"));
    QCOMPARE(back.Education(), QStringLiteral("Высшее"));
    QCOMPARE(back.SocialStatus(), QStringLiteral("Другое "));
    QCOMPARE(back.Bussines(), QStringLiteral("СМИ"));
    QCOMPARE(back.MaterialLevel(), QStringLiteral("Средний"));
    QCOMPARE(back.TypeScore(1), 7);
    QCOMPARE(back.TypeScore(2), 0);
    QCOMPARE(back.TypeScore(3), -1);
    QCOMPARE(back.TypeScore(4), 0x12345678);
    QVERIFY_THROWS_EXCEPTION(ListIndexError, back.TypeScore(5));
    QVERIFY_THROWS_EXCEPTION(ListIndexError, back.SetTypeScore(0, 1));
}

void TestDatabase::valueRecordLayout()
{
    const QByteArray fixture = LoadHex(QStringLiteral("value_record.hex"));
    QCOMPARE(fixture.size(), TvsDBValueRec::kSize);

    TvsDBValueRec r;
    r.SetId(-2);
    r.SetTestId(0x01020304);
    r.SetTypeNumber(3);
    r.SetScore(0x00abcdef);
    r.SetName(QStringLiteral("Любовь"));
    QCOMPARE(Bytes(r).toHex(' '), fixture.toHex(' '));

    TvsDBValueRec back;
    std::memcpy(back.bytes.data(), fixture.constData(), size_t(fixture.size()));
    QCOMPARE(back.Id(), -2);
    QCOMPARE(back.TestId(), 0x01020304);
    QCOMPARE(back.TypeNumber(), quint8(3));
    QCOMPARE(back.Score(), 0x00abcdef);
    QCOMPARE(back.Name(), QStringLiteral("Любовь"));
}

void TestDatabase::shortStringsAreCutTo80()
{
    const QString hundred = QString(60, QChar(u'Ж')) + QString(40, QChar(u'z'));
    TvsDBTestRec t;
    t.SetFio(hundred);
    QCOMPARE(t.Fio(), hundred.left(80));
    QCOMPARE(quint8(t.bytes[4]), quint8(80));
    QCOMPARE(t.bytes[85], char(0)); // the Date after it is untouched

    TvsDBValueRec v;
    const QString eighty(80, QChar(u'ё'));
    v.SetName(eighty);
    QCOMPARE(v.Name(), eighty);
    // A shorter name after a longer one reads back alone.
    v.SetName(QStringLiteral("Мир"));
    QCOMPARE(v.Name(), QStringLiteral("Мир"));

    // A length byte above 80, as another writer might leave it, gives the 80 characters there are.
    std::memset(v.bytes.data() + 14, 'a', 80);
    v.bytes[13] = char(200);
    QCOMPARE(v.Name(), QString(80, QChar(u'a')));
    t.bytes[98] = char(255);
    QCOMPARE(t.Social().size(), 80);
}

void TestDatabase::recordDate_data()
{
    QTest::addColumn<QDateTime>("local");
    QTest::addColumn<double>("date");
    QTest::newRow("epoch") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << 0.0;
    QTest::newRow("noon of day 1") << QDateTime(QDate(1899, 12, 31), QTime(12, 0)) << 1.5;
    QTest::newRow("06:00 on 1899-12-31") << QDateTime(QDate(1899, 12, 31), QTime(6, 0)) << 1.25;
    QTest::newRow("before the epoch") << QDateTime(QDate(1899, 12, 29), QTime(6, 0)) << -1.25;
    QTest::newRow("2003-09-01 18:00") << QDateTime(QDate(2003, 9, 1), QTime(18, 0)) << 37865.75;
}

void TestDatabase::recordDate()
{
    QFETCH(QDateTime, local);
    QFETCH(double, date);
    QCOMPARE(DateTimeToRecordDate(local), date);
    QCOMPARE(RecordDateToDateTime(date), local);
}

void TestDatabase::sexText()
{
    QCOMPARE(SexText(0), QString());
    QCOMPARE(SexText(1), QStringLiteral("Мужской"));
    QCOMPARE(SexText(2), QStringLiteral("Женский"));
    QCOMPARE(SexText(3), QString());
    QVERIFY(!RecordDateToDateTime(std::nan("")).isValid());
}

void TestDatabase::appendNumbers_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QList<quint32>>("ids");
    QTest::addColumn<int>("junk"); // bytes of a torn record after the whole ones
    QTest::addColumn<quint32>("expectedId");
    QTest::newRow("missing file") << false << QList<quint32>{} << 0 << 1u;
    QTest::newRow("empty file") << true << QList<quint32>{} << 0 << 1u;
    QTest::newRow("last is 41") << true << QList<quint32>{5, 99, 41} << 0 << 42u;
    QTest::newRow("7 after 9") << true << QList<quint32>{9, 7} << 0 << 8u;
    QTest::newRow("torn tail") << true << QList<quint32>{1, 2, 3} << 60 << 4u;
    QTest::newRow("only a torn record") << true << QList<quint32>{} << 50 << 1u;
}

void TestDatabase::appendNumbers()
{
    QFETCH(bool, exists);
    QFETCH(QList<quint32>, ids);
    QFETCH(int, junk);
    QFETCH(quint32, expectedId);

    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    const QString values = dir.filePath(QStringLiteral("values.dat"));
    QByteArray testBytes;
    QByteArray valueBytes;
    for (quint32 id : ids) {
        testBytes += Bytes(TestWithId(id, QStringLiteral("до")));
        valueBytes += Bytes(ValueWithIds(qint32(id), 1));
    }
    if (exists) {
        WriteFile(tests, testBytes + QByteArray(junk, 'x'));
        WriteFile(values, valueBytes + QByteArray(junk, 'x'));
    }

    TvsDBTestRec t = TestWithId(0, QStringLiteral("новый"));
    AppendTestRec(tests, t);
    QCOMPARE(t.Id(), expectedId);
    // The new record lands right after the whole ones, so everything stays on its boundary.
    QCOMPARE(ReadFile(tests), testBytes + Bytes(t));
    const auto list = ReadTests(tests);
    QVERIFY(list);
    QCOMPARE(list->Count(), int(ids.size()) + 1);
    QCOMPARE(list->Items(list->Count() - 1).Fio(), QStringLiteral("новый"));

    TvsDBValueRec v = ValueWithIds(0, 5, QStringLiteral("Свобода"));
    AppendValueRec(values, v);
    QCOMPARE(quint32(v.Id()), expectedId);
    QCOMPARE(ReadFile(values), valueBytes + Bytes(v));
}

void TestDatabase::readersOnMissingEmptyAndTrailing()
{
    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    const QString values = dir.filePath(QStringLiteral("values.dat"));
    QVERIFY(!ReadTests(tests));
    QVERIFY(!ReadValues(values));

    WriteFile(tests, QByteArray());
    WriteFile(values, QByteArray());
    auto t = ReadTests(tests);
    auto v = ReadValues(values);
    QVERIFY(t && v);
    QCOMPARE(t->Count(), 0);
    QCOMPARE(v->Count(), 0);

    WriteFile(tests, Records({3, 1, 2}) + QByteArray(100, '\x7f'));
    t = ReadTests(tests);
    QVERIFY(t);
    QCOMPARE(t->Count(), 3);
    QCOMPARE(t->Items(0).Id(), 3u);
    QCOMPARE(t->Items(2).Id(), 2u);

    WriteFile(values, ValueRecords({1, 1}) + QByteArray(93, '\x7f'));
    v = ReadValues(values);
    QVERIFY(v);
    QCOMPARE(v->Count(), 2);
}

void TestDatabase::readersAcrossBlocks()
{
    // Several megabytes of records whose size does not divide the read block: every record must come
    // out whole and in order across the block seams.
    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    QByteArray bytes;
    const int count = 5000;
    for (int i = 1; i <= count; ++i)
        bytes += Bytes(TestWithId(quint32(i), QStringLiteral("Имя %1").arg(i)));
    WriteFile(tests, bytes + QByteArray(17, 'x'));
    const auto list = ReadTests(tests);
    QVERIFY(list);
    QCOMPARE(list->Count(), count);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(list->Items(i).Id(), quint32(i + 1));
        QCOMPARE(list->Items(i).Fio(), QStringLiteral("Имя %1").arg(i + 1));
    }
}

void TestDatabase::wholeReadOfALargeFile()
{
    // Large enough to be read by two threads, which meet in the middle of a record; the file then
    // ends with a partial record.
    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    const int count = 30000;
    QByteArray bytes;
    bytes.reserve(qsizetype(count) * TvsDBTestRec::kSize + 100);
    for (int i = 1; i <= count; ++i) {
        TvsDBTestRec r = TestWithId(quint32(i), QStringLiteral("Испытуемый %1").arg(i));
        r.SetTypeScore(4, -i);
        bytes += Bytes(r);
    }
    WriteFile(tests, bytes + QByteArray(100, 'x'));
    const auto list = ReadTests(tests);
    QVERIFY(list);
    QCOMPARE(list->Count(), count);
    for (int i = 0; i < count; ++i) {
        const TvsDBTestRec& r = list->Items(i);
        if (r.Id() != quint32(i + 1) || r.TypeScore(4) != -(i + 1) ||
            r.Fio() != QStringLiteral("Испытуемый %1").arg(i + 1))
            QFAIL(qPrintable(QStringLiteral("record %1 came out wrong").arg(i)));
    }
    // A record that lies across the threads' seam reads back byte for byte.
    const qsizetype seam = (qsizetype(count) * TvsDBTestRec::kSize / 2) / (2 << 20) * (2 << 20);
    const int across = int(seam / TvsDBTestRec::kSize);
    QCOMPARE(Bytes(list->Items(across)), bytes.mid(qsizetype(across) * TvsDBTestRec::kSize, TvsDBTestRec::kSize));
}

void TestDatabase::filteredReadKeepingEveryRecord()
{
    // Kept records are copied into blocks that grow as the list does; every block seam must hold.
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("values.dat"));
    QList<qint32> testIds;
    for (int i = 0; i < 7000; ++i)
        testIds.append(i % 5 == 0 ? 1 : 2);
    WriteFile(values, ValueRecords(testIds));
    const auto all = ReadValues(values);
    const auto kept = ReadValues(values, [](const TvsDBValueRec&) { return true; });
    WantedTestId = 1;
    const auto ones = ReadValues(values, IsWantedValue);
    QVERIFY(all && kept && ones);
    QCOMPARE(kept->Count(), 7000);
    QCOMPARE(ones->Count(), 1400);
    for (int i = 0; i < kept->Count(); ++i)
        QCOMPARE(Bytes(kept->Items(i)), Bytes(all->Items(i)));
    for (int i = 0; i < ones->Count(); ++i)
        QCOMPARE(ones->Items(i).Id(), qint32(5 * i + 1));
}

void TestDatabase::readListsReleaseMixedRecords()
{
    // A list from the reader holds records in its blocks and may be given records of its own; Delete,
    // Clear and destruction must release each kind the right way (the sanitizer build checks that
    // nothing is freed twice or leaked).
    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    WriteFile(tests, Records({1, 2, 3}));
    auto list = ReadTests(tests);
    QVERIFY(list);
    auto own = std::make_unique<TvsDBTestRec>(TestWithId(10));
    QCOMPARE(list->Append(std::move(own)), 3);
    list->Items(1).SetId(20);
    list->Delete(0);
    QCOMPARE(list->Count(), 3);
    QCOMPARE(list->Items(0).Id(), 20u);
    QCOMPARE(list->Items(2).Id(), 10u);
    list->Delete(2);
    QCOMPARE(list->Count(), 2);
    QCOMPARE(list->Items(1).Id(), 3u);
    list->Append(std::make_unique<TvsDBTestRec>(TestWithId(11)));
    list->Clear();
    QCOMPARE(list->Count(), 0);
    list->Append(std::make_unique<TvsDBTestRec>(TestWithId(12)));
    list.reset();
}

void TestDatabase::readersFilter()
{
    QTemporaryDir dir;
    const QString values = dir.filePath(QStringLiteral("values.dat"));
    WriteFile(values, ValueRecords({1, 2, 2, 3}));
    WantedTestId = 2;
    const auto v = ReadValues(values, IsWantedValue);
    QVERIFY(v);
    QCOMPARE(v->Count(), 2);
    QCOMPARE(v->Items(0).Id(), 2);
    QCOMPARE(v->Items(1).Id(), 3);
    QCOMPARE(v->Items(1).TestId(), 2);

    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    WriteFile(tests, Records({1, 2, 3}));
    WantedTestId = 3;
    const auto t = ReadTests(tests, IsWantedTest);
    QVERIFY(t);
    QCOMPARE(t->Count(), 1);
    QCOMPARE(t->Items(0).Id(), 3u);
    WantedTestId = 4;
    QCOMPARE(ReadTests(tests, IsWantedTest)->Count(), 0);
}

void TestDatabase::readerWithRaisingFilterGivesNone()
{
    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    WriteFile(tests, Records({1, 2, 3}));
    QVERIFY(!ReadTests(tests, [](const TvsDBTestRec& r) -> bool {
        if (r.Id() == 2)
            throw Error(QStringLiteral("stop"));
        return true;
    }));
}

void TestDatabase::checkDataDir()
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("Data"));
    const mode_t old = ::umask(022);
    const bool created = CheckDataDir(data);
    ::umask(old);
    QVERIFY(created);
    struct stat st
    {
    };
    QCOMPARE(::stat(QFile::encodeName(data).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0700));
    WriteFile(data + QStringLiteral("/tests.dat"), Records({1}));
    QVERIFY(CheckDataDir(data));
    QCOMPARE(ReadFile(data + QStringLiteral("/tests.dat")), Records({1}));

    QTemporaryDir other;
    const QString file = other.filePath(QStringLiteral("Data"));
    WriteFile(file, QByteArray("not a folder"));
    QVERIFY(!CheckDataDir(file));
    QCOMPARE(ReadFile(file), QByteArray("not a folder"));
}

void TestDatabase::newFilesAreOwnerOnly()
{
    QTemporaryDir dir;
    const mode_t old = ::umask(0);
    SaveOne(dir.path(), 2);
    ::umask(old);
    for (const char* name : {"/tests.dat", "/values.dat"}) {
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(dir.path() + QLatin1String(name)).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }
}

void TestDatabase::failedWriteRollsBack_data()
{
    // The file-size limit lets the writes reach `limit` bytes past the original values.dat (or
    // tests.dat), so the failing write is cut part-way, as on a disk that fills up.
    QTest::addColumn<bool>("limitTests");
    QTest::addColumn<int>("slack");
    QTest::addColumn<int>("junk");
    QTest::newRow("test record cut") << true << 300 << 0;
    QTest::newRow("second value cut") << false << 94 + 40 << 0;
    QTest::newRow("third value cut, torn tail before") << false << 94 * 2 + 10 << 30;
}

void TestDatabase::failedWriteRollsBack()
{
    QFETCH(bool, limitTests);
    QFETCH(int, slack);
    QFETCH(int, junk);

    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    const QString values = dir.filePath(QStringLiteral("values.dat"));
    // values.dat is the larger file, so a limit aimed at it leaves tests.dat room to grow.
    const QByteArray testsBefore = Records({1, 2}) + QByteArray(junk, 't');
    QList<qint32> owners(30, 1);
    std::fill(owners.begin() + 12, owners.end(), 2);
    const QByteArray valuesBefore = ValueRecords(owners) + QByteArray(junk, 'v');
    WriteFile(tests, testsBefore);
    WriteFile(values, valuesBefore);
    const qint64 limit = (limitTests ? testsBefore.size() - junk : valuesBefore.size() - junk) + slack;
    if (!limitTests)
        QVERIFY(limit > testsBefore.size() + TvsDBTestRec::kSize);

    const ChildResult r = RunInChild([&](QString& message) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{rlim_t(limit), rlim_t(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 2;
        try {
            SaveOne(dir.path(), 3);
        } catch (const Error& e) {
            message = e.message();
            return 0;
        }
        return 1;
    });
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.message.contains(QStringLiteral("предельного размера")), qPrintable(r.message));
    QVERIFY2(r.message.contains(limitTests ? QStringLiteral("tests.dat") : QStringLiteral("values.dat")),
             qPrintable(r.message));
    QCOMPARE(ReadFile(tests).toHex(), testsBefore.toHex());
    QCOMPARE(ReadFile(values).toHex(), valuesBefore.toHex());

    // Nothing of the failed save is left to disturb the next one.
    QCOMPARE(SaveOne(dir.path(), 3), 3u);
    const auto v = ReadValues(values);
    QCOMPARE(v->Count(), 33);
    QCOMPARE(v->Items(32).Id(), 33);
    QCOMPARE(v->Items(32).TestId(), 3);
}

void TestDatabase::lockedFileFailsAfterWaiting()
{
    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    const QString values = dir.filePath(QStringLiteral("values.dat"));
    WriteFile(tests, Records({1}));
    WriteFile(values, ValueRecords({1, 1}));

    for (const QString& locked : {values, tests}) {
        kvtest::ForeignLock holder(locked);
        QVERIFY(holder.locked());
        try {
            SaveOne(dir.path(), 2);
            QFAIL("a save into a locked file succeeded");
        } catch (const Error& e) {
            QVERIFY2(e.message().contains(QStringLiteral("занята другой программой")), qPrintable(e.message()));
            QVERIFY(e.message().contains(QFileInfo(locked).fileName()));
        }
        if (locked == tests)
            QVERIFY(!ReadTests(tests));
        else
            QVERIFY(!ReadValues(values));
        holder.Release();
        QCOMPARE(ReadFile(tests), Records({1}));
        QCOMPARE(ReadFile(values), ValueRecords({1, 1}));
    }
}

void TestDatabase::lockReleasedWithinWaitLands()
{
    QTemporaryDir dir;
    const QString tests = dir.filePath(QStringLiteral("tests.dat"));
    WriteFile(tests, Records({1}));
    kvtest::ForeignLock holder(tests, 300);
    QVERIFY(holder.locked());
    QCOMPARE(SaveOne(dir.path(), 1), 2u);
    QVERIFY(ReadTests(tests));
}

void TestDatabase::twoProcessesSavingKeepEachTestWhole()
{
    QTemporaryDir dir;
    const int perProcess = 25;
    auto saver = [&](const QString& who) {
        return [&, who](QString&) {
            for (int i = 0; i < perProcess; ++i)
                SaveOne(dir.path(), 3, who);
            return 0;
        };
    };
    // Both children start at once and race for the files.
    pid_t pids[2];
    const QString names[2] = {QStringLiteral("первый"), QStringLiteral("второй")};
    for (int k = 0; k < 2; ++k) {
        pids[k] = ::fork();
        if (pids[k] == 0) {
            QString unused;
            int code = 1;
            try {
                code = saver(names[k])(unused);
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

    const auto tests = ReadTests(dir.filePath(QStringLiteral("tests.dat")));
    const auto values = ReadValues(dir.filePath(QStringLiteral("values.dat")));
    QVERIFY(tests && values);
    QCOMPARE(tests->Count(), 2 * perProcess);
    QCOMPARE(values->Count(), 3 * 2 * perProcess);
    for (int i = 0; i < tests->Count(); ++i) {
        QCOMPARE(tests->Items(i).Id(), quint32(i + 1));
        // Each test's three values follow one another with its number.
        for (int j = 0; j < 3; ++j) {
            const TvsDBValueRec& v = values->Items(3 * i + j);
            QCOMPARE(v.Id(), 3 * i + j + 1);
            QCOMPARE(v.TestId(), i + 1);
            QCOMPARE(v.Score(), 3 - j);
        }
    }
}

void TestDatabase::readOnlyFolderIsReported()
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("Data"));
    QVERIFY(CheckDataDir(data));
    // Root writes through any permission bits, so the save runs as an unprivileged user there.
    QVERIFY(::chmod(QFile::encodeName(data).constData(), 0555) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const ChildResult r = RunInChild([&](QString& message) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 2;
        try {
            SaveOne(data, 1);
        } catch (const Error& e) {
            message = e.message();
            return 0;
        }
        return 1;
    });
    ::chmod(QFile::encodeName(data).constData(), 0700);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.message.contains(QStringLiteral("нет права на запись")), qPrintable(r.message));
    QVERIFY(!QFile::exists(data + QStringLiteral("/tests.dat")));
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"

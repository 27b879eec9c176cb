// Loading a saved test by its number: the record, the ranking rebuilt from exactly its values, its
// own answers, and the folders where it cannot be found.
#include "core/history/ResultRestore.h"
#include "core/platform/Errors.h"
#include "support/HistoryFixtures.h"

#include <QFile>
#include <QtTest/QtTest>

using namespace kv;
using namespace Qt::StringLiterals;

namespace {

const QDateTime kMorning(QDate(2023, 12, 31), QTime(7, 5));

// Three tests; test 2's values are in groups 2, 4, 2, and its record's totals disagree with them.
void WriteThreeTests(const kvtest::ExeDir& dir)
{
    kvtest::WriteData(dir, u"tests.dat"_s,
                      kvtest::Bytes(kvtest::TestRecord(1, u"Иванов"_s, kMorning, {3, 0, 1, 0})) +
                          kvtest::Bytes(kvtest::TestRecord(2, u"Петрова"_s, kMorning, {0, 99, 0, 3})) +
                          kvtest::Bytes(kvtest::TestRecord(3, QString(), kMorning, {0, 0, 0, 6})));
    kvtest::WriteData(dir, u"values.dat"_s,
                      kvtest::ValueRecords({{1, 1, u"Вера"_s, 3},
                                            {2, 2, u"Деньги"_s, 5},
                                            {1, 3, u"Любовь"_s, 1},
                                            {2, 4, u"Здоровье"_s, 3},
                                            {2, 2, u"Дом"_s, 2},
                                            {3, 4, u"Сон"_s, 6}}));
}

// Answers of tests 1 and 2 interleaved, so only the number keeps them apart.
QByteArray AnswerRecords()
{
    const struct
    {
        quint32 testId;
        const char16_t *upper, *lower;
    } answers[] = {{2, u"Деньги", u"Дом"}, {1, u"Вера", u"Любовь"}, {2, u"Дом", u"Здоровье"}};
    QByteArray bytes;
    quint32 id = 1;
    for (const auto& a : answers) {
        TvsDBAnswerRec rec;
        rec.SetId(id);
        rec.SetTestId(a.testId);
        rec.SetQuestion(id++);
        rec.SetUpper(QString::fromUtf16(a.upper));
        rec.SetUpperGroup(2);
        rec.SetLower(QString::fromUtf16(a.lower));
        rec.SetLowerGroup(2);
        rec.SetChosen(1);
        bytes += kvtest::Bytes(rec);
    }
    return bytes;
}

// "group=score[value=score,...]" per group.
QString Describe(const TvsValueTypeList& result)
{
    QStringList groups;
    for (int g = 0; g < result.Count(); ++g) {
        const TvsValueTypeRec& group = result.Items(g);
        QStringList values;
        for (int v = 0; group.Values && v < group.Values->Count(); ++v)
            values << group.Values->Items(v).Name + u'=' + QString::number(group.Values->Items(v).Score);
        groups << group.Name + u'=' + QString::number(group.Score) + u'[' + values.join(u',') + u']';
    }
    return groups.join(u' ');
}

} // namespace

class TestSavedTest : public QObject
{
    Q_OBJECT

private slots:
    void loadsExactlyItsOwnRecords()
    {
        kvtest::ExeDir dir;
        WriteThreeTests(dir);
        kvtest::WriteData(dir, u"answers.dat"_s, AnswerRecords());
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames());
        TvsSavedTest test;
        LoadSavedTest(dir.file(u"Data"_s), 2, catalogue, test);
        QCOMPARE(test.Test.Id(), 2u);
        QCOMPARE(test.Test.Fio(), u"Петрова"_s);
        // Groups by first mention, totals summed from the values, not the record's.
        QCOMPARE(Describe(test.Results), u"Материальные ценности=7[Деньги=5,Дом=2] Витальные ценности=3[Здоровье=3]"_s);
        QCOMPARE(test.Answers.size(), size_t(2));
        QCOMPARE(test.Answers[0].Upper + u'/' + test.Answers[0].Lower, u"Деньги/Дом"_s);
        QCOMPARE(test.Answers[1].Upper + u'/' + test.Answers[1].Lower, u"Дом/Здоровье"_s);

        // Without answers.dat a test has none.
        QVERIFY(QFile::remove(dir.file(u"Data/answers.dat"_s)));
        TvsSavedTest again;
        LoadSavedTest(dir.file(u"Data"_s), 1, catalogue, again);
        QCOMPARE(Describe(again.Results), u"Идеологические ценности=3[Вера=3] Эмоциональные ценности=1[Любовь=1]"_s);
        QVERIFY(again.Answers.empty());
    }

    // Numbers from 2^31 up are test numbers like any other: the field is unsigned.
    void highNumbers_data()
    {
        QTest::addColumn<quint32>("id");
        QTest::newRow("2^31") << quint32(2147483648u);
        QTest::newRow("4294967295") << quint32(4294967295u);
    }

    void highNumbers()
    {
        QFETCH(quint32, id);
        kvtest::ExeDir dir;
        kvtest::WriteData(dir, u"tests.dat"_s,
                          kvtest::Bytes(kvtest::TestRecord(id - 1, u"Сосед"_s, kMorning, {0, 0, 0, 4})) +
                              kvtest::Bytes(kvtest::TestRecord(id, u"Верхний"_s, kMorning, {1, 0, 0, 0})));
        kvtest::WriteData(dir, u"values.dat"_s,
                          kvtest::ValueRecords({{qint32(id - 1), 4, u"Сон"_s, 4}, {qint32(id), 1, u"Вера"_s, 1}}));
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames());
        TvsSavedTest test;
        LoadSavedTest(dir.file(u"Data"_s), id, catalogue, test);
        QCOMPARE(test.Test.Id(), id);
        QCOMPARE(test.Test.Fio(), u"Верхний"_s);
        QCOMPARE(Describe(test.Results), u"Идеологические ценности=1[Вера=1]"_s);
        QCOMPARE(test.SameNumber, 1);
        QVERIFY(SameNumberNotice(test).isEmpty());
    }

    // Two tests under number 5. Their values follow one another and add up to each record's totals,
    // so the first test's own values and answers can be told apart; when the totals do not split
    // the values, every value is shown together and the notice says so.
    void sharedNumber_data()
    {
        QTest::addColumn<QList<qint32>>("secondTotals");
        QTest::addColumn<bool>("own");
        QTest::addColumn<QString>("results");
        QTest::addColumn<int>("answers");
        QTest::newRow("told apart by the totals")
            << QList<qint32>{0, 1, 0, 0} << true << u"Идеологические ценности=3[Вера=2,Надежда=1]"_s << 3;
        QTest::newRow("totals that do not split the values")
            << QList<qint32>{0, 5, 0, 0} << false
            << u"Идеологические ценности=3[Вера=2,Надежда=1] Материальные ценности=1[Деньги=1]"_s << 0;
    }

    void sharedNumber()
    {
        QFETCH(QList<qint32>, secondTotals);
        QFETCH(bool, own);
        QFETCH(QString, results);
        QFETCH(int, answers);
        kvtest::ExeDir dir;
        TvsDBTestRec second = kvtest::TestRecord(5, u"Второй"_s, kMorning);
        for (int n = 0; n < 4; ++n)
            second.SetTypeScore(n + 1, secondTotals[n]);
        kvtest::WriteData(dir, u"tests.dat"_s,
                          kvtest::Bytes(kvtest::TestRecord(5, u"Первый"_s, kMorning, {3, 0, 0, 0})) +
                              kvtest::Bytes(kvtest::TestRecord(6, u"Другой"_s, kMorning, {1, 0, 0, 0})) +
                              kvtest::Bytes(second));
        kvtest::WriteData(
            dir, u"values.dat"_s,
            kvtest::ValueRecords(
                {{5, 1, u"Вера"_s, 2}, {5, 1, u"Надежда"_s, 1}, {6, 1, u"Любовь"_s, 1}, {5, 2, u"Деньги"_s, 1}}));
        // The first test's three answers, then the second's one, numbered from 1 again.
        QByteArray answerBytes;
        const quint32 questions[] = {1, 2, 3, 1};
        for (quint32 q : questions) {
            TvsDBAnswerRec rec;
            rec.SetTestId(5);
            rec.SetQuestion(q);
            rec.SetUpper(u"Вера"_s);
            rec.SetLower(u"Надежда"_s);
            rec.SetChosen(1);
            answerBytes += kvtest::Bytes(rec);
        }
        kvtest::WriteData(dir, u"answers.dat"_s, answerBytes);
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames());
        TvsSavedTest test;
        LoadSavedTest(dir.file(u"Data"_s), 5, catalogue, test);
        QCOMPARE(test.Test.Fio(), u"Первый"_s);
        QCOMPARE(test.SameNumber, 2);
        QCOMPARE(test.OwnValues, own);
        QCOMPARE(Describe(test.Results), results);
        QCOMPARE(int(test.Answers.size()), answers);
        const QString notice = SameNumberNotice(test);
        QVERIFY2(notice.contains(u"2 теста с номером 5"_s), qPrintable(notice));
        QVERIFY2(notice.contains(u"kvendar-data check"_s), qPrintable(notice));
        QCOMPARE(notice.contains(u"нельзя отделить"_s), !own);
    }

    void notFound_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such number") << QString() << 4 << u"Запись не найдена"_s;
        QTest::newRow("tests.dat missing") << u"tests.dat"_s << 2 << u"Запись не найдена"_s;
        QTest::newRow("values.dat missing") << u"values.dat"_s << 2 << u"Записи не найдены"_s;
        QTest::newRow("no values for the test") << u"other values"_s << 2 << u"Записи не найдены"_s;
        QTest::newRow("group number the catalogue lacks")
            << u"three groups"_s << 2 << u"List index out of bounds (3)"_s;
    }

    void notFound()
    {
        QFETCH(QString, breakage);
        QFETCH(int, id);
        QFETCH(QString, message);
        kvtest::ExeDir dir;
        WriteThreeTests(dir);
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames());
        if (breakage.endsWith(u".dat"_s))
            QVERIFY(QFile::remove(dir.file(u"Data/"_s + breakage)));
        if (breakage == u"other values")
            kvtest::WriteData(dir, u"values.dat"_s, kvtest::ValueRecords({{1, 1, u"Вера"_s, 3}}));
        if (breakage == u"three groups")
            kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames().mid(0, 3));
        TvsSavedTest test;
        QString raised;
        try {
            LoadSavedTest(dir.file(u"Data"_s), id, catalogue, test);
        } catch (const Error& e) {
            raised = e.message();
        }
        QCOMPARE(raised, message);
    }
};

QTEST_GUILESS_MAIN(TestSavedTest)
#include "test_saved_test.moc"

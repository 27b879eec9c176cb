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

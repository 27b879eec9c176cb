// answers.dat: the record's bytes against a hand-made fixture, and the reader on good and damaged
// files (a torn tail, a name's length byte past its room, a choice byte that is neither answer).

#include "core/storage/uvsDataBase.h"

#include "support/DbFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace kv;
using kvtest::LoadHex;
using kvtest::WriteFile;

namespace {

QByteArray Bytes(const TvsDBAnswerRec& r)
{
    return QByteArray(r.bytes.data(), TvsDBAnswerRec::kSize);
}

TvsDBAnswerRec Answer(quint32 id, quint32 testId, quint32 question, quint8 chosen = 1)
{
    TvsDBAnswerRec r;
    r.SetId(id);
    r.SetTestId(testId);
    r.SetQuestion(question);
    r.SetUpperGroup(1);
    r.SetUpper(QStringLiteral("Свобода %1").arg(id));
    r.SetLowerGroup(3);
    r.SetLower(QStringLiteral("Любовь %1").arg(id));
    r.SetChosen(chosen);
    r.SetResponseMs(1000 + id);
    return r;
}

// Answers of tests 1 (questions 1..3), 2 (1) and 1 again (a later save with the same number, as a
// merge of damaged files could leave).
QByteArray SixAnswers()
{
    QByteArray b;
    const quint32 owners[6] = {1, 1, 1, 2, 2, 1};
    const quint32 questions[6] = {1, 2, 3, 1, 2, 1};
    for (int i = 0; i < 6; ++i)
        b += Bytes(Answer(quint32(i + 1), owners[i], questions[i], quint8(1 + i % 2)));
    return b;
}

} // namespace

class TestAnswers : public QObject
{
    Q_OBJECT

private slots:
    void recordLayout();
    void readWholeAndFiltered();
    void damagedFile_data();
    void damagedFile();
};

void TestAnswers::recordLayout()
{
    const QByteArray fixture = LoadHex(QStringLiteral("answer_record.hex"));
    QCOMPARE(fixture.size(), TvsDBAnswerRec::kSize);

    TvsDBAnswerRec r;
    r.SetId(7);
    r.SetTestId(0x01020304);
    r.SetQuestion(105);
    r.SetUpperGroup(2);
    r.SetUpper(QStringLiteral("Любовь"));
    r.SetLowerGroup(4);
    r.SetLower(QStringLiteral("Здоровье"));
    r.SetChosen(TvsDBAnswerRec::kChoseLower);
    r.SetResponseMs(74565);
    QCOMPARE(Bytes(r).toHex(' '), fixture.toHex(' '));

    TvsDBAnswerRec back;
    std::memcpy(back.bytes.data(), fixture.constData(), size_t(fixture.size()));
    QCOMPARE(back.Id(), 7u);
    QCOMPARE(back.TestId(), 0x01020304u);
    QCOMPARE(back.Question(), 105u);
    QCOMPARE(back.UpperGroup(), quint8(2));
    QCOMPARE(back.Upper(), QStringLiteral("Любовь"));
    QCOMPARE(back.LowerGroup(), quint8(4));
    QCOMPARE(back.Lower(), QStringLiteral("Здоровье"));
    QCOMPARE(back.Chosen(), quint8(2));
    QCOMPARE(back.ResponseMs(), 74565u);
    QVERIFY(back.ChoiceKnown());
    QVERIFY(back.NamesFit());

    // The largest values survive in their unsigned fields, and a long name is cut to 80 characters
    // without spilling into the group byte after it.
    r.SetId(0xffffffffu);
    r.SetResponseMs(0xfffffffeu);
    r.SetUpper(QString(90, QChar(u'ж')));
    QCOMPARE(r.Id(), 0xffffffffu);
    QCOMPARE(r.ResponseMs(), 0xfffffffeu);
    QCOMPARE(r.Upper(), QString(80, QChar(u'ж')));
    QCOMPARE(r.LowerGroup(), quint8(4));
    QVERIFY(r.NamesFit());
}

void TestAnswers::readWholeAndFiltered()
{
    QTemporaryDir dir;
    const QString answers = dir.filePath(QStringLiteral("answers.dat"));
    QVERIFY(!ReadAnswers(answers));

    const QByteArray bytes = SixAnswers();
    WriteFile(answers, bytes);
    const auto all = ReadAnswers(answers);
    QVERIFY(all);
    QCOMPARE(all->Count(), 6);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(Bytes(all->Items(i)), bytes.mid(qsizetype(i) * TvsDBAnswerRec::kSize, TvsDBAnswerRec::kSize));
    QCOMPARE(all->Items(3).Upper(), QStringLiteral("Свобода 4"));
    QCOMPARE(all->Items(3).Lower(), QStringLiteral("Любовь 4"));

    WantedTestId = 1;
    const auto ones = ReadAnswers(answers, IsWantedAnswer);
    QVERIFY(ones);
    QList<quint32> ids;
    for (int i = 0; i < ones->Count(); ++i)
        ids.append(ones->Items(i).Id());
    QCOMPARE(ids, (QList<quint32>{1, 2, 3, 6}));
    WantedTestId = 3;
    QCOMPARE(ReadAnswers(answers, IsWantedAnswer)->Count(), 0);
}

void TestAnswers::damagedFile_data()
{
    // Each row damages the six good records in one way: bytes at `offset` are overwritten, and
    // `tail` bytes of a torn record follow. The reader keeps whole records only, never fails on
    // their content, and the damaged record says what is wrong with it.
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<int>("tail");
    QTest::addColumn<int>("damaged"); // index of the damaged record, -1 for none
    QTest::addColumn<bool>("choiceKnown");
    QTest::addColumn<bool>("namesFit");
    const int size = TvsDBAnswerRec::kSize;
    QTest::newRow("torn tail") << 0 << QByteArray() << 100 << -1 << true << true;
    QTest::newRow("one byte short of a record") << 0 << QByteArray() << size - 1 << -1 << true << true;
    QTest::newRow("upper length byte 81") << 2 * size + 13 << QByteArray(1, char(81)) << 0 << 2 << true << false;
    QTest::newRow("lower length byte 255") << 4 * size + 95 << QByteArray(1, char(255)) << 0 << 4 << true << false;
    QTest::newRow("choice 0") << 176 << QByteArray(1, char(0)) << 0 << 0 << false << true;
    QTest::newRow("choice 3, torn tail") << 5 * size + 176 << QByteArray(1, char(3)) << 7 << 5 << false << true;
}

void TestAnswers::damagedFile()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, patch);
    QFETCH(int, tail);
    QFETCH(int, damaged);
    QFETCH(bool, choiceKnown);
    QFETCH(bool, namesFit);

    QTemporaryDir dir;
    const QString answers = dir.filePath(QStringLiteral("answers.dat"));
    QByteArray bytes = SixAnswers();
    bytes.replace(offset, patch.size(), patch);
    WriteFile(answers, bytes + QByteArray(tail, '\xee'));

    const auto list = ReadAnswers(answers);
    QVERIFY(list);
    QCOMPARE(list->Count(), 6);
    for (int i = 0; i < 6; ++i) {
        const TvsDBAnswerRec& r = list->Items(i);
        QCOMPARE(r.Id(), quint32(i + 1));
        QCOMPARE(r.ChoiceKnown(), i == damaged ? choiceKnown : true);
        QCOMPARE(r.NamesFit(), i == damaged ? namesFit : true);
        // A length byte past its room gives the 80 bytes there are, never what lies beyond.
        QVERIFY(r.Upper().size() <= 80 && r.Lower().size() <= 80);
    }
    // The filtered reader goes through the same damage.
    WantedTestId = 1;
    const auto ones = ReadAnswers(answers, IsWantedAnswer);
    QVERIFY(ones);
    QCOMPARE(ones->Count(), 4);
    QCOMPARE(ones->Items(3).Id(), 6u);
    if (!namesFit) {
        const TvsDBAnswerRec& r = list->Items(damaged);
        const QString name = offset % TvsDBAnswerRec::kSize == 13 ? r.Upper() : r.Lower();
        QCOMPARE(name.size(), 80);
        QVERIFY(name.startsWith(offset % TvsDBAnswerRec::kSize == 13 ? QStringLiteral("Свобода")
                                                                     : QStringLiteral("Любовь")));
    }
}

QTEST_GUILESS_MAIN(TestAnswers)
#include "test_answers.moc"

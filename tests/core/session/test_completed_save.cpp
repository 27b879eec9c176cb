// Saving a completed test: what lands in the three files, the numbering across saves, and saves that
// fail (bad age, no data folder, a write cut short by a file-size limit, a file locked by another
// process) leaving the files as they were.
#include "core/platform/Errors.h"
#include "core/session/CompletedTest.h"
#include "core/storage/Journal.h"
#include "core/storage/SaveTransaction.h"
#include "support/CoreSupport.h"
#include "support/ForeignLock.h"

#include <QFileInfo>
#include <QtTest/QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace kv;
using namespace Qt::StringLiterals;

namespace {

const QDateTime kNow(QDate(2024, 3, 5), QTime(14, 30, 15, 250));
// 45356 days from 1899-12-30 to 2024-03-05, and 14:30:15.250 as a fraction of a day.
const double kNowRecordDate = 45356.0 + (14 * 3600 + 30 * 60 + 15.25) / 86400.0;
const QString kLongValue = QString(85, QChar(u'щ'));

// Groups 2 (5 points), 4 (1 point) and one numbered outside 1 .. 4, as a list rebuilt from the
// database can be.
void FillResults(TvsValueTypeList& result)
{
    auto add = [&](int number, const QString& name, const QList<QPair<QString, int>>& values) {
        TvsValueTypeRec& group = result.Items(result.Add(name, QString()));
        group.Number = number;
        group.Values = std::make_unique<TvsValueList>();
        for (const auto& [valueName, score] : values) {
            group.Values->Items(group.Values->Add(valueName, number, name)).Score = score;
            group.Score += score;
        }
    };
    add(2, u"Социальные ценности"_s, {{u"Свобода"_s, 3}, {kLongValue, 2}});
    add(4, u"Личные ценности"_s, {{u"Здоровье"_s, 1}});
    add(7, u"Прочие"_s, {{u"Красота"_s, 1}});
}

TvsQuestionnaire Unanswered()
{
    TvsQuestionnaire answers;
    answers.Sex = NoAnswerText();
    answers.Answers.fill(NoAnswerText());
    return answers;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

// The six answers of a comparison of four values, the second answered after a long look and the
// long name cut to 80 on the way into the file.
TvsAnswerLog SixAnswers()
{
    const QString names[4] = {u"Свобода"_s, kLongValue, u"Здоровье"_s, u"Красота"_s};
    const qint32 groups[4] = {2, 2, 4, 7};
    const int pairs[6][2] = {{0, 1}, {2, 3}, {1, 2}, {0, 3}, {1, 3}, {0, 2}};
    TvsAnswerLog log;
    for (int q = 0; q < 6; ++q) {
        TvsAnswer a;
        a.Question = q + 1;
        a.Upper = names[pairs[q][0]];
        a.UpperGroup = groups[pairs[q][0]];
        a.UpperIndex = pairs[q][0];
        a.Lower = names[pairs[q][1]];
        a.LowerGroup = groups[pairs[q][1]];
        a.LowerIndex = pairs[q][1];
        a.Chosen = quint8(q % 3 == 1 ? 2 : 1);
        a.ResponseMs = q == 1 ? 4000000000u : quint32(700 + 10 * q);
        log.push_back(a);
    }
    return log;
}

struct Fixture
{
    kvtest::ExeDir exe;
    QString dataDir = exe.path() + u"Data"_s;
    TvsValueTypeList result;

    Fixture() { FillResults(result); }
    QString tests() const { return dataDir + u"/tests.dat"_s; }
    QString values() const { return dataDir + u"/values.dat"_s; }
    QString answers() const { return dataDir + u"/answers.dat"_s; }
    TvsDBTestRec Save(const TvsQuestionnaire& answers = Unanswered(), const TvsAnswerLog* log = nullptr)
    {
        return SaveCompletedTest(dataDir, answers, result, log, kNow);
    }
    // The message of the failure of save, empty when it succeeds.
    static QString Failure(const std::function<void()>& save)
    {
        try {
            save();
        } catch (const Error& e) {
            return e.message();
        }
        return QString();
    }
};

} // namespace

class TestCompletedSave : public QObject
{
    Q_OBJECT

private slots:
    void firstSaveCreatesTheDatabase()
    {
        Fixture f;
        QVERIFY(!QFileInfo::exists(f.dataDir));
        TvsQuestionnaire answers = Unanswered();
        answers.Fio = QString(60, QChar(u'Я')) + QString(40, QChar(u'b'));
        answers.Age = u"35"_s;
        answers.Sex = u"Женский"_s;
        answers[TvsQuestion::Social] = u"Женат / замужем"_s;
        answers[TvsQuestion::SocialStatus] = u"Другое "_s;
        answers[TvsQuestion::MaterialLevel] = u"Высокий"_s;
        const TvsDBTestRec saved = f.Save(answers);
        QCOMPARE(saved.Id(), 1u);

        QVERIFY(QFileInfo(f.dataDir).isDir());
        const auto tests = ReadTests(f.tests());
        QVERIFY(tests);
        QCOMPARE(tests->Count(), 1);
        const TvsDBTestRec& t = tests->Items(0);
        QCOMPARE(QByteArray(t.bytes.data(), t.bytes.size()), QByteArray(saved.bytes.data(), saved.bytes.size()));
        QCOMPARE(t.Id(), 1u);
        QCOMPARE(t.Fio(), answers.Fio.left(80));
        QCOMPARE(t.Date(), kNowRecordDate);
        QCOMPARE(t.Age(), 35);
        QCOMPARE(t.Sex(), quint8(2));
        QCOMPARE(t.Social(), u"Женат / замужем"_s);
        QCOMPARE(t.Children(), u"Нет ответа"_s);
        QCOMPARE(t.PlaceOfLiving(), u"Нет ответа"_s);
        QCOMPARE(t.Education(), u"Нет ответа"_s);
        QCOMPARE(t.SocialStatus(), u"Другое "_s);
        QCOMPARE(t.Bussines(), u"Нет ответа"_s);
        QCOMPARE(t.MaterialLevel(), u"Высокий"_s);
        QCOMPARE(t.TypeScore(1), 0);
        QCOMPARE(t.TypeScore(2), 5);
        QCOMPARE(t.TypeScore(3), 0);
        QCOMPARE(t.TypeScore(4), 1);

        // One record per value, in result-list order, all with the test's number.
        const auto values = ReadValues(f.values());
        QVERIFY(values);
        QCOMPARE(values->Count(), 4);
        const QStringList names = {u"Свобода"_s, kLongValue.left(80), u"Здоровье"_s, u"Красота"_s};
        const QList<int> scores = {3, 2, 1, 1};
        const QList<int> groups = {2, 2, 4, 7};
        for (int i = 0; i < 4; ++i) {
            const TvsDBValueRec& v = values->Items(i);
            QCOMPARE(v.Id(), i + 1);
            QCOMPARE(v.TestId(), 1);
            QCOMPARE(v.Name(), names[i]);
            QCOMPARE(v.Score(), scores[i]);
            QCOMPARE(int(v.TypeNumber()), groups[i]);
        }
        // No log, no answers file.
        QVERIFY(!QFileInfo::exists(f.answers()) || ReadFile(f.answers()).isEmpty());
    }

    void secondSaveContinuesBothNumberings()
    {
        Fixture f;
        f.Save();
        TvsQuestionnaire male = Unanswered();
        male.Sex = u"Мужской"_s;
        QCOMPARE(f.Save(male).Id(), 2u);
        const auto tests = ReadTests(f.tests());
        QCOMPARE(tests->Count(), 2);
        QCOMPARE(tests->Items(1).Id(), 2u);
        QCOMPARE(tests->Items(1).Sex(), quint8(1));
        QCOMPARE(tests->Items(0).Age(), 0);
        const auto values = ReadValues(f.values());
        QCOMPARE(values->Count(), 8);
        for (int i = 4; i < 8; ++i) {
            QCOMPARE(values->Items(i).Id(), i + 1);
            QCOMPARE(values->Items(i).TestId(), 2);
        }
    }

    void age_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("age");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << QString() << 0 << QString();
        QTest::newRow("35") << u"35"_s << 35 << QString();
        QTest::newRow("007") << u"007"_s << 7 << QString();
        QTest::newRow("past 32 bits") << u"99999999999"_s << 0 << u"'99999999999' is not a valid integer value"_s;
    }

    void age()
    {
        QFETCH(QString, text);
        QFETCH(int, age);
        QFETCH(QString, error);
        Fixture f;
        TvsQuestionnaire answers = Unanswered();
        answers.Age = text;
        QCOMPARE(Fixture::Failure([&] { f.Save(answers); }), error);
        if (error.isEmpty()) {
            QCOMPARE(ReadTests(f.tests())->Items(0).Age(), age);
            return;
        }
        QVERIFY(!QFileInfo::exists(f.tests()));
        QVERIFY(!QFileInfo::exists(f.values()));
    }

    void noDataFolderPossible()
    {
        Fixture f;
        f.exe.write(u"Data"_s, QByteArray("a file in the folder's place"));
        QCOMPARE(Fixture::Failure([&] { f.Save(); }), u"Невозможно создать базу данных."_s);
        QCOMPARE(ReadFile(f.dataDir), QByteArray("a file in the folder's place"));
    }

    void writeCutShortLeavesTheFiles()
    {
        Fixture f;
        // One earlier test with thirty values, so values.dat is the larger file and a limit aimed
        // into it leaves tests.dat room for its new record.
        QVERIFY(CheckDataDir(f.dataDir));
        TvsDBTestRec earlier;
        AppendTestRec(f.tests(), earlier);
        for (int i = 0; i < 30; ++i) {
            TvsDBValueRec value;
            value.SetTestId(1);
            value.SetName(u"ценность %1"_s.arg(i));
            AppendValueRec(f.values(), value);
        }
        const QByteArray testsBefore = ReadFile(f.tests());
        const QByteArray valuesBefore = ReadFile(f.values());

        // values.dat stops 40 bytes into its first new record.
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const rlim_t limit = rlim_t(valuesBefore.size() + 40);
        QVERIFY(limit > rlim_t(testsBefore.size() + TvsDBTestRec::kSize));
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{limit, old.rlim_max};
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
        const QString error = Fixture::Failure([&] { f.Save(); });
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QVERIFY(limited);
        QVERIFY2(error.startsWith(u"Тест не сохранен: файл достиг предельного размера"_s), qPrintable(error));
        QVERIFY(error.contains(u"values.dat"_s));
        QCOMPARE(ReadFile(f.tests()).toHex(), testsBefore.toHex());
        QCOMPARE(ReadFile(f.values()).toHex(), valuesBefore.toHex());
    }

    void answerLogIsSavedWithTheTest()
    {
        Fixture f;
        const TvsAnswerLog log = SixAnswers();
        f.Save();
        f.Save(Unanswered(), &log);
        const auto answers = ReadAnswers(f.answers());
        QVERIFY(answers);
        QCOMPARE(answers->Count(), 6);
        for (int i = 0; i < 6; ++i) {
            const TvsDBAnswerRec& r = answers->Items(i);
            const TvsAnswer& a = log[size_t(i)];
            QCOMPARE(r.Id(), quint32(i + 1));
            QCOMPARE(r.TestId(), 2u); // the second test; the first had no log
            QCOMPARE(r.Question(), quint32(a.Question));
            QCOMPARE(r.Upper(), a.Upper.left(80));
            QCOMPARE(int(r.UpperGroup()), a.UpperGroup);
            QCOMPARE(r.Lower(), a.Lower.left(80));
            QCOMPARE(int(r.LowerGroup()), a.LowerGroup);
            QCOMPARE(r.Chosen(), a.Chosen);
            QCOMPARE(r.ResponseMs(), a.ResponseMs);
        }

        // A test without a log, or with an empty one, adds nothing to the answers.
        const QByteArray answersBefore = ReadFile(f.answers());
        const TvsAnswerLog none;
        f.Save();
        f.Save(Unanswered(), &none);
        QCOMPARE(ReadTests(f.tests())->Count(), 4);
        QCOMPARE(ReadFile(f.answers()), answersBefore);
        QVERIFY(!JournalHoldsWrite(ReadFile(f.dataDir + u"/journal.dat"_s)));
    }

    void answerWriteCutShortRollsBackAllThree()
    {
        Fixture f;
        const TvsAnswerLog log = SixAnswers();
        f.Save();
        // Many earlier answers make answers.dat the largest file, so a limit 500 bytes past it
        // stops the third new answer while the test and its values fit.
        {
            TvsDBSave earlier(f.dataDir);
            TvsDBAnswerRec answer;
            answer.SetTestId(1);
            for (int i = 0; i < 300; ++i)
                earlier.AppendAnswer(answer);
            earlier.Commit();
        }
        const QByteArray testsBefore = ReadFile(f.tests());
        const QByteArray valuesBefore = ReadFile(f.values());
        const QByteArray answersBefore = ReadFile(f.answers());
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const rlim_t limit = rlim_t(answersBefore.size() + 500);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{limit, old.rlim_max};
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
        const QString error = Fixture::Failure([&] { f.Save(Unanswered(), &log); });
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        QVERIFY(limited);
        QVERIFY2(error.contains(u"предельного размера"_s) && error.contains(u"answers.dat"_s), qPrintable(error));
        QCOMPARE(ReadFile(f.tests()).toHex(), testsBefore.toHex());
        QCOMPARE(ReadFile(f.values()).toHex(), valuesBefore.toHex());
        QCOMPARE(ReadFile(f.answers()).toHex(), answersBefore.toHex());
        QVERIFY(!JournalHoldsWrite(ReadFile(f.dataDir + u"/journal.dat"_s)));
    }

    void fileLockedByAnotherProgram()
    {
        Fixture f;
        f.Save();
        const QByteArray valuesBefore = ReadFile(f.values());
        QString error;
        {
            kvtest::ForeignLock lock(f.values());
            QVERIFY(lock.locked());
            error = Fixture::Failure([&] { f.Save(); });
        }
        QVERIFY2(error.contains(u"занята другой программой"_s), qPrintable(error));
        QCOMPARE(ReadTests(f.tests())->Count(), 1);
        QCOMPARE(ReadFile(f.values()), valuesBefore);
    }
};

QTEST_GUILESS_MAIN(TestCompletedSave)
#include "test_completed_save.moc"

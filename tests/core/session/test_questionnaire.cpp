// The questionnaire's answers in a test record and back.
#include "core/session/CompletedTest.h"

#include <QtTest/QtTest>

using namespace kv;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kv::TvsQuestionnaire)

namespace {

TvsQuestionnaire Answered(const QString& sex, const QString& text)
{
    TvsQuestionnaire answers;
    answers.Fio = u"Петров П. П."_s;
    answers.Sex = sex;
    answers.Answers.fill(text);
    answers[TvsQuestion::SocialStatus] = u"Другое "_s;
    return answers;
}

} // namespace

class TestQuestionnaire : public QObject
{
    Q_OBJECT

private slots:
    void recordRoundTrip_data()
    {
        QTest::addColumn<TvsQuestionnaire>("answers");
        QTest::addColumn<int>("sexCode");
        QTest::addColumn<TvsQuestionnaire>("back");
        const QString none = NoAnswerText();
        const TvsQuestionnaire unanswered = Answered(none, none);
        QTest::newRow("unanswered") << unanswered << 0 << unanswered;
        QTest::newRow("female") << Answered(u"Женский"_s, u"Высшее"_s) << 2 << Answered(u"Женский"_s, u"Высшее"_s);
        QTest::newRow("male") << Answered(u"Мужской"_s, u"СМИ"_s) << 1 << Answered(u"Мужской"_s, u"СМИ"_s);
        // A sex text that is no item is stored as no answer.
        QTest::newRow("unknown sex") << Answered(u"мужской"_s, none) << 0 << Answered(none, none);
        const QString longText = QString(100, u'ж');
        QTest::newRow("texts cut to 80") << Answered(none, longText) << 0 << Answered(none, longText.left(80));
    }

    void recordRoundTrip()
    {
        QFETCH(TvsQuestionnaire, answers);
        QFETCH(int, sexCode);
        QFETCH(TvsQuestionnaire, back);
        TvsDBTestRec rec;
        SetQuestionnaire(rec, answers);
        QCOMPARE(int(rec.Sex()), sexCode);
        // Each answer lands in its own field, in record order.
        QCOMPARE(rec.Social(), back[TvsQuestion::Social]);
        QCOMPARE(rec.SocialStatus(), u"Другое "_s);
        QCOMPARE(rec.MaterialLevel(), back[TvsQuestion::MaterialLevel]);
        const TvsQuestionnaire read = QuestionnaireOf(rec);
        QCOMPARE(read.Fio, back.Fio);
        QCOMPARE(read.Sex, back.Sex);
        for (int q = 0; q < kQuestionCount; ++q)
            QCOMPARE(read.Answers[size_t(q)], back.Answers[size_t(q)]);
    }

    void storedCodesAsShown_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("sexText");
        QTest::newRow("no answer") << 0 << NoAnswerText() << QString();
        QTest::newRow("male") << 1 << u"Мужской"_s << u"Мужской"_s;
        QTest::newRow("female") << 2 << u"Женский"_s << u"Женский"_s;
        QTest::newRow("damaged") << 3 << QString() << QString();
        QTest::newRow("last byte") << 255 << QString() << QString();
    }

    void storedCodesAsShown()
    {
        QFETCH(int, code);
        QFETCH(QString, shown);
        QFETCH(QString, sexText);
        TvsDBTestRec rec;
        rec.SetSex(quint8(code));
        rec.SetAge(code == 0 ? 0 : 41);
        const TvsQuestionnaire read = QuestionnaireOf(rec);
        QCOMPARE(read.Sex, shown);
        QCOMPARE(read.Age, code == 0 ? QString() : u"41"_s);
        QCOMPARE(SexText(quint8(code)), sexText);
    }
};

QTEST_GUILESS_MAIN(TestQuestionnaire)
#include "test_questionnaire.moc"

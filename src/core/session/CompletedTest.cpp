#include "core/session/CompletedTest.h"

#include "core/platform/Errors.h"
#include "core/storage/SaveTransaction.h"

#include <utility>
#include <vector>

namespace kv {

namespace {

using Getter = QString (TvsDBTestRec::*)() const;
using Setter = void (TvsDBTestRec::*)(const QString&);

// The record's text fields in TvsQuestion order.
constexpr std::array<std::pair<Getter, Setter>, kQuestionCount> kTextFields{{
    {&TvsDBTestRec::Social, &TvsDBTestRec::SetSocial},
    {&TvsDBTestRec::Children, &TvsDBTestRec::SetChildren},
    {&TvsDBTestRec::PlaceOfLiving, &TvsDBTestRec::SetPlaceOfLiving},
    {&TvsDBTestRec::Education, &TvsDBTestRec::SetEducation},
    {&TvsDBTestRec::SocialStatus, &TvsDBTestRec::SetSocialStatus},
    {&TvsDBTestRec::Bussines, &TvsDBTestRec::SetBussines},
    {&TvsDBTestRec::MaterialLevel, &TvsDBTestRec::SetMaterialLevel},
}};

} // namespace

TvsQuestionnaire QuestionnaireOf(const TvsDBTestRec& rec)
{
    TvsQuestionnaire answers;
    answers.Fio = rec.Fio();
    answers.Age = rec.Age() == 0 ? QString() : QString::number(rec.Age());
    answers.Sex = SexQuestion().Items.value(rec.Sex());
    for (int q = 0; q < kQuestionCount; ++q)
        answers.Answers[size_t(q)] = (rec.*kTextFields[size_t(q)].first)();
    return answers;
}

void SetQuestionnaire(TvsDBTestRec& rec, const TvsQuestionnaire& answers)
{
    rec.SetFio(answers.Fio);
    rec.SetSex(SexCode(answers.Sex));
    for (int q = 0; q < kQuestionCount; ++q)
        (rec.*kTextFields[size_t(q)].second)(answers.Answers[size_t(q)]);
}

TvsDBTestRec SaveCompletedTest(const QString& dataDir, const TvsQuestionnaire& answers, const TvsValueTypeList& results,
                               const TvsAnswerLog* log, const QDateTime& when)
{
    if (!CheckDataDir(dataDir))
        throw Error(QStringLiteral("Невозможно создать базу данных."));

    TvsDBTestRec test;
    SetQuestionnaire(test, answers);
    test.SetDate(DateTimeToRecordDate(when));
    // The age field holds digits only, but an age past 32 bits still ends the save here, before
    // anything is written.
    test.SetAge(answers.Age.isEmpty() ? 0 : StrToInt(answers.Age));
    for (int g = 0; g < results.Count(); ++g) {
        const TvsValueTypeRec& group = results.Items(g);
        if (group.Number >= 1 && group.Number <= 4)
            test.SetTypeScore(group.Number, group.Score);
    }

    TvsDBSave save(dataDir);
    save.AppendTest(test);
    TvsDBValueRec value;
    for (int g = 0; g < results.Count(); ++g) {
        const TvsValueTypeRec& group = results.Items(g);
        const int valueCount = group.Values ? group.Values->Count() : 0;
        for (int v = 0; v < valueCount; ++v) {
            const TvsValueRec& rec = group.Values->Items(v);
            value.SetTestId(static_cast<qint32>(test.Id()));
            value.SetTypeNumber(static_cast<quint8>(group.Number & 0xff));
            value.SetScore(rec.Score);
            value.SetName(rec.Name);
            save.AppendValue(value);
        }
    }
    if (log && !log->empty()) {
        // One write for the whole log: a 15-value test has 105 answers, and a system call each would
        // cost more than the save's own records.
        std::vector<TvsDBAnswerRec> records;
        records.reserve(log->size());
        for (const TvsAnswer& a : *log) {
            TvsDBAnswerRec& answer = records.emplace_back();
            answer.SetTestId(test.Id());
            answer.SetQuestion(static_cast<quint32>(a.Question));
            answer.SetUpperGroup(static_cast<quint8>(a.UpperGroup & 0xff));
            answer.SetUpper(a.Upper);
            answer.SetLowerGroup(static_cast<quint8>(a.LowerGroup & 0xff));
            answer.SetLower(a.Lower);
            answer.SetChosen(a.Chosen);
            answer.SetResponseMs(a.ResponseMs);
        }
        save.AppendAnswers(records);
    }
    save.Commit();
    return test;
}

} // namespace kv

#include "core/session/CompletedTest.h"

#include <utility>

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

} // namespace kv

#include "core/session/Questionnaire.h"

namespace kv {

namespace {

struct Table
{
    TvsChoiceQuestion sex;
    std::array<TvsChoiceQuestion, kQuestionCount> text;
};

QStringList Items(std::initializer_list<const char16_t*> items)
{
    QStringList list{NoAnswerText()};
    for (const char16_t* item : items)
        list << QString::fromUtf16(item);
    return list;
}

TvsChoiceQuestion Ask(const char16_t* control, const char16_t* label, const char* exportName, QStringList items,
                      const char16_t* mailLabel = nullptr)
{
    return {QString::fromUtf16(control), QString::fromUtf16(label), QString::fromUtf16(mailLabel ? mailLabel : label),
            exportName, std::move(items)};
}

const Table& TheTable()
{
    static const Table table = [] {
        Table t;
        t.sex = Ask(u"cxSex", u"Пол", "sex", Items({u"Мужской", u"Женский"}));
        auto at = [&t](TvsQuestion q) -> TvsChoiceQuestion& { return t.text[size_t(q)]; };
        // The mail has always called the family status "Социальное положение".
        at(TvsQuestion::Social) =
            Ask(u"cxSocial", u"Семейное положение", "family_status",
                Items({u"Холост", u"Гражданский брак", u"Женат / замужем", u"Разведен / разведена"}),
                u"Социальное положение");
        at(TvsQuestion::Children) = Ask(u"cxChildren", u"Наличие детей", "children",
                                        Items({u"Нет детей", u"Один ребенок", u"Два ребенка", u"Три и более детей",
                                               u"Врослые самостоятельные дети", u"Другое"}));
        at(TvsQuestion::PlaceOfLiving) = Ask(
            u"cxPlaceOfLiving", u"Место проживания", "residence",
            Items({u"Москва", u"Санкт-Петербург", u"Областной, краевой центр", u"Районный центр", u"Поселок, село"}));
        at(TvsQuestion::Education) = Ask(u"cxEducation", u"Образование", "education",
                                         Items({u"Среднее", u"Среднее специальное", u"Высшее", u"Академическое"}));
        // "Безработный" twice and the blank after "Другое" are how the list has always read; the
        // stored texts depend on them.
        at(TvsQuestion::SocialStatus) =
            Ask(u"cxSocialStatus", u"Социальный статус", "social_status",
                Items({u"Учащийся, студент, аспирант", u"Рабочий", u"Безработный", u"Госслужайщий / бюджетник",
                       u"Сотрудник коммерческой компании", u"Топ-менеджер, руководитель",
                       u"Бизнесмен / предприниматель", u"Пенсионер", u"Безработный", u"Другое "}));
        at(TvsQuestion::Bussines) =
            Ask(u"cxBussines", u"Сфера деятельности", "occupation",
                Items({u"Политика", u"Властные структуры", u"СМИ", u"Производство", u"Торговля", u"Здравоохранение",
                       u"Образование", u"Услуги населению", u"Услуги предприятиям", u"Частный бизнес", u"Другое"}));
        at(TvsQuestion::MaterialLevel) =
            Ask(u"cxMaterialLevel", u"Уровень материального благосостояния", "income_level",
                Items({u"Недостаточный", u"Низкий", u"Ниже среднего", u"Средний", u"Выше среднего", u"Высокий"}));
        return t;
    }();
    return table;
}

} // namespace

const QString& NoAnswerText()
{
    static const QString text = QStringLiteral("Нет ответа");
    return text;
}

const TvsChoiceQuestion& SexQuestion()
{
    return TheTable().sex;
}

const TvsChoiceQuestion& Question(TvsQuestion question)
{
    return TheTable().text[size_t(question)];
}

const std::array<const TvsChoiceQuestion*, 1 + kQuestionCount>& ChoiceQuestions()
{
    static const std::array<const TvsChoiceQuestion*, 1 + kQuestionCount> all = [] {
        std::array<const TvsChoiceQuestion*, 1 + kQuestionCount> questions{&SexQuestion()};
        for (int q = 0; q < kQuestionCount; ++q)
            questions[size_t(q) + 1] = &Question(TvsQuestion(q));
        return questions;
    }();
    return all;
}

quint8 SexCode(const QString& shown)
{
    const qsizetype index = SexQuestion().Items.indexOf(shown);
    return index < 0 ? 0 : quint8(index);
}

QString SexAnswerText(int code)
{
    const QStringList& items = SexQuestion().Items;
    return code > 0 && code < items.size() ? items.at(code) : QString();
}

} // namespace kv

#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace kv {

// The questionnaire's answers that are stored as text, in record order.
enum class TvsQuestion
{
    Social,
    Children,
    PlaceOfLiving,
    Education,
    SocialStatus,
    Bussines,
    MaterialLevel
};
inline constexpr int kQuestionCount = 7;

// One drop-down question of the questionnaire. Everything that shows, stores, filters or exports an
// answer takes its wording and its items from here.
struct TvsChoiceQuestion
{
    QString Control;        // the results window's drop-down list
    QString Label;          // the question as the questionnaire asks it, without the colon
    QString MailLabel;      // the question as the mail text names it
    const char* ExportName; // its column in every export
    // In the order the respondent sees them, "Нет ответа" first; an item's index is its export code
    // (and, for the sex question, the stored answer). Items may repeat: the first one counts.
    QStringList Items;
};

// "Нет ответа", the first item of every list.
const QString& NoAnswerText();

// The sex question, whose answer is stored as its item's index.
const TvsChoiceQuestion& SexQuestion();

// A question whose answer is stored as its item's text.
const TvsChoiceQuestion& Question(TvsQuestion question);

// Every drop-down question in the questionnaire's order: the sex question, then the others in
// TvsQuestion order.
const std::array<const TvsChoiceQuestion*, 1 + kQuestionCount>& ChoiceQuestions();

// The questionnaire's answers as shown: the two edits' texts and each drop-down list's shown item.
struct TvsQuestionnaire
{
    QString Fio;
    QString Age;
    QString Sex;
    std::array<QString, kQuestionCount> Answers; // in TvsQuestion order

    QString& operator[](TvsQuestion question) { return Answers[size_t(question)]; }
    const QString& operator[](TvsQuestion question) const { return Answers[size_t(question)]; }
};

// The stored code of a shown sex item: its index, 0 for a text that is none of the items.
quint8 SexCode(const QString& shown);

// The shown item of a stored sex code; empty for a code that names no answer given (0 or past the items).
QString SexAnswerText(int code);

} // namespace kv

#include "core/interpretation/FallbackText.h"

#include "core/session/CompletedTest.h"

#include <QLocale>

namespace kv {

QString ShortDateText(double recordDate)
{
    const QDateTime when = RecordDateToDateTime(recordDate);
    if (!when.isValid())
        return QString();
    // The program speaks Russian, so its dates do too, whatever the system's locale.
    return QLocale(QLocale::Russian, QLocale::Russia).toString(when.date(), QLocale::ShortFormat);
}

QStringList BuildFallbackLines(const TvsDBTestRec& rec, const TvsValueTypeList& results)
{
    QStringList lines{
        QString(),
        QStringLiteral("Здесь Вы можете увидеть только результат тестирования."),
        QStringLiteral("Интерпретацию Вы сможете увидеть после получения модуля составления интерпретации, если "
                       "Вы отправили Ваши результаты Орвело."),
        QString(),
        QStringLiteral("ФИО: ") + rec.Fio(),
        QStringLiteral("Дата тестирования: ") + ShortDateText(rec.Date()),
        SexQuestion().Label + QStringLiteral(": ") + SexText(rec.Sex()),
        QStringLiteral("Возраст: ") + QString::number(rec.Age()),
    };
    const TvsQuestionnaire answers = QuestionnaireOf(rec);
    for (int q = 0; q < kQuestionCount; ++q)
        lines.append(Question(TvsQuestion(q)).Label + QStringLiteral(": ") + answers.Answers[size_t(q)]);
    lines.append(QString());
    const QString separator = QStringLiteral(": ");
    for (int g = 0; g < results.Count(); ++g) {
        const TvsValueTypeRec& group = results.Items(g);
        lines.append(group.Name + separator + QString::number(group.Score));
        if (group.Values)
            for (int v = 0; v < group.Values->Count(); ++v) {
                const TvsValueRec& value = group.Values->Items(v);
                lines.append(value.Name + separator + QString::number(value.Score));
            }
        lines.append(QString());
    }
    return lines;
}

} // namespace kv

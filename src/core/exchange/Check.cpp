#include "core/exchange/Check.h"

#include "core/platform/Errors.h"
#include "core/storage/DataSnapshot.h"
#include "core/storage/RecordLayout.h"
#include "core/storage/uvsDataBase.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kv {

namespace {

// A date of the years 1 to 9999, by the same rule the exports write dates by.
bool IsUsableDate(double date)
{
    qint64 days;
    qint32 ms;
    return layout::SplitRecordDate(date, days, ms);
}

} // namespace

bool DataCheckReport::Clean() const
{
    return Problems().isEmpty();
}

QStringList DataCheckReport::Problems() const
{
    QStringList lines;
    const auto add = [&lines](qint64 count, const QString& text) {
        if (count > 0)
            lines << text.arg(count);
    };
    add(TornTestsBytes, QStringLiteral("tests.dat: в конце оборванная запись, байт: %1"));
    add(TornValuesBytes, QStringLiteral("values.dat: в конце оборванная запись, байт: %1"));
    add(TornAnswersBytes, QStringLiteral("answers.dat: в конце оборванная запись, байт: %1"));
    add(DuplicateTestIds, QStringLiteral("Тестов с повторяющимся номером: %1"));
    add(OrphanValues, QStringLiteral("Значений, чей тест не существует: %1"));
    add(OrphanAnswers, QStringLiteral("Ответов, чей тест не существует: %1"));
    add(TestsWithoutValues, QStringLiteral("Тестов без значений: %1"));
    add(OverlongStrings, QStringLiteral("Строк с длиной больше 80 символов: %1"));
    add(BadDates, QStringLiteral("Недопустимых дат: %1"));
    add(BadGroups, QStringLiteral("Записей с номером группы вне 1–4: %1"));
    add(BadChoices, QStringLiteral("Ответов с выбором, отличным от 1 и 2: %1"));
    if (ReadFailed)
        lines << QStringLiteral("Ошибка чтения: файлы прочитаны не до конца");
    return lines;
}

DataCheckReport CheckDataFolder(const QString& dataDir)
{
    const DataSnapshot snapshot(dataDir);
    if (!snapshot.Exists(DataSnapshot::Tests) && !snapshot.Exists(DataSnapshot::Values) &&
        !snapshot.Exists(DataSnapshot::Answers))
        throw Error(QStringLiteral("В папке нет базы данных (tests.dat, values.dat): %1")
                        .arg(QDir::toNativeSeparators(dataDir)));

    DataCheckReport report;
    report.RolledBack = snapshot.Recovery() == RecoveryOutcome::RolledBack;
    report.Completed = snapshot.Recovery() == RecoveryOutcome::Completed;
    report.TornTestsBytes = snapshot.TornBytes(DataSnapshot::Tests);
    report.TornValuesBytes = snapshot.TornBytes(DataSnapshot::Values);
    report.TornAnswersBytes = snapshot.TornBytes(DataSnapshot::Answers);

    std::vector<quint32> ids;
    ids.reserve(size_t(snapshot.Records(DataSnapshot::Tests)));
    {
        DataSnapshot::Reader reader(snapshot, DataSnapshot::Tests);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBTestRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBTestRec& test = records[i];
                ids.push_back(test.Id());
                report.OverlongStrings += test.OverlongStrings();
                report.BadDates += !IsUsableDate(test.Date());
            }
            report.Tests += qint64(count);
        }
        report.ReadFailed |= reader.failed();
    }
    std::sort(ids.begin(), ids.end());
    const auto unique = std::unique(ids.begin(), ids.end());
    report.DuplicateTestIds = qint64(ids.end() - unique);
    ids.erase(unique, ids.end());

    std::vector<bool> hasValues(ids.size());
    {
        DataSnapshot::Reader reader(snapshot, DataSnapshot::Values);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBValueRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBValueRec& value = records[i];
                const auto at = std::lower_bound(ids.begin(), ids.end(), quint32(value.TestId()));
                if (at == ids.end() || *at != quint32(value.TestId()))
                    ++report.OrphanValues;
                else
                    hasValues[size_t(at - ids.begin())] = true;
                report.OverlongStrings += value.OverlongStrings();
                report.BadGroups += value.TypeNumber() < 1 || value.TypeNumber() > 4;
            }
            report.Values += qint64(count);
        }
        report.ReadFailed |= reader.failed();
    }
    report.TestsWithoutValues = qint64(std::count(hasValues.begin(), hasValues.end(), false));
    {
        DataSnapshot::Reader reader(snapshot, DataSnapshot::Answers);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBAnswerRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBAnswerRec& answer = records[i];
                report.OrphanAnswers += !std::binary_search(ids.begin(), ids.end(), answer.TestId());
                report.OverlongStrings += answer.OverlongStrings();
                report.BadGroups += answer.UpperGroup() < 1 || answer.UpperGroup() > 4 || answer.LowerGroup() < 1 ||
                                    answer.LowerGroup() > 4;
                report.BadChoices += !answer.ChoiceKnown();
            }
            report.Answers += qint64(count);
        }
        report.ReadFailed |= reader.failed();
    }
    return report;
}

} // namespace kv

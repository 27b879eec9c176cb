#include "core/history/ResultRestore.h"

#include "core/platform/Errors.h"
#include "core/storage/Journal.h"

#include <limits>

namespace kv {

TvsValueTypeRec& FindResultGroup(qint32 number, TvsValueTypeList& result, const TvsValueTypeList& catalogue)
{
    const TvsValueTypeRec& source = catalogue.Items(number - 1);
    int index = -1;
    for (int g = 0; g < result.Count(); ++g) {
        if (result.Items(g).Name == source.Name) {
            index = g;
            break;
        }
    }
    if (index < 0)
        index = result.Add(source.Name, QString());
    TvsValueTypeRec& group = result.Items(index);
    if (!group.Values)
        group.Values = std::make_unique<TvsValueList>();
    return group;
}

void RestoreResults(const TvsDBValueList& values, TvsValueTypeList& result, const TvsValueTypeList& catalogue)
{
    for (int i = 0; i < values.Count(); ++i) {
        const TvsDBValueRec& stored = values.Items(i);
        TvsValueTypeRec& group = FindResultGroup(stored.TypeNumber(), result, catalogue);
        const int added = group.Values->Add(stored.Name(), stored.TypeNumber(), group.Name);
        group.Values->Items(added).Score = stored.Score();
    }
    for (int g = 0; g < result.Count(); ++g) {
        TvsValueTypeRec& group = result.Items(g);
        group.Score = 0;
        // Stored scores are whatever the file holds: summed wide, a damaged record cannot wrap the
        // total into a plausible-looking number, and one that does not fit is refused.
        qint64 total = 0;
        if (group.Values)
            for (int v = 0; v < group.Values->Count(); ++v)
                total += group.Values->Items(v).Score;
        if (total > std::numeric_limits<qint32>::max() || total < std::numeric_limits<qint32>::min())
            throw Error(QStringLiteral("Записи теста повреждены: сумма побед группы «%1» (%2) слишком велика")
                            .arg(group.Name)
                            .arg(total));
        group.Score = qint32(total);
    }
}

TvsAnswerLog RestoreAnswers(const TvsDBAnswerList& answers)
{
    TvsAnswerLog log;
    log.reserve(static_cast<size_t>(answers.Count()));
    for (int i = 0; i < answers.Count(); ++i) {
        const TvsDBAnswerRec& rec = answers.Items(i);
        TvsAnswer a;
        a.Question = static_cast<qint32>(rec.Question());
        a.Upper = rec.Upper();
        a.UpperGroup = rec.UpperGroup();
        a.Lower = rec.Lower();
        a.LowerGroup = rec.LowerGroup();
        a.Chosen = rec.Chosen();
        a.ResponseMs = rec.ResponseMs();
        log.push_back(a);
    }
    return log;
}

void LoadSavedTest(const QString& dataDir, qint32 id, const TvsValueTypeList& catalogue, TvsSavedTest& test)
{
    // The filters read the number from here, one thread at a time.
    WantedTestId = id;
    {
        const std::unique_ptr<TvsDBTestList> tests = ReadTests(dataDir + QStringLiteral("/tests.dat"), &IsWantedTest);
        if (!tests || tests->Count() == 0)
            throw Error(QStringLiteral("Запись не найдена"));
        test.Test = tests->Items(0);
    }
    {
        const std::unique_ptr<TvsDBValueList> values =
            ReadValues(dataDir + QStringLiteral("/values.dat"), &IsWantedValue);
        if (!values || values->Count() == 0)
            throw Error(QStringLiteral("Записи не найдены"));
        RestoreResults(*values, test.Results, catalogue);
    }
    test.Answers.clear();
    if (const std::unique_ptr<TvsDBAnswerList> records = ReadAnswers(AnswersFileName(dataDir), &IsWantedAnswer))
        test.Answers = RestoreAnswers(*records);
}

} // namespace kv

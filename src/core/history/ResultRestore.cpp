#include "core/history/ResultRestore.h"

#include "core/analysis/ConsistencyText.h"
#include "core/platform/Errors.h"
#include "core/storage/Journal.h"

#include <array>
#include <limits>

namespace kv {

namespace {

// Values values[first .. last) into result, as RestoreResults does for a whole list.
void RestoreRange(const TvsDBValueList& values, int first, int last, TvsValueTypeList& result,
                  const TvsValueTypeList& catalogue)
{
    for (int i = first; i < last; ++i) {
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

TvsAnswerLog RestoreAnswerRange(const TvsDBAnswerList& answers, int first, int last)
{
    TvsAnswerLog log;
    log.reserve(static_cast<size_t>(last - first));
    for (int i = first; i < last; ++i) {
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

// Where each test's values end when tests that share a number are told apart: a save writes a
// test's record and then its values, so the values of the k-th such test follow those of the
// (k-1)-th, and each test's values add up, group by group, to the totals its record holds. The
// split must use up every value and every block must be found; with scores above zero a block has
// only one possible end. Empty when that does not work out: the values cannot be told apart.
std::vector<int> SplitValues(const TvsDBTestList& tests, const TvsDBValueList& values)
{
    std::vector<int> ends;
    int at = 0;
    for (int t = 0; t < tests.Count(); ++t) {
        std::array<qint64, 4> wanted{};
        for (int n = 0; n < 4; ++n) {
            wanted[size_t(n)] = tests.Items(t).TypeScore(n + 1);
            if (wanted[size_t(n)] < 0)
                return {};
        }
        std::array<qint64, 4> sum{};
        while (sum != wanted) {
            if (at == values.Count())
                return {};
            const TvsDBValueRec& value = values.Items(at++);
            const int group = value.TypeNumber();
            if (group < 1 || group > 4 || value.Score() <= 0)
                return {};
            sum[size_t(group - 1)] += value.Score();
            if (sum[size_t(group - 1)] > wanted[size_t(group - 1)])
                return {};
        }
        ends.push_back(at);
    }
    if (at != values.Count())
        return {};
    return ends;
}

// The first test's answers when tests share a number: its comparisons are its wins added up, and
// its answers the first that many, numbered 1 .. N, with the next test's starting again at 1. -1 when
// they do not line up so.
int FirstTestAnswers(const TvsDBAnswerList& answers, qint64 comparisons)
{
    if (comparisons <= 0 || comparisons > answers.Count())
        return -1;
    for (int i = 0; i < int(comparisons); ++i)
        if (answers.Items(i).Question() != quint32(i + 1))
            return -1;
    if (comparisons < answers.Count() && answers.Items(int(comparisons)).Question() != 1)
        return -1;
    return int(comparisons);
}

} // namespace

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
    RestoreRange(values, 0, values.Count(), result, catalogue);
}

TvsAnswerLog RestoreAnswers(const TvsDBAnswerList& answers)
{
    return RestoreAnswerRange(answers, 0, answers.Count());
}

void LoadSavedTest(const QString& dataDir, quint32 id, const TvsValueTypeList& catalogue, TvsSavedTest& test)
{
    // The filters read the number from here, one thread at a time.
    WantedTestId = id;
    const std::unique_ptr<TvsDBTestList> tests = ReadTests(dataDir + QStringLiteral("/tests.dat"), &IsWantedTest);
    if (!tests || tests->Count() == 0)
        throw Error(QStringLiteral("Запись не найдена"));
    test.Test = tests->Items(0);
    test.SameNumber = tests->Count();
    test.OwnValues = true;

    const std::unique_ptr<TvsDBValueList> values = ReadValues(dataDir + QStringLiteral("/values.dat"), &IsWantedValue);
    if (!values || values->Count() == 0)
        throw Error(QStringLiteral("Записи не найдены"));
    int valuesEnd = values->Count();
    if (test.SameNumber > 1) {
        const std::vector<int> ends = SplitValues(*tests, *values);
        test.OwnValues = !ends.empty();
        if (test.OwnValues)
            valuesEnd = ends.front();
    }
    RestoreRange(*values, 0, valuesEnd, test.Results, catalogue);

    test.Answers.clear();
    const std::unique_ptr<TvsDBAnswerList> records = ReadAnswers(AnswersFileName(dataDir), &IsWantedAnswer);
    if (!records)
        return;
    if (test.SameNumber == 1) {
        test.Answers = RestoreAnswers(*records);
    } else if (test.OwnValues) {
        // Pooled answers would make one respondent of several; without its own the view works from
        // the scores alone.
        qint64 comparisons = 0;
        for (int n = 1; n <= 4; ++n)
            comparisons += test.Test.TypeScore(n);
        const int answersEnd = FirstTestAnswers(*records, comparisons);
        if (answersEnd > 0)
            test.Answers = RestoreAnswerRange(*records, 0, answersEnd);
    }
}

QString SameNumberNotice(const TvsSavedTest& test)
{
    if (test.SameNumber <= 1)
        return QString();
    const QString several =
        QStringLiteral("Внимание: в базе данных %1 %2 с номером %3, а номер теста должен быть единственным. ")
            .arg(test.SameNumber)
            .arg(RussianPlural(test.SameNumber, QStringLiteral("тест"), QStringLiteral("теста"),
                               QStringLiteral("тестов")))
            .arg(test.Test.Id());
    const QString own =
        test.OwnValues
            ? QStringLiteral("Здесь показан первый из них по порядку в файле, с его собственными значениями; "
                             "остальные этим окном не открываются.")
            : QStringLiteral("Их значения нельзя отделить друг от друга, поэтому ниже собраны значения всех "
                             "этих тестов вместе: это не результат одного респондента.");
    return several + own +
           QStringLiteral(" Такие тесты находит проверка папки данных: kvendar-data check <папка данных>.");
}

} // namespace kv

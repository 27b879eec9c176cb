// Feeds arbitrary bytes to everything that reads the Data folder: the input is cut into a tests.dat,
// a values.dat and an answers.dat, which go through the readers, the rebuilding of every test's
// ranking, the consistency figures, check and the export in all three formats. Damaged data may be
// refused with kv::Error; anything else (a crash, undefined behaviour, a leak) is a finding.
//
// Input layout: two little-endian 16-bit lengths, of tests.dat and of values.dat, then the bytes of
// the three files one after another, answers.dat taking the rest.
#include "core/analysis/Consistency.h"
#include "core/catalogue/uvsValues.h"
#include "core/exchange/Check.h"
#include "core/exchange/Export.h"
#include "core/history/ResultRestore.h"
#include "core/platform/Errors.h"
#include "core/storage/uvsDataBase.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

using namespace kv;

void Write(const QString& fileName, const char* data, size_t size)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data, qint64(size)) != qint64(size))
        std::abort();
}

void WriteText(const QString& fileName, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    Write(fileName, bytes.constData(), size_t(bytes.size()));
}

struct Folder
{
    QTemporaryDir root;
    QString data = root.path() + QStringLiteral("/Data");
    QString out = root.path() + QStringLiteral("/out");
    TvsValueTypeList catalogue;

    Folder()
    {
        if (!root.isValid() || !QDir().mkpath(data))
            std::abort();
        // A catalogue beside the folder, so that the export names groups as it would on a lab machine.
        WriteText(root.path() + QStringLiteral("/config.ini"),
                  QStringLiteral("[MAIN]\nLines=lines.txt\n[ValueTypes]\nValueTypeName1=A\nValueTypeItems1=a.txt\n"
                                 "ValueTypeName2=B\nValueTypeItems2=a.txt\nValueTypeName3=A\nValueTypeItems3=a.txt\n"));
        WriteText(root.path() + QStringLiteral("/a.txt"), QStringLiteral("x"));
        for (const char16_t* name : {u"A", u"B", u"A", u"D"})
            catalogue.Items(catalogue.Add(QString::fromUtf16(name), QString())).Number = catalogue.Count();
    }
};

void RebuildEveryTest(const Folder& folder)
{
    const auto tests = ReadTests(folder.data + QStringLiteral("/tests.dat"));
    const auto values = ReadValues(folder.data + QStringLiteral("/values.dat"));
    const auto answers = ReadAnswers(folder.data + QStringLiteral("/answers.dat"));
    if (!tests)
        return;
    // A few tests reach every path of the rebuilding; each costs two filtered reads, and a filtered
    // read clears a megabyte block, which would otherwise be most of the fuzzer's time.
    for (int t = 0; t < std::min(tests->Count(), 3); ++t) {
        WantedTestId = qint32(tests->Items(t).Id());
        const auto mine = ReadValues(folder.data + QStringLiteral("/values.dat"), IsWantedValue);
        if (!mine)
            continue;
        TvsValueTypeList result;
        try {
            RestoreResults(*mine, result, folder.catalogue);
        } catch (const Error&) {
            // A group number the catalogue lacks, or totals that do not fit: refused, as in the history.
        }
        std::vector<qint64> scores;
        for (int v = 0; v < mine->Count(); ++v)
            scores.push_back(mine->Items(v).Score());
        ConsistencyFromScores(scores);

        const auto log = ReadAnswers(folder.data + QStringLiteral("/answers.dat"), IsWantedAnswer);
        if (log) {
            TvsAnswerLog answerLog;
            for (int a = 0; a < log->Count(); ++a) {
                const TvsDBAnswerRec& rec = log->Items(a);
                TvsAnswer answer;
                answer.Question = qint32(rec.Question());
                answer.Upper = rec.Upper();
                answer.UpperGroup = rec.UpperGroup();
                answer.Lower = rec.Lower();
                answer.LowerGroup = rec.LowerGroup();
                answer.Chosen = rec.Chosen();
                answer.ResponseMs = rec.ResponseMs();
                answerLog.push_back(answer);
            }
            ConsistencyFromAnswers(answerLog);
        }
    }
    (void)values;
    (void)answers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Folder folder;
    const char* bytes = reinterpret_cast<const char*>(data);
    if (size < 4)
        return 0;
    const size_t testsSize = std::min(size - 4, size_t(data[0]) | size_t(data[1]) << 8);
    const size_t valuesSize = std::min(size - 4 - testsSize, size_t(data[2]) | size_t(data[3]) << 8);
    const size_t answersSize = size - 4 - testsSize - valuesSize;
    Write(folder.data + QStringLiteral("/tests.dat"), bytes + 4, testsSize);
    Write(folder.data + QStringLiteral("/values.dat"), bytes + 4 + testsSize, valuesSize);
    Write(folder.data + QStringLiteral("/answers.dat"), bytes + 4 + testsSize + valuesSize, answersSize);

    RebuildEveryTest(folder);
    try {
        CheckDataFolder(folder.data);
    } catch (const Error&) {
    }
    for (const ExportFormat format : {ExportFormat::Csv, ExportFormat::Xlsx, ExportFormat::Sav}) {
        try {
            ExportTables(folder.data, format, TestSelection(), folder.out);
        } catch (const Error&) {
        }
        QDir(folder.out).removeRecursively();
        QFile::remove(folder.out);
    }
    return 0;
}

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace kv {

// What a column holds; every writer shows each kind the way its readers expect.
enum class ColumnKind
{
    Integer,  // whole numbers
    Real,     // fractions (ranks, consistency figures)
    Text,     // names
    DateTime, // local date and time of a test
    Choice    // a questionnaire answer: its text, and its position among the items when it is one of them
};

struct Column
{
    const char* Name; // the column's name in every format
    QString Label;    // what it means, in Russian (SPSS variable label)
    ColumnKind Kind;
    QStringList Items;           // Choice: the items in the questionnaire's order, item 0 "Нет ответа"
    bool KeepsOtherText = false; // Choice: an answer matching no item is kept beside the code
    std::vector<std::pair<int, QString>> CodeLabels; // Integer: what some codes mean (SPSS value labels)
};

struct TableLayout
{
    const char* Name; // tests, values, answers: file and sheet name
    QString Label;
    std::vector<Column> Columns;
};

// One cell of a row. Text is UTF-8 and stays valid until the row has been written.
struct Cell
{
    bool Empty = true;
    qint64 Int = 0;            // Integer; Choice: the item's index, or -1 when the text matches none
    double Real = 0;           // Real
    std::string_view Text;     // Text, Choice
    bool MayNeedQuotes = true; // false when Text is known to hold no comma, quote, CR or LF
    qint64 Days = 0;           // DateTime: days since 1899-12-30
    qint32 Ms = 0;             //           and milliseconds into that day
};

// Takes the tables one after another, rows in order. Files are written under temporary names;
// Commit renames them all into place, and a sink destroyed without Commit removes what it wrote.
// Every failure raises kv::Error in Russian.
class TableSink
{
public:
    virtual ~TableSink() = default;
    virtual void BeginTable(const TableLayout& layout, qint64 rows) = 0;
    virtual void Row(const std::vector<Cell>& cells) = 0;
    virtual void EndTable() = 0;
    virtual void Commit() = 0;
};

// CSV and SAV write one file per table into folder; XLSX writes the workbook file.
std::unique_ptr<TableSink> MakeCsvSink(const QString& folder);
std::unique_ptr<TableSink> MakeXlsxSink(const QString& fileName);
std::unique_ptr<TableSink> MakeSavSink(const QString& folder);

// A file written under a temporary name beside its final one.
class StagedFile final
{
public:
    // Raises kv::Error when the temporary file cannot be made.
    explicit StagedFile(const QString& finalName);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    const QString& TempName() const { return m_tempName; }
    const QByteArray& TempPath() const { return m_tempPath; }
    const QString& FinalName() const { return m_finalName; }
    // The open descriptor of the temporary file, for writers that write it themselves.
    int fd() const { return m_fd; }
    // Closes the descriptor, for writers that open the file by name.
    void CloseFd();
    // Flushes the file to disk; raises kv::Error on failure.
    void Sync();
    // Renames the temporary file to the final name; raises kv::Error on failure.
    void Commit();

private:
    QString m_finalName;
    QString m_tempName;
    QByteArray m_tempPath;
    int m_fd = -1;
    bool m_committed = false;
};

// The Russian sentence for a failed write of fileName with this errno.
QString WriteErrorText(int error, const QString& fileName);

// ISO 8601 local date and time, "2026-12-10T14:03:05.120"; empty for a day outside years 1 .. 9999.
QString IsoDateTime(qint64 days, qint32 ms);
// The same into out (kIsoDateTimeLength bytes); returns the length written, 0 for no text.
constexpr size_t kIsoDateTimeLength = 23;
size_t FormatIsoDateTime(qint64 days, qint32 ms, char* out);

} // namespace kv

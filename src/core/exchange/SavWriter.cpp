// The one file that speaks to ReadStat: one SPSS system file per table, UTF-8 text, Russian variable
// labels, and each questionnaire answer as a numeric code with its list's items as value labels.
#include "core/exchange/TableSink.h"

#include "core/platform/Errors.h"

#include <readstat.h>

#include <cerrno>
#include <string>

#include <unistd.h>

namespace kv {

namespace {

// Record strings are at most 80 Windows-1251 characters, each at most three bytes of UTF-8.
constexpr int kStringWidth = 240;
// SPSS counts time in seconds from the start of the Gregorian calendar, 1582-10-14.
constexpr qint64 kSpssEpochToRecordEpochDays = 115859;

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

// Cuts text to width bytes without splitting a character.
std::string_view FitWidth(std::string_view text)
{
    if (text.size() <= size_t(kStringWidth))
        return text;
    size_t end = size_t(kStringWidth);
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

struct Output
{
    int fd = -1;
    int error = 0; // errno of the first failed write
};

ssize_t WriteToFile(const void* data, size_t length, void* context)
{
    Output& output = *static_cast<Output*>(context);
    const char* at = static_cast<const char*>(data);
    size_t left = length;
    while (left > 0) {
        const ssize_t n = ::write(output.fd, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            output.error = n < 0 ? errno : EIO;
            // A short count, not -1: ReadStat compares the result with the length unsigned, and
            // would take -1 for success.
            return ssize_t(length - left);
        }
        at += n;
        left -= size_t(n);
    }
    return ssize_t(length);
}

class SavSink final : public TableSink
{
public:
    explicit SavSink(const QString& folder) : m_folder(folder) {}

    ~SavSink() override { FreeWriter(); }

    void BeginTable(const TableLayout& layout, qint64 rows) override
    {
        m_layout = &layout;
        m_files.push_back(
            std::make_unique<StagedFile>(m_folder + u'/' + QLatin1String(layout.Name) + QStringLiteral(".sav")));
        m_output = Output{m_files.back()->fd(), 0};
        m_writer = readstat_writer_init();
        if (!m_writer)
            throw std::bad_alloc();
        readstat_set_data_writer(m_writer, WriteToFile);
        Check(readstat_writer_set_file_label(m_writer, Utf8(layout.Label).c_str()));
        m_variables.clear();
        m_otherText.clear();
        for (const Column& column : layout.Columns)
            AddVariables(column);
        Check(readstat_begin_writing_sav(m_writer, &m_output, long(rows)));
    }

    void Row(const std::vector<Cell>& cells) override
    {
        Check(readstat_begin_row(m_writer));
        for (size_t c = 0; c < cells.size(); ++c) {
            const Cell& cell = cells[c];
            const Column& column = m_layout->Columns[c];
            readstat_variable_t* variable = m_variables[c];
            if (cell.Empty) {
                Check(readstat_insert_missing_value(m_writer, variable));
                if (m_otherText[c])
                    Check(readstat_insert_string_value(m_writer, m_otherText[c], ""));
                continue;
            }
            switch (column.Kind) {
            case ColumnKind::Integer:
                Check(readstat_insert_double_value(m_writer, variable, double(cell.Int)));
                break;
            case ColumnKind::Real:
                Check(readstat_insert_double_value(m_writer, variable, cell.Real));
                break;
            case ColumnKind::Text:
                m_text.assign(FitWidth(cell.Text));
                Check(readstat_insert_string_value(m_writer, variable, m_text.c_str()));
                break;
            case ColumnKind::DateTime: {
                const double seconds = double(cell.Days + kSpssEpochToRecordEpochDays) * 86400.0 + cell.Ms / 1000.0;
                Check(readstat_insert_double_value(m_writer, variable, seconds));
                break;
            }
            case ColumnKind::Choice:
                if (cell.Int >= 0)
                    Check(readstat_insert_double_value(m_writer, variable, double(cell.Int)));
                else
                    Check(readstat_insert_missing_value(m_writer, variable));
                if (m_otherText[c]) {
                    // Only an answer that is none of the items needs its text kept.
                    m_text.assign(cell.Int >= 0 ? std::string_view() : FitWidth(cell.Text));
                    Check(readstat_insert_string_value(m_writer, m_otherText[c], m_text.c_str()));
                }
                break;
            }
        }
        Check(readstat_end_row(m_writer));
    }

    void EndTable() override
    {
        Check(readstat_end_writing(m_writer));
        FreeWriter();
        m_files.back()->Sync();
        m_files.back()->CloseFd();
    }

    void Commit() override
    {
        for (const auto& file : m_files)
            file->Commit();
    }

private:
    void AddVariables(const Column& column)
    {
        readstat_variable_t* variable = nullptr;
        readstat_variable_t* other = nullptr;
        switch (column.Kind) {
        case ColumnKind::Integer:
            variable = readstat_add_variable(m_writer, column.Name, READSTAT_TYPE_DOUBLE, 0);
            readstat_variable_set_format(variable, "F11.0");
            readstat_variable_set_measure(variable, column.CodeLabels.empty() ? READSTAT_MEASURE_SCALE
                                                                              : READSTAT_MEASURE_NOMINAL);
            if (!column.CodeLabels.empty()) {
                const std::string setName = std::string(column.Name) + "_labels";
                readstat_label_set_t* labels = readstat_add_label_set(m_writer, READSTAT_TYPE_DOUBLE, setName.c_str());
                for (const auto& [code, label] : column.CodeLabels)
                    readstat_label_double_value(labels, double(code), Utf8(label).c_str());
                readstat_variable_set_label_set(variable, labels);
            }
            break;
        case ColumnKind::Real:
            variable = readstat_add_variable(m_writer, column.Name, READSTAT_TYPE_DOUBLE, 0);
            readstat_variable_set_format(variable, "F12.4");
            readstat_variable_set_measure(variable, READSTAT_MEASURE_SCALE);
            break;
        case ColumnKind::Text:
            variable = readstat_add_variable(m_writer, column.Name, READSTAT_TYPE_STRING, kStringWidth);
            readstat_variable_set_measure(variable, READSTAT_MEASURE_NOMINAL);
            break;
        case ColumnKind::DateTime:
            variable = readstat_add_variable(m_writer, column.Name, READSTAT_TYPE_DOUBLE, 0);
            readstat_variable_set_format(variable, "DATETIME24.3");
            readstat_variable_set_measure(variable, READSTAT_MEASURE_SCALE);
            break;
        case ColumnKind::Choice: {
            variable = readstat_add_variable(m_writer, column.Name, READSTAT_TYPE_DOUBLE, 0);
            readstat_variable_set_format(variable, "F3.0");
            readstat_variable_set_measure(variable, READSTAT_MEASURE_NOMINAL);
            const std::string setName = std::string(column.Name) + "_labels";
            readstat_label_set_t* labels = readstat_add_label_set(m_writer, READSTAT_TYPE_DOUBLE, setName.c_str());
            // A list that names an item twice gives every answer of it the first code; the second
            // code is never used and gets no label, so no two codes read the same.
            for (qsizetype i = 0; i < column.Items.size(); ++i)
                if (column.Items.indexOf(column.Items.at(i)) == i)
                    readstat_label_double_value(labels, double(i), Utf8(column.Items.at(i)).c_str());
            readstat_variable_set_label_set(variable, labels);
            break;
        }
        }
        readstat_variable_set_label(variable, Utf8(column.Label).c_str());
        if (column.KeepsOtherText) {
            const std::string name = std::string(column.Name) + "_other";
            other = readstat_add_variable(m_writer, name.c_str(), READSTAT_TYPE_STRING, kStringWidth);
            readstat_variable_set_label(other, Utf8(column.Label + QStringLiteral(": другой ответ")).c_str());
            readstat_variable_set_measure(other, READSTAT_MEASURE_NOMINAL);
        }
        m_variables.push_back(variable);
        m_otherText.push_back(other);
    }

    void Check(readstat_error_t error)
    {
        if (error == READSTAT_OK)
            return;
        const StagedFile& file = *m_files.back();
        if (error == READSTAT_ERROR_WRITE || m_output.error != 0)
            throw Error(WriteErrorText(m_output.error ? m_output.error : EIO, file.FinalName()));
        throw Error(QStringLiteral("Экспорт не выполнен: %1 (%2)")
                        .arg(QString::fromUtf8(readstat_error_message(error)), file.FinalName()));
    }

    void FreeWriter()
    {
        if (m_writer)
            readstat_writer_free(m_writer);
        m_writer = nullptr;
    }

    QString m_folder;
    const TableLayout* m_layout = nullptr;
    std::vector<std::unique_ptr<StagedFile>> m_files;
    readstat_writer_t* m_writer = nullptr;
    Output m_output;
    std::vector<readstat_variable_t*> m_variables;
    std::vector<readstat_variable_t*> m_otherText; // the text beside a Choice, or nullptr
    std::string m_text;
};

} // namespace

std::unique_ptr<TableSink> MakeSavSink(const QString& folder)
{
    return std::make_unique<SavSink>(folder);
}

} // namespace kv

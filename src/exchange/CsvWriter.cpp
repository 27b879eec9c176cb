// Tables as RFC 4180 text: UTF-8 with a byte-order mark, so that Excel takes the Cyrillic as such,
// commas between fields, CR LF after every row, numbers in the C locale whatever the user's is.
#include "exchange/TableSink.h"

#include "platform/Errors.h"

#include <QDir>

#include <cerrno>
#include <charconv>
#include <string>

#include <unistd.h>

namespace kv {

namespace {

constexpr size_t kFlushAt = size_t(1) << 20;

class CsvSink final : public TableSink
{
public:
    explicit CsvSink(const QString& folder) : m_folder(folder) { m_buffer.reserve(kFlushAt + 4096); }

    void BeginTable(const TableSpec& spec, qint64) override
    {
        m_files.push_back(
            std::make_unique<StagedFile>(m_folder + u'/' + QLatin1String(spec.Name) + QStringLiteral(".csv")));
        m_buffer.assign("\xEF\xBB\xBF");
        for (size_t c = 0; c < spec.Columns.size(); ++c) {
            if (c > 0)
                m_buffer += ',';
            m_buffer += spec.Columns[c].Name;
        }
        m_buffer += "\r\n";
        m_spec = &spec;
    }

    void Row(const std::vector<Cell>& cells) override
    {
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c > 0)
                m_buffer += ',';
            const Cell& cell = cells[c];
            if (cell.Empty)
                continue;
            switch (m_spec->Columns[c].Kind) {
            case ColumnKind::Integer:
                AppendNumber(cell.Int);
                break;
            case ColumnKind::Real:
                AppendNumber(cell.Real);
                break;
            case ColumnKind::Text:
            case ColumnKind::Choice:
                if (cell.MayNeedQuotes)
                    AppendText(cell.Text);
                else
                    m_buffer += cell.Text;
                break;
            case ColumnKind::DateTime: {
                char text[kIsoDateTimeLength];
                m_buffer.append(text, FormatIsoDateTime(cell.Days, cell.Ms, text));
                break;
            }
            }
        }
        m_buffer += "\r\n";
        if (m_buffer.size() >= kFlushAt)
            Flush();
    }

    void EndTable() override
    {
        Flush();
        m_files.back()->Sync();
        m_files.back()->CloseFd();
    }

    void Commit() override
    {
        for (const auto& file : m_files)
            file->Commit();
    }

private:
    template <typename T> void AppendNumber(T value)
    {
        char text[32];
        // Shortest text that reads back as the same number, with a full stop for the fraction.
        const auto result = std::to_chars(text, text + sizeof text, value);
        m_buffer.append(text, result.ptr);
    }

    void AppendText(std::string_view text)
    {
        // Only these four make a field need quotes; a byte-wide scan is much faster than
        // find_first_of over a million names.
        bool quote = false;
        for (const char ch : text)
            quote |= ch == ',' || ch == '"' || ch == '\r' || ch == '\n';
        if (!quote) {
            m_buffer += text;
            return;
        }
        m_buffer += '"';
        for (const char ch : text) {
            if (ch == '"')
                m_buffer += '"';
            m_buffer += ch;
        }
        m_buffer += '"';
    }

    void Flush()
    {
        const StagedFile& file = *m_files.back();
        const char* data = m_buffer.data();
        size_t left = m_buffer.size();
        while (left > 0) {
            const ssize_t n = ::write(file.fd(), data, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw Error(WriteErrorText(n < 0 ? errno : EIO, file.FinalName()));
            data += n;
            left -= size_t(n);
        }
        m_buffer.clear();
    }

    QString m_folder;
    const TableSpec* m_spec = nullptr;
    std::vector<std::unique_ptr<StagedFile>> m_files;
    std::string m_buffer;
};

} // namespace

std::unique_ptr<TableSink> MakeCsvSink(const QString& folder)
{
    return std::make_unique<CsvSink>(folder);
}

} // namespace kv

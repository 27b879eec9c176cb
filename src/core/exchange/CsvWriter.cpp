// Tables as RFC 4180 text: UTF-8 with a byte-order mark, so that Excel takes the Cyrillic as such,
// commas between fields, CR LF after every row, numbers in the C locale whatever the user's is.
#include "core/exchange/CsvFile.h"
#include "core/exchange/Utf8Table.h"

#include "core/storage/DurableIo.h"

#include "core/platform/Errors.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace kv {

namespace {

constexpr size_t kFlushAt = size_t(1) << 20;
constexpr size_t kSlack = size_t(64) << 10;

// A spreadsheet takes a text that starts with one of these for a formula (a respondent named
// "=HYPERLINK(...)" would run one); the guard every spreadsheet honours is a leading apostrophe. The
// same single bytes in Windows-1251 and UTF-8. Numbers are written by other functions and never
// guarded, so "-1" stays a number.
constexpr bool StartsLikeFormula(char first)
{
    return first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' || first == '\r';
}

// Only these four make a field need quotes; they are the same single bytes in Windows-1251 and UTF-8.
constexpr bool NeedsQuotes(unsigned char byte)
{
    return byte == ',' || byte == '"' || byte == '\r' || byte == '\n';
}

constexpr std::array<bool, 256> kNeedsQuotes = [] {
    std::array<bool, 256> table{};
    for (size_t b = 0; b < table.size(); ++b)
        table[b] = NeedsQuotes(static_cast<unsigned char>(b));
    return table;
}();

// The UTF-8 of each Windows-1251 byte as the codec's table has it, the length byte also telling
// whether the byte makes the field need quotes: one look-up per byte of the names.
class CsvCodes final
{
public:
    static constexpr quint8 kQuote = 0x80;
    static constexpr quint8 kLength = 0x07;

    CsvCodes()
    {
        const Utf8Table& utf8 = Utf8Table::Get();
        for (int b = 0; b < 256; ++b) {
            m_codes[size_t(b)] = utf8[static_cast<unsigned char>(b)];
            if (kNeedsQuotes[size_t(b)])
                m_codes[size_t(b)].length |= kQuote;
        }
    }
    const Utf8Table::Code& operator[](unsigned char byte) const { return m_codes[byte]; }

private:
    std::array<Utf8Table::Code, 256> m_codes;
};

const CsvCodes& Codes()
{
    static const CsvCodes codes;
    return codes;
}

} // namespace

CsvFile::CsvFile(const QString& folder, const TableLayout& layout)
    : m_file(folder + u'/' + QLatin1String(layout.Name) + QStringLiteral(".csv")), m_layout(layout),
      m_buffer(new char[kFlushAt + kSlack]), m_begin(m_buffer.get()), m_at(m_begin), m_flushAt(m_begin + kFlushAt),
      m_end(m_begin + kFlushAt + kSlack)
{
    WriteHeader();
}

CsvFile::~CsvFile() = default;

void CsvFile::WriteHeader()
{
    static constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
    Reserve(sizeof kByteOrderMark);
    m_at = std::copy(kByteOrderMark, kByteOrderMark + 3, m_at);
    for (const Column& column : m_layout.Columns) {
        const size_t length = std::strlen(column.Name);
        Reserve(length);
        m_at = std::copy(column.Name, column.Name + length, m_at);
        *m_at++ = ',';
    }
    EndRow();
}

void CsvFile::Utf8(std::string_view text)
{
    bool quote = false;
    for (const char ch : text)
        quote |= kNeedsQuotes[static_cast<unsigned char>(ch)];
    const bool guard = !text.empty() && StartsLikeFormula(text.front());
    if (!quote) {
        Reserve(text.size() + 1);
        if (guard)
            *m_at++ = '\'';
        m_at = std::copy(text.begin(), text.end(), m_at);
    } else {
        Reserve(2 * text.size() + 3);
        *m_at++ = '"';
        if (guard)
            *m_at++ = '\'';
        for (const char ch : text) {
            if (ch == '"')
                *m_at++ = '"';
            *m_at++ = ch;
        }
        *m_at++ = '"';
    }
    *m_at++ = ',';
}

void CsvFile::Cp1251(QByteArrayView text)
{
    // Each character is at most three bytes of UTF-8 and a doubled quote two; every code is
    // copied whole (four bytes), its length then decides how far the output moves on.
    Reserve(3 * size_t(text.size()) + 4);
    const CsvCodes& codes = Codes();
    const bool guard = !text.isEmpty() && StartsLikeFormula(text.front());
    char* out = m_at;
    if (guard)
        *out++ = '\'';
    quint8 flags = 0;
    for (const char ch : text) {
        const Utf8Table::Code& code = codes[static_cast<unsigned char>(ch)];
        std::memcpy(out, &code, sizeof code);
        out += code.length & CsvCodes::kLength;
        flags |= code.length;
    }
    if (flags & CsvCodes::kQuote) {
        // Rare: written again, quoted.
        out = m_at;
        *out++ = '"';
        if (guard)
            *out++ = '\'';
        for (const char ch : text) {
            const Utf8Table::Code& code = codes[static_cast<unsigned char>(ch)];
            if (ch == '"')
                *out++ = '"';
            std::memcpy(out, &code, sizeof code);
            out += code.length & CsvCodes::kLength;
        }
        *out++ = '"';
    }
    *out++ = ',';
    m_at = out;
}

void CsvFile::DateTime(qint64 days, qint32 ms)
{
    Reserve(kIsoDateTimeLength);
    m_at += FormatIsoDateTime(days, ms, m_at);
    *m_at++ = ',';
}

void CsvFile::MakeRoom(size_t bytes)
{
    Flush();
    const size_t capacity = size_t(m_end - m_begin);
    if (capacity >= bytes)
        return;
    m_buffer.reset(new char[bytes + kSlack]);
    m_begin = m_at = m_buffer.get();
    m_flushAt = m_begin + kFlushAt;
    m_end = m_begin + bytes + kSlack;
}

void CsvFile::Flush()
{
    const char* data = m_begin;
    size_t left = size_t(m_at - m_begin);
    while (left > 0) {
        const ssize_t n = ::write(m_file.fd(), data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Error(WriteErrorText(n < 0 ? errno : EIO, m_file.FinalName()));
        data += n;
        left -= size_t(n);
    }
    m_at = m_begin;
}

void CsvFile::Rewind()
{
    m_at = m_begin;
    if (::ftruncate(m_file.fd(), 0) != 0 || ::lseek(m_file.fd(), 0, SEEK_SET) != 0)
        throw Error(WriteErrorText(errno, m_file.FinalName()));
    WriteHeader();
}

void CsvFile::StartWriteback()
{
    Flush();
    kv::StartWriteback(m_file.fd());
}

void CsvFile::Finish()
{
    Flush();
    m_file.Sync();
    m_file.CloseFd();
}

void CsvFile::Commit()
{
    m_file.Commit();
}

namespace {

// The tables of writers that hand over whole rows (the summary's tool), one file each.
class CsvSink final : public TableSink
{
public:
    explicit CsvSink(const QString& folder) : m_folder(folder) {}

    void BeginTable(const TableLayout& layout, qint64) override
    {
        m_files.push_back(std::make_unique<CsvFile>(m_folder, layout));
        m_layout = &layout;
    }

    void Row(const std::vector<Cell>& cells) override
    {
        CsvFile& file = *m_files.back();
        for (size_t c = 0; c < cells.size(); ++c) {
            const Cell& cell = cells[c];
            if (cell.Empty) {
                file.Empty();
                continue;
            }
            switch (m_layout->Columns[c].Kind) {
            case ColumnKind::Integer:
                file.Integer(cell.Int);
                break;
            case ColumnKind::Real:
                file.Real(cell.Real);
                break;
            case ColumnKind::Text:
            case ColumnKind::Choice:
                file.Utf8(cell.Text);
                break;
            case ColumnKind::DateTime:
                file.DateTime(cell.Days, cell.Ms);
                break;
            }
        }
        file.EndRow();
    }

    void EndTable() override { m_files.back()->Finish(); }

    void Commit() override
    {
        for (const auto& file : m_files)
            file->Commit();
    }

private:
    QString m_folder;
    const TableLayout* m_layout = nullptr;
    std::vector<std::unique_ptr<CsvFile>> m_files;
};

} // namespace

std::unique_ptr<TableSink> MakeCsvSink(const QString& folder)
{
    return std::make_unique<CsvSink>(folder);
}

} // namespace kv

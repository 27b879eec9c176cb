// The one file that speaks to libxlsxwriter. The workbook is written in the library's constant
// memory mode: each row goes to a temporary file as it comes, so a database of any size fits.
#include "core/exchange/TableSink.h"

#include "core/platform/Errors.h"

#include <QFile>
#include <QtEndian>

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace kv {

namespace {

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A workbook reads _xHHHH_ in a string as the character HHHH, so text that merely looks like such an
// escape ("_x0041_B", say) must have its underscore escaped as _x005F_ to read back as written.
void EscapeLikeEscapes(std::string& text)
{
    if (text.find("_x") == std::string::npos)
        return;
    for (size_t at = text.find("_x"); at != std::string::npos; at = text.find("_x", at + 1)) {
        if (at + 7 <= text.size() && IsHex(text[at + 2]) && IsHex(text[at + 3]) && IsHex(text[at + 4]) &&
            IsHex(text[at + 5]) && text[at + 6] == '_') {
            text.insert(at + 1, "x005F_");
            at += 6;
        }
    }
}

// Excel's sheet holds this many rows, header included; a longer table goes on in a next sheet.
constexpr qint64 kRowsPerSheet = LXW_ROW_MAX;
// From 1900-03-01 on a day count since 1899-12-30 is Excel's own date number; before it Excel
// counts a 29 February 1900 that never was, so those dates are written as text.
constexpr qint64 kFirstExcelDay = 61;

class XlsxSink final : public TableSink
{
public:
    explicit XlsxSink(const QString& fileName) : m_file(fileName)
    {
        m_file.CloseFd();
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        m_workbook = workbook_new_opt(m_file.TempPath().constData(), &options);
        if (!m_workbook)
            throw Error(WriteErrorText(errno, fileName));
        m_dateFormat = workbook_add_format(m_workbook);
        format_set_num_format(m_dateFormat, "yyyy-mm-dd hh:mm:ss");
        m_headerFormat = workbook_add_format(m_workbook);
        format_set_bold(m_headerFormat);
    }

    ~XlsxSink() override
    {
        if (m_workbook)
            workbook_close(m_workbook);
    }

    void BeginTable(const TableLayout& layout, qint64) override
    {
        m_layout = &layout;
        m_part = 0;
        NewSheet();
    }

    void Row(const std::vector<Cell>& cells) override
    {
        if (m_row == kRowsPerSheet)
            NewSheet();
        for (size_t c = 0; c < cells.size(); ++c) {
            const Cell& cell = cells[c];
            if (cell.Empty)
                continue;
            const auto col = lxw_col_t(c);
            lxw_error error = LXW_NO_ERROR;
            switch (m_layout->Columns[c].Kind) {
            case ColumnKind::Integer:
                error = worksheet_write_number(m_sheet, lxw_row_t(m_row), col, double(cell.Int), nullptr);
                break;
            case ColumnKind::Real:
                error = worksheet_write_number(m_sheet, lxw_row_t(m_row), col, cell.Real, nullptr);
                break;
            case ColumnKind::Text:
            case ColumnKind::Choice:
                m_text.assign(cell.Text);
                EscapeLikeEscapes(m_text);
                error = worksheet_write_string(m_sheet, lxw_row_t(m_row), col, m_text.c_str(), nullptr);
                break;
            case ColumnKind::DateTime:
                if (cell.Days >= kFirstExcelDay) {
                    const double serial = double(cell.Days) + cell.Ms / 86400000.0;
                    error = worksheet_write_number(m_sheet, lxw_row_t(m_row), col, serial, m_dateFormat);
                } else {
                    char text[kIsoDateTimeLength];
                    m_text.assign(text, FormatIsoDateTime(cell.Days, cell.Ms, text));
                    if (!m_text.empty())
                        error = worksheet_write_string(m_sheet, lxw_row_t(m_row), col, m_text.c_str(), nullptr);
                }
                break;
            }
            Check(error);
        }
        ++m_row;
    }

    void EndTable() override { FinishSheet(); }

    void Commit() override
    {
        const lxw_error error = workbook_close(m_workbook);
        m_workbook = nullptr;
        if (error != LXW_NO_ERROR)
            throw Error(WriteErrorText(error == LXW_ERROR_CREATING_XLSX_FILE ? errno : EIO, m_file.FinalName()));
        VerifySheetSizes();
        m_file.Sync();
        m_file.Commit();
    }

private:
    // The library writes a sheet's rows into a temporary file without looking at what the writes
    // return: a full disk would leave a workbook with the rows cut off and no error. So the file is
    // checked here, and its size kept to compare with what ends up in the workbook.
    void FinishSheet()
    {
        if (!m_sheet)
            return;
        FILE* rows = m_sheet->optimize_tmpfile;
        if (rows && (std::fflush(rows) != 0 || std::ferror(rows)))
            throw Error(WriteErrorText(errno ? errno : EIO, m_file.FinalName()));
        m_sheetBytes.push_back(rows ? qint64(std::ftell(rows)) : 0);
        m_sheet = nullptr;
    }

    // The workbook's sheets are copied once more inside the library before they are packed, again
    // unchecked; a sheet that came out shorter than its rows were is the sign of that failing.
    void VerifySheetSizes() const
    {
        std::vector<qint64> found(m_sheetBytes.size(), -1);
        QFile file(QFile::decodeName(m_file.TempPath()));
        bool ok = file.open(QIODevice::ReadOnly);
        // The zip's directory sits at its end: the end record within the last 64 KB, the entries
        // just before it. Only those few bytes are read back.
        const qint64 tailSize = std::min<qint64>(file.size(), 22 + 65535);
        ok = ok && file.seek(file.size() - tailSize);
        const QByteArray tail = ok ? file.read(tailSize) : QByteArray();
        const qsizetype end = tail.lastIndexOf(QByteArrayView("PK\x05\x06", 4));
        ok = ok && end >= 0 && end + 22 <= tail.size();
        QByteArray directory;
        int entries = 0;
        if (ok) {
            entries = qFromLittleEndian<quint16>(tail.constData() + end + 10);
            const quint32 size = qFromLittleEndian<quint32>(tail.constData() + end + 12);
            const quint32 offset = qFromLittleEndian<quint32>(tail.constData() + end + 16);
            ok = file.seek(offset);
            directory = ok ? file.read(size) : QByteArray();
            ok = ok && directory.size() == qsizetype(size);
        }
        qsizetype at = 0;
        for (int entry = 0; ok && entry < entries; ++entry) {
            const auto u16 = [&](qsizetype from) { return qFromLittleEndian<quint16>(directory.constData() + from); };
            const auto u32 = [&](qsizetype from) { return qFromLittleEndian<quint32>(directory.constData() + from); };
            ok = at + 46 <= directory.size() && u32(at) == 0x02014b50;
            if (!ok)
                break;
            const qsizetype nameLength = u16(at + 28);
            const QByteArray name = directory.mid(at + 46, nameLength);
            int number = 0;
            if (std::sscanf(name.constData(), "xl/worksheets/sheet%d.xml", &number) == 1 && number >= 1 &&
                size_t(number) <= found.size())
                found[size_t(number) - 1] = u32(at + 24);
            at += 46 + nameLength + u16(at + 30) + u16(at + 32);
        }
        for (size_t i = 0; ok && i < found.size(); ++i)
            ok = found[i] >= m_sheetBytes[i];
        if (!ok)
            throw Error(WriteErrorText(EIO, m_file.FinalName()));
    }

    void NewSheet()
    {
        FinishSheet();
        ++m_part;
        const std::string name =
            m_part == 1 ? std::string(m_layout->Name) : std::string(m_layout->Name) + '_' + std::to_string(m_part);
        m_sheet = workbook_add_worksheet(m_workbook, name.c_str());
        if (!m_sheet)
            throw Error(WriteErrorText(EIO, m_file.FinalName()));
        for (size_t c = 0; c < m_layout->Columns.size(); ++c)
            Check(worksheet_write_string(m_sheet, 0, lxw_col_t(c), m_layout->Columns[c].Name, m_headerFormat));
        worksheet_freeze_panes(m_sheet, 1, 0);
        m_row = 1;
    }

    void Check(lxw_error error) const
    {
        if (error != LXW_NO_ERROR)
            throw Error(QStringLiteral("Экспорт не выполнен: %1 (%2)")
                            .arg(QString::fromUtf8(lxw_strerror(error)), m_file.FinalName()));
    }

    StagedFile m_file;
    lxw_workbook* m_workbook = nullptr;
    lxw_format* m_dateFormat = nullptr;
    lxw_format* m_headerFormat = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    const TableLayout* m_layout = nullptr;
    int m_part = 0;
    std::vector<qint64> m_sheetBytes; // what each sheet's rows took before packing
    qint64 m_row = 0;
    std::string m_text;
};

} // namespace

std::unique_ptr<TableSink> MakeXlsxSink(const QString& fileName)
{
    return std::make_unique<XlsxSink>(fileName);
}

} // namespace kv

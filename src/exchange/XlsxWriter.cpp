// The one file that speaks to libxlsxwriter. The workbook is written in the library's constant
// memory mode: each row goes to a temporary file as it comes, so a database of any size fits.
#include "exchange/TableSink.h"

#include "platform/Errors.h"

#include <xlsxwriter.h>

#include <string>

namespace kv {

namespace {

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
        options.use_zip64 = LXW_TRUE;
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

    void BeginTable(const TableSpec& spec, qint64) override
    {
        m_spec = &spec;
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
            switch (m_spec->Columns[c].Kind) {
            case ColumnKind::Integer:
                error = worksheet_write_number(m_sheet, lxw_row_t(m_row), col, double(cell.Int), nullptr);
                break;
            case ColumnKind::Real:
                error = worksheet_write_number(m_sheet, lxw_row_t(m_row), col, cell.Real, nullptr);
                break;
            case ColumnKind::Text:
            case ColumnKind::Choice:
                m_text.assign(cell.Text);
                error = worksheet_write_string(m_sheet, lxw_row_t(m_row), col, m_text.c_str(), nullptr);
                break;
            case ColumnKind::DateTime:
                if (cell.Days >= kFirstExcelDay) {
                    const double serial = double(cell.Days) + cell.Ms / 86400000.0;
                    error = worksheet_write_number(m_sheet, lxw_row_t(m_row), col, serial, m_dateFormat);
                } else {
                    m_text = IsoDateTime(cell.Days, cell.Ms).toStdString();
                    if (!m_text.empty())
                        error = worksheet_write_string(m_sheet, lxw_row_t(m_row), col, m_text.c_str(), nullptr);
                }
                break;
            }
            Check(error);
        }
        ++m_row;
    }

    void EndTable() override {}

    void Commit() override
    {
        const lxw_error error = workbook_close(m_workbook);
        m_workbook = nullptr;
        if (error != LXW_NO_ERROR)
            throw Error(WriteErrorText(error == LXW_ERROR_CREATING_XLSX_FILE ? errno : EIO, m_file.FinalName()));
        m_file.Sync();
        m_file.Commit();
    }

private:
    void NewSheet()
    {
        ++m_part;
        const std::string name =
            m_part == 1 ? std::string(m_spec->Name) : std::string(m_spec->Name) + '_' + std::to_string(m_part);
        m_sheet = workbook_add_worksheet(m_workbook, name.c_str());
        if (!m_sheet)
            throw Error(WriteErrorText(EIO, m_file.FinalName()));
        for (size_t c = 0; c < m_spec->Columns.size(); ++c)
            Check(worksheet_write_string(m_sheet, 0, lxw_col_t(c), m_spec->Columns[c].Name, m_headerFormat));
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
    const TableSpec* m_spec = nullptr;
    int m_part = 0;
    qint64 m_row = 0;
    std::string m_text;
};

} // namespace

std::unique_ptr<TableSink> MakeXlsxSink(const QString& fileName)
{
    return std::make_unique<XlsxSink>(fileName);
}

} // namespace kv

#include "core/exchange/SummaryTool.h"

#include "core/analysis/Summary.h"
#include "core/analysis/SummaryTables.h"
#include "core/catalogue/uvsValues.h"
#include "core/exchange/Export.h"
#include "core/exchange/TableSink.h"
#include "core/platform/Errors.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

#include <string>

namespace kv {

namespace {

const QString kUsage = QStringLiteral(
    "Использование: kvendar-data summary [--format csv|xlsx|sav] [--sex N] [--age ОТ-ДО] [--from ДАТА] [--to ДАТА] "
    "ПАПКА_ДАННЫХ ВЫВОД\n"
    "  --format    csv (по умолчанию) или sav: в папку ВЫВОД groups, values и scale;\n"
    "              xlsx: ВЫВОД — файл книги с листами groups, values и scale\n"
    "  --sex N     пол: 0 нет ответа, 1 мужской, 2 женский\n"
    "  --age ОТ-ДО полных лет, включительно (ОТ или ДО можно опустить: 20-, -40)\n"
    "  --from, --to  даты сохранения теста ГГГГ-ММ-ДД, включительно");

bool ParseArgs(QStringList args, TvsSummaryFilter& filter, QString& format, QString& dataDir, QString& output,
               QString& problem)
{
    QStringList positional;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (!arg.startsWith(QStringLiteral("--"))) {
            positional << arg;
            continue;
        }
        if (args.isEmpty()) {
            problem = QStringLiteral("У параметра «%1» нет значения").arg(arg);
            return false;
        }
        const QString value = args.takeFirst();
        bool ok = false;
        if (arg == u"--format") {
            format = value;
            ok = ExportFormatNamed(format).has_value();
        } else if (arg == u"--sex") {
            filter.Sex = value.toInt(&ok);
            ok = ok && filter.Sex >= 0 && filter.Sex <= 2;
        } else if (arg == u"--age") {
            static const QRegularExpression range(QStringLiteral("^(\\d*)-(\\d*)$"));
            const auto match = range.match(value);
            ok = match.hasMatch() && (!match.captured(1).isEmpty() || !match.captured(2).isEmpty());
            if (ok) {
                filter.AgeFrom = match.captured(1).isEmpty() ? -1 : match.captured(1).toInt();
                filter.AgeTo = match.captured(2).isEmpty() ? -1 : match.captured(2).toInt();
            }
        } else if (arg == u"--from" || arg == u"--to") {
            const QDate date = QDate::fromString(value, Qt::ISODate);
            ok = date.isValid();
            (arg == u"--from" ? filter.DateFrom : filter.DateTo) = date;
        } else {
            problem = QStringLiteral("Неизвестный параметр «%1»").arg(arg);
            return false;
        }
        if (!ok) {
            problem = QStringLiteral("Неверное значение «%1» параметра «%2»").arg(value, arg);
            return false;
        }
    }
    if (positional.size() != 2) {
        problem = QStringLiteral("Нужны две папки: данных и вывода");
        return false;
    }
    dataDir = positional[0];
    output = positional[1];
    return true;
}

ColumnKind ExportedKind(SummaryColumnKind kind)
{
    switch (kind) {
    case SummaryColumnKind::Text:
        return ColumnKind::Text;
    case SummaryColumnKind::Decimal:
        return ColumnKind::Real;
    case SummaryColumnKind::Group:
    case SummaryColumnKind::Count:
        break;
    }
    return ColumnKind::Integer;
}

void WriteTable(const SummaryTable& table, TableSink& sink)
{
    TableLayout layout{table.Name, table.Label, {}};
    for (const SummaryColumn& column : table.Columns)
        layout.Columns.push_back({column.Name, column.Label, ExportedKind(column.Kind), {}, false, {}});
    sink.BeginTable(layout, qint64(table.Rows.size()));
    std::vector<std::string> texts(table.Columns.size()); // what the text cells point into
    std::vector<Cell> cells(table.Columns.size());
    for (const std::vector<SummaryCell>& row : table.Rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            Cell& cell = cells[c];
            cell = Cell{};
            cell.Empty = false;
            switch (layout.Columns[c].Kind) {
            case ColumnKind::Text:
                texts[c] = row[c].Text.toStdString();
                cell.Text = texts[c];
                break;
            case ColumnKind::Real:
                cell.Empty = std::isnan(row[c].Number);
                cell.Real = row[c].Number;
                break;
            default:
                cell.Int = qint64(row[c].Number);
                break;
            }
        }
        sink.Row(cells);
    }
    sink.EndTable();
}

} // namespace

void WriteSummaryTables(const TvsSummaryData& data, const TvsSummary& summary, TableSink& sink)
{
    // The files carry group numbers, not the catalogue's names.
    const SummaryTables tables = BuildSummaryTables(data, summary, TvsValueTypeList());
    for (const SummaryTable* table : {&tables.Groups, &tables.Values, &tables.Scale})
        WriteTable(*table, sink);
}

int RunSummary(const QStringList& args, QTextStream& out, QTextStream& err)
{
    TvsSummaryFilter filter;
    QString format = QStringLiteral("csv");
    QString dataDir, output, problem;
    if (!ParseArgs(args, filter, format, dataDir, output, problem)) {
        err << problem << Qt::endl << kUsage << Qt::endl;
        return 2;
    }
    if (!QFileInfo(dataDir).isDir()) {
        err << QStringLiteral("Папка данных «%1» не найдена").arg(QDir::toNativeSeparators(dataDir)) << Qt::endl;
        return 2;
    }
    if (format == u"xlsx" && QFileInfo(output).isDir()) {
        err << QStringLiteral("Для xlsx вывод — файл книги, а это папка: %1").arg(QDir::toNativeSeparators(output))
            << Qt::endl;
        return 2;
    }
    try {
        const TvsSummaryData data = ReadSummaryData(dataDir);
        const TvsSummary summary = Summarize(data, filter);
        WriteTables(*ExportFormatNamed(format), output,
                    [&](TableSink& sink) { WriteSummaryTables(data, summary, sink); });

        if (summary.Tests == 0)
            err << NoTestsText() << Qt::endl;
        else
            out << QStringLiteral("Тестов: %1").arg(summary.Tests) << Qt::endl;
        const QString noScale = ScaleNotBuiltText(summary);
        if (!noScale.isEmpty())
            err << noScale << Qt::endl;
        return 0;
    } catch (const Error& e) {
        err << e.message() << Qt::endl;
        return 1;
    }
}

} // namespace kv

#include "core/exchange/SummaryTool.h"

#include "core/analysis/Summary.h"
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
            ok = ok && filter.Sex >= 0 && filter.Sex < SexQuestion().Items.size();
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

Cell IntCell(qint64 n)
{
    Cell c;
    c.Empty = false;
    c.Int = n;
    return c;
}

Cell RealCell(double x)
{
    Cell c;
    c.Empty = std::isnan(x);
    c.Real = x;
    return c;
}

Cell TextCell(const std::string& text)
{
    Cell c;
    c.Empty = false;
    c.Text = text;
    return c;
}

} // namespace

void WriteSummaryTables(const TvsSummaryData& data, const TvsSummary& summary, TableSink& sink)
{
    const TableLayout groups{"groups",
                             QStringLiteral("Группы"),
                             {{"group", QStringLiteral("Номер группы"), ColumnKind::Integer, {}, false, {}},
                              {"tests", QStringLiteral("Тестов в долях"), ColumnKind::Integer, {}, false, {}},
                              {"mean_share", QStringLiteral("Средняя доля очков"), ColumnKind::Real, {}, false, {}},
                              {"ci_low", QStringLiteral("95% ДИ от"), ColumnKind::Real, {}, false, {}},
                              {"ci_high", QStringLiteral("95% ДИ до"), ColumnKind::Real, {}, false, {}},
                              {"led", QStringLiteral("Лидировала, тестов"), ColumnKind::Integer, {}, false, {}}}};
    const bool any = summary.Tests > 0;
    sink.BeginTable(groups, any ? qint64(summary.Groups.size()) : 0);
    for (const TvsGroupSummary& g : any ? summary.Groups : std::vector<TvsGroupSummary>{})
        sink.Row({IntCell(g.Group), IntCell(g.Tests), RealCell(g.MeanShare), RealCell(g.CiLow), RealCell(g.CiHigh),
                  IntCell(g.Led)});
    sink.EndTable();

    const TableLayout values{
        "values",
        QStringLiteral("Ценности"),
        {{"value", QStringLiteral("Ценность"), ColumnKind::Text, {}, false, {}},
         {"group", QStringLiteral("Номер группы"), ColumnKind::Integer, {}, false, {}},
         {"won", QStringLiteral("Побеждала, тестов"), ColumnKind::Integer, {}, false, {}},
         {"chosen", QStringLiteral("Выбрана по журналу, тестов"), ColumnKind::Integer, {}, false, {}},
         {"mean_share", QStringLiteral("Средняя доля побед"), ColumnKind::Real, {}, false, {}},
         {"mean_rank", QStringLiteral("Средний ранг"), ColumnKind::Real, {}, false, {}},
         {"first", QStringLiteral("Первая, тестов"), ColumnKind::Integer, {}, false, {}}}};
    sink.BeginTable(values, qint64(summary.Values.size()));
    for (const TvsValueSummary& v : summary.Values) {
        const std::string name = data.Values[v.Value].Name.toStdString();
        sink.Row({TextCell(name), IntCell(data.Values[v.Value].Group), IntCell(v.Won), IntCell(v.Chosen),
                  RealCell(v.MeanShare), RealCell(v.MeanRank), IntCell(v.First)});
    }
    sink.EndTable();

    const TableLayout scale{"scale",
                            QStringLiteral("Шкала Брэдли — Терри"),
                            {{"value", QStringLiteral("Ценность"), ColumnKind::Text, {}, false, {}},
                             {"group", QStringLiteral("Номер группы"), ColumnKind::Integer, {}, false, {}},
                             {"scale", QStringLiteral("Логарифм силы, среднее 0"), ColumnKind::Real, {}, false, {}},
                             {"se", QStringLiteral("Стандартная ошибка"), ColumnKind::Real, {}, false, {}},
                             {"comparisons", QStringLiteral("Сравнений"), ColumnKind::Integer, {}, false, {}}}};
    const TvsBradleyTerry& fit = summary.Scale;
    const bool fitted = fit.State == TvsBradleyTerry::Status::Fitted;
    sink.BeginTable(scale, fitted ? qint64(fit.Items.size()) : 0);
    for (size_t i = 0; fitted && i < fit.Items.size(); ++i) {
        const TvsSummaryValue& value = data.Values[fit.Items[i]];
        const std::string name = value.Name.toStdString();
        sink.Row({TextCell(name), IntCell(value.Group), RealCell(fit.Scale[i]), RealCell(fit.StdError[i]),
                  IntCell(fit.Comparisons[i])});
    }
    sink.EndTable();
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

        const bool any = summary.Tests > 0;
        const TvsBradleyTerry& fit = summary.Scale;
        const bool fitted = fit.State == TvsBradleyTerry::Status::Fitted;
        if (!any)
            err << NoTestsText() << Qt::endl;
        else
            out << QStringLiteral("Тестов: %1").arg(summary.Tests) << Qt::endl;
        if (any && !fitted) {
            err << (fit.State == TvsBradleyTerry::Status::Disconnected
                        ? QStringLiteral("Шкала не построена: сравнения распадаются на %1 не связанных частей")
                              .arg(fit.Components.size())
                        : QStringLiteral("Шкала не построена: слишком мало сравнений"))
                << Qt::endl;
        }
        return 0;
    } catch (const Error& e) {
        err << e.message() << Qt::endl;
        return 1;
    }
}

} // namespace kv

#include "core/analysis/Summary.h"
#include "core/analysis/SummaryTables.h"
#include "core/exchange/Export.h"
#include "core/exchange/SummaryExport.h"
#include "core/session/Questionnaire.h"
#include "core/platform/Errors.h"
#include "tool/Commands.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace kv {

namespace {

// Reads the filter's options into filter; returns what is wrong with them, empty when nothing.
QString ReadFilter(const CommandLine& line, TvsSummaryFilter& filter)
{
    const auto wrong = [&line](const QString& name) {
        return QStringLiteral("Неверное значение «%1» параметра «--%2»").arg(line.Value(name), name);
    };
    if (line.IsSet(QStringLiteral("sex"))) {
        bool ok = false;
        filter.Sex = line.Value(QStringLiteral("sex")).toInt(&ok);
        if (!ok || filter.Sex < 0 || filter.Sex >= SexQuestion().Items.size())
            return wrong(QStringLiteral("sex"));
    }
    if (line.IsSet(QStringLiteral("age"))) {
        static const QRegularExpression range(QStringLiteral("^(\\d*)-(\\d*)$"));
        const auto match = range.match(line.Value(QStringLiteral("age")));
        if (!match.hasMatch() || (match.captured(1).isEmpty() && match.captured(2).isEmpty()))
            return wrong(QStringLiteral("age"));
        filter.AgeFrom = match.captured(1).isEmpty() ? -1 : match.captured(1).toInt();
        filter.AgeTo = match.captured(2).isEmpty() ? -1 : match.captured(2).toInt();
    }
    for (const QString& name : {QStringLiteral("from"), QStringLiteral("to")}) {
        if (!line.IsSet(name))
            continue;
        const QDate date = QDate::fromString(line.Value(name), Qt::ISODate);
        if (!date.isValid())
            return wrong(name);
        (name == u"from" ? filter.DateFrom : filter.DateTo) = date;
    }
    return QString();
}

} // namespace

const ToolCommand& SummaryCommand()
{
    static const ToolCommand command{
        QStringLiteral("summary"),
        QStringLiteral("ПАПКА_ДАННЫХ ВЫВОД"),
        QStringLiteral("сводка по тестам: таблицы groups, values, scale"),
        QStringLiteral(
            "Сводка по тестам, которые оставляют отборы: groups — средняя доля очков каждой группы с 95% ДИ\n"
            "и сколько раз она лидировала; values — по ценностям: победы, выбор, средняя доля побед, "
            "средний\nранг, сколько раз первая; scale — шкала Брэдли — Терри по журналам ответов."),
        {FormatOption(QStringLiteral("csv (по умолчанию) или sav: в папку ВЫВОД groups, values и scale;\n"
                                     "xlsx: ВЫВОД — файл книги с листами groups, values и scale")),
         {QStringLiteral("sex"), QStringLiteral("N"), QStringLiteral("пол: 0 нет ответа, 1 мужской, 2 женский")},
         {QStringLiteral("age"), QStringLiteral("ОТ-ДО"),
          QStringLiteral("полных лет, включительно (ОТ или ДО можно опустить: 20-, -40)")},
         {QStringLiteral("from"), QStringLiteral("ДАТА"),
          QStringLiteral("тесты, сохранённые в этот день ГГГГ-ММ-ДД или позже")},
         {QStringLiteral("to"), QStringLiteral("ДАТА"),
          QStringLiteral("тесты, сохранённые в этот день ГГГГ-ММ-ДД или раньше")}},
        {{0, QStringLiteral("таблицы записаны")},
         {1, QStringLiteral("данные не прочитаны или таблицы не записаны")},
         {2, QStringLiteral("неверные параметры, папка данных не найдена или вывод xlsx — папка")}}};
    return command;
}

int RunSummary(const QStringList& args, QTextStream& out, QTextStream& err)
{
    CommandLine line(SummaryCommand());
    if (const std::optional<int> status = line.Parse(args, out, err))
        return *status;
    const std::optional<ExportFormat> format = ReadFormat(line, err);
    if (!format)
        return 2;
    TvsSummaryFilter filter;
    if (const QString problem = ReadFilter(line, filter); !problem.isEmpty())
        return line.Fail(err, problem);
    const QStringList positional = line.Positional();
    if (positional.size() != 2)
        return line.Fail(err, QStringLiteral("нужны две папки: данных и вывода"));
    const QString& dataDir = positional.at(0);
    const QString& output = positional.at(1);
    if (!DataFolderExists(dataDir, err))
        return 2;
    if (*format == ExportFormat::Xlsx && QFileInfo(output).isDir()) {
        err << QStringLiteral("Для xlsx вывод — файл книги, а это папка: %1").arg(QDir::toNativeSeparators(output))
            << Qt::endl;
        return 2;
    }
    try {
        const TvsSummaryData data = ReadSummaryData(dataDir);
        const TvsSummary summary = Summarize(data, filter);
        WriteTables(*format, output, [&](TableSink& sink) { WriteSummaryTables(data, summary, sink); });
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

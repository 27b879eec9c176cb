#include "core/analysis/Summary.h"
#include "core/analysis/SummaryTables.h"
#include "core/exchange/Export.h"
#include "core/exchange/SummaryExport.h"
#include "core/platform/Errors.h"
#include "core/session/Questionnaire.h"
#include "tool/Commands.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace kv {

namespace {

// The option that filters by a question: its export column's name with dashes, --family-status.
QString OptionName(const TvsChoiceQuestion& question)
{
    return QString::fromLatin1(question.ExportName).replace(u'_', u'-');
}

// One option per question of the questionnaire, its codes listed as the export numbers them.
std::vector<ToolOption> QuestionOptions()
{
    std::vector<ToolOption> options;
    for (int q = 0; q < kQuestionCount; ++q) {
        const TvsChoiceQuestion& question = Question(TvsQuestion(q));
        QStringList codes;
        for (qsizetype i = 0; i < question.Items.size(); ++i)
            if (question.Items.indexOf(question.Items.at(i)) == i)
                codes << QStringLiteral("%1 %2").arg(i).arg(question.Items.at(i).trimmed());
        options.push_back({OptionName(question), QStringLiteral("N"),
                           QStringLiteral("%1: %2").arg(question.Label.toLower(), codes.join(QStringLiteral(", ")))});
    }
    return options;
}

// The command with one filter option per question of the questionnaire, as the window filters.
ToolCommand WithQuestionOptions(ToolCommand command)
{
    for (ToolOption& option : QuestionOptions())
        command.Options.push_back(std::move(option));
    return command;
}

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
        // A number too large for an age is refused, not read as 0.
        bool fromOk = true, toOk = true;
        filter.AgeFrom = match.captured(1).isEmpty() ? -1 : match.captured(1).toInt(&fromOk);
        filter.AgeTo = match.captured(2).isEmpty() ? -1 : match.captured(2).toInt(&toOk);
        if (!fromOk || !toOk)
            return wrong(QStringLiteral("age"));
        if (filter.AgeFrom >= 0 && filter.AgeTo >= 0 && filter.AgeFrom > filter.AgeTo)
            return QStringLiteral("В параметре «--age %1» начало больше конца: такой отбор пуст")
                .arg(line.Value(QStringLiteral("age")));
    }
    for (const QString& name : {QStringLiteral("from"), QStringLiteral("to")}) {
        if (!line.IsSet(name))
            continue;
        const QDate date = QDate::fromString(line.Value(name), Qt::ISODate);
        if (!date.isValid())
            return wrong(name);
        (name == u"from" ? filter.DateFrom : filter.DateTo) = date;
    }
    if (filter.DateFrom.isValid() && filter.DateTo.isValid() && filter.DateFrom > filter.DateTo)
        return QStringLiteral("Дата «--from %1» позже даты «--to %2»: такой отбор пуст")
            .arg(line.Value(QStringLiteral("from")), line.Value(QStringLiteral("to")));
    for (int q = 0; q < kQuestionCount; ++q) {
        const TvsChoiceQuestion& question = Question(TvsQuestion(q));
        const QString name = OptionName(question);
        if (!line.IsSet(name))
            continue;
        bool ok = false;
        const int code = line.Value(name).toInt(&ok);
        if (!ok || code < 0 || code >= question.Items.size())
            return wrong(name);
        filter.Answers[size_t(q)] = question.Items.at(code);
    }
    return QString();
}

} // namespace

const ToolCommand& SummaryCommand()
{
    static const ToolCommand command = WithQuestionOptions(
        {QStringLiteral("summary"),
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
          {1, QStringLiteral("отбор пуст (таблицы не записаны), данные не прочитаны или таблицы не записаны")},
          {2, QStringLiteral("неверные параметры, папка данных не найдена или вывод xlsx — папка")}}});
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
        // An empty selection is an error with its reason, not a set of empty tables.
        if (summary.Tests == 0) {
            err << NoTestsText() << Qt::endl;
            return 1;
        }
        WriteTables(*format, output, [&](TableSink& sink) { WriteSummaryTables(data, summary, sink); });
        out << SummaryCountText(summary) << Qt::endl;
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

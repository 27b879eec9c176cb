#include "core/exchange/Export.h"
#include "core/platform/Errors.h"
#include "tool/Commands.h"

namespace kv {

const ToolCommand& ExportCommand()
{
    static const ToolCommand command{
        QStringLiteral("export"),
        QStringLiteral("ПАПКА_ДАННЫХ ВЫВОД"),
        QStringLiteral("выгрузить тесты, значения и ответы для R, SPSS, Excel"),
        QStringLiteral("Выгружает тесты, значения и ответы из ПАПКИ_ДАННЫХ для R, SPSS, Excel.\n"
                       "ВЫВОД для csv и sav — папка, в которую пишутся tests, values, answers; для xlsx — файл "
                       "книги.\nФайлы пишутся под временными именами и встают на место, только когда готовы все: "
                       "неудачная\nвыгрузка ничего не оставляет."),
        {FormatOption(QStringLiteral("формат выгрузки, по умолчанию csv")),
         {QStringLiteral("tests"), QStringLiteral("СПИСОК"),
          QStringLiteral("только тесты с этими номерами, вида 1,5-9")}},
        {{0, QStringLiteral("выгрузка выполнена")},
         {1, QStringLiteral("выгрузка не удалась; ничего не записано")},
         {2, QStringLiteral("неверные параметры или папка данных не найдена")}}};
    return command;
}

int RunExport(const QStringList& args, QTextStream& out, QTextStream& err)
{
    CommandLine line(ExportCommand());
    if (const std::optional<int> status = line.Parse(args, out, err))
        return *status;
    const std::optional<ExportFormat> format = ReadFormat(line, err);
    if (!format)
        return 2;
    TestSelection selection;
    try {
        if (line.IsSet(QStringLiteral("tests")))
            selection = TestSelection::Parse(line.Value(QStringLiteral("tests")));
    } catch (const Error& e) {
        return line.Fail(err, e.message());
    }
    const QStringList positional = line.Positional();
    if (positional.size() != 2)
        return line.Fail(err, QStringLiteral("нужны папка данных и вывод"));
    if (!DataFolderExists(positional.at(0), err))
        return 2;
    try {
        const ExportResult result = ExportTables(positional.at(0), *format, selection, positional.at(1));
        out << QStringLiteral("Экспортировано: тестов %1, значений %2, ответов %3")
                   .arg(result.Tests)
                   .arg(result.Values)
                   .arg(result.Answers)
            << Qt::endl;
        if (result.SkippedOrphans > 0)
            out << QStringLiteral("Пропущено записей без теста: %1 (подробнее: kvendar-data check)")
                       .arg(result.SkippedOrphans)
                << Qt::endl;
        return 0;
    } catch (const Error& e) {
        err << e.message() << Qt::endl;
        return 1;
    }
}

} // namespace kv

#include "core/exchange/Check.h"
#include "core/platform/Errors.h"
#include "tool/Commands.h"

namespace kv {

const ToolCommand& CheckCommand()
{
    static const ToolCommand command{
        QStringLiteral("check"),
        QStringLiteral("ПАПКА_ДАННЫХ"),
        QStringLiteral("проверить файлы базы данных"),
        QStringLiteral("Проверяет файлы базы данных в ПАПКЕ_ДАННЫХ, читая их целыми записями, как программа:\n"
                       "оборванные записи, повторные номера тестов, записи без теста, тесты без значений, "
                       "длинные\nстроки, неверные даты, группы и выборы. Прерванное сохранение теста перед "
                       "проверкой\nотменяется или, если оно найдено целым, сохраняется."),
        {},
        {{0, QStringLiteral("проблем не найдено")},
         {1, QStringLiteral("найдены проблемы")},
         {2, QStringLiteral("неверные параметры или папка непригодна")}}};
    return command;
}

int RunCheck(const QStringList& args, QTextStream& out, QTextStream& err)
{
    CommandLine line(CheckCommand());
    if (const std::optional<int> status = line.Parse(args, out, err))
        return *status;
    const QStringList positional = line.Positional();
    if (positional.size() != 1)
        return line.Fail(err, QStringLiteral("нужна одна папка данных"));
    DataCheckReport report;
    try {
        report = CheckDataFolder(positional.at(0));
    } catch (const Error& e) {
        err << e.message() << Qt::endl;
        return 2;
    }
    out << QStringLiteral("Тестов: %1").arg(report.Tests) << Qt::endl;
    out << QStringLiteral("Значений: %1").arg(report.Values) << Qt::endl;
    out << QStringLiteral("Ответов: %1").arg(report.Answers) << Qt::endl;
    if (report.RolledBack)
        out << QStringLiteral("Незавершенное сохранение теста отменено перед проверкой.") << Qt::endl;
    if (report.Completed)
        out << QStringLiteral("Прерванное сохранение теста найдено целым и сохранено перед проверкой.") << Qt::endl;
    const QStringList problems = report.Problems();
    if (problems.isEmpty()) {
        out << QStringLiteral("Проблем не найдено.") << Qt::endl;
        return 0;
    }
    for (const QString& problem : problems)
        out << problem << Qt::endl;
    return 1;
}

} // namespace kv

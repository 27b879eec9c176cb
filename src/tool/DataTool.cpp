#include "tool/Commands.h"

namespace kv {

namespace {

struct Subcommand
{
    const ToolCommand& (*command)();
    int (*run)(const QStringList& args, QTextStream& out, QTextStream& err);
};

const Subcommand kSubcommands[] = {
    {ExportCommand, RunExport},
    {CheckCommand, RunCheck},
    {MergeCommand, RunMerge},
    {SummaryCommand, RunSummary},
};

ToolCommand ToolItself()
{
    QString list = QStringLiteral("Команды:\n");
    for (const Subcommand& subcommand : kSubcommands) {
        const ToolCommand& command = subcommand.command();
        // The usage line without its "Использование: ".
        const QString usage = CommandLine(command).Usage();
        list += QStringLiteral("  ") + usage.mid(usage.indexOf(QStringLiteral("kvendar-data"))) + u'\n';
        list += QStringLiteral("      ") + command.Summary + u'\n';
    }
    list += QStringLiteral("\nkvendar-data КОМАНДА --help показывает параметры команды и её коды выхода.");
    return {QString(),
            QStringLiteral("КОМАНДА [ПАРАМЕТРЫ]"),
            QString(),
            list,
            {},
            {{0, QStringLiteral("показаны справка или версия; иначе код выхода — код команды")},
             {2, QStringLiteral("команда не названа или неизвестна, неизвестный параметр")}}};
}

} // namespace

int RunDataTool(const QStringList& args, QTextStream& out, QTextStream& err)
{
    CommandLine line(ToolItself());
    if (const std::optional<int> status = line.Parse(args, out, err))
        return *status;
    const QStringList rest = line.Positional();
    if (rest.isEmpty()) {
        err << line.Help();
        err.flush();
        return 2;
    }
    const QString& name = rest.first();
    if (name == u"help") {
        out << line.Help();
        out.flush();
        return 0;
    }
    for (const Subcommand& subcommand : kSubcommands) {
        if (name == subcommand.command().Name)
            return subcommand.run(rest.mid(1), out, err);
    }
    err << QStringLiteral("Неизвестная команда «%1». Список команд: kvendar-data --help").arg(name) << Qt::endl;
    return 2;
}

} // namespace kv

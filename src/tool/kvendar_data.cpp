// The data tool: a researcher's way to get the database out of the program and to look after it,
// one subcommand per job. The work itself lives in core; this only picks the subcommand.
#include "core/exchange/Check.h"
#include "core/exchange/Export.h"
#include "core/exchange/Merge.h"
#include "core/exchange/SummaryTool.h"
#include "core/platform/ProcessSignals.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

struct Subcommand
{
    const char16_t* name;
    const char16_t* usage; // the arguments after the name
    const char16_t* summary;
    int (*run)(const QStringList& args, QTextStream& out, QTextStream& err);
};

const Subcommand kSubcommands[] = {
    {u"export", u"[--format csv|xlsx|sav] [--tests СПИСОК] ПАПКА_ДАННЫХ ВЫВОД",
     u"выгрузить тесты, значения и ответы для R, SPSS, Excel", kv::RunExport},
    {u"check", u"ПАПКА_ДАННЫХ", u"проверить файлы базы данных", kv::RunCheck},
    {u"merge", u"ИСХОДНАЯ_ПАПКА ПАПКА_ДАННЫХ", u"добавить тесты другого компьютера в базу данных", kv::RunMerge},
    {u"summary", u"[--format csv|xlsx|sav] [--sex N] [--age ОТ-ДО] [--from ДАТА] [--to ДАТА] ПАПКА_ДАННЫХ ВЫВОД",
     u"сводка по тестам: таблицы groups, values, scale", kv::RunSummary},
};

void PrintHelp(QTextStream& out)
{
    out << QStringLiteral("Использование: kvendar-data КОМАНДА [ПАРАМЕТРЫ]\n\nКоманды:\n");
    for (const Subcommand& command : kSubcommands) {
        out << QStringLiteral("  kvendar-data %1 %2\n      %3\n")
                   .arg(QString::fromUtf16(command.name), QString::fromUtf16(command.usage),
                        QString::fromUtf16(command.summary));
    }
    out << QStringLiteral("\nexport: ВЫВОД для csv и sav — папка, в которую пишутся tests, values, answers;\n"
                          "        для xlsx — файл книги. Формат по умолчанию csv. СПИСОК номеров тестов\n"
                          "        вида 1,5-9.\n"
                          "check:  код выхода 0 — проблем нет, 1 — найдены проблемы,\n"
                          "        2 — неверные параметры или папка непригодна.\n"
                          "merge:  тесты, которые уже есть в базе, пропускаются; исходная папка не меняется.\n"
                          "        Код выхода 0 — тесты добавлены, 1 — слияние не удалось и база не изменена,\n"
                          "        2 — неверные параметры или папка непригодна.\n"
                          "\nkvendar-data КОМАНДА --help показывает параметры команды.\n");
    out.flush();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // A file-size limit met by a merge must fail the write, which the merge then undoes, rather
    // than kill the tool between two writes.
    kv::IgnoreFileSizeSignal();
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);

    if (args.isEmpty()) {
        PrintHelp(err);
        return 2;
    }
    const QString name = args.takeFirst();
    if (name == u"--help" || name == u"-h" || name == u"help") {
        PrintHelp(out);
        return 0;
    }
    for (const Subcommand& command : kSubcommands) {
        if (name != QString::fromUtf16(command.name))
            continue;
        if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
            out << QStringLiteral("Использование: kvendar-data %1 %2\n")
                       .arg(QString::fromUtf16(command.name), QString::fromUtf16(command.usage));
            return 0;
        }
        return command.run(args, out, err);
    }
    err << QStringLiteral("Неизвестная команда «%1». Список команд: kvendar-data --help").arg(name) << Qt::endl;
    return 2;
}

#include "core/exchange/Merge.h"
#include "tool/Commands.h"

#include <new>

namespace kv {

const ToolCommand& MergeCommand()
{
    static const ToolCommand command{
        QStringLiteral("merge"),
        QStringLiteral("ИСХОДНАЯ_ПАПКА ПАПКА_ДАННЫХ"),
        QStringLiteral("добавить тесты другого компьютера в базу данных"),
        QStringLiteral("Добавляет тесты из папки Data другого компьютера в папку базы данных.\n"
                       "Тесты, которые уже есть в базе, пропускаются; исходная папка не меняется.\n"
                       "Добавляются все новые тесты или, при любой ошибке, ни один."),
        {},
        {{0, QStringLiteral("тесты добавлены")},
         {1, QStringLiteral("слияние не удалось; база данных не изменена")},
         {2, QStringLiteral("неверные параметры или папка непригодна")}}};
    return command;
}

int RunMerge(const QStringList& args, QTextStream& out, QTextStream& err)
{
    CommandLine line(MergeCommand());
    if (const std::optional<int> status = line.Parse(args, out, err))
        return *status;
    const QStringList positional = line.Positional();
    if (positional.size() != 2)
        return line.Fail(err, QStringLiteral("нужны две папки"));
    try {
        const MergeResult result = MergeDataFolders(positional.at(0), positional.at(1));
        out << MergeReport(result) << u'\n';
        out.flush();
        return 0;
    } catch (const MergeFolderError& e) {
        err << QStringLiteral("kvendar-data merge: ") << e.message() << u'\n';
        err.flush();
        return 2;
    } catch (const Error& e) {
        err << QStringLiteral("kvendar-data merge: ") << e.message() << u'\n';
        err.flush();
        return 1;
    } catch (const std::bad_alloc&) {
        err << QStringLiteral("kvendar-data merge: недостаточно памяти; база данных не изменена\n");
        err.flush();
        return 1;
    }
}

} // namespace kv

#include "tool/CommandLine.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace kv {

namespace {

const QString kHelp = QStringLiteral("help");
const QString kVersion = QStringLiteral("version");

// Common to every subcommand; listed after its own options.
std::vector<ToolOption> CommonOptions()
{
    return {{kHelp, QString(), QStringLiteral("показать эту справку и выйти")},
            {kVersion, QString(), QStringLiteral("показать версию программы и выйти")}};
}

QString Spelled(const ToolOption& option)
{
    QString text = option.Name == kHelp ? QStringLiteral("-h, --help") : QStringLiteral("--") + option.Name;
    if (!option.ValueName.isEmpty())
        text += u' ' + option.ValueName;
    return text;
}

} // namespace

QString ToolVersionText()
{
    return QStringLiteral("kvendar-data " KVENDAR_VERSION);
}

CommandLine::CommandLine(ToolCommand command) : m_command(std::move(command)), m_options(m_command.Options)
{
    for (ToolOption& option : CommonOptions())
        m_options.push_back(std::move(option));
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    m_parser.setOptionsAfterPositionalArgumentsMode(
        m_command.Name.isEmpty() ? QCommandLineParser::ParseAsPositionalArguments : QCommandLineParser::ParseAsOptions);
    for (const ToolOption& option : m_options) {
        QStringList names{option.Name};
        if (option.Name == kHelp)
            names.prepend(QStringLiteral("h"));
        m_parser.addOption(QCommandLineOption(names, option.Help, option.ValueName));
    }
}

std::optional<int> CommandLine::Parse(const QStringList& args, QTextStream& out, QTextStream& err)
{
    // The parser takes the program's name first.
    const bool parsed = m_parser.parse(QStringList{QStringLiteral("kvendar-data")} + args);
    // Help is given whatever else the line holds, as the user asking for it is likely to be stuck.
    if (m_parser.isSet(kHelp)) {
        out << Help();
        out.flush();
        return 0;
    }
    if (!parsed)
        return Fail(err, QStringLiteral("Неизвестный или неполный параметр «%1»").arg(Refused(args)));
    if (m_parser.isSet(kVersion)) {
        out << ToolVersionText() << Qt::endl;
        return 0;
    }
    return std::nullopt;
}

int CommandLine::Fail(QTextStream& err, const QString& problem) const
{
    const QString tool =
        m_command.Name.isEmpty() ? QStringLiteral("kvendar-data") : QStringLiteral("kvendar-data ") + m_command.Name;
    err << tool << QStringLiteral(": ") << problem << Qt::endl
        << Usage() << Qt::endl
        << QStringLiteral("Подробнее: %1 --help").arg(tool) << Qt::endl;
    return 2;
}

QString CommandLine::Usage() const
{
    QString usage = QStringLiteral("Использование: kvendar-data");
    if (!m_command.Name.isEmpty())
        usage += u' ' + m_command.Name;
    for (const ToolOption& option : m_command.Options)
        usage += QStringLiteral(" [--") + option.Name +
                 (option.ValueName.isEmpty() ? QString() : u' ' + option.ValueName) + u']';
    if (!m_command.Arguments.isEmpty())
        usage += u' ' + m_command.Arguments;
    return usage;
}

QString CommandLine::Help() const
{
    QString help = Usage() + u'\n' + m_command.Description + u'\n';
    help += QStringLiteral("\nПараметры:\n");
    for (const ToolOption& option : m_options) {
        help += QStringLiteral("  ") + Spelled(option) + u'\n';
        for (const QString& line : option.Help.split(u'\n'))
            help += QStringLiteral("      ") + line + u'\n';
    }
    const bool values = std::any_of(m_options.begin(), m_options.end(),
                                    [](const ToolOption& option) { return !option.ValueName.isEmpty(); });
    if (values)
        help += QStringLiteral("\nЗначение пишется после параметра через пробел или через «=» (--format xlsx или "
                               "--format=xlsx);\nу повторённого параметра действует последнее значение; после «--» "
                               "параметров нет.\n");
    help += QStringLiteral("\nКоды выхода:\n");
    for (const ToolStatus& status : m_command.Statuses)
        help += QStringLiteral("  %1  %2\n").arg(status.Code).arg(status.Meaning);
    return help;
}

const ToolOption* CommandLine::Find(const QString& name) const
{
    for (const ToolOption& option : m_options) {
        if (option.Name == name)
            return &option;
    }
    return nullptr;
}

QString CommandLine::Refused(const QStringList& args) const
{
    // The parser says what it refused only in English, so the argument is found again here by the
    // parser's own rules.
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == u"--")
            break;
        if (!arg.startsWith(u'-') || arg == u"-")
            continue;
        if (!arg.startsWith(QStringLiteral("--"))) {
            for (qsizetype c = 1; c < arg.size(); ++c) {
                if (arg[c] != u'h')
                    return arg;
            }
            continue;
        }
        const qsizetype equals = arg.indexOf(u'=');
        const ToolOption* option = Find(arg.mid(2, equals < 0 ? -1 : equals - 2));
        if (!option)
            return arg;
        const bool takesValue = !option->ValueName.isEmpty();
        if (!takesValue && equals >= 0)
            return arg;
        if (takesValue && equals < 0) {
            if (i + 1 == args.size())
                return arg;
            ++i;
        }
    }
    return m_parser.errorText();
}

ToolOption FormatOption(const QString& help)
{
    return {QStringLiteral("format"), QStringLiteral("csv|xlsx|sav"), help};
}

std::optional<ExportFormat> ReadFormat(const CommandLine& line, QTextStream& err)
{
    const QString name =
        line.IsSet(QStringLiteral("format")) ? line.Value(QStringLiteral("format")) : QStringLiteral("csv");
    const std::optional<ExportFormat> format = ExportFormatNamed(name);
    if (!format)
        line.Fail(err, QStringLiteral("Неизвестный формат «%1»: допустимы csv, xlsx, sav").arg(name));
    return format;
}

bool DataFolderExists(const QString& dataDir, QTextStream& err)
{
    const QFileInfo info(dataDir);
    if (info.isDir())
        return true;
    // A file named where the folder is expected is another mistake than a folder that is not there.
    if (info.exists())
        err << QStringLiteral("Это не папка данных, а файл: %1. Укажите папку, в которой лежат tests.dat и values.dat.")
                   .arg(QDir::toNativeSeparators(dataDir))
            << Qt::endl;
    else
        err << QStringLiteral("Папка данных не найдена: %1").arg(QDir::toNativeSeparators(dataDir)) << Qt::endl;
    return false;
}

} // namespace kv

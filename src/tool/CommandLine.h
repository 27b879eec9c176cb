#pragma once

#include "core/exchange/Export.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>
#include <vector>

namespace kv {

struct ToolOption
{
    QString Name;      // the long name, without its dashes
    QString ValueName; // what its value is called in the help; empty for a switch
    QString Help;      // what it does, lines separated by '\n'
};

struct ToolStatus
{
    int Code;
    QString Meaning;
};

// One subcommand of kvendar-data as its usage line, its help and its parsing all know it.
struct ToolCommand
{
    QString Name;        // empty for the tool itself, whose first argument names the subcommand
    QString Arguments;   // the positional arguments, as the usage line names them
    QString Summary;     // its line in the list of commands
    QString Description; // the help's words on what it does and on its arguments, lines separated by '\n'
    std::vector<ToolOption> Options;
    std::vector<ToolStatus> Statuses;
};

// "kvendar-data 1.0"
QString ToolVersionText();

// The command line of one subcommand, read by the same rules for every one of them: a value follows
// its option as the next argument or after '=', a repeated option takes its last value, "--" ends
// the options, and -h/--help and --version are understood everywhere.
class CommandLine final
{
public:
    // With an empty name the line is the tool's own: the options end at the first argument that is
    // not one, which names the subcommand and leads its arguments.
    explicit CommandLine(ToolCommand command);

    // Reads args (the arguments after the subcommand's name). Returns the exit status when the run
    // ends here: 0 after the help or the version (written to out), 2 after an option that is unknown
    // or lacks its value (told on err); nullopt when the command is to run.
    std::optional<int> Parse(const QStringList& args, QTextStream& out, QTextStream& err);

    bool IsSet(const QString& name) const { return m_parser.isSet(name); }
    // The value given last.
    QString Value(const QString& name) const { return m_parser.value(name); }
    QStringList Positional() const { return m_parser.positionalArguments(); }

    // Tells err what is wrong with the arguments and how the command is used; returns 2.
    int Fail(QTextStream& err, const QString& problem) const;

    // "Использование: kvendar-data export [--format csv|xlsx|sav] [--tests СПИСОК] ПАПКА_ДАННЫХ ВЫВОД"
    QString Usage() const;
    QString Help() const;

private:
    // The argument that the parser refused, as the user wrote it.
    QString Refused(const QStringList& args) const;
    const ToolOption* Find(const QString& name) const;

    ToolCommand m_command;
    std::vector<ToolOption> m_options; // the command's and the common ones
    QCommandLineParser m_parser;
};

// The --format option of every subcommand that writes tables.
ToolOption FormatOption(const QString& help);
// The format the line names (csv when none); nullopt after telling err why the name is refused.
std::optional<ExportFormat> ReadFormat(const CommandLine& line, QTextStream& err);
// Whether dataDir is a folder; tells err when it is not.
bool DataFolderExists(const QString& dataDir, QTextStream& err);

} // namespace kv

// The data tool: a researcher's way to get the database out of the program and to look after it,
// one subcommand per job. The work itself lives in core, the command line in this folder.
#include "core/platform/ProcessSignals.h"
#include "tool/Commands.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // A file-size limit met by a merge must fail the write, which the merge then undoes, rather
    // than kill the tool between two writes.
    kv::IgnoreFileSizeSignal();
    QTextStream out(stdout);
    QTextStream err(stderr);
    return kv::RunDataTool(app.arguments().mid(1), out, err);
}

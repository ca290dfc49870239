// The command-line tool proper, in a library of its own that the small nvlogo-cli program
// loads only when a command runs: the help needs none of it, and starts at once.
#include "dispatch.h"
#include "terminal.h"

#include <QCoreApplication>

extern "C" __attribute__((visibility("default"))) int nvlogo_cli_main(int argc, char *argv[])
{
    // Pictures are decoded and drawn in memory; no display is needed.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nvlogo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NVLOGO_VERSION));
    Cli::stopOnTerminationSignals();
    // Arguments keep the bytes of a file name that is not valid text.
    QList<QByteArray> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    return Cli::runBytes(arguments);
}

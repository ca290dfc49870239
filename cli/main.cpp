#include "commands.h"
#include "consoledialogs.h"
#include "filenamebytes.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // Pictures are decoded and drawn in memory; no display is needed.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nvlogo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NVLOGO_VERSION));
    Cli::stopOnTerminationSignals();
    return Cli::run(Cli::argumentsKeepingFileNames(argc, argv));
}

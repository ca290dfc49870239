#include "frmcuttest.h"
#include "terminationsignals.h"

#include <controls/windowstart.h>
#include <printer/poslibrary.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    // Answered before any display is needed.
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            std::fputs("Usage: nvlogo [Qt options]\n\nStores pictures as NV images in an ESC/POS "
                       "receipt printer and test-prints them.\nThe window has no options of its "
                       "own; see nvlogo(1), and nvlogo-cli for the command line.\n\n"
                       "  -h, --help   show this help\n  --version    show the version\n",
                       stdout);
            return EXIT_SUCCESS;
        }
        if (argument == "--version") {
            std::printf("nvlogo %s\n", NVLOGO_VERSION);
            return EXIT_SUCCESS;
        }
    }
    if (!Controls::checkDisplay("nvlogo"))
        return EXIT_FAILURE;

    Controls::doWithoutAutostartedSessionBus();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("nvlogo"));
    QApplication::setApplicationVersion(QStringLiteral(NVLOGO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("nvlogo"));

    Printer::PosLibrary library(Printer::PosLibrary::defaultFileName());
    App::FrmCutTest window(library);
    App::TerminationSignals terminations;
    QObject::connect(&terminations,
                     &App::TerminationSignals::terminationRequested,
                     &window,
                     &App::FrmCutTest::endForSignal);
    terminations.install();
    window.show();
    return app.exec();
}

#include "frmcuttest.h"
#include "terminationsignals.h"

#include <poslibrary.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Without this, the platform plugin aborts with a message that names neither the
// program nor the cure.
bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
           || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char *argv[])
{
    if (!haveDisplay()) {
        std::fputs("nvlogo needs a graphical display, but neither DISPLAY nor WAYLAND_DISPLAY is "
                   "set.\nStart it from a desktop session, or with ssh -X, or under xvfb-run.\n",
                   stderr);
        return EXIT_FAILURE;
    }

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

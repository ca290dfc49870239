#include "frmcuttest.h"
#include "terminationsignals.h"

#include <printer/poslibrary.h>

#include <QApplication>
#include <QFile>

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

// Without a session bus, Qt's desktop integration would have one started for the display
// (a daemon that outlives the program) and wait for it. A program started outside a desktop
// session does without.
void doWithoutAutostartedSessionBus()
{
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFile::exists(QFile::decodeName(runtime + "/bus")))
        return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
}

} // namespace

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
    if (!haveDisplay()) {
        std::fputs("nvlogo needs a graphical display, but neither DISPLAY nor WAYLAND_DISPLAY is "
                   "set.\nStart it from a desktop session, or with ssh -X, or under xvfb-run.\n",
                   stderr);
        return EXIT_FAILURE;
    }

    doWithoutAutostartedSessionBus();
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

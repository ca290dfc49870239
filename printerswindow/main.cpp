#include "window.h"

#include <controls/windowstart.h>
#include <printer/poslibrary.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

const char Help[] = R"(Usage: nvlogo-printers [--targets FILE] [--timeout SECONDS] [Qt options]

Receipt printers: their state at a glance, the logos they hold, test prints and logos
stored by key, on many printers at once. See nvlogo-printers(1).

  --targets FILE      the printers of a targets file, one a line, as nvlogo-cli reads it
                      (default: the file of the last session)
  --timeout SECONDS   how long a printer may take to answer a status question (default 5)
  -h, --help          show this help
  --version           show the version
)";

int usageError(const QString &message)
{
    std::fprintf(
            stderr, "nvlogo-printers: %s\nTry 'nvlogo-printers --help'.\n", qPrintable(message));
    return 2;
}

// The options after Qt's own: false after a usage error (code set).
bool readOptions(QCommandLineParser &parser, std::chrono::milliseconds &timeout, int &code)
{
    parser.addOption({QStringLiteral("targets"), QString(), QStringLiteral("file")});
    parser.addOption({QStringLiteral("timeout"), QString(), QStringLiteral("seconds")});
    if (!parser.parse(QApplication::arguments())) {
        code = usageError(parser.errorText());
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        code = usageError(QStringLiteral("unexpected argument '%1'.")
                                  .arg(parser.positionalArguments().constFirst()));
        return false;
    }
    if (!parser.isSet(QStringLiteral("timeout")))
        return true;
    bool ok = false;
    const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > 3600) {
        code = usageError(QStringLiteral("--timeout takes seconds from above 0 to 3600."));
        return false;
    }
    timeout = std::chrono::milliseconds(qRound64(seconds * 1000));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // Answered before any display is needed.
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h") {
            std::fputs(Help, stdout);
            return EXIT_SUCCESS;
        }
        if (argument == "--version") {
            std::printf("nvlogo-printers %s\n", NVLOGO_VERSION);
            return EXIT_SUCCESS;
        }
    }
    if (!Controls::checkDisplay("nvlogo-printers"))
        return EXIT_FAILURE;

    Controls::doWithoutAutostartedSessionBus();
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("nvlogo"));
    QApplication::setApplicationName(QStringLiteral("nvlogo-printers"));
    QApplication::setApplicationDisplayName(QStringLiteral("Receipt printers"));
    QApplication::setApplicationVersion(QStringLiteral(NVLOGO_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("nvlogo-printers"));

    QCommandLineParser parser;
    std::chrono::milliseconds timeout{5000};
    int code = EXIT_SUCCESS;
    if (!readOptions(parser, timeout, code))
        return code;

    Printer::PosLibrary library(Printer::PosLibrary::defaultFileName());
    PrintersWindow::Window window(library);
    window.setStatusTimeout(timeout);
    if (parser.isSet(QStringLiteral("targets"))) {
        const auto opened = window.openTargets(parser.value(QStringLiteral("targets")));
        if (!opened.ok()) {
            std::fprintf(stderr, "nvlogo-printers: %s\n", qPrintable(opened.failure().reason));
            return EXIT_FAILURE;
        }
    } else {
        window.openLastTargets();
    }
    window.show();
    // The window shows before the first question goes out.
    QTimer::singleShot(0, &window, &PrintersWindow::Window::startPolling);
    return app.exec();
}

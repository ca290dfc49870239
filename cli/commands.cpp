#include "commands.h"

#include "consoledialogs.h"

#include <commandstate.h>
#include <defaultaddress.h>
#include <downloadcommand.h>
#include <errors.h>
#include <installedprinters.h>
#include <messages.h>
#include <nvimagefile.h>
#include <picturesurface.h>
#include <portconnection.h>
#include <poslibrary.h>
#include <printoutcommand.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSaveFile>

#include <functional>
#include <map>

namespace Cli {

namespace {

const char GeneralHelp[] = R"(Usage: nvlogo-cli COMMAND [OPTIONS] [ARGUMENTS]

Stores pictures in an ESC/POS receipt printer's NV memory and test-prints them.

Commands:
  download PICTURE...     store the pictures as NV images 1 to n (one FS q stream)
  print N                 print NV image N and cut the paper
  stream PICTURE... -o F  write the stream a download would send, without sending it
  printers                list the installed printer queues

Run 'nvlogo-cli COMMAND --help' for a command's options.
)";

const QStringList Modes = {QStringLiteral("normal"),
                           QStringLiteral("double-width"),
                           QStringLiteral("double-height"),
                           QStringLiteral("double")};
const QStringList BaudRates = {QStringLiteral("9600"),
                               QStringLiteral("19200"),
                               QStringLiteral("38400"),
                               QStringLiteral("115200")};

struct Context
{
    std::FILE *out;
    std::FILE *err;
};

void print(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text), stream);
    std::fflush(stream);
}

int usage(const Context &c, const QString &message)
{
    print(c.err, QStringLiteral("nvlogo-cli: %1\nTry 'nvlogo-cli --help'.\n").arg(message));
    return UsageError;
}

void addPortOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("Connection: ETHERNET, COM1..COM9, LPT1..LPT3, DRIVER, or a "
                                     "typed port such as COM:/dev/ttyUSB0 (default ETHERNET)."),
                      QStringLiteral("text"),
                      QStringLiteral("ETHERNET")});
    parser.addOption({QStringLiteral("ip"),
                      QStringLiteral("The printer's address for ETHERNET, host or host:port "
                                     "(default %1).")
                              .arg(Controls::defaultPrinterAddress()),
                      QStringLiteral("address"),
                      Controls::defaultPrinterAddress()});
    parser.addOption({QStringLiteral("printer"),
                      QStringLiteral("The printer queue for DRIVER (default: the first "
                                     "installed queue)."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("baud"),
                      QStringLiteral("The serial line's speed: 9600, 19200, 38400 or 115200 "
                                     "(default 19200)."),
                      QStringLiteral("rate"),
                      QStringLiteral("19200")});
}

// Parses a subcommand's options; returns false and sets status when it is done already.
bool parse(QCommandLineParser &parser,
           const QString &command,
           const QStringList &arguments,
           const Context &c,
           int &status)
{
    parser.setApplicationDescription(QString());
    parser.addHelpOption();
    if (!parser.parse(QStringList{QStringLiteral("nvlogo-cli")} + arguments)) {
        status = usage(c, parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // The parser names the program by its path; name the command instead.
        QString help = parser.helpText();
        help.replace(0,
                     help.indexOf(QLatin1Char(' '), 7),
                     QStringLiteral("Usage: nvlogo-cli ") + command);
        print(c.out, help);
        status = Success;
        return false;
    }
    return true;
}

// The same settings the window reads from its controls, with the window's start values.
bool portSettings(const QCommandLineParser &parser,
                  Printer::PortSettings &settings,
                  const Context &c,
                  int &status)
{
    settings.portText = parser.value(QStringLiteral("port"));
    settings.ipText = parser.value(QStringLiteral("ip"));
    settings.baudText = parser.value(QStringLiteral("baud"));
    if (!BaudRates.contains(settings.baudText)) {
        status = usage(c,
                       QStringLiteral("--baud must be one of %1.")
                               .arg(BaudRates.join(QStringLiteral(", "))));
        return false;
    }
    if (parser.isSet(QStringLiteral("printer"))) {
        settings.printerName = parser.value(QStringLiteral("printer"));
    } else if (Printer::portKindOf(settings.portText) == Printer::PortKind::Driver) {
        settings.printerName = Printer::installedPrinters().value(0);
    }
    return true;
}

QString describeTarget(const Printer::PortSettings &port)
{
    switch (Printer::portKindOf(port.portText)) {
    case Printer::PortKind::Ethernet:
        return port.ipText.trimmed();
    case Printer::PortKind::Driver:
        return QStringLiteral("queue \"%1\"").arg(port.printerName);
    default:
        return port.portText;
    }
}

Printer::PosLibrary &library()
{
    static Printer::PosLibrary instance(Printer::PosLibrary::defaultFileName());
    return instance;
}

int download(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("BMP, JPEG or GIF files; they become NV images "
                                                "1 to n in this order."),
                                 QStringLiteral("PICTURE..."));
    addPortOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("download"), arguments, c, status))
        return status;
    const QStringList pictures = parser.positionalArguments();
    if (pictures.isEmpty())
        return usage(c, QStringLiteral("download needs at least one picture."));
    Printer::PortSettings port;
    if (!portSettings(parser, port, c, status))
        return status;

    ConsoleDialogs dialogs(pictures, c.err);
    const bool serial = Printer::portKindOf(port.portText) == Printer::PortKind::Serial;
    ConsoleProgress progress(describeTarget(port), serial ? port.baudText.toInt() : 0, c.err);
    NvImage::PictureSurface surface;
    App::CommandState state;
    App::Download(library(), port, dialogs, progress, surface, state);
    return dialogs.failed() ? Failure : Success;
}

int printOut(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("N"),
                                 QStringLiteral("The number of the stored NV image (1 to 255)."));
    parser.addOption({QStringLiteral("mode"),
                      QStringLiteral("Size: normal, double-width, double-height or double "
                                     "(default normal)."),
                      QStringLiteral("mode"),
                      QStringLiteral("normal")});
    addPortOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("print"), arguments, c, status))
        return status;
    if (parser.positionalArguments().size() != 1)
        return usage(c, QStringLiteral("print needs exactly one image number."));
    const int mode = int(Modes.indexOf(parser.value(QStringLiteral("mode"))));
    if (mode < 0)
        return usage(
                c,
                QStringLiteral("--mode must be one of %1.").arg(Modes.join(QStringLiteral(", "))));
    Printer::PortSettings port;
    if (!portSettings(parser, port, c, status))
        return status;

    ConsoleDialogs dialogs({}, c.err);
    App::CommandState state;
    try {
        App::PrintOut(
                library(), port, parser.positionalArguments().constFirst(), mode, dialogs, state);
    } catch (const std::exception &error) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: %1\n").arg(QString::fromUtf8(error.what())));
        return Failure;
    }
    return dialogs.failed() ? Failure : Success;
}

int stream(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("BMP, JPEG or GIF files, in NV image order."),
                                 QStringLiteral("PICTURE..."));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")},
                      QStringLiteral("Where to write the stream."),
                      QStringLiteral("file")});
    int status = Success;
    if (!parse(parser, QStringLiteral("stream"), arguments, c, status))
        return status;
    const QStringList pictures = parser.positionalArguments();
    if (pictures.isEmpty())
        return usage(c, QStringLiteral("stream needs at least one picture."));
    if (!parser.isSet(QStringLiteral("output")))
        return usage(c, QStringLiteral("stream needs -o FILE."));

    ConsoleDialogs dialogs({}, c.err);
    try {
        // The same limits as a download, so that the stream is the one a download sends.
        if (!NvImage::totalFileSizeAccepted(NvImage::totalFileSize(pictures))) {
            dialogs.showMessage(
                    App::MessageIcon::Warning, QString(), App::graphSizeOutOfRangeText());
            return Failure;
        }
        NvImage::PictureSurface surface;
        const QByteArray bytes = NvImage::buildNvImageStream(pictures, surface);
        // Written whole or not at all.
        QSaveFile file(parser.value(QStringLiteral("output")));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
            || !file.commit()) {
            dialogs.showMessage(
                    App::MessageIcon::Critical,
                    QString(),
                    QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
            return Failure;
        }
        print(c.err,
              QStringLiteral("Wrote %1 bytes (%2 NV images) to %3\n")
                      .arg(bytes.size())
                      .arg(pictures.size())
                      .arg(file.fileName()));
    } catch (const std::exception &error) {
        dialogs.showMessage(App::MessageIcon::Critical, QString(), QString::fromUtf8(error.what()));
        return Failure;
    }
    return Success;
}

int printers(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    int status = Success;
    if (!parse(parser, QStringLiteral("printers"), arguments, c, status))
        return status;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("printers takes no arguments."));
    for (const QString &name : Printer::installedPrinters())
        print(c.out, name + QLatin1Char('\n'));
    return Success;
}

} // namespace

int run(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    const Context c{out, err};
    if (arguments.isEmpty())
        return usage(c, QStringLiteral("missing command."));
    const QString command = arguments.constFirst();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        print(out, QString::fromLatin1(GeneralHelp));
        return Success;
    }
    if (command == QLatin1String("--version")) {
        print(out, QStringLiteral("nvlogo-cli %1\n").arg(QCoreApplication::applicationVersion()));
        return Success;
    }
    static const std::map<QString, std::function<int(const QStringList &, const Context &)>>
            commands = {{QStringLiteral("download"), download},
                        {QStringLiteral("print"), printOut},
                        {QStringLiteral("stream"), stream},
                        {QStringLiteral("printers"), printers}};
    const auto found = commands.find(command);
    if (found == commands.end())
        return usage(c, QStringLiteral("unknown command '%1'.").arg(command));
    return found->second(rest, c);
}

} // namespace Cli

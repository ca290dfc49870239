#include "options.h"

#include "argumentbytes.h"
#include "commands.h"

#include <commands/filenames.h>
#include <commands/settings.h>
#include <nvimage/nvimagefile.h>
#include <printer/failure.h>
#include <printer/installedprinters.h>
#include <printer/portconnection.h>
#include <printer/poslibrary.h>

#include <QCommandLineParser>
#include <QCoreApplication>

namespace Cli {

namespace {

const QStringList BaudRates = {QStringLiteral("9600"),
                               QStringLiteral("19200"),
                               QStringLiteral("38400"),
                               QStringLiteral("115200")};

} // namespace

const QStringList &baudRates()
{
    return BaudRates;
}

void print(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(Commands::displayNames(text)), stream);
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
                              .arg(Commands::defaultPrinterAddress()),
                      QStringLiteral("address"),
                      Commands::defaultPrinterAddress()});
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

void addCapacityOption(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("nv-capacity"),
                      QStringLiteral("The printer's NV memory in bytes, which the pictures' NV "
                                     "data must fit (default %1, or %2 when set).")
                              .arg(NvImage::DefaultNvCapacity)
                              .arg(QLatin1String(Commands::NvCapacityVariable)),
                      QStringLiteral("bytes")});
}

void addDitherOption(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("dither"),
                      QStringLiteral("Convert by brightness with error diffusion, for photos and "
                                     "coloured logos, instead of printing black where blue is "
                                     "dark.")});
}

NvImage::Conversion conversionOf(const QCommandLineParser &parser)
{
    return parser.isSet(QStringLiteral("dither")) ? NvImage::Conversion::Dither
                                                  : NvImage::Conversion::BlueRule;
}

// --nv-capacity, else the environment's setting.
bool nvCapacity(const QCommandLineParser &parser, qint64 &capacity, const Context &c, int &status)
{
    if (!parser.isSet(QStringLiteral("nv-capacity"))) {
        capacity = Commands::nvCapacitySetting();
        return true;
    }
    const auto value = Commands::parseNvCapacity(parser.value(QStringLiteral("nv-capacity")));
    if (!value) {
        status = usage(c,
                       QStringLiteral("--nv-capacity must be a number of bytes from %1 to %2.")
                               .arg(Commands::MinNvCapacity)
                               .arg(Commands::MaxNvCapacity));
        return false;
    }
    capacity = *value;
    return true;
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
    parser.addVersionOption();
    if (!parser.parse(QStringList{QStringLiteral("nvlogo-cli")} + arguments)) {
        status = usage(c, parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(c.out, QStringLiteral("nvlogo-cli %1\n").arg(QCoreApplication::applicationVersion()));
        status = Success;
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
    settings.portBytes = argumentBytes(settings.portText);
    if (Printer::portKindOf(settings.portText) == Printer::PortKind::Unknown) {
        status = usage(c,
                       QStringLiteral("unknown port '%1': use ETHERNET, COM1..COM9, LPT1..LPT3, "
                                      "DRIVER, or a device as COM:/path or LPT:/path.")
                               .arg(settings.portText));
        return false;
    }
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

Printer::PosLibrary &library()
{
    static Printer::PosLibrary instance(Printer::PosLibrary::defaultFileName());
    return instance;
}

void printFailure(const Context &c,
                  const Printer::PortSettings &port,
                  const Printer::Failure &failure)
{
    print(c.err, QStringLiteral("nvlogo-cli: error: %1\n").arg(failure.reason));
    const QString hint = Printer::failureHint(failure.kind, Printer::portKindOf(port.portText));
    if (!hint.isEmpty())
        print(c.err, QStringLiteral("nvlogo-cli: hint: %1\n").arg(hint));
}

} // namespace Cli

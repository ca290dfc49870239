#include "options.h"

#include "exitcodes.h"

#include <commands/filenames.h>
#include <commands/settings.h>
#include <nvimage/nvimagefile.h>
#include <printer/poslibrary.h>

#include <QCommandLineParser>
#include <QCoreApplication>

namespace Cli {

void print(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(Commands::displayNames(text)), stream);
    std::fflush(stream);
}

QString counted(qint64 count, const QString &one, const QString &many)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

int usage(const Context &c, const QString &message)
{
    print(c.err, QStringLiteral("nvlogo-cli: %1\nTry 'nvlogo-cli --help'.\n").arg(message));
    return ExitUsage;
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
bool nvCapacity(const QCommandLineParser &parser, qint64 &capacity, const Context &c, int &exitCode)
{
    if (!parser.isSet(QStringLiteral("nv-capacity"))) {
        capacity = Commands::nvCapacitySetting();
        return true;
    }
    const auto value = Commands::parseNvCapacity(parser.value(QStringLiteral("nv-capacity")));
    if (!value) {
        exitCode = usage(c,
                         QStringLiteral("--nv-capacity must be a number of bytes from %1 to %2.")
                                 .arg(Commands::MinNvCapacity)
                                 .arg(Commands::MaxNvCapacity));
        return false;
    }
    capacity = *value;
    return true;
}

bool timeoutOption(const QCommandLineParser &parser,
                   const QString &name,
                   std::chrono::milliseconds &timeout,
                   const Context &c,
                   int &exitCode)
{
    constexpr double MaxTimeoutSeconds = 3600;
    bool ok = false;
    const double seconds = parser.value(name).toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > MaxTimeoutSeconds) {
        exitCode = usage(c,
                         QStringLiteral("--%1 must be a number of seconds above 0, at most %2.")
                                 .arg(name)
                                 .arg(MaxTimeoutSeconds));
        return false;
    }
    timeout = std::chrono::milliseconds(qRound64(seconds * 1000));
    return true;
}

// Parses a subcommand's options; returns false and sets exitCode when it is done already.
bool parse(QCommandLineParser &parser,
           const QString &command,
           const QStringList &arguments,
           const Context &c,
           int &exitCode)
{
    parser.setApplicationDescription(QString());
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(QStringList{QStringLiteral("nvlogo-cli")} + arguments)) {
        exitCode = usage(c, parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(c.out, QStringLiteral("nvlogo-cli %1\n").arg(QCoreApplication::applicationVersion()));
        exitCode = ExitSuccess;
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // The parser names the program by its path; name the command instead.
        QString help = parser.helpText();
        help.replace(0,
                     help.indexOf(QLatin1Char(' '), 7),
                     QStringLiteral("Usage: nvlogo-cli ") + command);
        print(c.out, help);
        exitCode = ExitSuccess;
        return false;
    }
    return true;
}

Printer::PosLibrary &library()
{
    static Printer::PosLibrary instance(Printer::PosLibrary::defaultFileName());
    return instance;
}

void printFailure(const Context &c, Printer::PortKind port, const Printer::Failure &failure)
{
    print(c.err, QStringLiteral("nvlogo-cli: error: %1\n").arg(failure.reason));
    const QString hint = Printer::failureHint(failure.kind, port);
    if (!hint.isEmpty())
        print(c.err, QStringLiteral("nvlogo-cli: hint: %1\n").arg(hint));
}

} // namespace Cli

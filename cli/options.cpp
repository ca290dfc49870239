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

void addPreparationOptions(QCommandLineParser &parser, bool withStrict)
{
    parser.addOption({QStringLiteral("paper"),
                      QStringLiteral("The paper's printable width: 58mm (384 dots), 80mm (576 "
                                     "dots) or a number of dots (default 80mm). --fit and "
                                     "--center work to it; the warnings judge by it."),
                      QStringLiteral("width")});
    parser.addOption({QStringLiteral("fit"),
                      QStringLiteral("Scale each picture, keeping its proportions, to the "
                                     "paper's width.")});
    parser.addOption({QStringLiteral("center"),
                      QStringLiteral("Add white on both sides up to the paper's width, so that "
                                     "the picture prints centred.")});
    parser.addOption({QStringLiteral("threshold"),
                      QStringLiteral("Convert by brightness: a dot is black when its brightness "
                                     "is below N (0 to 255), instead of black where blue is "
                                     "dark."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("dither"),
                      QStringLiteral("Convert by brightness with error diffusion, for photos and "
                                     "coloured logos, instead of printing black where blue is "
                                     "dark.")});
    parser.addOption({QStringLiteral("invert"), QStringLiteral("Swap black and white.")});
    parser.addOption({QStringLiteral("rotate"),
                      QStringLiteral("Turn each picture clockwise: 90, 180 or 270 degrees."),
                      QStringLiteral("degrees")});
    parser.addOption({QStringLiteral("trim"),
                      QStringLiteral("Remove the white margins: the rows and columns at the "
                                     "edges whose dots would all be white.")});
    if (withStrict) {
        parser.addOption({QStringLiteral("strict"),
                          QStringLiteral("Refuse, and send nothing, when a picture deserves a "
                                         "warning (exit 1).")});
    }
}

namespace {

// A whole number from the option's text; false (exitCode set) when it is none.
bool wholeNumber(const QCommandLineParser &parser,
                 const QString &name,
                 int &value,
                 const Context &c,
                 int &exitCode)
{
    bool ok = false;
    value = parser.value(name).toInt(&ok);
    if (!ok)
        exitCode = usage(c,
                         QStringLiteral("--%1 takes a whole number, not '%2'.")
                                 .arg(name, parser.value(name)));
    return ok;
}

} // namespace

bool preparationOf(const QCommandLineParser &parser,
                   NvImage::Preparation &preparation,
                   const Context &c,
                   int &exitCode)
{
    preparation = NvImage::Preparation();
    if (parser.isSet(QStringLiteral("paper"))) {
        QString why;
        preparation.paperDots
                = NvImage::paperDotsFromText(parser.value(QStringLiteral("paper")), &why);
        if (preparation.paperDots == 0) {
            exitCode = usage(c, QStringLiteral("--paper: %1").arg(why));
            return false;
        }
    }
    preparation.fit = parser.isSet(QStringLiteral("fit"));
    preparation.center = parser.isSet(QStringLiteral("center"));
    preparation.trim = parser.isSet(QStringLiteral("trim"));
    preparation.invert = parser.isSet(QStringLiteral("invert"));
    if (parser.isSet(QStringLiteral("dither")))
        preparation.conversion = NvImage::Conversion::Dither;
    int number = 0;
    if (parser.isSet(QStringLiteral("threshold"))) {
        if (!wholeNumber(parser, QStringLiteral("threshold"), number, c, exitCode))
            return false;
        preparation.threshold = number;
    }
    if (parser.isSet(QStringLiteral("rotate"))) {
        if (!wholeNumber(parser, QStringLiteral("rotate"), number, c, exitCode))
            return false;
        preparation.rotation = number;
    }
    const QString why = NvImage::preparationError(preparation);
    if (!why.isEmpty()) {
        exitCode = usage(c, why);
        return false;
    }
    return true;
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

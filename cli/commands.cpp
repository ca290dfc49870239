#include "commands.h"

#include "argumentbytes.h"
#include "asking.h"
#include "consoledialogs.h"
#include "fleetcommands.h"
#include "generalhelp.h"
#include "graphics.h"
#include "options.h"
#include "previewoutput.h"
#include "streamoutput.h"
#include <commands/filenames.h>

#include <commands/commandstate.h>
#include <commands/downloadcommand.h>
#include <commands/messages.h>
#include <commands/printoutcommand.h>
#include <commands/settings.h>
#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>
#include <nvimage/picturepreview.h>
#include <nvimage/picturesurface.h>
#include <printer/installedprinters.h>
#include <printer/portconnection.h>
#include <printer/poslibrary.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <functional>
#include <map>

namespace Cli {

namespace {

const QStringList Modes = {QStringLiteral("normal"),
                           QStringLiteral("double-width"),
                           QStringLiteral("double-height"),
                           QStringLiteral("double")};

int download(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("BMP, JPEG, GIF or PNG files; they become NV "
                                                "images 1 to n in this order."),
                                 QStringLiteral("PICTURE..."));
    addPortOptions(parser);
    addCapacityOption(parser);
    addDitherOption(parser);
    parser.addOption({QStringLiteral("wait-ready"),
                      QStringLiteral("After the stream was delivered, wait up to this many "
                                     "seconds until the printer reports online again after its "
                                     "reset (exit 3 when it does not)."),
                      QStringLiteral("seconds")});
    addFleetOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("download"), arguments, c, status))
        return status;
    const QStringList pictures = parser.positionalArguments();
    if (pictures.isEmpty())
        return usage(c, QStringLiteral("download needs at least one picture."));
    FleetOptions fleet;
    if (!fleetOptions(parser, fleet, c, status))
        return status;
    Printer::PortSettings port;
    if (fleet.targets.isEmpty() && !portSettings(parser, port, c, status))
        return status;
    qint64 capacity = 0;
    if (!nvCapacity(parser, capacity, c, status))
        return status;
    std::chrono::milliseconds waitReady{};
    if (parser.isSet(QStringLiteral("wait-ready"))
        && !timeoutOption(parser, QStringLiteral("wait-ready"), waitReady, c, status))
        return status;
    if (isFleet(fleet, port)) {
        return downloadToMany(pictures, capacity, conversionOf(parser), waitReady, fleet, c);
    }
    port = fleet.targets.value(0, port);

    ConsoleDialogs dialogs(pictures, c.err);
    ConsoleProgress progress(Commands::describeTarget(port), Commands::serialBaudRate(port), c.err);
    NvImage::PictureSurface surface;
    Commands::CommandState state;
    Commands::DownloadOptions options;
    options.nvCapacity = capacity;
    options.conversion = conversionOf(parser);
    const Commands::Outcome outcome
            = Commands::Download(library(), port, dialogs, surface, state, options, &progress);
    if (!outcome.succeeded())
        return Failure;
    if (waitReady.count() > 0 && outcome.result == Commands::Outcome::Result::Delivered)
        return waitReadyAfterDownload(port, waitReady, c);
    return Success;
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
    parser.addOption({QStringLiteral("confirm"),
                      QStringLiteral("Ask the printer first and print only when it is ready; "
                                     "then wait until it reports the print-out done (exit 3 "
                                     "when it is not ready or does not confirm).")});
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("With --confirm: how long to wait for each answer, in "
                                     "seconds (default 10)."),
                      QStringLiteral("seconds"),
                      QStringLiteral("10")});
    addPortOptions(parser);
    addFleetOptions(parser);
    int status = Success;
    if (!parse(parser, QStringLiteral("print"), arguments, c, status))
        return status;
    if (parser.positionalArguments().size() != 1)
        return usage(c, QStringLiteral("print needs exactly one image number."));
    // Only plain numbers: the window's list holds nothing else, and "abc" would print image 0.
    const QString number = parser.positionalArguments().constFirst();
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,3}$"));
    if (!decimal.match(number).hasMatch() || number.toInt() < 1 || number.toInt() > 255)
        return usage(c,
                     QStringLiteral("the image number must be a whole number from 1 to 255, "
                                    "not '%1'.")
                             .arg(number));
    const int mode = int(Modes.indexOf(parser.value(QStringLiteral("mode"))));
    if (mode < 0)
        return usage(
                c,
                QStringLiteral("--mode must be one of %1.").arg(Modes.join(QStringLiteral(", "))));
    FleetOptions fleet;
    if (!fleetOptions(parser, fleet, c, status))
        return status;
    Printer::PortSettings port;
    if (fleet.targets.isEmpty() && !portSettings(parser, port, c, status))
        return status;
    const bool confirm = parser.isSet(QStringLiteral("confirm"));
    std::chrono::milliseconds timeout{};
    if (confirm && !timeoutOption(parser, QStringLiteral("timeout"), timeout, c, status))
        return status;
    if (isFleet(fleet, port))
        return printToMany(Commands::printOutBytes(number, mode), confirm, timeout, fleet, c);
    port = fleet.targets.value(0, port);
    if (confirm)
        return printConfirmedOut(port, Commands::printOutBytes(number, mode), timeout, c);

    ConsoleDialogs dialogs({}, c.err);
    // Eight bytes: nothing to watch, but a termination signal still stops the command.
    ConsoleProgress progress(
            Commands::describeTarget(port), Commands::serialBaudRate(port), c.err, false);
    Commands::CommandState state;
    try {
        const Commands::Outcome outcome
                = Commands::PrintOut(library(), port, number, mode, state, &progress);
        dialogs.show(outcome);
        return outcome.succeeded() ? Success : Failure;
    } catch (const std::exception &error) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: %1\n").arg(QString::fromUtf8(error.what())));
        return Failure;
    }
}

// What stream and preview take: pictures in NV image order, -o, the NV capacity and the
// conversion.
struct PictureArguments
{
    QStringList pictures;
    QString output;
    qint64 capacity = 0;
    NvImage::Conversion conversion = NvImage::Conversion::BlueRule;
};

bool parsePictureArguments(const QString &command,
                           const QString &outputHelp,
                           const QString &outputName,
                           const QStringList &arguments,
                           const Context &c,
                           PictureArguments &parsed,
                           int &status)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("BMP, JPEG, GIF or PNG files, in NV image order."),
                                 QStringLiteral("PICTURE..."));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, outputHelp, outputName});
    addCapacityOption(parser);
    addDitherOption(parser);
    if (!parse(parser, command, arguments, c, status))
        return false;
    parsed.pictures = parser.positionalArguments();
    if (parsed.pictures.isEmpty()) {
        status = usage(c, QStringLiteral("%1 needs at least one picture.").arg(command));
        return false;
    }
    if (!parser.isSet(QStringLiteral("output"))) {
        status = usage(c, QStringLiteral("%1 needs -o %2.").arg(command, outputName.toUpper()));
        return false;
    }
    if (!nvCapacity(parser, parsed.capacity, c, status))
        return false;
    parsed.output = parser.value(QStringLiteral("output"));
    if (parsed.output.isEmpty()) {
        status = usage(c, QStringLiteral("-o needs a name; an empty one names nothing."));
        return false;
    }
    parsed.conversion = conversionOf(parser);
    return true;
}

int stream(const QStringList &arguments, const Context &c)
{
    PictureArguments parsed;
    int status = Success;
    if (!parsePictureArguments(QStringLiteral("stream"),
                               QStringLiteral("Where to write the stream."),
                               QStringLiteral("file"),
                               arguments,
                               c,
                               parsed,
                               status))
        return status;

    ConsoleDialogs dialogs({}, c.err);
    try {
        // The same limits as a download, so that the stream is the one a download sends.
        const qint32 total = NvImage::totalFileSize(parsed.pictures);
        if (!NvImage::totalFileSizeAccepted(total)) {
            dialogs.showMessage(Commands::MessageIcon::Warning,
                                QString(),
                                Commands::graphSizeOutOfRangeText(),
                                Commands::fileSizeDetails(total));
            return Failure;
        }
        NvImage::PictureSurface surface;
        NvImage::ImageSize size;
        const QByteArray bytes = NvImage::buildNvImageStream(
                parsed.pictures, surface, size, parsed.capacity, parsed.conversion);
        const QString error = writeStreamOutput(argumentBytes(parsed.output), bytes);
        if (!error.isEmpty()) {
            dialogs.showMessage(Commands::MessageIcon::Critical,
                                QString(),
                                QStringLiteral("Cannot write %1: %2").arg(parsed.output, error));
            return Failure;
        }
        print(c.err,
              QStringLiteral("Wrote %1 bytes (%2 NV images) to %3\n")
                      .arg(bytes.size())
                      .arg(parsed.pictures.size())
                      .arg(parsed.output));
    } catch (const NvImage::NvCapacityError &error) {
        dialogs.showMessage(Commands::MessageIcon::Warning,
                            QString(),
                            Commands::graphSizeOutOfRangeText(),
                            Commands::capacityDetails(error));
        return Failure;
    } catch (const std::exception &error) {
        dialogs.showMessage(
                Commands::MessageIcon::Critical, QString(), QString::fromUtf8(error.what()));
        return Failure;
    }
    return Success;
}

// Writes one picture as stored to <number>.png in the folder and prints its facts and
// warnings. Adds its record's bytes to the definition; false when it could not be shown.
bool previewOne(const QString &picture,
                const QString &name,
                PreviewFolder &folder,
                const PictureArguments &parsed,
                const Context &c,
                qint64 &definition)
{
    try {
        const NvImage::PicturePreview shown
                = NvImage::previewPicture(picture, parsed.conversion, Qt::white, parsed.capacity);
        definition += shown.recordBytes;
        const QString error = folder.write(name, shown.dots);
        if (!error.isEmpty()) {
            print(c.err,
                  QStringLiteral("nvlogo-cli: error: cannot write %1: %2\n")
                          .arg(QDir(parsed.output).filePath(name), error));
            return false;
        }
        print(c.out,
              QStringLiteral("%1: %2: %3 x %4 dots (%5 x %6 mm), %7 bytes\n")
                      .arg(name, picture)
                      .arg(shown.sizeDots.width())
                      .arg(shown.sizeDots.height())
                      .arg(shown.sizeMm.width(), 0, 'f', 1)
                      .arg(shown.sizeMm.height(), 0, 'f', 1)
                      .arg(shown.recordBytes));
        for (const QString &warning : shown.warnings)
            print(c.out, QStringLiteral("%1: warning: %2\n").arg(name, warning));
        return true;
    } catch (const std::exception &error) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: %1: %2\n")
                      .arg(picture, QString::fromUtf8(error.what())));
        return false;
    }
}

// The selection's totals, and what a download of the same pictures would refuse.
void printPreviewTotals(
        qsizetype pictures, qint64 definition, qint64 onDisk, qint64 capacity, const Context &c)
{
    print(c.out,
          QStringLiteral("Together: %1 pictures, %2 bytes to send.\n")
                  .arg(pictures)
                  .arg(5 + definition));
    if (onDisk >= NvImage::TotalFileSizeLimit) {
        print(c.out,
              QStringLiteral("warning: the files take %1 bytes on disk; a download needs fewer "
                             "than %2.\n")
                      .arg(onDisk)
                      .arg(NvImage::TotalFileSizeLimit));
    }
    if (definition > capacity) {
        print(c.out,
              QStringLiteral("warning: the pictures need %1 bytes of NV memory; the printer holds "
                             "%2.\n")
                      .arg(definition)
                      .arg(capacity));
    }
}

int preview(const QStringList &arguments, const Context &c)
{
    PictureArguments parsed;
    int status = Success;
    if (!parsePictureArguments(
                QStringLiteral("preview"),
                QStringLiteral("The folder for the pictures as stored: 1.png, 2.png, ..."),
                QStringLiteral("folder"),
                arguments,
                c,
                parsed,
                status))
        return status;
    if (parsed.pictures.size() > NvImage::MaxPictures)
        return usage(c,
                     QStringLiteral("at most %1 pictures can be stored at once.")
                             .arg(NvImage::MaxPictures));

    PreviewFolder folder;
    const QString error = folder.open(argumentBytes(parsed.output));
    if (!error.isEmpty()) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: cannot use the folder %1: %2\n")
                      .arg(parsed.output, error));
        return Failure;
    }
    bool failed = false;
    qint64 definition = 0;
    qint64 onDisk = 0;
    for (qsizetype i = 0; i < parsed.pictures.size(); ++i) {
        const QString &picture = parsed.pictures.at(i);
        onDisk += QFileInfo(picture).size();
        const QString name = QStringLiteral("%1.png").arg(i + 1);
        if (!previewOne(picture, name, folder, parsed, c, definition))
            failed = true;
    }
    printPreviewTotals(parsed.pictures.size(), definition, onDisk, parsed.capacity, c);
    return failed ? Failure : Success;
}

int printers(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    int status = Success;
    if (!parse(parser, QStringLiteral("printers"), arguments, c, status))
        return status;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("printers takes no arguments."));
    const QStringList names = Printer::installedPrinters();
    if (names.isEmpty())
        print(c.err, QStringLiteral("nvlogo-cli: no printer queue is installed.\n"));
    for (const QString &name : names)
        print(c.out, name + QLatin1Char('\n'));
    return Success;
}

} // namespace

int runBytes(const QList<QByteArray> &arguments, std::FILE *out, std::FILE *err)
{
    rememberArguments(arguments);
    QStringList texts;
    for (const QByteArray &argument : arguments)
        texts.append(Commands::pathFromBytes(argument));
    return run(texts, out, err);
}

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
                        {QStringLiteral("status"), Cli::status},
                        {QStringLiteral("stream"), stream},
                        {QStringLiteral("preview"), preview},
                        {QStringLiteral("printers"), printers},
                        {QStringLiteral("graphics"), graphics}};
    const auto found = commands.find(command);
    if (found == commands.end())
        return usage(c, QStringLiteral("unknown command '%1'.").arg(command));
    return found->second(rest, c);
}

} // namespace Cli

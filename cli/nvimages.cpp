#include "nvimages.h"

#include "argumentbytes.h"
#include "consoledialogs.h"
#include "exitcodes.h"
#include "previewoutput.h"
#include "rows.h"
#include "streamoutput.h"
#include "targets.h"
#include "terminal.h"
#include "warnings.h"

#include <commands/downloadcommand.h>
#include <commands/printoutcommand.h>
#include <nvimage/nvimagefile.h>
#include <nvimage/picturepreview.h>

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace Cli {

namespace {

const QStringList Modes = {QStringLiteral("normal"),
                           QStringLiteral("double-width"),
                           QStringLiteral("double-height"),
                           QStringLiteral("double")};

// What one printer was told, as the window tells it: the delivery's message, then what a wait
// until ready found.
int finishOne(const Commands::JobRow &row, const Context &c)
{
    ConsoleDialogs dialogs(c.err);
    if (row.delivery)
        dialogs.show(*row.delivery);
    else if (!row.succeeded())
        printFailure(c, row.target.kind(), {row.failure, row.reason});
    if (row.readyAfter) {
        print(c.err,
              QStringLiteral("The printer is ready again after %1 s.\n")
                      .arg(double(row.readyAfter->count()) / 1000.0, 0, 'f', 1));
    } else if (row.delivery && row.state == Commands::JobRow::State::NotReady) {
        print(c.err, QStringLiteral("nvlogo-cli: %1\n").arg(row.reason));
    }
    return exitStatusOf({row});
}

bool downloadOptions(QCommandLineParser &parser,
                     const QStringList &arguments,
                     Commands::DownloadRequest &request,
                     std::chrono::milliseconds &waitReady,
                     const Context &c,
                     int &exitCode)
{
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("BMP, JPEG, GIF or PNG files; they become NV "
                                                "images 1 to n in this order."),
                                 QStringLiteral("PICTURE..."));
    addPortOptions(parser);
    addCapacityOption(parser);
    addPreparationOptions(parser);
    parser.addOption({QStringLiteral("wait-ready"),
                      QStringLiteral("After the stream was delivered, wait up to this many "
                                     "seconds until the printer reports online again after its "
                                     "reset (exit 3 when it does not)."),
                      QStringLiteral("seconds")});
    addManyOptions(parser);
    if (!parse(parser, QStringLiteral("download"), arguments, c, exitCode))
        return false;
    request.pictures = parser.positionalArguments();
    if (request.pictures.isEmpty()) {
        exitCode = usage(c, QStringLiteral("download needs at least one picture."));
        return false;
    }
    // A termination signal stops the pictures' work as it stops the printers.
    request.stop = terminationRequested;
    return preparationOf(parser, request.options.preparation, c, exitCode)
           && nvCapacity(parser, request.options.nvCapacity, c, exitCode)
           && (!parser.isSet(QStringLiteral("wait-ready"))
               || timeoutOption(parser, QStringLiteral("wait-ready"), waitReady, c, exitCode));
}

// The image number: only plain numbers from 1 to 255, as the window's list holds; "abc"
// would print image 0.
bool imageNumber(const QCommandLineParser &parser, QString &number, const Context &c, int &exitCode)
{
    if (parser.positionalArguments().size() != 1) {
        exitCode = usage(c, QStringLiteral("print needs exactly one image number."));
        return false;
    }
    number = parser.positionalArguments().constFirst();
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,3}$"));
    if (!decimal.match(number).hasMatch() || number.toInt() < 1 || number.toInt() > 255) {
        exitCode = usage(c,
                         QStringLiteral("the image number must be a whole number from 1 to 255, "
                                        "not '%1'.")
                                 .arg(number));
        return false;
    }
    return true;
}

void addPrintOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("N"),
                                 QStringLiteral("The number of the stored NV image (1 to 255)."));
    parser.addOption({QStringLiteral("mode"),
                      QStringLiteral("Size: normal, double-width, double-height or double "
                                     "(default normal)."),
                      QStringLiteral("mode"),
                      QStringLiteral("normal")});
    parser.addOption({
            QStringLiteral("confirm"),
            QStringLiteral("Ask the printer first and print only when it is ready; "
                           "then wait until it reports the print-out done (exit 3 "
                           "when it is not ready or does not confirm)."),
    });
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("With --confirm: how long to wait for each answer, in "
                                     "seconds (default 10)."),
                      QStringLiteral("seconds"),
                      QStringLiteral("10")});
    addPortOptions(parser);
    addManyOptions(parser);
}

// What stream and preview take: pictures in NV image order, -o, the NV capacity and the
// preparation.
struct PictureArguments
{
    QStringList pictures;
    QString output;
    qint64 capacity = 0;
    NvImage::Preparation preparation;
    bool paperNamed = false; // --paper given: warnings judge by it, not by the common papers
};

bool parsePictureArguments(const QString &command,
                           const QString &outputHelp,
                           const QString &outputName,
                           const QStringList &arguments,
                           const Context &c,
                           PictureArguments &parsed,
                           int &exitCode)
{
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("PICTURE"),
                                 QStringLiteral("BMP, JPEG, GIF or PNG files, in NV image order."),
                                 QStringLiteral("PICTURE..."));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, outputHelp, outputName});
    addCapacityOption(parser);
    addPreparationOptions(parser, false);
    if (!parse(parser, command, arguments, c, exitCode)
        || !preparationOf(parser, parsed.preparation, c, exitCode))
        return false;
    parsed.paperNamed = parser.isSet(QStringLiteral("paper"));
    parsed.pictures = parser.positionalArguments();
    if (parsed.pictures.isEmpty()) {
        exitCode = usage(c, QStringLiteral("%1 needs at least one picture.").arg(command));
        return false;
    }
    if (!parser.isSet(QStringLiteral("output"))) {
        exitCode = usage(c, QStringLiteral("%1 needs -o %2.").arg(command, outputName.toUpper()));
        return false;
    }
    if (!nvCapacity(parser, parsed.capacity, c, exitCode))
        return false;
    parsed.output = parser.value(QStringLiteral("output"));
    if (parsed.output.isEmpty()) {
        exitCode = usage(c, QStringLiteral("-o needs a name; an empty one names nothing."));
        return false;
    }
    return true;
}

} // namespace

int stream(const QStringList &arguments, const Context &c)
{
    PictureArguments parsed;
    int exitCode = ExitSuccess;
    if (!parsePictureArguments(QStringLiteral("stream"),
                               QStringLiteral("Where to write the stream."),
                               QStringLiteral("file"),
                               arguments,
                               c,
                               parsed,
                               exitCode))
        return exitCode;
    // The same checks as a download, so that the stream is the one a download sends.
    ConsoleDialogs dialogs(c.err);
    QByteArray bytes;
    const Commands::DownloadRequest request{
            parsed.pictures, {parsed.capacity, parsed.preparation}, terminationRequested};
    if (const auto refusal = Commands::buildDownloadStream(request, bytes)) {
        dialogs.show(*refusal);
        return ExitFailure;
    }
    const QString error = writeStreamOutput(argumentBytes(parsed.output), bytes);
    if (!error.isEmpty()) {
        dialogs.showMessage(Commands::MessageIcon::Critical,
                            QString(),
                            QStringLiteral("Cannot write %1: %2").arg(parsed.output, error));
        return ExitFailure;
    }
    print(c.err,
          QStringLiteral("Wrote %1 bytes (%2) to %3\n")
                  .arg(bytes.size())
                  .arg(counted(parsed.pictures.size(),
                               QStringLiteral("NV image"),
                               QStringLiteral("NV images")),
                       parsed.output));
    return ExitSuccess;
}

namespace {

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
        NvImage::WarningRules rules{std::nullopt, parsed.capacity};
        if (parsed.paperNamed)
            rules.paperDots = parsed.preparation.paperDots;
        const NvImage::PicturePreview shown = NvImage::previewPicture(
                picture, parsed.preparation, Qt::white, rules, terminationRequested);
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
        for (const NvImage::PreviewWarning warning : shown.warningKinds)
            print(c.out,
                  QStringLiteral("%1: warning: %2\n").arg(name, warningText(warning, rules)));
        return true;
    } catch (const std::exception &error) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: %1: %2\n")
                      .arg(picture, QString::fromUtf8(error.what())));
        return false;
    }
}

// The selection's totals, and what a download of the same pictures would refuse.
void printPreviewTotals(qsizetype pictures,
                        qsizetype failed,
                        qint64 definition,
                        qint64 onDisk,
                        qint64 capacity,
                        const Context &c)
{
    const QString together
            = counted(pictures, QStringLiteral("picture"), QStringLiteral("pictures"));
    if (failed > 0) {
        // A download of them would be refused: nothing would be sent.
        print(c.out,
              QStringLiteral("Together: %1, %2 of them cannot be stored; nothing to send.\n")
                      .arg(together)
                      .arg(failed));
        return;
    }
    print(c.out,
          QStringLiteral("Together: %1, %2 bytes to send.\n")
                  .arg(together)
                  .arg(NvImage::NvStreamHeaderSize + definition));
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

} // namespace

int preview(const QStringList &arguments, const Context &c)
{
    PictureArguments parsed;
    int exitCode = ExitSuccess;
    if (!parsePictureArguments(
                QStringLiteral("preview"),
                QStringLiteral("The folder for the pictures as stored: 1.png, 2.png, ..."),
                QStringLiteral("folder"),
                arguments,
                c,
                parsed,
                exitCode))
        return exitCode;
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
        return ExitFailure;
    }
    qsizetype failed = 0;
    qint64 definition = 0;
    qint64 onDisk = 0;
    for (qsizetype i = 0; i < parsed.pictures.size(); ++i) {
        if (terminationRequested()) {
            print(c.err, QStringLiteral("nvlogo-cli: stopped.\n"));
            return ExitFailure;
        }
        const QString &picture = parsed.pictures.at(i);
        onDisk += QFileInfo(picture).size();
        const QString name = QStringLiteral("%1.png").arg(i + 1);
        if (!previewOne(picture, name, folder, parsed, c, definition))
            ++failed;
    }
    printPreviewTotals(parsed.pictures.size(), failed, definition, onDisk, parsed.capacity, c);
    return failed > 0 ? ExitFailure : ExitSuccess;
}

int download(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    Commands::DownloadRequest request;
    std::chrono::milliseconds waitReady{};
    int exitCode = ExitSuccess;
    if (!downloadOptions(parser, arguments, request, waitReady, c, exitCode))
        return exitCode;
    Printers printers;
    if (!printersOf(parser, printers, c, exitCode))
        return exitCode;
    // Decoded once; every printer is sent this one buffer. What the pictures deserve a warning
    // for is said before any byte goes out.
    QByteArray stream;
    Commands::PictureWarnings warnings;
    if (const auto refusal = Commands::buildDownloadStream(request, stream, &warnings)) {
        ConsoleDialogs(c.err).show(*refusal);
        return ExitFailure;
    }
    const NvImage::WarningRules rules{request.options.preparation.paperDots,
                                      request.options.nvCapacity};
    if (printWarnings(request.pictures, warnings, rules, c)
        && parser.isSet(QStringLiteral("strict")))
        return refusedForWarnings(c);
    const auto rows
            = runOn(printers, Commands::downloadJob(stream, waitReady), stream.size(), c, true);
    if (printers.many)
        return finishMany(rows, RowKind::Delivery, printers.json, c);
    return finishOne(rows.front(), c);
}

int printOut(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    addPrintOptions(parser);
    int exitCode = ExitSuccess;
    if (!parse(parser, QStringLiteral("print"), arguments, c, exitCode))
        return exitCode;
    QString number;
    if (!imageNumber(parser, number, c, exitCode))
        return exitCode;
    const int mode = int(Modes.indexOf(parser.value(QStringLiteral("mode"))));
    if (mode < 0)
        return usage(
                c,
                QStringLiteral("--mode must be one of %1.").arg(Modes.join(QStringLiteral(", "))));
    Printers printers;
    if (!printersOf(parser, printers, c, exitCode))
        return exitCode;
    const bool confirm = parser.isSet(QStringLiteral("confirm"));
    std::chrono::milliseconds timeout{};
    if (confirm && !timeoutOption(parser, QStringLiteral("timeout"), timeout, c, exitCode))
        return exitCode;
    const QByteArray bytes = Commands::printOutBytes(number, mode);
    const auto rows = runOn(printers, Commands::printJob(bytes, confirm, timeout), 0, c);
    if (printers.many)
        return finishMany(rows, RowKind::Delivery, printers.json, c);
    if (confirm && rows.front().succeeded())
        print(c.err, QStringLiteral("Printed.\n"));
    else if (confirm && rows.front().state == Commands::JobRow::State::NotReady)
        print(c.err, QStringLiteral("nvlogo-cli: %1\n").arg(rows.front().reason));
    else
        return finishOne(rows.front(), c);
    return exitStatusOf(rows);
}

} // namespace Cli

#include "find.h"

#include "exitcodes.h"
#include "rows.h"
#include "terminal.h"

#include <commands/findprinters.h>

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace Cli {

namespace {

using Commands::FoundPrinter;

struct Output
{
    bool json = false;
    QString targetsFile; // empty: none
};

QString kindWord(Printer::PortKind kind)
{
    switch (kind) {
    case Printer::PortKind::Ethernet:
        return QStringLiteral("ETHERNET");
    case Printer::PortKind::Serial:
        return QStringLiteral("COM");
    case Printer::PortKind::Parallel:
        return QStringLiteral("LPT");
    case Printer::PortKind::Driver:
        return QStringLiteral("DRIVER");
    case Printer::PortKind::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString accessWord(Printer::Access access)
{
    switch (access) {
    case Printer::Access::Free:
        return QStringLiteral("free");
    case Printer::Access::Busy:
        return QStringLiteral("busy");
    case Printer::Access::Denied:
        return QStringLiteral("denied");
    case Printer::Access::Unknown:
        break;
    }
    return {};
}

QString noteOf(const FoundPrinter &printer)
{
    QStringList notes;
    if (!printer.info.note.isEmpty())
        notes << printer.info.note;
    if (!printer.info.sameAs.isEmpty())
        notes << QStringLiteral("the same printer as %1").arg(printer.info.sameAs);
    return notes.join(QStringLiteral("; "));
}

QString stateText(const FoundPrinter &printer)
{
    if (!printer.asked || !printer.asked->report)
        return QStringLiteral("-");
    if (printer.asked->state == Commands::JobRow::State::Done)
        return QStringLiteral("ready");
    return QStringLiteral("not ready: %1").arg(printer.asked->reason);
}

QString table(const QList<FoundPrinter> &printers)
{
    QList<QStringList> cells = {{QStringLiteral("TARGET"),
                                 QStringLiteral("SOURCE"),
                                 QStringLiteral("MODEL"),
                                 QStringLiteral("STATE"),
                                 QStringLiteral("NOTE")}};
    for (const FoundPrinter &printer : printers) {
        const Printer::PrinterInfo &info = printer.info;
        cells.append({info.target.options().join(QLatin1Char(' ')),
                      Printer::foundByName(info.source),
                      info.model.isEmpty() ? QStringLiteral("-") : info.model,
                      stateText(printer),
                      noteOf(printer)});
    }
    return alignedTable(cells, {false, false, false, false, false});
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonObject printerJson(const FoundPrinter &printer)
{
    const Printer::PrinterInfo &info = printer.info;
    QJsonObject object;
    object[QStringLiteral("target")] = info.target.line();
    object[QStringLiteral("options")] = QJsonArray::fromStringList(info.target.options());
    object[QStringLiteral("kind")] = kindWord(info.target.kind());
    object[QStringLiteral("source")] = Printer::foundByName(info.source);
    object[QStringLiteral("origin")] = textOrNull(info.origin);
    object[QStringLiteral("model")] = textOrNull(info.model);
    object[QStringLiteral("firmware")] = textOrNull(info.firmware);
    object[QStringLiteral("state")] = printer.asked && printer.asked->report
                                              ? QJsonValue(statusJson(*printer.asked))
                                              : QJsonValue(QJsonValue::Null);
    object[QStringLiteral("note")] = textOrNull(noteOf(printer));
    object[QStringLiteral("access")] = textOrNull(accessWord(info.access));
    object[QStringLiteral("same_as")] = textOrNull(info.sameAs);
    object[QStringLiteral("printer")] = printer.isPrinter();
    QJsonObject id;
    for (const auto &[key, value] : info.deviceId.fields)
        id[key] = value;
    object[QStringLiteral("device_id")]
            = id.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(id);
    return object;
}

// The printers as a targets file: each printer a line; a second way to one printer and the
// serial ports a printer may be behind as comments, to be taken in by hand.
QByteArray targetsFileText(const QList<FoundPrinter> &printers)
{
    QList<Printer::Target> lines;
    QByteArray maybe;
    for (const FoundPrinter &printer : printers) {
        const Printer::PrinterInfo &info = printer.info;
        if (printer.isPrinter() && info.sameAs.isEmpty())
            lines.append(info.target);
        else if (info.source == Printer::FoundBy::SerialPort || !info.sameAs.isEmpty())
            maybe += "# " + info.target.line().toUtf8() + "   (" + noteOf(printer).toUtf8() + ")\n";
    }
    QByteArray text = "# Printers found by nvlogo-cli find; nvlogo-cli download, print and "
                      "status --targets read this file.\n";
    text += Printer::targetsText(lines);
    if (!maybe.isEmpty())
        text += "# Not taken in (remove the # to take one in):\n" + maybe;
    return text;
}

bool writeTargets(const QString &fileName, const QList<FoundPrinter> &printers, const Context &c)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(targetsFileText(printers)) < 0
        || !file.commit()) {
        print(c.err,
              QStringLiteral("nvlogo-cli: error: cannot write %1: %2\n")
                      .arg(fileName, file.errorString()));
        return false;
    }
    return true;
}

// The scan's progress on a terminal, redrawn in place.
class ScanLine
{
public:
    explicit ScanLine(std::FILE *stream)
        : m_stream(isTerminal(stream) ? stream : nullptr)
    {}
    ~ScanLine() { clear(); }
    ScanLine(const ScanLine &) = delete;
    ScanLine &operator=(const ScanLine &) = delete;

    void show(const Printer::ScanProgress &now)
    {
        if (!m_stream)
            return;
        const QString line = now.done < now.total
                                     ? QStringLiteral("Scanning: %1 of %2 addresses, %3 accepted")
                                               .arg(now.done)
                                               .arg(now.total)
                                               .arg(now.accepted)
                                     : QStringLiteral("Scanned %1 addresses, %2 accepted; asking "
                                                      "them")
                                               .arg(now.total)
                                               .arg(now.accepted);
        std::fprintf(m_stream, "\r%s\033[K", qPrintable(line));
        std::fflush(m_stream);
        m_open = true;
    }
    void clear()
    {
        if (m_open)
            std::fputs("\r\033[K", m_stream);
        m_open = false;
    }

private:
    std::FILE *m_stream;
    bool m_open = false;
};

int report(const Commands::FindResult &found, const Output &output, const Context &c)
{
    for (const QString &remark : found.remarks)
        print(c.err, QStringLiteral("nvlogo-cli: %1\n").arg(remark));
    if (output.json) {
        QJsonArray array;
        for (const FoundPrinter &printer : found.printers)
            array.append(printerJson(printer));
        print(c.out, QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)));
    } else if (!found.printers.isEmpty()) {
        print(c.out, table(found.printers));
    }
    const bool any = std::any_of(found.printers.begin(),
                                 found.printers.end(),
                                 [](const FoundPrinter &printer) { return printer.isPrinter(); });
    if (terminationRequested()) {
        print(c.err, QStringLiteral("nvlogo-cli: stopped; the list is not complete.\n"));
        return ExitFailure;
    }
    if (!any) {
        print(c.err, QStringLiteral("nvlogo-cli: no printer found.\n"));
        if (!output.targetsFile.isEmpty())
            print(c.err,
                  QStringLiteral("nvlogo-cli: %1 is left as it was.\n").arg(output.targetsFile));
        return ExitNotConfirmed;
    }
    if (!output.targetsFile.isEmpty() && !writeTargets(output.targetsFile, found.printers, c))
        return ExitFailure;
    return ExitSuccess;
}

int runFind(const Commands::FindRequest &request, const Output &output, const Context &c)
{
    Commands::FindRequest asked = request;
    ScanLine line(c.err);
    asked.stopRequested = terminationRequested;
    asked.scanProgress = [&line](const Printer::ScanProgress &now) {
        line.show(now);
    };
    const Commands::FindResult found = Commands::findPrinters(library(), asked);
    line.clear();
    return report(found, output, c);
}

void addOutputOptions(QCommandLineParser &parser)
{
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Print a JSON array: one object for each printer, with "
                                     "target, kind, source, model, firmware, state and note.")});
    parser.addOption({QStringLiteral("write-targets"),
                      QStringLiteral("Also write the printers found as a targets file, which "
                                     "download, print and status take with --targets."),
                      QStringLiteral("file")});
}

Output outputOf(const QCommandLineParser &parser)
{
    return {parser.isSet(QStringLiteral("json")), parser.value(QStringLiteral("write-targets"))};
}

} // namespace

int find(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("scan"),
                      QStringLiteral("Also try the addresses named, and ask each that accepts: "
                                     "192.168.1.0/24, 10.0.0.5-10.0.0.40, host or host:port, "
                                     "or an IPv6 address (port 9100 when none is given). May be "
                                     "given more than once; at most %1 addresses a run. Nothing "
                                     "is scanned that is not named.")
                              .arg(Printer::MaxScanAddresses),
                      QStringLiteral("range")});
    parser.addOption({QStringLiteral("timeout"),
                      QStringLiteral("How long each scanned address has to accept a connection, "
                                     "and then to answer, in seconds (default 1)."),
                      QStringLiteral("seconds"),
                      QStringLiteral("1")});
    addOutputOptions(parser);
    int code = ExitSuccess;
    if (!parse(parser, QStringLiteral("find"), arguments, c, code))
        return code;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("find takes no arguments; name addresses with --scan."));
    Commands::FindRequest request;
    if (!timeoutOption(parser, QStringLiteral("timeout"), request.timeout, c, code))
        return code;
    const auto ranges = Printer::parseScanRanges(parser.values(QStringLiteral("scan")));
    if (!ranges.ok())
        return usage(c, QStringLiteral("--scan: %1.").arg(ranges.failure().reason));
    request.scan = ranges.value();
    return runFind(request, outputOf(parser), c);
}

int printers(const QStringList &arguments, const Context &c)
{
    QCommandLineParser parser;
    addOutputOptions(parser);
    int code = ExitSuccess;
    if (!parse(parser, QStringLiteral("printers"), arguments, c, code))
        return code;
    if (!parser.positionalArguments().isEmpty())
        return usage(c, QStringLiteral("printers takes no arguments."));
    Commands::FindRequest request;
    request.sources.usb = false;
    request.sources.serial = false;
    request.sources.dnsSd = false;
    return runFind(request, outputOf(parser), c);
}

} // namespace Cli

#include "receiptprinter.h"
#include "receiptprinter_p.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <chrono>

namespace VirtualPrinter {

using namespace PrinterDetail;

ReceiptPrinter::ReceiptPrinter(const PrinterSettings &settings)
    : m_settings(settings)
    , m_parser(this)
    , m_paper(settings.paperWidth)
{
    m_parser.setNvCapacity(settings.nvCapacity);
    m_log.out = [this](const QString &line) {
        if (onLog)
            onLog(line);
    };
    resetModes();
    clock = [] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count());
    };
}

qint64 ReceiptPrinter::now() const
{
    return clock ? clock() : 0;
}

void ReceiptPrinter::receive(const char *data, qsizetype size)
{
    poll();
    while (size > 0) {
        if (isResetting()) {
            // As on a printer: what arrives while it resets is lost, requests included.
            m_droppedDuringReset += size;
            return;
        }
        if (m_waitingForHandshake) {
            acceptHandshake(uchar(*data));
            ++data;
            --size;
            continue;
        }
        const qsizetype taken = m_parser.feed(data, size);
        data += taken;
        size -= taken;
    }
}

void ReceiptPrinter::endOfStream()
{
    if (m_waitingForHandshake)
        endHandshakeWait(QStringLiteral("the connection ended"));
    m_parser.finish();
    m_log.finish();
}

bool ReceiptPrinter::isResetting() const
{
    return m_resetUntil >= 0 && now() < m_resetUntil;
}

void ReceiptPrinter::poll()
{
    if (m_resetUntil >= 0) {
        const qint64 left = m_resetUntil - now();
        if (left > 0) {
            if (onTimer)
                onTimer(left);
        } else {
            m_resetUntil = -1;
            log(QStringLiteral("reset: over, ready again (%1 bytes that came during it were "
                               "dropped)")
                        .arg(m_droppedDuringReset));
            m_droppedDuringReset = 0;
        }
    }
    if (m_waitingForHandshake) {
        const qint64 left = m_handshakeDeadline - now();
        if (left > 0) {
            if (onTimer)
                onTimer(left);
        } else {
            endHandshakeWait(
                    QStringLiteral("no ACK, NAK or CAN came within %1 ms").arg(KeyListHandshakeMs));
        }
    }
}

void ReceiptPrinter::startReset()
{
    if (m_settings.resetMs <= 0)
        return;
    resetModes();
    m_line.clear();
    m_lineWidth = 0;
    m_resetUntil = now() + m_settings.resetMs;
    m_droppedDuringReset = 0;
    log(QStringLiteral("reset: %1 ms without answers or printing; bytes that come meanwhile "
                       "are dropped")
                .arg(m_settings.resetMs));
    m_parser.interrupt();
    if (onReset)
        onReset(m_settings.resetMs);
    if (onTimer)
        onTimer(m_settings.resetMs);
}

// Why the printer cannot print now; empty when it can.
QString ReceiptPrinter::notPrintingReason() const
{
    if (m_settings.coverOpen)
        return QStringLiteral("the cover is open");
    if (m_settings.paper == PaperState::End)
        return QStringLiteral("out of paper");
    if (m_settings.error != PrinterError::None)
        return errorName(m_settings.error);
    return QString();
}

QString ReceiptPrinter::stripFileName(int number)
{
    return QStringLiteral("strip-%1.png").arg(number, 4, 10, QLatin1Char('0'));
}

bool ReceiptPrinter::start(QString *error)
{
    if (!m_settings.outFolder.isEmpty()) {
        if (!prepareWritableFolder(m_settings.outFolder, error))
            return false;
        // Strips already in the folder are kept: numbering goes on after the highest one.
        static const QRegularExpression stripName(QStringLiteral("^strip-([0-9]+)\\.png$"));
        const QStringList names = QDir(m_settings.outFolder)
                                          .entryList({QStringLiteral("strip-*.png")}, QDir::Files);
        int highest = 0;
        for (const QString &name : names) {
            const QRegularExpressionMatch match = stripName.match(name);
            if (match.hasMatch())
                highest = std::max(highest, match.captured(1).toInt());
        }
        m_nextStrip = highest + 1;
    }
    if (!m_settings.stateFolder.isEmpty()) {
        if (!prepareWritableFolder(m_settings.stateFolder, error))
            return false;
        if (!m_store.load(m_settings.stateFolder, error))
            return false;
    }
    if (!m_settings.exportFolder.isEmpty()
        && !prepareWritableFolder(m_settings.exportFolder, error)) {
        return false;
    }
    return true;
}

bool ReceiptPrinter::makeDurable(const NvStore &before, QString *error)
{
    if (m_settings.stateFolder.isEmpty() || m_store.save(m_settings.stateFolder, error))
        return true;
    m_outside = true;
    m_store = before;
    // A failure after the first of the two files leaves the new one: put the old one back.
    QString again;
    if (!m_store.save(m_settings.stateFolder, &again))
        log(QStringLiteral("state: cannot put back the state as it was: %1").arg(again));
    return false;
}

void ReceiptPrinter::log(const QString &line)
{
    m_log.line(line, m_outside ? ReadableLog::Weight::Outside : ReadableLog::Weight::Command);
    m_outside = false;
}

void ReceiptPrinter::resetModes()
{
    m_style = Style();
    m_lineSpacing = DefaultLineSpacing;
    m_justification = 0;
    m_codeTable = 0;
    m_barCodeHeight = DefaultBarCodeHeight;
    m_barCodeModule = DefaultBarCodeModule;
    m_bufferGraphic = QImage();
    for (QByteArray &data : m_symbolData)
        data.clear();
    m_qrModule = DefaultQrModule;
    m_qrLevel = 0;
}

// ESC @: the modes return to their defaults and unprinted data goes; the NV memory stays.
void ReceiptPrinter::initialize(const Command &command)
{
    QString line = command.text;
    if (!m_line.isEmpty())
        line += QStringLiteral(" (unprinted text dropped: %1)").arg(quoted(lineText()));
    if (m_asbOn)
        line += QStringLiteral(" (automatic status back off)");
    m_line.clear();
    m_lineWidth = 0;
    m_asbOn = false;
    m_asbItems = 0;
    resetModes();
    log(line);
}

void ReceiptPrinter::lineFeed()
{
    if (!m_line.isEmpty()) {
        printLine();
        return;
    }
    log(QStringLiteral("LF: blank line"));
    feed(m_lineSpacing);
}

void ReceiptPrinter::command(const Command &command)
{
    using Kind = Command::Kind;
    switch (command.kind) {
    case Kind::Initialize:
        return initialize(command);
    case Kind::LineFeed:
        return lineFeed();
    case Kind::CarriageReturn:
        return log(QStringLiteral("CR: ignored"));
    case Kind::HorizontalTab:
        for (int i = m_line.size() % TabWidth; i < TabWidth; ++i)
            addGlyph(' ');
        return;
    case Kind::PrintNvImage:
        return printNvImage(command.parameter, command.secondParameter);
    case Kind::Cut:
        return cut(command);
    case Kind::Skipped:
        return m_log.line(command.text, ReadableLog::Weight::PassedOver);
    case Kind::Stray:
        return m_log.stray(command.text);
    case Kind::Truncated:
        return log(QStringLiteral("truncated: %1").arg(command.text));
    case Kind::DefinitionRejected:
        return log(QStringLiteral("FS q: rejected, %1").arg(command.text));
    case Kind::ResponseRequest:
        return answerResponseRequest(command);
    case Kind::Graphics:
        return handleGraphics(command);
    case Kind::RasterImage:
        return printRaster(command);
    case Kind::BitImage:
        return addBitImage(command);
    case Kind::BarCode:
        return printBarCode(command);
    case Kind::Symbol:
        return handleSymbol(command);
    default:
        return handleSetting(command);
    }
}

namespace {

// The command as logged: with its parameter, in hexadecimal where it holds bits.
QString settingName(const Command &command)
{
    using Kind = Command::Kind;
    if (command.kind == Kind::LineSpacing && command.parameter < 0)
        return command.text;
    if (command.kind == Kind::PrintModes || command.kind == Kind::CharacterSize) {
        return QStringLiteral("%1 0x%2")
                .arg(command.text)
                .arg(command.parameter, 2, 16, QLatin1Char('0'));
    }
    return QStringLiteral("%1 %2").arg(command.text).arg(command.parameter);
}

} // namespace

void ReceiptPrinter::handleSetting(const Command &command)
{
    using Kind = Command::Kind;
    QString effect;
    switch (command.kind) {
    case Kind::FeedLines:
    case Kind::FeedDots:
    case Kind::LineSpacing:
        effect = movePaper(command);
        break;
    case Kind::Justification:
    case Kind::CharacterSize:
    case Kind::PrintModes:
    case Kind::Emphasis:
    case Kind::Underline:
        effect = setTextMode(command);
        break;
    case Kind::StatusRequest:
        effect = answerStatusRequest(command.parameter);
        break;
    case Kind::TransmitId:
        effect = answerIdRequest(command.parameter);
        break;
    case Kind::AutoStatusBack:
        effect = setAutoStatusBack(command.parameter);
        break;
    case Kind::TransmitStatus:
        effect = answerTransmitStatus(command.parameter);
        break;
    case Kind::CodeTable:
        effect = selectCodeTable(command.parameter);
        break;
    case Kind::BarCodeHeight:
    case Kind::BarCodeWidth:
        effect = setBarCodeSize(command);
        break;
    default:
        effect = QStringLiteral("ignored");
        break;
    }
    log(QStringLiteral("%1: %2").arg(settingName(command), effect));
}

} // namespace VirtualPrinter

#include "receiptprinter.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <chrono>

namespace VirtualPrinter {

namespace {

// Line spacing after ESC @ and ESC 2, in dots (about 1/6 inch).
constexpr int DefaultLineSpacing = 30;
constexpr int TabWidth = 8;             // characters between tab stops
constexpr uchar StatusFixedBits = 0x12; // DLE EOT reply: the bits set in every reply

// GS I 1 to 3: one byte each, of the form 0xx0xxxx.
constexpr uchar ModelId = 0x20;
constexpr uchar TypeId = 0x02; // an autocutter, no two-byte characters
constexpr uchar VersionId = 0x01;

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

QString errorName(PrinterError error)
{
    switch (error) {
    case PrinterError::None:
        return QString();
    case PrinterError::Mechanical:
        return QStringLiteral("mechanical error");
    case PrinterError::Autocutter:
        return QStringLiteral("autocutter error");
    case PrinterError::Unrecoverable:
        return QStringLiteral("unrecoverable error");
    case PrinterError::AutoRecoverable:
        return QStringLiteral("auto-recoverable error");
    }
    return QString();
}

void setDot(QImage &image, int x, int y)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return;
    image.scanLine(y)[x >> 3] |= uchar(0x80 >> (x & 7));
}

bool dotAt(const QImage &image, int x, int y)
{
    return image.constScanLine(y)[x >> 3] & (0x80 >> (x & 7));
}

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Many commands take a small number n and the digit '0' + n alike: n, or -1 when the byte
// is neither for an n from 0 to highest.
int numberOrDigit(int byte, int highest)
{
    if (byte >= 0 && byte <= highest)
        return byte;
    if (byte >= '0' && byte <= '0' + highest)
        return byte - '0';
    return -1;
}

// FS p modes 0 to 3: bit 0 doubles the width, bit 1 the height.
int nvImageMode(int mode)
{
    return numberOrDigit(mode, 3);
}

QString modeName(int modeNumber)
{
    static const char *const names[] = {"normal", "double width", "double height", "double"};
    return QLatin1String(names[modeNumber]);
}

QString cutName(const Command &command)
{
    switch (command.parameter) {
    case 0:
    case 48:
    case 65:
    case 97:
    case 103:
        return QStringLiteral("full cut");
    default:
        return QStringLiteral("partial cut");
    }
}

} // namespace

ReceiptPrinter::ReceiptPrinter(const PrinterSettings &settings)
    : m_settings(settings)
    , m_parser(this)
    , m_paper(settings.paperWidth)
{
    m_parser.setNvCapacity(settings.nvCapacity);
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

bool ReceiptPrinter::reply(const QByteArray &bytes)
{
    if (!m_settings.replies)
        return false;
    if (onReply)
        onReply(bytes);
    return true;
}

// The log's account of a reply.
QString ReceiptPrinter::replied(const QByteArray &bytes)
{
    return reply(bytes) ? QStringLiteral("replied %1").arg(hexBytes(bytes))
                        : QStringLiteral("no back channel, %1 not sent").arg(hexBytes(bytes));
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

void ReceiptPrinter::log(const QString &line)
{
    if (onLog)
        onLog(line);
}

void ReceiptPrinter::resetModes()
{
    m_style = Style();
    m_lineSpacing = DefaultLineSpacing;
    m_justification = 0;
}

void ReceiptPrinter::text(const QByteArray &bytes)
{
    for (const char byte : bytes)
        addGlyph(uchar(byte));
}

void ReceiptPrinter::addGlyph(uchar byte)
{
    const int width = TextRenderer::CellWidth * m_style.widthScale;
    // A full line is printed before the character that does not fit, as a printer wraps.
    if (!m_line.isEmpty() && m_lineWidth + width > m_settings.paperWidth)
        printLine(true);
    m_line.append({byte, m_style});
    m_lineWidth += width;
}

QString ReceiptPrinter::lineText() const
{
    QByteArray bytes;
    for (const Glyph &glyph : m_line)
        bytes.append(char(glyph.byte));
    return TextRenderer::decode(bytes);
}

void ReceiptPrinter::printLine(bool wrapped, int minimumFeed)
{
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("text: %1: nothing printed, %2").arg(quoted(lineText()), why));
        m_line.clear();
        m_lineWidth = 0;
        return;
    }
    int lineHeight = 0;
    for (const Glyph &glyph : std::as_const(m_line))
        lineHeight = std::max(lineHeight, TextRenderer::CellHeight * glyph.style.heightScale);
    const int feed = minimumFeed > 0 ? minimumFeed : m_lineSpacing;
    QImage band = makePaperImage(m_settings.paperWidth, std::max(lineHeight, feed));

    int x = 0;
    if (m_justification == 1)
        x = std::max(0, (m_settings.paperWidth - m_lineWidth) / 2);
    else if (m_justification == 2)
        x = std::max(0, m_settings.paperWidth - m_lineWidth);
    for (const Glyph &glyph : std::as_const(m_line)) {
        const Style &style = glyph.style;
        const QImage cell = m_renderer.glyph(glyph.byte, style.bold);
        const int top = lineHeight - TextRenderer::CellHeight * style.heightScale;
        for (int cy = 0; cy < TextRenderer::CellHeight; ++cy) {
            const bool underline
                    = style.underline > 0 && cy >= TextRenderer::CellHeight - style.underline;
            // A 12-dot cell row is two bytes; most rows of most glyphs are blank.
            const uchar *row = cell.constScanLine(cy);
            if (!underline && row[0] == 0 && row[1] == 0)
                continue;
            for (int cx = 0; cx < TextRenderer::CellWidth; ++cx) {
                if (!underline && !dotAt(cell, cx, cy))
                    continue;
                for (int dy = 0; dy < style.heightScale; ++dy) {
                    for (int dx = 0; dx < style.widthScale; ++dx)
                        setDot(band,
                               x + cx * style.widthScale + dx,
                               top + cy * style.heightScale + dy);
                }
            }
        }
        x += TextRenderer::CellWidth * style.widthScale;
    }
    log(QStringLiteral("text: %1%2")
                .arg(quoted(lineText()), wrapped ? QStringLiteral(" (wrapped)") : QString()));
    m_line.clear();
    m_lineWidth = 0;
    printBand(band);
}

void ReceiptPrinter::printBand(const QImage &band)
{
    if (m_paper.length() + band.height() > m_settings.maxStripLength && !writeUncutStrip()) {
        // Only blank paper so far: keep as much of it as still fits with the band.
        const int blank = std::min(m_paper.length(),
                                   std::max(0, m_settings.maxStripLength - band.height()));
        m_paper.clear();
        m_paper.feed(blank);
    }
    m_paper.print(band);
}

void ReceiptPrinter::feed(int dots)
{
    if (!notPrintingReason().isEmpty())
        return;
    if (m_paper.length() + dots > m_settings.maxStripLength) {
        // Blank paper ahead of any print is dropped: what lies beyond the limit is never
        // written.
        if (!writeUncutStrip())
            m_paper.clear();
        dots = std::min(dots, m_settings.maxStripLength);
    }
    m_paper.feed(dots);
}

// Paper that reached the length limit without a cut: printed paper is written as a strip
// (true), blank paper is left to the caller (false).
bool ReceiptPrinter::writeUncutStrip()
{
    if (!m_paper.hasPrint())
        return false;
    // The length is read before writeStrip() takes the paper.
    log(QStringLiteral("paper: %1 dots without a cut -> %2")
                .arg(m_paper.length())
                .arg(writeStrip()));
    return true;
}

QString ReceiptPrinter::writeStrip()
{
    const QImage strip = m_paper.take();
    const QString name = stripFileName(m_nextStrip++);
    if (!m_settings.outFolder.isEmpty()) {
        QString error;
        if (!savePng(strip, QDir(m_settings.outFolder).filePath(name), &error)) {
            if (onStrip)
                onStrip(strip, QString());
            return QStringLiteral("%1 NOT written: %2").arg(name, error);
        }
    }
    if (onStrip)
        onStrip(strip, name);
    return name;
}

QString ReceiptPrinter::tearOff()
{
    if (!m_line.isEmpty())
        printLine();
    if (!m_paper.hasPrint())
        return QString();
    const QString name = writeStrip();
    log(QStringLiteral("paper: torn off without a cut -> %1").arg(name));
    return name;
}

void ReceiptPrinter::printNvImage(int number, int mode)
{
    const int modeNumber = nvImageMode(mode);
    if (modeNumber < 0) {
        log(QStringLiteral("FS p: image %1, mode %2 is undefined, nothing printed")
                    .arg(number)
                    .arg(mode));
        return;
    }
    const QString name = modeName(modeNumber);
    if (!m_line.isEmpty()) {
        log(QStringLiteral("FS p: image %1, %2: ignored, text waits in the line buffer (NV "
                           "images print only at the start of a line)")
                    .arg(number)
                    .arg(name));
        return;
    }
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("FS p: image %1, %2: nothing printed, %3").arg(number).arg(name, why));
        return;
    }
    const NvBitImage *image = m_store.image(number);
    if (!image) {
        log(QStringLiteral("FS p: image %1 is not defined (%2 stored), nothing printed")
                    .arg(number)
                    .arg(m_store.count()));
        return;
    }
    const int scaleX = (modeNumber & 1) ? 2 : 1;
    const int scaleY = (modeNumber & 2) ? 2 : 1;
    const int width = image->widthDots() * scaleX;
    const int height = image->heightDots() * scaleY;
    QImage band = makePaperImage(m_settings.paperWidth, height);
    const int columns = std::min(image->widthDots(), (m_settings.paperWidth + scaleX - 1) / scaleX);
    const auto *data = reinterpret_cast<const uchar *>(image->data.constData());
    for (int column = 0; column < columns; ++column) {
        const uchar *bytes = data + qsizetype(column) * image->heightUnits;
        for (int row = 0; row < image->heightDots(); ++row) {
            if (!(bytes[row / 8] & (0x80 >> (row % 8))))
                continue;
            for (int dy = 0; dy < scaleY; ++dy) {
                for (int dx = 0; dx < scaleX; ++dx)
                    setDot(band, column * scaleX + dx, row * scaleY + dy);
            }
        }
    }
    QString line = QStringLiteral("FS p: image %1, %2").arg(number).arg(name);
    if (width > m_settings.paperWidth) {
        line += QStringLiteral(" (clipped to the paper: %1 of %2 dots wide)")
                        .arg(m_settings.paperWidth)
                        .arg(width);
    }
    log(line);
    printBand(band);
}

void ReceiptPrinter::cut(const Command &command)
{
    if (!m_line.isEmpty())
        printLine();
    QString what = QStringLiteral("%1: %2").arg(command.text, cutName(command));
    if (command.secondParameter >= 0) {
        what += QStringLiteral(" (feed %1)").arg(command.secondParameter);
        feed(command.secondParameter);
    }
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(what + QStringLiteral(": nothing printed, %1; no strip").arg(why));
        return;
    }
    if (!m_paper.hasPrint()) {
        m_paper.clear();
        log(what + QStringLiteral(": nothing printed since the last cut, no strip"));
        return;
    }
    log(QStringLiteral("%1 -> %2").arg(what, writeStrip()));
}

void ReceiptPrinter::command(const Command &command)
{
    using Kind = Command::Kind;
    switch (command.kind) {
    case Kind::Initialize: {
        const QString dropped
                = m_line.isEmpty()
                          ? QString()
                          : QStringLiteral(" (unprinted text dropped: %1)").arg(quoted(lineText()));
        m_line.clear();
        m_lineWidth = 0;
        resetModes();
        log(command.text + dropped);
        break;
    }
    case Kind::LineFeed:
        if (m_line.isEmpty()) {
            log(QStringLiteral("LF: blank line"));
            feed(m_lineSpacing);
        } else {
            printLine();
        }
        break;
    case Kind::CarriageReturn:
        log(QStringLiteral("CR: ignored"));
        break;
    case Kind::HorizontalTab: {
        const int column = m_line.size();
        const int spaces = TabWidth - column % TabWidth;
        for (int i = 0; i < spaces; ++i)
            addGlyph(' ');
        break;
    }
    case Kind::PrintNvImage:
        printNvImage(command.parameter, command.secondParameter);
        break;
    case Kind::Cut:
        cut(command);
        break;
    case Kind::Skipped:
        log(QStringLiteral("skipped: %1").arg(command.text));
        break;
    case Kind::Truncated:
        log(QStringLiteral("truncated: %1").arg(command.text));
        break;
    case Kind::DefinitionRejected:
        log(QStringLiteral("FS q: rejected, %1").arg(command.text));
        break;
    case Kind::ResponseRequest:
        answerResponseRequest(command);
        break;
    case Kind::Graphics:
        handleGraphics(command);
        break;
    default:
        handleSetting(command);
        break;
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
    default:
        effect = QStringLiteral("ignored");
        break;
    }
    log(QStringLiteral("%1: %2").arg(settingName(command), effect));
}

QString ReceiptPrinter::movePaper(const Command &command)
{
    const int n = command.parameter;
    switch (command.kind) {
    case Command::Kind::FeedLines:
        if (!m_line.isEmpty()) {
            printLine();
            feed(std::max(0, n - 1) * m_lineSpacing);
        } else {
            feed(n * m_lineSpacing);
        }
        return QStringLiteral("feed %1 lines").arg(n);
    case Command::Kind::FeedDots:
        if (!m_line.isEmpty())
            printLine(false, std::max(1, n));
        else
            feed(n);
        return QStringLiteral("feed %1 dots").arg(n);
    default: // LineSpacing
        m_lineSpacing = n < 0 ? DefaultLineSpacing : n;
        return QStringLiteral("line spacing %1 dots").arg(m_lineSpacing);
    }
}

QString ReceiptPrinter::setTextMode(const Command &command)
{
    const int n = command.parameter;
    // Justification and underline: 0 to 2, or '0' to '2'.
    const int choice = numberOrDigit(n, 2);
    switch (command.kind) {
    case Command::Kind::Justification: {
        if (choice < 0)
            return QStringLiteral("undefined justification, ignored");
        m_justification = choice;
        static const char *const names[] = {"left", "centre", "right"};
        return QStringLiteral("justify %1").arg(QLatin1String(names[m_justification]));
    }
    case Command::Kind::CharacterSize: {
        const int width = (n >> 4) + 1;
        const int height = (n & 0x0F) + 1;
        if (width > 8 || height > 8)
            return QStringLiteral("undefined character size, ignored");
        m_style.widthScale = width;
        m_style.heightScale = height;
        return QStringLiteral("character size %1x%2").arg(width).arg(height);
    }
    case Command::Kind::PrintModes:
        return setPrintModes(n);
    case Command::Kind::Emphasis:
        m_style.bold = n & 0x01;
        return m_style.bold ? QStringLiteral("emphasis on") : QStringLiteral("emphasis off");
    default: // Underline
        if (choice < 0)
            return QStringLiteral("undefined underline mode, ignored");
        m_style.underline = choice;
        return m_style.underline ? QStringLiteral("underline %1 dots").arg(m_style.underline)
                                 : QStringLiteral("underline off");
    }
}

// ESC ! n: the bits set font B, emphasis, double height, double width and underline at once.
QString ReceiptPrinter::setPrintModes(int n)
{
    m_style.bold = n & 0x08;
    m_style.heightScale = (n & 0x10) ? 2 : 1;
    m_style.widthScale = (n & 0x20) ? 2 : 1;
    m_style.underline = (n & 0x80) ? 1 : 0;
    QStringList modes;
    if (n & 0x01)
        modes << QStringLiteral("font B (drawn as font A)");
    if (n & 0x08)
        modes << QStringLiteral("emphasized");
    if (n & 0x10)
        modes << QStringLiteral("double height");
    if (n & 0x20)
        modes << QStringLiteral("double width");
    if (n & 0x80)
        modes << QStringLiteral("underline");
    return modes.isEmpty() ? QStringLiteral("plain text") : modes.join(QStringLiteral(", "));
}

QString ReceiptPrinter::answerStatusRequest(int request)
{
    const bool paperEnd = m_settings.paper == PaperState::End;
    const PrinterError error = m_settings.error;
    const bool hasError = error != PrinterError::None;
    int status = StatusFixedBits;
    QStringList meaning;
    switch (request) {
    case 1:
        if (!notPrintingReason().isEmpty()) {
            status |= 0x08;
            meaning << QStringLiteral("offline");
        } else {
            meaning << QStringLiteral("online");
        }
        break;
    case 2:
        if (m_settings.coverOpen) {
            status |= 0x04;
            meaning << QStringLiteral("cover open");
        }
        if (paperEnd) {
            status |= 0x20;
            meaning << QStringLiteral("stopped at paper end");
        }
        if (hasError) {
            status |= 0x40;
            meaning << QStringLiteral("error");
        }
        break;
    case 3:
        status |= error == PrinterError::Mechanical        ? 0x04
                  : error == PrinterError::Autocutter      ? 0x08
                  : error == PrinterError::Unrecoverable   ? 0x20
                  : error == PrinterError::AutoRecoverable ? 0x40
                                                           : 0;
        if (hasError)
            meaning << errorName(error);
        break;
    case 4:
        // A roll at its end has passed the near-end sensor too.
        if (paperEnd) {
            status |= 0x6C;
            meaning << QStringLiteral("paper end");
        } else if (m_settings.paper == PaperState::NearEnd) {
            status |= 0x0C;
            meaning << QStringLiteral("paper near its end");
        }
        break;
    default:
        return QStringLiteral("undefined status request, no reply");
    }
    if (meaning.isEmpty())
        meaning << QStringLiteral("all clear");
    return QStringLiteral("status request, %1 (%2)")
            .arg(replied(QByteArray(1, char(status))), meaning.join(QStringLiteral(", ")));
}

// GS I n: 1 to 3 (or '1' to '3') one byte each; 65 to 69 a text framed by 5F and NUL.
QString ReceiptPrinter::answerIdRequest(int request)
{
    static const char *const texts[] = {"1.0", "nvlogo", "nvlogo-printer", "NVP-000001", "ANK"};
    static const char *const names[] = {"firmware", "maker", "model", "serial number", "fonts"};
    const int number = numberOrDigit(request, 3);
    if (number >= 1) {
        static const uchar ids[] = {ModelId, TypeId, VersionId};
        static const char *const idNames[] = {"model ID", "type ID", "version ID"};
        return QStringLiteral("%1, %2").arg(QLatin1String(idNames[number - 1]),
                                            replied(QByteArray(1, char(ids[number - 1]))));
    }
    if (request >= 65 && request <= 69) {
        const QByteArray text(texts[request - 65]);
        return QStringLiteral("%1 \"%2\", %3")
                .arg(QLatin1String(names[request - 65]),
                     QString::fromLatin1(text),
                     replied('\x5F' + text + '\0'));
    }
    return QStringLiteral("undefined ID request, no reply");
}

// GS ( H fn 48 m 48 d1 d2 d3 d4: the process ID comes back once everything before it has been
// printed. Bytes are processed in order, so that is now, unless the printer cannot print.
void ReceiptPrinter::answerResponseRequest(const Command &command)
{
    const QByteArray &p = command.payload;
    if (p.size() != 6 || p.at(0) != '0' || p.at(1) != '0') {
        log(QStringLiteral("skipped: GS ( H %1 (undefined response request)").arg(hexBytes(p)));
        return;
    }
    const QByteArray id = p.mid(2);
    for (const char byte : id) {
        if (uchar(byte) < 0x20 || uchar(byte) > 0x7E) {
            log(QStringLiteral("GS ( H: process ID %1 has a byte outside 20 to 7e, no reply")
                        .arg(hexBytes(id)));
            return;
        }
    }
    const QString shown = quoted(QString::fromLatin1(id));
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("GS ( H: process ID %1: nothing before it printed (%2), no reply")
                    .arg(shown, why));
        return;
    }
    log(QStringLiteral("GS ( H: process ID %1, everything before it printed, %2")
                .arg(shown, replied("\x37\x22" + id + '\0')));
}

namespace {

constexpr int KeysPerBlock = 40;
constexpr uchar Ack = 0x06;
constexpr uchar Nak = 0x15;
constexpr uchar Can = 0x18;

bool isKey(const QByteArray &key)
{
    return key.size() == 2 && uchar(key.at(0)) >= 32 && uchar(key.at(0)) <= 126
           && uchar(key.at(1)) >= 32 && uchar(key.at(1)) <= 126;
}

int word(const QByteArray &p, int at)
{
    return uchar(p.at(at)) + 256 * uchar(p.at(at + 1));
}

} // namespace

// GS ( L and GS 8 L with m = 48: the NV graphics functions. The others are passed over.
void ReceiptPrinter::handleGraphics(const Command &command)
{
    const QByteArray &p = command.payload;
    const int function = p.size() >= 2 && p.at(0) == '0' ? uchar(p.at(1)) : -1;
    const qint64 remaining
            = std::max<qint64>(0, m_settings.graphicsCapacity - m_store.graphicsUsed());
    if (function == 48 && p.size() == 2) {
        log(QStringLiteral("NV graphics: capacity %1 bytes, %2")
                    .arg(m_settings.graphicsCapacity)
                    .arg(replied("\x37\x30" + QByteArray::number(m_settings.graphicsCapacity)
                                 + '\0')));
    } else if (function == 51 && p.size() == 2) {
        log(QStringLiteral("NV graphics: %1 bytes free, %2")
                    .arg(remaining)
                    .arg(replied("\x37\x31" + QByteArray::number(remaining) + '\0')));
    } else if (function == 64 && p == "0@KC") {
        startKeyList();
    } else if (function == 65 && p == "0ACLR") {
        m_store.removeAllGraphics();
        saveNv(QStringLiteral("NV graphics: all deleted"));
    } else if (function == 66 && p.size() == 4) {
        const QByteArray key = p.mid(2);
        if (!m_store.removeGraphic(key))
            log(QStringLiteral("NV graphics: delete %1: not stored").arg(keyText(key)));
        else
            saveNv(QStringLiteral("NV graphics: deleted %1").arg(keyText(key)));
    } else if (function == 67) {
        defineGraphic(p);
    } else if (function == 69 && p.size() == 6) {
        printGraphic(p.mid(2, 2), uchar(p.at(4)), uchar(p.at(5)));
    } else {
        log(QStringLiteral("skipped: %1 %2 (%3 parameter bytes; not an NV graphics function "
                           "this printer keeps)")
                    .arg(command.text, p.isEmpty() ? QString() : codeName(uchar(p.at(0))))
                    .arg(p.size()));
    }
}

// fn 67: 30 43 30 kc1 kc2 b xL xH yL yH c d1...dk
void ReceiptPrinter::defineGraphic(const QByteArray &p)
{
    const auto refuse = [this](const QString &why) {
        log(QStringLiteral("NV graphics: define refused, %1; nothing stored").arg(why));
    };
    if (p.size() < 11 || p.at(2) != '0') {
        refuse(QStringLiteral("it is not a raster define (%1 parameter bytes)").arg(p.size()));
        return;
    }
    const QByteArray key = p.mid(3, 2);
    NvGraphic graphic;
    graphic.width = word(p, 6);
    graphic.height = word(p, 8);
    if (!isKey(key)) {
        refuse(QStringLiteral("the key %1 has a byte outside 20 to 7e")
                       .arg(QString::fromLatin1(key.toHex(' '))));
    } else if (p.at(5) != 1 || p.at(10) != 0x31) {
        refuse(QStringLiteral("%1: only one colour (b = 1, c = 49) is kept").arg(keyText(key)));
    } else if (graphic.width < 1 || graphic.width > MaxGraphicWidth || graphic.height < 1
               || graphic.height > MaxGraphicHeight) {
        refuse(QStringLiteral("%1: %2x%3 dots is outside 1 to %4 x 1 to %5")
                       .arg(keyText(key))
                       .arg(graphic.width)
                       .arg(graphic.height)
                       .arg(MaxGraphicWidth)
                       .arg(MaxGraphicHeight));
    } else if (p.size() - 11 != graphic.dataSize()) {
        refuse(QStringLiteral("%1: %2 data bytes where %3x%4 dots take %5")
                       .arg(keyText(key))
                       .arg(p.size() - 11)
                       .arg(graphic.width)
                       .arg(graphic.height)
                       .arg(graphic.dataSize()));
    } else {
        const NvGraphic *old = m_store.graphic(key);
        const qint64 free = m_settings.graphicsCapacity - m_store.graphicsUsed()
                            + (old ? old->storedSize() : 0);
        if (graphic.storedSize() > free) {
            refuse(QStringLiteral("%1 %2x%3 needs %4 bytes, %5 free")
                           .arg(keyText(key))
                           .arg(graphic.width)
                           .arg(graphic.height)
                           .arg(graphic.storedSize())
                           .arg(std::max<qint64>(0, free)));
            return;
        }
        graphic.data = p.mid(11);
        m_store.setGraphic(key, graphic);
        // As the manuals describe: NV graphics and FS q images do not live side by side.
        const bool erased = m_store.count() > 0;
        m_store.replaceAll({});
        saveNv(QStringLiteral("NV graphics: defined %1 %2x%3, %4 bytes%5")
                       .arg(keyText(key))
                       .arg(graphic.width)
                       .arg(graphic.height)
                       .arg(graphic.dataSize())
                       .arg(erased ? QStringLiteral("; FS q images erased") : QString()));
    }
}

void ReceiptPrinter::printGraphic(const QByteArray &key, int scaleX, int scaleY)
{
    const QString what = QStringLiteral("NV graphics: print %1").arg(keyText(key));
    if ((scaleX != 1 && scaleX != 2) || (scaleY != 1 && scaleY != 2)) {
        log(QStringLiteral("%1: scale %2x%3 is undefined, nothing printed")
                    .arg(what)
                    .arg(scaleX)
                    .arg(scaleY));
        return;
    }
    if (!m_line.isEmpty()) {
        log(what + QStringLiteral(": ignored, text waits in the line buffer"));
        return;
    }
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("%1: nothing printed, %2").arg(what, why));
        return;
    }
    const NvGraphic *graphic = m_store.graphic(key);
    if (!graphic) {
        log(what + QStringLiteral(": not stored, nothing printed"));
        return;
    }
    QImage band = makePaperImage(m_settings.paperWidth, graphic->height * scaleY);
    const int columns = std::min(graphic->width, (m_settings.paperWidth + scaleX - 1) / scaleX);
    for (int y = 0; y < graphic->height; ++y) {
        for (int x = 0; x < columns; ++x) {
            if (!graphic->dot(x, y))
                continue;
            for (int dy = 0; dy < scaleY; ++dy) {
                for (int dx = 0; dx < scaleX; ++dx)
                    setDot(band, x * scaleX + dx, y * scaleY + dy);
            }
        }
    }
    QString line = QStringLiteral("%1, scale %2x%3").arg(what).arg(scaleX).arg(scaleY);
    if (graphic->width * scaleX > m_settings.paperWidth)
        line += QStringLiteral(" (clipped to the paper)");
    log(line);
    printBand(band);
}

void ReceiptPrinter::saveNv(const QString &what)
{
    log(what);
    QString error;
    if (!m_settings.stateFolder.isEmpty() && !m_store.save(m_settings.stateFolder, &error))
        log(QStringLiteral("state: kept in memory only: %1").arg(error));
    QStringList written;
    if (!m_settings.exportFolder.isEmpty()
        && !m_store.exportPngs(m_settings.exportFolder, &written, &error))
        log(QStringLiteral("export: %1").arg(error));
}

// fn 64: the keys in blocks of 40, 37 72 41 ... 00 while more follow, 37 72 40 ... 00 last.
void ReceiptPrinter::startKeyList()
{
    m_keyListBlocks.clear();
    const QList<QByteArray> keys = m_store.graphics().keys();
    for (int i = 0; i == 0 || i < keys.size(); i += KeysPerBlock) {
        const bool last = i + KeysPerBlock >= keys.size();
        QByteArray block("\x37\x72");
        block.append(last ? '\x40' : '\x41');
        for (int k = i; k < std::min<int>(keys.size(), i + KeysPerBlock); ++k)
            block.append(keys.at(k));
        block.append('\0');
        m_keyListBlocks << block;
    }
    m_keyListBlock = 0;
    log(QStringLiteral("NV graphics: key list, %1 keys in %2 blocks")
                .arg(keys.size())
                .arg(m_keyListBlocks.size()));
    sendKeyListBlock();
}

void ReceiptPrinter::sendKeyListBlock()
{
    const QByteArray &block = m_keyListBlocks.at(m_keyListBlock);
    const bool more = m_keyListBlock + 1 < m_keyListBlocks.size();
    log(QStringLiteral("NV graphics: key list block %1, %2 keys, %3")
                .arg(m_keyListBlock + 1)
                .arg((block.size() - 4) / 2)
                .arg(reply(block) ? QStringLiteral("sent")
                                  : QStringLiteral("no back channel, not sent")));
    if (!more || !m_settings.replies) {
        m_keyListBlocks.clear();
        return;
    }
    // The host answers ACK, NAK or CAN; the next byte is its answer.
    m_waitingForHandshake = true;
    m_handshakeDeadline = now() + KeyListHandshakeMs;
    m_parser.interrupt();
    if (onTimer)
        onTimer(KeyListHandshakeMs);
}

void ReceiptPrinter::acceptHandshake(uchar byte)
{
    m_waitingForHandshake = false;
    switch (byte) {
    case Ack:
        ++m_keyListBlock;
        sendKeyListBlock();
        break;
    case Nak:
        sendKeyListBlock();
        break;
    case Can:
        m_keyListBlocks.clear();
        log(QStringLiteral("NV graphics: key list cancelled by the host"));
        break;
    default:
        m_keyListBlocks.clear();
        log(QStringLiteral("NV graphics: key list ended, 0x%1 came instead of ACK, NAK or CAN")
                    .arg(byte, 2, 16, QLatin1Char('0')));
        break;
    }
}

void ReceiptPrinter::endHandshakeWait(const QString &why)
{
    m_waitingForHandshake = false;
    m_keyListBlocks.clear();
    if (!why.isEmpty())
        log(QStringLiteral("NV graphics: key list given up, %1").arg(why));
}

void ReceiptPrinter::defineNvImages(const QVector<NvBitImage> &images,
                                    int declaredCount,
                                    const QString &problem)
{
    Q_UNUSED(declaredCount)
    m_store.replaceAll(images);
    QStringList sizes;
    for (const NvBitImage &image : images)
        sizes << QStringLiteral("%1x%2").arg(image.widthDots()).arg(image.heightDots());
    QString line
            = QStringLiteral("FS q: %1 %2 %3")
                      .arg(images.size())
                      .arg(images.size() == 1 ? QStringLiteral("image") : QStringLiteral("images"))
                      .arg(sizes.join(QStringLiteral(", ")));
    if (!problem.isEmpty())
        line += QStringLiteral("; %1").arg(problem);
    log(line);

    QString error;
    if (!m_settings.stateFolder.isEmpty() && !m_store.save(m_settings.stateFolder, &error))
        log(QStringLiteral("state: images kept in memory only: %1").arg(error));
    QStringList written;
    if (!m_settings.exportFolder.isEmpty()) {
        if (m_store.exportPngs(m_settings.exportFolder, &written, &error))
            log(QStringLiteral("export: %1 images -> %2")
                        .arg(written.size())
                        .arg(m_settings.exportFolder));
        else
            log(QStringLiteral("export: %1").arg(error));
    }
    startReset();
}

} // namespace VirtualPrinter

#include "receiptprinter.h"
#include "receiptprinter_p.h"

#include <QDir>
#include <QStringList>

#include <algorithm>

namespace VirtualPrinter {

using namespace PrinterDetail;

namespace {

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
    m_line.append({TextRenderer::unicodeOf(byte, m_codeTable), m_style, QImage()});
    m_lineWidth += width;
}

QString ReceiptPrinter::lineText() const
{
    QString text;
    for (const Glyph &glyph : m_line) {
        if (glyph.image.isNull())
            text += glyph.character;
    }
    return text;
}

void ReceiptPrinter::printLine(bool wrapped, int minimumFeed)
{
    int images = 0;
    int lineHeight = 0;
    for (const Glyph &glyph : std::as_const(m_line)) {
        images += glyph.image.isNull() ? 0 : 1;
        lineHeight
                = std::max(lineHeight,
                           glyph.image.isNull() ? TextRenderer::CellHeight * glyph.style.heightScale
                                                : glyph.image.height());
    }
    const QString text = lineText();
    QString what = QStringLiteral("text: %1").arg(quoted(text));
    if (images > 0) {
        const QString pictures = images == 1 ? QStringLiteral("a bit image")
                                             : QStringLiteral("%1 bit images").arg(images);
        what = text.isEmpty() ? QStringLiteral("line: %1").arg(pictures)
                              : QStringLiteral("%1 and %2").arg(what, pictures);
    }
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("%1: nothing printed, %2").arg(what, why));
        m_line.clear();
        m_lineWidth = 0;
        return;
    }
    const int feed = minimumFeed > 0 ? minimumFeed : m_lineSpacing;
    QImage band = makePaperImage(m_settings.paperWidth, std::max(lineHeight, feed));
    drawLine(&band, lineHeight);
    log(what + (wrapped ? QStringLiteral(" (wrapped)") : QString()));
    m_line.clear();
    m_lineWidth = 0;
    printBand(band);
}

// Draws the line buffer into the band, each character and bit image standing on the line's
// bottom, at the line's justification.
void ReceiptPrinter::drawLine(QImage *band, int lineHeight) const
{
    int x = 0;
    if (m_justification == 1)
        x = std::max(0, (m_settings.paperWidth - m_lineWidth) / 2);
    else if (m_justification == 2)
        x = std::max(0, m_settings.paperWidth - m_lineWidth);
    for (const Glyph &glyph : std::as_const(m_line)) {
        const Style &style = glyph.style;
        if (!glyph.image.isNull()) {
            copyDots(glyph.image, band, x, lineHeight - glyph.image.height());
            x += glyph.image.width();
            continue;
        }
        const QImage cell = m_renderer.glyph(glyph.character, style.bold);
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
                        setDot(*band,
                               x + cx * style.widthScale + dx,
                               top + cy * style.heightScale + dy);
                }
            }
        }
        x += TextRenderer::CellWidth * style.widthScale;
    }
}

void ReceiptPrinter::printBand(const QImage &band)
{
    // A band taller than a strip may be (a long raster image) goes on the paper in pieces, so
    // that every strip keeps to the limit.
    if (band.height() > m_settings.maxStripLength) {
        for (int y = 0; y < band.height(); y += m_settings.maxStripLength)
            printBand(band.copy(
                    0, y, band.width(), std::min(m_settings.maxStripLength, band.height() - y)));
        return;
    }
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
    m_outside = true;
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

// ESC t n: the character code table for the bytes 80 to FF that come after it.
QString ReceiptPrinter::selectCodeTable(int n)
{
    if (!TextRenderer::knowsTable(n)) {
        return QStringLiteral("code table %1 is not drawn here; %2 stays")
                .arg(n)
                .arg(TextRenderer::tableName(m_codeTable));
    }
    m_codeTable = n;
    return QStringLiteral("code table %1").arg(TextRenderer::tableName(n));
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

} // namespace VirtualPrinter

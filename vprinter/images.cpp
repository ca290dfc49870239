#include "receiptprinter.h"
#include "receiptprinter_p.h"

#include <algorithm>

namespace VirtualPrinter {

using namespace PrinterDetail;

namespace {

// GS v 0 m: bit 0 doubles the width, bit 1 the height.
const char *const rasterModes[] = {"normal", "double width", "double height", "quadruple"};

} // namespace

namespace PrinterDetail {

QImage rowsToImage(const char *data, int rowBytes, int width, int height)
{
    QImage image = makePaperImage(width, height);
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const uchar *>(data) + qsizetype(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            if (row[x >> 3] & (0x80 >> (x & 7)))
                setDot(image, x, y);
        }
    }
    return image;
}

QImage columnsToImage(const char *data, int width, int height)
{
    const int columnBytes = (height + 7) / 8;
    QImage image = makePaperImage(width, height);
    for (int x = 0; x < width; ++x) {
        const auto *column = reinterpret_cast<const uchar *>(data) + qsizetype(x) * columnBytes;
        for (int y = 0; y < height; ++y) {
            if (column[y >> 3] & (0x80 >> (y & 7)))
                setDot(image, x, y);
        }
    }
    return image;
}

QImage scaledDots(const QImage &image, int scaleX, int scaleY, int maxWidth)
{
    const int columns = std::min(image.width(), (std::max(0, maxWidth) + scaleX - 1) / scaleX);
    QImage scaled = makePaperImage(std::min(columns * scaleX, std::max(0, maxWidth)),
                                   image.height() * scaleY);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < columns; ++x) {
            if (!dotAt(image, x, y))
                continue;
            for (int dy = 0; dy < scaleY; ++dy) {
                for (int dx = 0; dx < scaleX; ++dx)
                    setDot(scaled, x * scaleX + dx, y * scaleY + dy);
            }
        }
    }
    return scaled;
}

} // namespace PrinterDetail

// A picture on a band of its own, placed by ESC a: raster images, the print buffer's
// graphics, bar codes and symbols. As FS p, it is ignored while text waits in the line buffer.
void ReceiptPrinter::printPicture(const QImage &picture, const QString &what)
{
    if (!m_line.isEmpty()) {
        log(what + QStringLiteral(": ignored, text waits in the line buffer"));
        return;
    }
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("%1: nothing printed, %2").arg(what, why));
        return;
    }
    const int width = m_settings.paperWidth;
    QImage band = makePaperImage(width, picture.height());
    int x = 0;
    if (m_justification == 1)
        x = std::max(0, (width - picture.width()) / 2);
    else if (m_justification == 2)
        x = std::max(0, width - picture.width());
    copyDots(picture, &band, x, 0);
    log(what);
    printBand(band);
}

// GS v 0 m xL xH yL yH d...: rows from the top, the leftmost dot in the most significant bit.
void ReceiptPrinter::printRaster(const Command &command)
{
    const QByteArray &p = command.payload;
    const int mode = numberOrDigit(uchar(p.at(0)), 3);
    const int rowBytes = word(p, 1);
    const int height = word(p, 3);
    if (mode < 0) {
        log(QStringLiteral("GS v 0: mode %1 is undefined, nothing printed").arg(uchar(p.at(0))));
        return;
    }
    if (rowBytes == 0 || height == 0) {
        log(QStringLiteral("GS v 0: an image of no dots, nothing printed"));
        return;
    }
    const int scaleX = (mode & 1) ? 2 : 1;
    const int scaleY = (mode & 2) ? 2 : 1;
    const int width = rowBytes * 8;
    // Only the columns that reach the paper are drawn.
    const int drawn = std::min(width, (m_settings.paperWidth + scaleX - 1) / scaleX);
    const QImage image = rowsToImage(p.constData() + 5, rowBytes, drawn, height);
    QString what = QStringLiteral("GS v 0: raster image %1x%2 dots, %3")
                           .arg(width)
                           .arg(height)
                           .arg(QLatin1String(rasterModes[mode]));
    if (width * scaleX > m_settings.paperWidth) {
        what += QStringLiteral(" (clipped to the paper: %1 of %2 dots wide)")
                        .arg(m_settings.paperWidth)
                        .arg(width * scaleX);
    }
    printPicture(scaledDots(image, scaleX, scaleY, m_settings.paperWidth), what);
}

// ESC * m nL nH d...: a bit image in the line buffer, printed with the line. Columns from the
// left, 1 byte (m = 0, 1) or 3 bytes (m = 32, 33) each, the top dot in the most significant bit.
// In the 8-dot modes each dot is 3 dots high; single density makes each dot 2 dots wide.
void ReceiptPrinter::addBitImage(const Command &command)
{
    const QByteArray &p = command.payload;
    const int mode = uchar(p.at(0));
    const int columns = word(p, 1);
    const int dots = mode < 32 ? 8 : 24;
    const int scaleX = (mode == 0 || mode == 32) ? 2 : 1;
    const int scaleY = mode < 32 ? 3 : 1;
    const int room = m_settings.paperWidth - m_lineWidth;
    QString what = QStringLiteral("ESC * %1: bit image, %2 columns of %3 dots, %4 density")
                           .arg(mode)
                           .arg(columns)
                           .arg(dots)
                           .arg(scaleX == 2 ? QStringLiteral("single") : QStringLiteral("double"));
    if (columns == 0 || room <= 0) {
        log(what
            + (columns == 0 ? QStringLiteral(", nothing to print")
                            : QStringLiteral(", ignored: the line is full")));
        return;
    }
    const int drawn = std::min(columns, (room + scaleX - 1) / scaleX);
    const QImage image
            = scaledDots(columnsToImage(p.constData() + 3, drawn, dots), scaleX, scaleY, room);
    if (columns * scaleX > room)
        what += QStringLiteral(" (clipped to the line: %1 of %2 dots)")
                        .arg(room)
                        .arg(columns * scaleX);
    m_line.append({QChar(), m_style, image});
    m_lineWidth += image.width();
    log(what);
}

} // namespace VirtualPrinter

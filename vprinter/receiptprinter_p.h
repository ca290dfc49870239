#pragma once

// What the parts of the receipt printer (printing, NV images, replies, NV graphics) share; not
// for use outside vprinter/.

#include "receiptprinter.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace VirtualPrinter::PrinterDetail {

// Line spacing after ESC @ and ESC 2, in dots (about 1/6 inch).
constexpr int DefaultLineSpacing = 30;
constexpr int TabWidth = 8; // characters between tab stops
// GS h and GS w after ESC @: the bar code height in dots and the module width.
constexpr int DefaultBarCodeHeight = 162;
constexpr int DefaultBarCodeModule = 3;
// GS ( k: a QR code's module size after ESC @.
constexpr int DefaultQrModule = 3;

// A little-endian word of a payload.
inline int word(const QByteArray &p, int at)
{
    return uchar(p.at(at)) + 256 * uchar(p.at(at + 1));
}

inline QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

inline QString errorName(PrinterError error)
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

inline void setDot(QImage &image, int x, int y)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return;
    image.scanLine(y)[x >> 3] |= uchar(0x80 >> (x & 7));
}

// Sets the black dots of `dots` in `band` with their top left at x, y; what falls outside is
// clipped.
inline void copyDots(const QImage &dots, QImage *band, int x, int y)
{
    for (int row = 0; row < dots.height(); ++row) {
        const uchar *line = dots.constScanLine(row);
        for (int column = 0; column < dots.width(); ++column) {
            if (line[column >> 3] & (0x80 >> (column & 7)))
                setDot(*band, x + column, y + row);
        }
    }
}

inline bool dotAt(const QImage &image, int x, int y)
{
    return image.constScanLine(y)[x >> 3] & (0x80 >> (x & 7));
}

inline QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Many commands take a small number n and the digit '0' + n alike: n, or -1 when the byte
// is neither for an n from 0 to highest.
inline int numberOrDigit(int byte, int highest)
{
    if (byte >= 0 && byte <= highest)
        return byte;
    if (byte >= '0' && byte <= '0' + highest)
        return byte - '0';
    return -1;
}

// One-bit pictures (black dots set) from the layouts of the image commands: rows from the top,
// the leftmost dot in the most significant bit; or columns from the left, ceil(height / 8)
// bytes each, the top dot in the most significant bit.
QImage rowsToImage(const char *data, int rowBytes, int width, int height);
QImage columnsToImage(const char *data, int width, int height);
// Each dot scaleX wide and scaleY high; at most maxWidth dots wide, the rest clipped.
QImage scaledDots(const QImage &image, int scaleX, int scaleY, int maxWidth);

} // namespace VirtualPrinter::PrinterDetail

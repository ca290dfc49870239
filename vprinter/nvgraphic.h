#pragma once

#include <QByteArray>
#include <QImage>

namespace VirtualPrinter {

// What one NV graphic may be, in dots.
constexpr int MaxGraphicWidth = 8192;
constexpr int MaxGraphicHeight = 2304;
// The NV memory for graphics, and what each stored graphic takes beyond its data.
constexpr qint64 DefaultGraphicsCapacity = 262144;
constexpr int GraphicOverhead = 24;

// One NV graphic, one colour, as a raster: rows from the top, each ceil(width / 8) bytes, the
// leftmost dot in the most significant bit, a set bit black.
struct NvGraphic
{
    int width = 0;
    int height = 0;
    QByteArray data;

    int rowBytes() const { return (width + 7) / 8; }
    qint64 dataSize() const { return qint64(rowBytes()) * height; }
    // What it takes of the NV memory.
    qint64 storedSize() const { return dataSize() + GraphicOverhead; }
    bool dot(int x, int y) const;
    QImage toImage() const;

    bool operator==(const NvGraphic &other) const
    {
        return width == other.width && height == other.height && data == other.data;
    }
};

// A key as a file name part: letters, digits, '-' and '_' as they are, any other byte as %XX.
QString keyFileName(const QByteArray &key);
// A key as logged: the two characters.
QString keyText(const QByteArray &key);

} // namespace VirtualPrinter

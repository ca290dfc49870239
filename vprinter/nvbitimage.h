#pragma once

#include <QByteArray>
#include <QImage>

namespace VirtualPrinter {

// What one FS q record may declare, in units of 8 dots.
constexpr int MaxImageWidthUnits = 1023;
constexpr int MaxImageHeightUnits = 288;
constexpr int MaxImageCount = 255;

// The NV memory most printers reserve for FS q images: 2 Mbit. Each image takes its data
// plus its 4-byte header.
constexpr qint64 DefaultNvCapacity = 262144;
constexpr int NvImageHeaderSize = 4;

// One NV bit image as FS q defines it: (8 x widthUnits) columns, leftmost first, each column
// heightUnits bytes from top to bottom, bit 7 the top dot of a byte, a set bit black.
struct NvBitImage
{
    int widthUnits = 0;
    int heightUnits = 0;
    QByteArray data;

    int widthDots() const { return widthUnits * 8; }
    int heightDots() const { return heightUnits * 8; }
    qint64 dataSize() const { return qint64(widthUnits) * heightUnits * 8; }
    bool isComplete() const
    {
        return widthUnits > 0 && heightUnits > 0 && data.size() == dataSize();
    }

    // Whether the dot at column x, row y is black; false outside the image.
    bool dot(int x, int y) const;

    // The image as black dots on white, one bit per pixel.
    QImage toImage() const;

    bool operator==(const NvBitImage &other) const
    {
        return widthUnits == other.widthUnits && heightUnits == other.heightUnits
               && data == other.data;
    }
};

// A black-on-white one-bit image: index 0 white, index 1 black.
QImage makePaperImage(int width, int height);

} // namespace VirtualPrinter

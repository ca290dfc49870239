#pragma once

#include "stopcheck.h"

#include <escpos/dotimage.h>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRgb>

#include <array>

namespace NvImage {

// How a drawn picture becomes dots. BlueRule is the printer tool's rule: a dot is black when
// its pixel's blue component is below 128. Dither converts by brightness with error
// diffusion, for photos and coloured logos that the blue rule turns to blots.
enum class Conversion { BlueRule, Dither };

// A colour's brightness, 0 to 255: (299 R + 587 G + 114 B) / 1000 in integers, so that the same
// picture gives the same dots everywhere. What dithering and the preview's warnings judge by.
constexpr int brightnessOf(QRgb colour)
{
    return (299 * qRed(colour) + 587 * qGreen(colour) + 114 * qBlue(colour)) / 1000;
}

// The window's hidden drawing surface: an off-screen image the size of the picture last
// drawn, read back one point at a time or in bulk. A palette picture stays one byte a pixel,
// an index into 256 colours already blended over the background, so that its dots come
// through a table instead of a 32-bit copy of it; its points are the same either way.
class PictureSurface
{
public:
    explicit PictureSurface(const QColor &background = Qt::white);

    // The colour that transparent parts of a picture show (the window's background).
    QColor background() const { return QColor::fromRgb(m_background); }
    void setBackground(const QColor &background);

    // Makes the surface the picture's size, fills it with the background and draws the
    // picture unscaled at the top-left corner. A null picture leaves the surface empty. A
    // palette picture (QImage::Format_Indexed8, Format_Mono, Format_MonoLSB) and a grey one
    // (Format_Grayscale8) are kept as they are, shared rather than copied.
    void drawPicture(const QImage &picture);
    void clear();

    int width() const;
    int height() const;
    // Whether no picture is drawn (none was, or there was no memory to draw it).
    bool isNull() const { return width() == 0; }

    // red + 256 * green + 65536 * blue of the point, or -1 outside the surface.
    qint32 Point(int x, int y) const;

    // Floyd-Steinberg on each pixel's brightnessOf(): every pixel
    // becomes pure black or pure white, so that the blue rule packs exactly the dithered
    // dots. Integer arithmetic only: the same picture gives the same dots everywhere.
    void dither();
    // The same, asking stop every few rows: StoppedError when it says so, the surface then
    // partly dithered.
    void dither(const StopCheck &stop);

    // The surface's pixels, always opaque and in QImage::Format_RGB32 (or null when empty).
    // A palette surface makes them (four bytes a pixel) when first asked and keeps them
    // until it changes.
    const QImage &image() const;

    // Whether the surface keeps its picture as one byte a pixel, an index into palette().
    bool hasPalette() const { return !m_indexes.isNull(); }
    // The indexes, one byte a pixel (whatever the image's own format says); null without.
    const QImage &paletteIndexes() const { return m_indexes; }
    // The 256 opaque colours the indexes stand for.
    const std::array<QRgb, 256> &palette() const { return m_palette; }

private:
    void drawPalettePicture(const QImage &indexes);

    QImage m_indexes;
    std::array<QRgb, 256> m_palette{};
    mutable QImage m_image; // the 32-bit surface; for a palette surface made on demand
    QRgb m_background;
};

// Prepares a drawn surface for packing: Dither dithers it, BlueRule leaves it as it is.
void applyConversion(PictureSurface &surface, Conversion conversion);
void applyConversion(PictureSurface &surface, Conversion conversion, const StopCheck &stop);

// The rasteriser: the surface as width x height dots, the blue rule applied to each point
// (black when its blue component is below 128) and every dot beyond the surface white.
// Throws std::invalid_argument for a negative or oversized request.
EscPos::DotImage rasterise(const PictureSurface &surface, int width, int height);
// The same, asking stop every few rows: StoppedError when it says so.
EscPos::DotImage
rasterise(const PictureSurface &surface, int width, int height, const StopCheck &stop);

// Eight vertical dots of column x, rows 8 * band to 8 * band + 7, the top one in bit 7.
// A dot is black when the point's value c has 0 <= c < 2^23, that is when its blue
// component is below 128; points outside the surface are white. Throws OverflowError,
// before reading any point, when 8 * band lies outside -32768..32767.
quint8 PackVerticalDots(const PictureSurface &Picture1, qint16 x, qint16 band);

// The dot bytes of columns 0 to columns - 1, each column's bands 0 to bands - 1 top to
// bottom: byte c * bands + b equals PackVerticalDots(c, b), padding beyond the surface
// included. Throws std::invalid_argument for a negative or oversized request. The same as
// the ESC/POS column packer gives for rasterise(surface, columns, 8 * bands).
QByteArray packPicture(const PictureSurface &surface, int columns, int bands);

// The same into a caller's buffer of columns * bands bytes.
void packPictureInto(const PictureSurface &surface, int columns, int bands, uchar *out);

} // namespace NvImage

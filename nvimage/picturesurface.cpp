#include "picturesurface.h"

#include "errors.h"

#include <escpos/commands.h>

#include <QList>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace NvImage {

namespace {

// Source-over of one non-premultiplied colour on the opaque background.
QRgb blendOver(QRgb colour, QRgb background)
{
    const int alpha = qAlpha(colour);
    if (alpha == 255)
        return colour;
    if (alpha == 0)
        return background;
    const auto mix = [alpha](int top, int bottom) {
        return (top * alpha + bottom * (255 - alpha) + 127) / 255;
    };
    return qRgb(mix(qRed(colour), qRed(background)),
                mix(qGreen(colour), qGreen(background)),
                mix(qBlue(colour), qBlue(background)));
}

// Bit 7 of an RGB32 word is the top bit of blue: clear means blue < 128, a black dot.
constexpr quint32 BlueTopBit = 0x80;

#ifdef __SSE2__
// The mask has the left pixel in bit 0; a dot byte has it in bit 7.
inline uchar reversedBits(uchar b)
{
    b = uchar((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uchar((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uchar((b & 0xAA) >> 1 | (b & 0x55) << 1);
}
#endif

// One surface row as dot bytes, the left dot in bit 7; dots past width stay as they are
// (white in a blank image).
void rasteriseRow(const quint32 *pixels, int width, uchar *dots)
{
    int x = 0;
#ifdef __SSE2__
    // Sixteen pixels at a time: blue's top bit is moved to each lane's sign, the lanes narrow
    // with signed saturation (which keeps the sign), and the signs are gathered in a mask.
    for (; x + 16 <= width; x += 16) {
        const auto *in = reinterpret_cast<const __m128i *>(pixels + x);
        const __m128i a = _mm_slli_epi32(_mm_loadu_si128(in), 24);
        const __m128i b = _mm_slli_epi32(_mm_loadu_si128(in + 1), 24);
        const __m128i c = _mm_slli_epi32(_mm_loadu_si128(in + 2), 24);
        const __m128i d = _mm_slli_epi32(_mm_loadu_si128(in + 3), 24);
        const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        // Bit i is pixel x + i's blue top bit: set means white.
        const unsigned white = unsigned(_mm_movemask_epi8(bytes));
        const unsigned black = ~white;
        dots[x / 8] = reversedBits(uchar(black));
        dots[x / 8 + 1] = reversedBits(uchar(black >> 8));
    }
#endif
    for (; x < width; x += 8) {
        const int count = std::min(8, width - x);
        uchar byte = 0;
        for (int i = 0; i < count; ++i)
            if (!(pixels[x + i] & BlueTopBit))
                byte |= uchar(0x80u >> i);
        dots[x / 8] = byte;
    }
}

// One row of palette indexes as dot bytes through a table of 0 (white) and 1 (black) by
// index, the left dot in bit 7.
void rasterisePaletteRow(const uchar *indexes, int width, const uchar *black, uchar *dots)
{
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const uchar *p = indexes + x;
        dots[x / 8]
                = uchar(black[p[0]] << 7 | black[p[1]] << 6 | black[p[2]] << 5 | black[p[3]] << 4
                        | black[p[4]] << 3 | black[p[5]] << 2 | black[p[6]] << 1 | black[p[7]]);
    }
    if (x < width) {
        uchar byte = 0;
        for (int i = 0; x + i < width; ++i)
            byte |= uchar(black[indexes[x + i]] << (7 - i));
        dots[x / 8] = byte;
    }
}

// Floyd-Steinberg over width x height pixels: brightnessAt(x) reads the current row's pixel
// x, and store(x, black) replaces it; startRow(y) comes before each row. Each share of the
// error is cut toward zero; what falls beyond the picture's edges is dropped.
template<typename StartRow, typename Brightness, typename Store>
void diffuseErrors(int width, int height, StartRow startRow, Brightness brightnessAt, Store store)
{
    // The error carried to this row and to the next, one slot either side of the picture
    // for what falls off its edges.
    std::vector<int> current(std::size_t(width) + 2, 0);
    std::vector<int> next(std::size_t(width) + 2, 0);
    for (int y = 0; y < height; ++y) {
        startRow(y);
        std::fill(next.begin(), next.end(), 0);
        int *here = current.data() + 1;
        int *below = next.data() + 1;
        for (int x = 0; x < width; ++x) {
            const int value = brightnessAt(x) + here[x];
            const bool black = value < 128;
            const int error = value - (black ? 0 : 255);
            store(x, black);
            here[x + 1] += error * 7 / 16;
            below[x - 1] += error * 3 / 16;
            below[x] += error * 5 / 16;
            below[x + 1] += error / 16;
        }
        current.swap(next);
    }
}

// The 256 colours a palette picture's indexes stand for on a surface of this background, as
// Qt's own conversion to RGB32 gives them: no table means grey levels, an index beyond the
// table black, and translucent colours blended over the background first.
std::array<QRgb, 256> paletteOf(const QImage &picture, QRgb background)
{
    const QList<QRgb> table = picture.colorTable();
    const bool translucent = picture.hasAlphaChannel();
    std::array<QRgb, 256> palette;
    for (int i = 0; i < 256; ++i) {
        QRgb colour = qRgb(0, 0, 0);
        if (table.isEmpty())
            colour = qRgb(i, i, i);
        else if (i < table.size())
            colour = translucent ? blendOver(table.at(i), background) : table.at(i);
        palette[std::size_t(i)] = colour | 0xff000000u;
    }
    return palette;
}

} // namespace

PictureSurface::PictureSurface(const QColor &background)
    : m_background(background.rgb())
{}

void PictureSurface::setBackground(const QColor &background)
{
    m_background = background.rgb();
}

void PictureSurface::clear()
{
    m_image = QImage();
    m_indexes = QImage();
}

int PictureSurface::width() const
{
    return hasPalette() ? m_indexes.width() : m_image.width();
}

int PictureSurface::height() const
{
    return hasPalette() ? m_indexes.height() : m_image.height();
}

void PictureSurface::drawPalettePicture(const QImage &indexes)
{
    // A conversion that found no memory leaves the surface empty.
    if (indexes.isNull())
        return;
    m_palette = paletteOf(indexes, m_background);
    m_indexes = indexes;
}

void PictureSurface::drawPicture(const QImage &picture)
{
    clear();
    if (picture.isNull())
        return;
    switch (picture.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        drawPalettePicture(picture);
        return;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        drawPalettePicture(picture.convertToFormat(QImage::Format_Indexed8));
        return;
    default:
        break;
    }
    if (!picture.hasAlphaChannel()) {
        // Opaque pictures cover the whole surface; an RGB32 picture is shared, not copied.
        m_image = picture.convertToFormat(QImage::Format_RGB32);
        return;
    }
    const QImage source = picture.convertToFormat(QImage::Format_ARGB32);
    QImage surface(source.size(), QImage::Format_RGB32);
    if (surface.isNull())
        throw std::bad_alloc();
    const int width = source.width();
    for (int y = 0; y < source.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        auto *out = reinterpret_cast<QRgb *>(surface.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = blendOver(in[x], m_background) | 0xff000000u;
    }
    m_image = surface;
}

const QImage &PictureSurface::image() const
{
    if (!hasPalette() || !m_image.isNull())
        return m_image;
    QImage surface(m_indexes.size(), QImage::Format_RGB32);
    if (surface.isNull())
        throw std::bad_alloc();
    for (int y = 0; y < surface.height(); ++y) {
        const uchar *in = m_indexes.constScanLine(y);
        auto *out = reinterpret_cast<QRgb *>(surface.scanLine(y));
        for (int x = 0; x < surface.width(); ++x)
            out[x] = m_palette[in[x]];
    }
    m_image = surface;
    return m_image;
}

void PictureSurface::dither()
{
    dither(StopCheck());
}

void PictureSurface::dither(const StopCheck &stop)
{
    if (isNull())
        return;
    if (hasPalette()) {
        std::array<int, 256> brightnesses;
        for (std::size_t i = 0; i < brightnesses.size(); ++i)
            brightnesses[i] = brightnessOf(m_palette[i]);
        // Writing detaches indexes shared with their decoder; that copy is the only
        // allocation. Afterwards index 0 is black and 1 white.
        uchar *bits = m_indexes.bits();
        if (!bits)
            throw std::bad_alloc();
        const qsizetype stride = m_indexes.bytesPerLine();
        uchar *line = bits;
        diffuseErrors(
                m_indexes.width(),
                m_indexes.height(),
                [&](int y) {
                    if (y % 16 == 0)
                        throwIfStopped(stop);
                    line = bits + y * stride;
                },
                [&](int x) { return brightnesses[line[x]]; },
                [&](int x, bool black) { line[x] = black ? 0 : 1; });
        m_palette.fill(qRgb(0, 0, 0));
        m_palette[1] = qRgb(255, 255, 255);
        m_image = QImage();
        return;
    }
    // Writing detaches a picture shared with its decoder; that copy is the only allocation.
    uchar *bits = m_image.bits();
    if (!bits)
        throw std::bad_alloc();
    const qsizetype stride = m_image.bytesPerLine();
    QRgb *line = nullptr;
    diffuseErrors(
            m_image.width(),
            m_image.height(),
            [&](int y) {
                if (y % 16 == 0)
                    throwIfStopped(stop);
                line = reinterpret_cast<QRgb *>(bits + y * stride);
            },
            [&](int x) { return brightnessOf(line[x]); },
            [&](int x, bool black) { line[x] = black ? 0xff000000u : 0xffffffffu; });
}

void applyConversion(PictureSurface &surface, Conversion conversion)
{
    applyConversion(surface, conversion, StopCheck());
}

void applyConversion(PictureSurface &surface, Conversion conversion, const StopCheck &stop)
{
    if (conversion == Conversion::Dither)
        surface.dither(stop);
}

qint32 PictureSurface::Point(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width() || y >= height())
        return -1;
    const QRgb pixel = hasPalette() ? m_palette[m_indexes.constScanLine(y)[x]]
                                    : reinterpret_cast<const QRgb *>(m_image.constScanLine(y))[x];
    return qint32(qRed(pixel)) + 256 * qint32(qGreen(pixel)) + 65536 * qint32(qBlue(pixel));
}

quint8 PackVerticalDots(const PictureSurface &Picture1, qint16 x, qint16 band)
{
    // The row is worked out in 16 bits, as the printer's sizes are.
    const int top = 8 * int(band);
    if (top < std::numeric_limits<qint16>::min() || top > std::numeric_limits<qint16>::max())
        throw OverflowError(QStringLiteral("Overflow: the first row of band %1 (8 x %1 = %2) "
                                           "lies outside -32768 to 32767.")
                                    .arg(band)
                                    .arg(top));
    quint8 result = 0;
    for (int k = 0; k < 8; ++k) {
        const int row = top + k; // cannot leave 16 bits once top is inside
        const qint32 c = Picture1.Point(x, row);
        if (c >= 0 && c < 8388608)
            result |= quint8(1u << (7 - k));
    }
    return result;
}

EscPos::DotImage rasterise(const PictureSurface &surface, int width, int height)
{
    return rasterise(surface, width, height, StopCheck());
}

EscPos::DotImage
rasterise(const PictureSurface &surface, int width, int height, const StopCheck &stop)
{
    if (width < 0 || height < 0)
        throw std::invalid_argument("rasterise: negative size");
    if (qint64(EscPos::DotImage::bytesPerRow(width)) * height > std::numeric_limits<int>::max() / 2)
        throw std::invalid_argument("rasterise: too many dots");
    EscPos::DotImage dots = EscPos::DotImage::blank(width, height);
    const int covered = std::min(width, surface.width());
    const int rows = std::min(height, surface.height());
    if (covered <= 0)
        return dots;
    if (surface.hasPalette()) {
        uchar black[256];
        for (std::size_t i = 0; i < 256; ++i)
            black[i] = (surface.palette()[i] & BlueTopBit) ? 0 : 1;
        const QImage &indexes = surface.paletteIndexes();
        for (int y = 0; y < rows; ++y) {
            if (y % 64 == 0)
                throwIfStopped(stop);
            rasterisePaletteRow(indexes.constScanLine(y), covered, black, dots.row(y));
        }
        return dots;
    }
    const QImage &image = surface.image();
    for (int y = 0; y < rows; ++y) {
        if (y % 64 == 0)
            throwIfStopped(stop);
        rasteriseRow(
                reinterpret_cast<const quint32 *>(image.constScanLine(y)), covered, dots.row(y));
    }
    return dots;
}

void packPictureInto(const PictureSurface &surface, int columns, int bands, uchar *out)
{
    if (columns < 0 || bands < 0)
        throw std::invalid_argument("packPictureInto: negative size");
    if (columns == 0 || bands == 0)
        return;
    if (bands > std::numeric_limits<int>::max() / 8)
        throw std::invalid_argument("packPictureInto: too many dots");
    EscPos::packVerticalColumnsInto(rasterise(surface, columns, 8 * bands), out);
}

QByteArray packPicture(const PictureSurface &surface, int columns, int bands)
{
    if (columns < 0 || bands < 0)
        throw std::invalid_argument("packPicture: negative size");
    const qint64 total = qint64(columns) * bands;
    if (total > std::numeric_limits<int>::max() / 2)
        throw std::invalid_argument("packPicture: too many dots");
    if (total == 0)
        return QByteArray();
    if (bands > std::numeric_limits<int>::max() / 8)
        throw std::invalid_argument("packPicture: too many dots");
    return EscPos::packVerticalColumns(rasterise(surface, columns, 8 * bands));
}

} // namespace NvImage

#include "picturesurface.h"

#include "errors.h"

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

// The dot bytes of one band, columns 0 to width - 1, from its eight rows.
void packBand(const quint32 *const rows[8], int width, uchar *dots)
{
    int c = 0;
#ifdef __SSE2__
    // Sixteen columns at a time: each row's black bits are shifted into place in 32-bit
    // lanes, then the four vectors of lanes narrow to sixteen bytes.
    const __m128i blueTopBit = _mm_set1_epi32(BlueTopBit);
    for (; c + 16 <= width; c += 16) {
        __m128i acc[4] = {
                _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
        for (int k = 0; k < 8; ++k) {
            const __m128i shift = _mm_cvtsi32_si128(k);
            const auto *row = reinterpret_cast<const __m128i *>(rows[k] + c);
            for (int q = 0; q < 4; ++q) {
                const __m128i black = _mm_andnot_si128(_mm_loadu_si128(row + q), blueTopBit);
                acc[q] = _mm_or_si128(acc[q], _mm_srl_epi32(black, shift));
            }
        }
        const __m128i low = _mm_packs_epi32(acc[0], acc[1]);
        const __m128i high = _mm_packs_epi32(acc[2], acc[3]);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dots + c), _mm_packus_epi16(low, high));
    }
#endif
    const quint32 *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    const quint32 *r4 = rows[4], *r5 = rows[5], *r6 = rows[6], *r7 = rows[7];
    for (; c < width; ++c) {
        const quint32 bits = (~r0[c] & BlueTopBit) | ((~r1[c] & BlueTopBit) >> 1)
                             | ((~r2[c] & BlueTopBit) >> 2) | ((~r3[c] & BlueTopBit) >> 3)
                             | ((~r4[c] & BlueTopBit) >> 4) | ((~r5[c] & BlueTopBit) >> 5)
                             | ((~r6[c] & BlueTopBit) >> 6) | ((~r7[c] & BlueTopBit) >> 7);
        dots[c] = uchar(bits);
    }
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
}

void PictureSurface::drawPicture(const QImage &picture)
{
    if (picture.isNull()) {
        clear();
        return;
    }
    if (!picture.hasAlphaChannel()) {
        // Opaque pictures cover the whole surface; an RGB32 picture is shared, not copied.
        m_image = picture.convertToFormat(QImage::Format_RGB32);
        return;
    }
    if (picture.colorCount() > 0) {
        // Indexed pictures (GIF, palette BMP): blend the palette instead of every pixel.
        QImage indexed = picture;
        QList<QRgb> table = indexed.colorTable();
        for (QRgb &colour : table)
            colour = blendOver(colour, m_background);
        indexed.setColorTable(table);
        m_image = indexed.convertToFormat(QImage::Format_RGB32);
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

void PictureSurface::dither()
{
    if (m_image.isNull())
        return;
    const int width = m_image.width();
    const int height = m_image.height();
    // Writing detaches a picture shared with its decoder; that copy is the only allocation.
    uchar *bits = m_image.bits();
    if (!bits)
        throw std::bad_alloc();
    const qsizetype stride = m_image.bytesPerLine();
    // The error carried to this row and to the next, one slot either side of the picture
    // for what falls off its edges.
    std::vector<int> current(std::size_t(width) + 2, 0);
    std::vector<int> next(std::size_t(width) + 2, 0);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(bits + y * stride);
        std::fill(next.begin(), next.end(), 0);
        int *here = current.data() + 1;
        int *below = next.data() + 1;
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = line[x];
            const int value = (299 * qRed(pixel) + 587 * qGreen(pixel) + 114 * qBlue(pixel)) / 1000
                              + here[x];
            const bool black = value < 128;
            const int error = value - (black ? 0 : 255);
            line[x] = black ? 0xff000000u : 0xffffffffu;
            here[x + 1] += error * 7 / 16;
            below[x - 1] += error * 3 / 16;
            below[x] += error * 5 / 16;
            below[x + 1] += error / 16;
        }
        current.swap(next);
    }
}

void applyConversion(PictureSurface &surface, Conversion conversion)
{
    if (conversion == Conversion::Dither)
        surface.dither();
}

qint32 PictureSurface::Point(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_image.width() || y >= m_image.height())
        return -1;
    const QRgb pixel = reinterpret_cast<const QRgb *>(m_image.constScanLine(y))[x];
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

void packPictureInto(const PictureSurface &surface, int columns, int bands, uchar *out)
{
    if (columns < 0 || bands < 0)
        throw std::invalid_argument("packPictureInto: negative size");
    const std::size_t total = std::size_t(columns) * std::size_t(bands);
    if (total == 0)
        return;
    // Padding beyond the surface is white; the bytes over the picture are set below.
    std::memset(out, 0, total);

    const QImage &image = surface.image();
    const int width = std::min(columns, image.width());
    const int height = image.height();
    const int coveredBands = std::min(bands, (height + 7) / 8);
    if (width <= 0 || coveredBands <= 0)
        return;

    // A band is read row by row (sequential reads over its eight rows) into one line of dot
    // bytes; eight bands' lines are then written out column by column, so that the writes
    // run along the output too.
    constexpr int Group = 8;
    std::vector<uchar> lines(std::size_t(width) * Group);
    std::vector<quint32> whiteRow; // stands in for rows below the surface
    if (height % 8 != 0)
        whiteRow.assign(std::size_t(width), 0xffffffffu);

    for (int first = 0; first < coveredBands; first += Group) {
        const int count = std::min(Group, coveredBands - first);
        for (int g = 0; g < count; ++g) {
            const quint32 *rows[8];
            for (int k = 0; k < 8; ++k) {
                const int y = 8 * (first + g) + k;
                rows[k] = y < height ? reinterpret_cast<const quint32 *>(image.constScanLine(y))
                                     : whiteRow.data();
            }
            packBand(rows, width, lines.data() + std::size_t(g) * width);
        }
        uchar *column = out + first;
        for (int c = 0; c < width; ++c, column += bands) {
            const uchar *dot = lines.data() + c;
            for (int g = 0; g < count; ++g, dot += width)
                column[g] = *dot;
        }
    }
}

QByteArray packPicture(const PictureSurface &surface, int columns, int bands)
{
    if (columns < 0 || bands < 0)
        throw std::invalid_argument("packPicture: negative size");
    const qint64 total = qint64(columns) * bands;
    if (total > std::numeric_limits<int>::max() / 2)
        throw std::invalid_argument("packPicture: too many dots");
    QByteArray dots(int(total), Qt::Uninitialized);
    packPictureInto(surface, columns, bands, reinterpret_cast<uchar *>(dots.data()));
    return dots;
}

} // namespace NvImage

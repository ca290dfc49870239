#include "preparation.h"

#include <QStringList>
#include <QTransform>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace NvImage {

namespace {

// How one drawn pixel becomes one dot under every conversion but dither: the blue rule, or
// brightness below a threshold.
struct DotRule
{
    std::optional<int> threshold;

    bool black(QRgb pixel) const
    {
        return threshold ? brightnessOf(pixel) < *threshold : qBlue(pixel) < 128;
    }
};

bool dithers(const Preparation &preparation)
{
    return !preparation.threshold && preparation.conversion == Conversion::Dither;
}

const QRgb *pixels(const QImage &image, int y)
{
    return reinterpret_cast<const QRgb *>(image.constScanLine(y));
}

QRgb *pixels(QImage &image, int y)
{
    return reinterpret_cast<QRgb *>(image.scanLine(y));
}

QSize fitted(const QSize &size, int paperDots)
{
    if (size.width() == paperDots || size.isEmpty())
        return size;
    // Rounded to the nearest dot; at least one row however flat the picture.
    const qint64 height
            = (2 * qint64(size.height()) * paperDots + size.width()) / (2 * qint64(size.width()));
    return QSize(paperDots, int(std::clamp<qint64>(height, 1, INT_MAX)));
}

QSize centred(const QSize &size, const Preparation &preparation)
{
    if (!preparation.center)
        return size;
    return QSize(std::max(size.width(), preparation.paperDots), size.height());
}

void checkSize(const QSize &size, const Preparation &preparation, const DotFormat &format)
{
    const QString problem = preparedSizeError(size, preparation, format);
    if (!problem.isEmpty())
        throw PictureTooLargeError(QString(), problem);
}

// The picture on an opaque surface, transparent parts showing the background: the same
// drawing as without preparation, so that the identity keeps every dot.
QImage drawn(const QImage &picture, const QColor &background)
{
    PictureSurface surface(background);
    surface.drawPicture(picture);
    if (surface.image().isNull())
        throw std::bad_alloc();
    return surface.image();
}

QImage rotated(const QImage &image, int rotation)
{
    if (rotation == 0)
        return image;
    // Quarter turns move pixels without resampling them.
    const QImage turned = image.transformed(QTransform().rotate(rotation))
                                  .convertToFormat(QImage::Format_RGB32);
    if (turned.isNull())
        throw std::bad_alloc();
    return turned;
}

// The smallest rectangle that holds every black dot; empty when there is none. A row with a
// black dot costs only the scans in from both ends.
QRect blackBounds(const QImage &image, const DotRule &rule)
{
    const int width = image.width();
    int top = -1;
    int bottom = -1;
    int left = width;
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = pixels(image, y);
        int first = 0;
        while (first < width && !rule.black(line[first]))
            ++first;
        if (first == width)
            continue;
        int last = width - 1;
        while (last > right && !rule.black(line[last]))
            --last;
        left = std::min(left, first);
        right = std::max(right, last);
        if (top < 0)
            top = y;
        bottom = y;
    }
    return top < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QRect keptPart(const QImage &image, const Preparation &preparation)
{
    if (!preparation.trim)
        return image.rect();
    QRect kept;
    if (dithers(preparation)) {
        // Which dots dither leaves black depends on their neighbours: dither a copy.
        PictureSurface surface;
        surface.drawPicture(image);
        surface.dither();
        kept = blackBounds(surface.image(), DotRule());
    } else {
        kept = blackBounds(image, DotRule{preparation.threshold});
    }
    if (kept.isEmpty())
        throw PreparationError(QStringLiteral("Nothing is left to print once the white margins "
                                              "are trimmed: every dot of the picture is white."));
    return kept;
}

// One axis of an area-averaging shrink from n source pixels to m <= n output pixels. Source
// pixel i covers [i m, (i + 1) m) and output pixel k covers [k n, (k + 1) n), so a source
// pixel falls into at most two output pixels: weight units into first, the rest of its m into
// the next one. Every output pixel gathers exactly n units.
struct Share
{
    int first;
    int weight;
};

std::vector<Share> shares(int n, int m)
{
    std::vector<Share> out(std::size_t(n), Share{0, 0});
    for (int i = 0; i < n; ++i) {
        const qint64 start = qint64(i) * m;
        const int first = int(start / n);
        out[std::size_t(i)] = {first, int(std::min<qint64>(m, qint64(first + 1) * n - start))};
    }
    return out;
}

void addRow(std::vector<quint64> &sums, const QRgb *line, int width, int weight)
{
    quint64 *sum = sums.data();
    for (int i = 0; i < width; ++i, sum += 3) {
        const QRgb pixel = line[i];
        sum[0] += quint64(qRed(pixel)) * unsigned(weight);
        sum[1] += quint64(qGreen(pixel)) * unsigned(weight);
        sum[2] += quint64(qBlue(pixel)) * unsigned(weight);
    }
}

// One output row from the row-weighted column sums: each column's sum goes to its one or two
// output pixels, and each pixel is divided by all the units it gathered, rounded.
void emitRow(const std::vector<quint64> &sums,
             const std::vector<Share> &columns,
             quint64 units,
             QRgb *out,
             int width)
{
    std::vector<quint64> totals(3 * std::size_t(width), 0);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Share share = columns[i];
        const unsigned rest = unsigned(width - share.weight);
        quint64 *total = totals.data() + 3 * std::size_t(share.first);
        for (int c = 0; c < 3; ++c) {
            total[c] += sums[3 * i + c] * unsigned(share.weight);
            if (rest)
                total[c + 3] += sums[3 * i + c] * rest;
        }
    }
    for (int k = 0; k < width; ++k) {
        const quint64 *total = totals.data() + 3 * k;
        const auto mean = [units](quint64 sum) {
            return int((sum + units / 2) / units);
        };
        out[k] = qRgb(mean(total[0]), mean(total[1]), mean(total[2]));
    }
}

// Area averaging: every output pixel is the mean of exactly the source area it covers, so no
// thin line is skipped and none counts twice. One output row of sums is held at a time.
void shrinkInto(const QImage &source, const QRect &part, QImage &canvas, int left)
{
    const QSize size(canvas.width() - left, canvas.height());
    const int width = part.width();
    const std::vector<Share> columns = shares(width, size.width());
    const std::vector<Share> rows = shares(part.height(), size.height());
    const quint64 units = quint64(width) * quint64(part.height());
    std::vector<quint64> sums(3 * std::size_t(width), 0);
    for (int j = 0; j < part.height(); ++j) {
        const QRgb *line = pixels(source, part.y() + j) + part.x();
        const Share share = rows[std::size_t(j)];
        addRow(sums, line, width, share.weight);
        if (j + 1 < part.height() && rows[std::size_t(j) + 1].first == share.first)
            continue;
        emitRow(sums, columns, units, pixels(canvas, share.first) + left, size.width());
        std::fill(sums.begin(), sums.end(), 0);
        if (share.weight < size.height())
            addRow(sums, line, width, size.height() - share.weight);
    }
}

// Where output pixel k of m falls among n < m source pixels, pixel centres aligned: the
// pixel at or before it, the one after, and the latter's weight in 256ths.
struct Tap
{
    int index;
    int next;
    int weight;
};

std::vector<Tap> taps(int n, int m)
{
    std::vector<Tap> out(std::size_t(m), Tap{0, 0, 0});
    for (int k = 0; k < m; ++k) {
        const qint64 position = std::max<qint64>(0, (qint64(2 * k + 1) * n - m) * 256 / (2 * m));
        const int index = int(position >> 8);
        out[std::size_t(k)] = index >= n - 1 ? Tap{n - 1, n - 1, 0}
                                             : Tap{index, index + 1, int(position & 255)};
    }
    return out;
}

QRgb blend(QRgb a, QRgb b, QRgb c, QRgb d, int x, int y)
{
    const auto mix = [x, y](int topLeft, int topRight, int bottomLeft, int bottomRight) {
        const int top = topLeft * (256 - x) + topRight * x;
        const int bottom = bottomLeft * (256 - x) + bottomRight * x;
        return (top * (256 - y) + bottom * y + 32768) >> 16;
    };
    return qRgb(mix(qRed(a), qRed(b), qRed(c), qRed(d)),
                mix(qGreen(a), qGreen(b), qGreen(c), qGreen(d)),
                mix(qBlue(a), qBlue(b), qBlue(c), qBlue(d)));
}

// Bilinear: the conversion's threshold afterwards draws every edge as a sharp line between
// black and white, placed between the pixels rather than on a pixel's staircase.
void interpolateInto(const QImage &source, const QRect &part, QImage &canvas, int left)
{
    const int width = canvas.width() - left;
    const std::vector<Tap> columns = taps(part.width(), width);
    const std::vector<Tap> rows = taps(part.height(), canvas.height());
    for (int y = 0; y < canvas.height(); ++y) {
        const Tap row = rows[std::size_t(y)];
        const QRgb *a = pixels(source, part.y() + row.index) + part.x();
        const QRgb *b = pixels(source, part.y() + row.next) + part.x();
        QRgb *out = pixels(canvas, y) + left;
        for (int x = 0; x < width; ++x) {
            const Tap c = columns[std::size_t(x)];
            out[x] = blend(a[c.index], a[c.next], b[c.index], b[c.next], c.weight, row.weight);
        }
    }
}

// Pixel replication, for dither: every pixel keeps its colour, so edges stay where they are
// instead of becoming ramps that dither would scatter into grey.
void replicateInto(const QImage &source, const QRect &part, QImage &canvas, int left)
{
    const int width = canvas.width() - left;
    std::vector<int> columns(std::size_t(width), 0);
    for (int x = 0; x < width; ++x)
        columns[std::size_t(x)] = int(qint64(2 * x + 1) * part.width() / (2 * qint64(width)));
    for (int y = 0; y < canvas.height(); ++y) {
        const int index = int(qint64(2 * y + 1) * part.height() / (2 * qint64(canvas.height())));
        const QRgb *in = pixels(source, part.y() + index) + part.x();
        QRgb *out = pixels(canvas, y) + left;
        for (int x = 0; x < width; ++x)
            out[x] = in[columns[std::size_t(x)]];
    }
}

// The kept part, fitted and centred, as opaque pixels. The picture itself when none of that
// changes anything; else a white canvas of the final size with the part drawn in at left.
QImage composed(QImage image, const PreparedPicture &prepared, const Preparation &preparation)
{
    const QRect &kept = prepared.kept;
    if (kept == image.rect() && prepared.size == kept.size())
        return image;
    QImage canvas(prepared.size, QImage::Format_RGB32);
    if (canvas.isNull())
        throw std::bad_alloc();
    canvas.fill(Qt::white);
    const int fittedWidth = prepared.fittedSize.width();
    if (prepared.fittedSize == kept.size()) {
        for (int y = 0; y < kept.height(); ++y)
            std::memcpy(pixels(canvas, y) + prepared.left,
                        pixels(image, kept.y() + y) + kept.x(),
                        std::size_t(kept.width()) * sizeof(QRgb));
    } else if (fittedWidth < kept.width()) {
        shrinkInto(image, kept, canvas, prepared.left);
    } else if (dithers(preparation)) {
        replicateInto(image, kept, canvas, prepared.left);
    } else {
        interpolateInto(image, kept, canvas, prepared.left);
    }
    return canvas;
}

EscPos::DotImage byBrightness(const QImage &canvas, int threshold, const QSize &padded)
{
    EscPos::DotImage dots = EscPos::DotImage::blank(padded.width(), padded.height());
    const DotRule rule{threshold};
    for (int y = 0; y < canvas.height(); ++y) {
        const QRgb *line = pixels(canvas, y);
        uchar *row = dots.row(y);
        for (int x = 0; x < canvas.width(); ++x)
            if (rule.black(line[x]))
                row[x / 8] |= uchar(0x80u >> (x % 8));
    }
    return dots;
}

// The blue rule and dither go through the surface and rasteriser of the unprepared path.
// Dither takes the pixels over, so that it converts them in place instead of a copy.
EscPos::DotImage converted(QImage &pixels, const Preparation &preparation, const QSize &padded)
{
    if (preparation.threshold)
        return byBrightness(pixels, *preparation.threshold, padded);
    PictureSurface surface;
    surface.drawPicture(pixels);
    if (preparation.conversion == Conversion::Dither)
        pixels = QImage();
    applyConversion(surface, preparation.conversion);
    return rasterise(surface, padded.width(), padded.height());
}

void invertDots(EscPos::DotImage &dots, const QSize &size)
{
    const int whole = size.width() / 8;
    const int rest = size.width() % 8;
    for (int y = 0; y < size.height(); ++y) {
        uchar *row = dots.row(y);
        for (int i = 0; i < whole; ++i)
            row[i] = uchar(~row[i]);
        if (rest)
            row[whole] ^= uchar(0xFFu << (8 - rest));
    }
}

} // namespace

bool Preparation::isIdentity() const
{
    return rotation == 0 && !trim && !fit && !center && !threshold && !invert;
}

QString preparationError(const Preparation &preparation)
{
    if (preparation.paperDots < MinPaperDots || preparation.paperDots > MaxPaperDots)
        return QStringLiteral("The paper's width must be %1 to %2 dots; %3 dots is not.")
                .arg(MinPaperDots)
                .arg(MaxPaperDots)
                .arg(preparation.paperDots);
    if (preparation.rotation % 90 != 0 || preparation.rotation < 0 || preparation.rotation > 270)
        return QStringLiteral("A picture can be turned 90, 180 or 270 degrees clockwise; "
                              "not %1 degrees.")
                .arg(preparation.rotation);
    if (preparation.threshold && (*preparation.threshold < 0 || *preparation.threshold > 255))
        return QStringLiteral("The threshold is a brightness from 0 to 255; %1 is not.")
                .arg(*preparation.threshold);
    if (preparation.threshold && preparation.conversion == Conversion::Dither)
        return QStringLiteral("Dither and a threshold cannot be combined: dither decides every "
                              "dot by itself. Choose one of them.");
    return QString();
}

int paperDotsFromText(const QString &text, QString *error)
{
    QString name = text.trimmed().toLower();
    if (name.endsWith(QLatin1String("mm")))
        name = name.chopped(2).trimmed() + QLatin1String("mm");
    if (name == QLatin1String("58mm"))
        return Paper58mmDots;
    if (name == QLatin1String("80mm"))
        return Paper80mmDots;
    bool ok = false;
    const int dots = name.toInt(&ok);
    if (ok && dots >= MinPaperDots && dots <= MaxPaperDots)
        return dots;
    if (error)
        *error = QStringLiteral("The paper is 58mm, 80mm or a width of %1 to %2 dots; "
                                "\"%3\" is none of them.")
                         .arg(MinPaperDots)
                         .arg(MaxPaperDots)
                         .arg(text);
    return 0;
}

QSize preparedSize(const QSize &pictureSize, const Preparation &preparation)
{
    QSize size = preparation.rotation % 180 ? pictureSize.transposed() : pictureSize;
    if (preparation.fit)
        size = fitted(size, preparation.paperDots);
    return centred(size, preparation);
}

QString
preparedSizeError(const QSize &size, const Preparation &preparation, const DotFormat &format)
{
    if (size.width() > format.maxWidth)
        return preparation.fit || preparation.center
                       ? QStringLiteral("The paper's %1 dots are wider than the %2 dots the "
                                        "printer stores in one picture: choose narrower paper.")
                                 .arg(preparation.paperDots)
                                 .arg(format.maxWidth)
                       : QStringLiteral("The picture is %1 dots wide, wider than the %2 dots the "
                                        "printer stores in one picture: fit it to the paper, "
                                        "or crop it.")
                                 .arg(size.width())
                                 .arg(format.maxWidth);
    if (size.height() > format.maxHeight)
        return preparation.fit
                       ? QStringLiteral("Fitted to the paper's %1 dots, the picture is %2 dots "
                                        "high, taller than the %3 dots the printer stores in one "
                                        "picture: crop it, or turn it a quarter turn.")
                                 .arg(preparation.paperDots)
                                 .arg(size.height())
                                 .arg(format.maxHeight)
                       : QStringLiteral("The picture is %1 dots high, taller than the %2 dots the "
                                        "printer stores in one picture: crop it, or turn it a "
                                        "quarter turn.")
                                 .arg(size.height())
                                 .arg(format.maxHeight);
    return QString();
}

PreparedPicture preparePicture(const QImage &picture,
                               const Preparation &preparation,
                               const DotFormat &format,
                               const QColor &background)
{
    const QString problem = preparationError(preparation);
    if (!problem.isEmpty())
        throw PreparationError(problem);
    if (picture.isNull())
        throw PreparationError(QStringLiteral("There is no picture to prepare."));
    // Refused from its size alone, before a large picture is copied; trim must look first.
    if (!preparation.trim)
        checkSize(preparedSize(picture.size(), preparation), preparation, format);
    PreparedPicture prepared;
    prepared.pictureSize = picture.size();
    QImage image = rotated(drawn(picture, background), preparation.rotation);
    prepared.kept = keptPart(image, preparation);
    prepared.fittedSize = preparation.fit ? fitted(prepared.kept.size(), preparation.paperDots)
                                          : prepared.kept.size();
    prepared.size = centred(prepared.fittedSize, preparation);
    checkSize(prepared.size, preparation, format);
    prepared.left = (prepared.size.width() - prepared.fittedSize.width()) / 2;
    const QSize padded = format.padToMultipleOf8 ? QSize((prepared.size.width() + 7) / 8 * 8,
                                                         (prepared.size.height() + 7) / 8 * 8)
                                                 : prepared.size;
    prepared.pixels = composed(std::move(image), prepared, preparation);
    prepared.dots = converted(prepared.pixels, preparation, padded);
    if (preparation.invert)
        invertDots(prepared.dots, prepared.size);
    return prepared;
}

QString describePreparation(const PreparedPicture &prepared, const Preparation &preparation)
{
    QStringList parts{QStringLiteral("%1 x %2 pixels")
                              .arg(prepared.pictureSize.width())
                              .arg(prepared.pictureSize.height())};
    if (preparation.rotation)
        parts << QStringLiteral("turned %1 degrees clockwise").arg(preparation.rotation);
    if (preparation.trim)
        parts << QStringLiteral("trimmed to %1 x %2")
                         .arg(prepared.kept.width())
                         .arg(prepared.kept.height());
    if (prepared.fittedSize != prepared.kept.size())
        parts << QStringLiteral("%1 to %2 x %3 dots")
                         .arg(prepared.fittedSize.width() < prepared.kept.width()
                                      ? QStringLiteral("shrunk")
                                      : QStringLiteral("enlarged"))
                         .arg(prepared.fittedSize.width())
                         .arg(prepared.fittedSize.height());
    if (prepared.size.width() > prepared.fittedSize.width())
        parts << QStringLiteral("centred on %1 dots").arg(prepared.size.width());
    return parts.join(QLatin1String(", "))
           + QStringLiteral(": stored as %1 x %2 dots")
                     .arg(prepared.dots.width)
                     .arg(prepared.dots.height);
}

} // namespace NvImage

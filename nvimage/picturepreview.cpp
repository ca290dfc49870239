#include "picturepreview.h"

#include <escpos/transpose.h>

#include <QtAlgorithms>

#include <array>

#include <cstring>
#include <stdexcept>

namespace NvImage {

namespace {

qint64 blackDotsInside(const QImage &dots, const QSize &picture)
{
    const int fullBytes = picture.width() / 8;
    const int rest = picture.width() % 8;
    const uchar lastMask = uchar(0xFF << (8 - rest));
    qint64 black = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const uchar *line = dots.constScanLine(y);
        for (int i = 0; i < fullBytes; ++i)
            black += qPopulationCount(line[i]);
        if (rest)
            black += qPopulationCount(uchar(line[fullBytes] & lastMask));
    }
    return black;
}

// Pixels the blue rule gets wrong by eye, and mid tones it flattens. The margins around
// 128 keep near-grey pixels, which either way is right for, from counting.
struct BlueRuleFit
{
    qint64 misprinted = 0;
    qint64 midTones = 0;
};

void countColour(BlueRuleFit &fit, QRgb pixel, qint64 count)
{
    const int luminance = brightnessOf(pixel);
    const bool black = qBlue(pixel) < 128;
    if ((luminance < 96 && !black) || (luminance >= 160 && black))
        fit.misprinted += count;
    if (luminance >= 64 && luminance < 192)
        fit.midTones += count;
}

BlueRuleFit blueRuleFit(const PictureSurface &surface)
{
    BlueRuleFit fit;
    const int width = surface.width();
    if (surface.hasPalette()) {
        // Counted by colour: the indexes are read once, the colours judged 256 times.
        std::array<qint64, 256> counts{};
        const QImage &indexes = surface.paletteIndexes();
        for (int y = 0; y < surface.height(); ++y) {
            const uchar *line = indexes.constScanLine(y);
            for (int x = 0; x < width; ++x)
                ++counts[line[x]];
        }
        for (std::size_t i = 0; i < counts.size(); ++i)
            countColour(fit, surface.palette()[i], counts[i]);
        return fit;
    }
    const QImage &image = surface.image();
    for (int y = 0; y < surface.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            countColour(fit, line[x], 1);
    }
    return fit;
}

// Whether part is more than permille thousandths of whole, in integers.
bool moreThan(qint64 part, qint64 whole, int permille)
{
    return part * 1000 > whole * permille;
}

} // namespace

QString conversionLabel(Conversion conversion)
{
    switch (conversion) {
    case Conversion::BlueRule:
        return QStringLiteral("Blue rule (logos)");
    case Conversion::Dither:
        return QStringLiteral("Dither (photos)");
    }
    return QString();
}

QImage storedImage(const QByteArray &dotBytes, int widthDots, int heightDots)
{
    if (widthDots < 0 || heightDots < 0 || widthDots % 8 != 0 || heightDots % 8 != 0)
        throw std::invalid_argument("storedImage: the size is not a multiple of 8 dots");
    const int bands = heightDots / 8;
    if (qint64(widthDots) * bands != dotBytes.size())
        throw std::invalid_argument("storedImage: the dot bytes do not match the size");
    if (widthDots == 0 || heightDots == 0)
        return QImage();
    QImage image(widthDots, heightDots, QImage::Format_Mono);
    if (image.isNull())
        throw std::bad_alloc();
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0); // the padding at each line's end too, so that equal dots compare equal
    const auto *dots = reinterpret_cast<const uchar *>(dotBytes.constData());
    uchar *bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (int group = 0; group < widthDots / 8; ++group) {
        const uchar *column = dots + qsizetype(group) * 8 * bands;
        uchar *out = bits + group;
        for (int band = 0; band < bands; ++band, out += 8 * stride) {
            quint64 matrix = 0;
            for (int j = 0; j < 8; ++j)
                matrix = matrix << 8 | column[qsizetype(j) * bands + band];
            // The band's columns become its rows.
            matrix = EscPos::transpose8x8(matrix);
            for (int k = 0; k < 8; ++k)
                out[k * stride] = uchar(matrix >> (56 - 8 * k));
        }
    }
    return image;
}

QImage monoImage(const EscPos::DotImage &dots)
{
    if (dots.isNull())
        return QImage();
    if (!dots.isValid())
        throw std::invalid_argument("monoImage: the dot bytes do not match the size");
    QImage image(dots.width, dots.height, QImage::Format_Mono);
    if (image.isNull())
        throw std::bad_alloc();
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0); // the padding at each line's end too, so that equal dots compare equal
    // Both keep the left dot in the most significant bit and black as a set bit.
    for (int y = 0; y < dots.height; ++y)
        std::memcpy(image.scanLine(y), dots.row(y), std::size_t(dots.rowBytes()));
    return image;
}

QString previewWarningText(PreviewWarning warning, qint64 nvCapacity)
{
    switch (warning) {
    case PreviewWarning::WiderThan80mmPaper:
        return QStringLiteral("Wider than 80 mm paper (576 dots): the rest does not print.");
    case PreviewWarning::WiderThan58mmPaper:
        return QStringLiteral("Wider than 58 mm paper (384 dots); fits 80 mm paper.");
    case PreviewWarning::NearlyAllWhite:
        return QStringLiteral("Almost nothing prints: nearly every dot is white.");
    case PreviewWarning::NearlyAllBlack:
        return QStringLiteral("Prints almost solid black: nearly every dot is black.");
    case PreviewWarning::ColoursMisprinted:
        return QStringLiteral("Colours print wrongly here (dark blue as white, yellow as black): "
                              "try \"%1\".")
                .arg(conversionLabel(Conversion::Dither));
    case PreviewWarning::ShadesLost:
        return QStringLiteral("Greys and shades print as solid black or white: try \"%1\".")
                .arg(conversionLabel(Conversion::Dither));
    case PreviewWarning::LargerThanNvMemory:
        return QStringLiteral("Too large for the printer's NV memory (%1 bytes).").arg(nvCapacity);
    }
    return QString();
}

PicturePreview previewPicture(const QString &path,
                              Conversion conversion,
                              const QColor &background,
                              qint64 nvCapacity)
{
    return previewPicture(path, conversion, background, nvCapacity, StopCheck());
}

PicturePreview previewPicture(const QString &path,
                              Conversion conversion,
                              const QColor &background,
                              qint64 nvCapacity,
                              const StopCheck &stop)
{
    // The download's own checks and rasteriser; the memory is judged below, as a warning.
    const PictureInfo picture = inspectPictureHeader(path, stop);
    checkPictureData(picture, stop);
    PictureSurface surface(background);
    const EscPos::DotImage dots = rasterisePicture(picture, surface, conversion, stop);
    PicturePreview preview;
    preview.sizeDots = QSize(dots.width, dots.height);
    preview.sizeMm = QSizeF(preview.sizeDots) / DotsPerMm;
    preview.recordBytes = EscPos::nvBitImageRecordSize(dots.width, dots.height);
    preview.dots = monoImage(dots);
    preview.pictureSize = QSize(surface.width(), surface.height());
    preview.blackDots = blackDotsInside(preview.dots, preview.pictureSize);

    const auto warn = [&preview, nvCapacity](PreviewWarning warning) {
        preview.warningKinds.append(warning);
        preview.warnings.append(previewWarningText(warning, nvCapacity));
    };
    if (preview.sizeDots.width() > Paper80mmDots)
        warn(PreviewWarning::WiderThan80mmPaper);
    else if (preview.sizeDots.width() > Paper58mmDots)
        warn(PreviewWarning::WiderThan58mmPaper);
    const qint64 pictureDots = qint64(preview.pictureSize.width()) * preview.pictureSize.height();
    if (moreThan(pictureDots - preview.blackDots, pictureDots, 995))
        warn(PreviewWarning::NearlyAllWhite);
    else if (moreThan(preview.blackDots, pictureDots, 995))
        warn(PreviewWarning::NearlyAllBlack);
    if (conversion == Conversion::BlueRule) {
        // The surface still holds the drawn picture: the blue rule packs it unchanged.
        const BlueRuleFit fit = blueRuleFit(surface);
        if (moreThan(fit.misprinted, pictureDots, 50))
            warn(PreviewWarning::ColoursMisprinted);
        if (moreThan(fit.midTones, pictureDots, 250))
            warn(PreviewWarning::ShadesLost);
    }
    if (preview.recordBytes > nvCapacity)
        warn(PreviewWarning::LargerThanNvMemory);
    return preview;
}

} // namespace NvImage

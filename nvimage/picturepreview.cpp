#include "picturepreview.h"

#include <escpos/transpose.h>

#include <cstring>
#include <stdexcept>

namespace NvImage {

namespace {} // namespace

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

PicturePreview previewPicture(const QString &path,
                              Conversion conversion,
                              const QColor &background,
                              qint64 nvCapacity)
{
    Preparation preparation;
    preparation.conversion = conversion;
    return previewPicture(path, preparation, background, {std::nullopt, nvCapacity});
}

PicturePreview previewPicture(const QString &path,
                              const Preparation &preparation,
                              const QColor &background,
                              const WarningRules &rules,
                              const StopCheck &stop)
{
    // The download's own checks and rasteriser; the memory is judged below, as a warning.
    const PictureUse use = preparation.isIdentity() ? PictureUse::Stored : PictureUse::Prepared;
    const PictureInfo picture = inspectPictureHeader(path, stop, use);
    checkPictureData(picture, stop);
    PictureSurface surface(background);
    const RasterisedPicture rasterised
            = rasterisePicture(picture, surface, preparation, stop, true);
    const EscPos::DotImage &dots = rasterised.dots;
    PicturePreview preview;
    preview.sizeDots = QSize(dots.width, dots.height);
    preview.sizeMm = QSizeF(preview.sizeDots) / DotsPerMm;
    preview.recordBytes = EscPos::nvBitImageRecordSize(dots.width, dots.height);
    preview.dots = monoImage(dots);
    preview.pictureSize = rasterised.own;
    preview.blackDots = blackDots(dots, rasterised.own);
    preview.warningKinds = judgePicture(
            dots, rasterised.own, rasterised.colours, preparation.threshold.has_value(), rules);
    for (const PreviewWarning warning : std::as_const(preview.warningKinds))
        preview.warnings.append(previewWarningText(warning, rules));
    return preview;
}

} // namespace NvImage

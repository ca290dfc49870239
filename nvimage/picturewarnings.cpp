#include "picturewarnings.h"

#include "preparation.h"

#include <escpos/commands.h>

#include <QtAlgorithms>

#include <array>

namespace NvImage {

namespace {

void countColour(ColourCounts &counts, QRgb pixel, qint64 count)
{
    const int luminance = brightnessOf(pixel);
    const bool black = qBlue(pixel) < 128;
    if ((luminance < 96 && !black) || (luminance >= 160 && black))
        counts.misprinted += count;
    if (luminance >= 64 && luminance < 192)
        counts.midTones += count;
}

// Whether part is more than permille thousandths of whole, in integers.
bool moreThan(qint64 part, qint64 whole, int permille)
{
    return part * 1000 > whole * permille;
}

void judgeWidth(int width, const WarningRules &rules, QList<PreviewWarning> &warnings)
{
    if (rules.paperDots) {
        if (width > *rules.paperDots)
            warnings.append(PreviewWarning::WiderThanPaper);
    } else if (width > Paper80mmDots) {
        warnings.append(PreviewWarning::WiderThan80mmPaper);
    } else if (width > Paper58mmDots) {
        warnings.append(PreviewWarning::WiderThan58mmPaper);
    }
}

} // namespace

ColourCounts countColours(const PictureSurface &surface)
{
    ColourCounts counts;
    const int width = surface.width();
    if (surface.hasPalette()) {
        // Counted by colour: the indexes are read once, the colours judged 256 times.
        std::array<qint64, 256> perIndex{};
        const QImage &indexes = surface.paletteIndexes();
        for (int y = 0; y < surface.height(); ++y) {
            const uchar *line = indexes.constScanLine(y);
            for (int x = 0; x < width; ++x)
                ++perIndex[line[x]];
        }
        for (std::size_t i = 0; i < perIndex.size(); ++i)
            countColour(counts, surface.palette()[i], perIndex[i]);
        return counts;
    }
    return countColours(surface.image());
}

ColourCounts countColours(const QImage &pixels)
{
    ColourCounts counts;
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x)
            countColour(counts, line[x], 1);
    }
    return counts;
}

qint64 blackDots(const EscPos::DotImage &dots, const QSize &own)
{
    const int fullBytes = own.width() / 8;
    const int rest = own.width() % 8;
    const uchar lastMask = uchar(0xFF << (8 - rest));
    qint64 black = 0;
    for (int y = 0; y < own.height() && y < dots.height; ++y) {
        const uchar *line = dots.row(y);
        for (int i = 0; i < fullBytes; ++i)
            black += qPopulationCount(line[i]);
        if (rest)
            black += qPopulationCount(uchar(line[fullBytes] & lastMask));
    }
    return black;
}

QList<PreviewWarning> judgePicture(const EscPos::DotImage &dots,
                                   const QSize &own,
                                   const std::optional<ColourCounts> &colours,
                                   bool thresholdRule,
                                   const WarningRules &rules)
{
    QList<PreviewWarning> warnings;
    judgeWidth(dots.width, rules, warnings);
    const qint64 pictureDots = qint64(own.width()) * own.height();
    const qint64 black = blackDots(dots, own);
    if (moreThan(pictureDots - black, pictureDots, 995))
        warnings.append(PreviewWarning::NearlyAllWhite);
    else if (moreThan(black, pictureDots, 995))
        warnings.append(PreviewWarning::NearlyAllBlack);
    if (colours) {
        if (!thresholdRule && moreThan(colours->misprinted, pictureDots, 50))
            warnings.append(PreviewWarning::ColoursMisprinted);
        if (moreThan(colours->midTones, pictureDots, 250))
            warnings.append(PreviewWarning::ShadesLost);
    }
    if (rules.nvCapacity > 0
        && EscPos::nvBitImageRecordSize(dots.width, dots.height) > rules.nvCapacity)
        warnings.append(PreviewWarning::LargerThanNvMemory);
    return warnings;
}

QString previewWarningText(PreviewWarning warning, const WarningRules &rules)
{
    switch (warning) {
    case PreviewWarning::WiderThan80mmPaper:
        return QStringLiteral("Wider than 80 mm paper (576 dots): the rest does not print.");
    case PreviewWarning::WiderThan58mmPaper:
        return QStringLiteral("Wider than 58 mm paper (384 dots); fits 80 mm paper.");
    case PreviewWarning::WiderThanPaper:
        return QStringLiteral("Wider than the paper (%1 dots): the rest does not print; try "
                              "\"Fit to paper\".")
                .arg(rules.paperDots.value_or(Paper80mmDots));
    case PreviewWarning::NearlyAllWhite:
        return QStringLiteral("Almost nothing prints: nearly every dot is white.");
    case PreviewWarning::NearlyAllBlack:
        return QStringLiteral("Prints almost solid black: nearly every dot is black.");
    case PreviewWarning::ColoursMisprinted:
        return QStringLiteral("Colours print wrongly here (dark blue as white, yellow as black): "
                              "try \"By brightness\" or \"Dither (photos)\".");
    case PreviewWarning::ShadesLost:
        return QStringLiteral("Greys and shades print as solid black or white: try \"Dither "
                              "(photos)\".");
    case PreviewWarning::LargerThanNvMemory:
        return QStringLiteral("Too large for the printer's NV memory (%1 bytes).")
                .arg(rules.nvCapacity);
    }
    return QString();
}

} // namespace NvImage

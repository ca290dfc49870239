#include "nvbitimage.h"

namespace VirtualPrinter {

bool NvBitImage::dot(int x, int y) const
{
    if (x < 0 || y < 0 || x >= widthDots() || y >= heightDots() || !isComplete())
        return false;
    const auto byte = static_cast<uchar>(data.at(qsizetype(x) * heightUnits + y / 8));
    return byte & (0x80 >> (y % 8));
}

QImage makePaperImage(int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    if (image.isNull())
        return image;
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    image.fill(0);
    return image;
}

QImage NvBitImage::toImage() const
{
    if (!isComplete())
        return {};
    QImage image = makePaperImage(widthDots(), heightDots());
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    for (int x = 0; x < widthDots(); ++x) {
        const uchar *column = bytes + qsizetype(x) * heightUnits;
        const uchar mask = 0x80 >> (x % 8);
        for (int band = 0; band < heightUnits; ++band) {
            const uchar byte = column[band];
            if (!byte)
                continue;
            for (int bit = 0; bit < 8; ++bit) {
                if (byte & (0x80 >> bit))
                    image.scanLine(band * 8 + bit)[x / 8] |= mask;
            }
        }
    }
    return image;
}

} // namespace VirtualPrinter

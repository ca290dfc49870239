#include "nvgraphic.h"

#include "nvbitimage.h"

namespace VirtualPrinter {

bool NvGraphic::dot(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height || data.size() != dataSize())
        return false;
    return uchar(data.at(qsizetype(y) * rowBytes() + x / 8)) & (0x80 >> (x % 8));
}

QImage NvGraphic::toImage() const
{
    if (data.size() != dataSize() || width <= 0 || height <= 0)
        return {};
    QImage image = makePaperImage(width, height);
    const int bytes = rowBytes();
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        std::copy_n(data.constData() + qsizetype(y) * bytes, bytes, line);
        // The bits past the width are white.
        if (width % 8)
            line[bytes - 1] &= uchar(0xFF << (8 - width % 8));
    }
    return image;
}

QString keyFileName(const QByteArray &key)
{
    QString name;
    for (const char c : key) {
        const auto byte = uchar(c);
        if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z')
            || (byte >= 'a' && byte <= 'z') || byte == '-' || byte == '_')
            name += QLatin1Char(c);
        else
            name += QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return name;
}

QString keyText(const QByteArray &key)
{
    return QString::fromLatin1(key);
}

} // namespace VirtualPrinter

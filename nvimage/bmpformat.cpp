#include "pictureformat.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cstdlib>

// BMP: Qt's reader decodes the pixels; the header and the run-length data are checked here,
// since the reader leaves what is missing at palette index 0 and reports success.

namespace NvImage::Formats {

namespace {

// The fields of a BMP header that matter here: the claimed size and where the pixels lie.
struct BmpHeader
{
    QSize size;
    qint64 pixelDataStart = -1;
    qint64 pixelDataEnd = -1; // -1 when the layout is compressed or not understood
    int rleBits = 0;          // 8 or 4 for run-length encoded pixels, else 0
};

BmpHeader readBmpHeader(const QByteArray &file)
{
    BmpHeader header;
    const QByteArray bytes = file.left(54);
    if (bytes.size() < 26)
        return header;
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 pixelOffset = le32(p + 10);
    const quint32 infoSize = le32(p + 14);
    qint64 width = 0;
    qint64 height = 0;
    quint32 bitCount = 0;
    quint32 compression = 0;
    if (infoSize == 12) {
        width = le16(p + 18);
        height = le16(p + 20);
        bitCount = le16(p + 24);
    } else if (infoSize >= 40 && bytes.size() >= 34) {
        width = qint32(le32(p + 18));
        height = qint32(le32(p + 22));
        bitCount = le16(p + 28);
        compression = le32(p + 30);
    } else {
        return header;
    }
    height = std::abs(height); // negative: rows stored top-down
    if (width <= 0 || height <= 0)
        return header;
    header.size
            = QSize(int(std::min<qint64>(width, 1 << 30)), int(std::min<qint64>(height, 1 << 30)));
    // The layout is worked out only for printable sizes: a larger picture is refused by its
    // size, and 2^31 x 2^31 x 32 bits would not fit in 64 bits.
    if (width > MaxWidthDots || height > MaxHeightDots)
        return header;
    header.pixelDataStart = std::max<qint64>(pixelOffset, 14 + qint64(infoSize));
    if ((compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4)) {
        header.rleBits = int(bitCount);
        return header;
    }
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16
                            || bitCount == 24 || bitCount == 32;
    if (uncompressed && knownDepth) {
        const qint64 stride = (width * bitCount + 31) / 32 * 4;
        header.pixelDataEnd = header.pixelDataStart + stride * height;
    }
    return header;
}

// Walks run-length encoded BMP pixels: every pixel must be set exactly once, by runs that
// stay inside their row, and the data must end with its end-of-bitmap code inside the file.
// The reader leaves whatever is missing at palette index 0 and reports success. Returns
// why the data is damaged, or an empty string.
QString rleDamage(
        const uchar *d, qint64 n, qint64 start, int bits, const QSize &size, const StopCheck &stop)
{
    const qint64 width = size.width();
    const qint64 height = size.height();
    qint64 x = 0;
    qint64 y = 0;
    qint64 pos = start;
    const auto rowFull = [&] {
        return QStringLiteral("a run goes past the end of row %1.").arg(y + 1);
    };
    for (qint64 runs = 1; pos + 2 <= n; ++runs) {
        if (runs % (1 << 20) == 0)
            throwIfStopped(stop);
        const int count = d[pos];
        const int code = d[pos + 1];
        pos += 2;
        if (count > 0) {
            if (y >= height)
                return QStringLiteral("runs go on below the last row.");
            if (x + count > width)
                return rowFull();
            x += count;
            continue;
        }
        switch (code) {
        case 0: // end of line
            if (y >= height)
                return QStringLiteral("runs go on below the last row.");
            if (x != width)
                return QStringLiteral("row %1 ends after %2 of its %3 pixels.")
                        .arg(y + 1)
                        .arg(x)
                        .arg(width);
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            if ((y == height - 1 && x == width) || (y == height && x == 0))
                return QString();
            return QStringLiteral("the picture ends at row %1 of %2.").arg(y + 1).arg(height);
        case 2: // delta: pixels skipped are never set
            return QStringLiteral("it skips pixels (a delta code at row %1).").arg(y + 1);
        default: { // absolute run of code pixels, padded to a whole 16-bit word
            if (y >= height)
                return QStringLiteral("runs go on below the last row.");
            if (x + code > width)
                return rowFull();
            const qint64 bytes = bits == 8 ? code : (code + 1) / 2;
            pos += bytes + (bytes & 1);
            if (pos > n)
                return QStringLiteral("a run reaches past the end of the file.");
            x += code;
            break;
        }
        }
    }
    return QStringLiteral("the file ends before the end-of-bitmap code, at row %1 of %2.")
            .arg(std::min(y + 1, height))
            .arg(height);
}

bool recognisesBmp(const QByteArray &head)
{
    return head.startsWith("BM");
}

QSize readBmpSize(const PictureInfo &picture)
{
    QBuffer file;
    file.setData(picture.bytes);
    file.open(QIODevice::ReadOnly);
    QImageReader reader(&file, "bmp");
    const QSize size = reader.size();
    // The reader refuses absurd sizes outright; they are refused below by the size they claim.
    return size.isValid() ? size : readBmpHeader(picture.bytes).size;
}

void checkBmpData(const PictureInfo &picture, const StopCheck &stop)
{
    const QByteArray &bytes = picture.bytes;
    const QSize &size = picture.size;
    const BmpHeader header = readBmpHeader(bytes);
    if (header.pixelDataEnd > bytes.size())
        throw incompletePicture(picture.path,
                                QStringLiteral("the file is shorter than its %1 x %2 pixels need.")
                                        .arg(size.width())
                                        .arg(size.height()));
    if (header.rleBits == 0)
        return;
    const QString why = rleDamage(
            dataOf(bytes), bytes.size(), header.pixelDataStart, header.rleBits, size, stop);
    if (!why.isEmpty())
        throw damagedPicture(picture.path, why);
}

} // namespace

const PictureFormat &bmpFormat()
{
    static const PictureFormat format{
            "bmp", recognisesBmp, readBmpSize, checkBmpData, decodeWithQt};
    return format;
}

} // namespace NvImage::Formats

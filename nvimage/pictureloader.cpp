#include "pictureloader.h"

#include "errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace NvImage {

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

quint32 le16(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8;
}

quint32 le32(const uchar *p)
{
    return le16(p) | le16(p + 2) << 16;
}

void openPicture(QFile &file)
{
    if (QFileInfo(file.fileName()).isDir())
        throw PictureError(file.fileName(),
                           QStringLiteral("\"%1\" is a folder, not a picture file.")
                                   .arg(shown(file.fileName())));
    if (!file.open(QIODevice::ReadOnly))
        throw PictureError(file.fileName(),
                           QStringLiteral("The picture file \"%1\" cannot be opened: %2.")
                                   .arg(shown(file.fileName()), file.errorString()));
}

// The format by the file's first bytes; only the three kinds the printer tool takes.
QByteArray sniffFormat(QFile &file)
{
    const QByteArray head = file.peek(6);
    if (head.startsWith("BM"))
        return QByteArrayLiteral("bmp");
    if (head.startsWith("\xFF\xD8\xFF"))
        return QByteArrayLiteral("jpeg");
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return QByteArrayLiteral("gif");
    return QByteArray();
}

// The fields of a BMP header that matter here: the claimed size and where the pixels end.
struct BmpHeader
{
    QSize size;
    qint64 pixelDataEnd = -1; // -1 when the layout is compressed or not understood
};

BmpHeader readBmpHeader(QFile &file)
{
    BmpHeader header;
    const QByteArray bytes = file.peek(54);
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
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16
                            || bitCount == 24 || bitCount == 32;
    if (uncompressed && knownDepth) {
        const qint64 stride = (width * bitCount + 31) / 32 * 4;
        const qint64 start = std::max<qint64>(pixelOffset, 14 + qint64(infoSize));
        header.pixelDataEnd = start + stride * height;
    }
    return header;
}

// Whether the entropy-coded data reaches the end-of-image marker. The reader would
// otherwise make up the missing rows and report success.
bool jpegComplete(const uchar *d, qint64 n)
{
    qint64 pos = 2; // past SOI
    while (pos < n) {
        const void *ff = std::memchr(d + pos, 0xFF, std::size_t(n - pos));
        if (!ff)
            return false;
        pos = static_cast<const uchar *>(ff) - d;
        while (pos < n && d[pos] == 0xFF) // fill bytes
            ++pos;
        if (pos >= n)
            return false;
        const uchar marker = d[pos++];
        if (marker == 0xD9)
            return true;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue; // no length field
        if (pos + 2 > n)
            return false;
        const qint64 length = qint64(d[pos]) << 8 | d[pos + 1];
        if (length < 2)
            return false;
        pos += length;
        if (pos > n)
            return false;
        if (marker != 0xDA)
            continue;
        // Scan data runs to the next marker other than a stuffed zero or a restart.
        for (;;) {
            ff = std::memchr(d + pos, 0xFF, std::size_t(n - pos));
            if (!ff)
                return false;
            pos = static_cast<const uchar *>(ff) - d;
            if (pos + 1 >= n)
                return false;
            const uchar next = d[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                pos += 2;
            else if (next == 0xFF)
                pos += 1;
            else
                break;
        }
    }
    return false;
}

enum class GifCheck { Complete, Incomplete, NoPicture, Damaged };

// Walks the blocks up to the end of the first image's data: the reader leaves the rest
// of a cut-off image transparent and reports success.
GifCheck gifFirstImageComplete(const uchar *d, qint64 n)
{
    if (n < 13)
        return GifCheck::Incomplete;
    qint64 pos = 13;
    if (d[10] & 0x80)
        pos += 3 * (qint64(2) << (d[10] & 7));
    const auto skipSubBlocks = [&]() {
        for (;;) {
            if (pos >= n)
                return false;
            const int length = d[pos++];
            if (length == 0)
                return true;
            pos += length;
        }
    };
    while (pos < n) {
        const uchar introducer = d[pos++];
        if (introducer == 0x21) {
            ++pos; // label
            if (!skipSubBlocks())
                return GifCheck::Incomplete;
        } else if (introducer == 0x2C) {
            if (pos + 9 > n)
                return GifCheck::Incomplete;
            const uchar packed = d[pos + 8];
            pos += 9;
            if (packed & 0x80)
                pos += 3 * (qint64(2) << (packed & 7));
            ++pos; // LZW minimum code size
            return skipSubBlocks() ? GifCheck::Complete : GifCheck::Incomplete;
        } else if (introducer == 0x3B) {
            return GifCheck::NoPicture;
        } else {
            return GifCheck::Damaged;
        }
    }
    return GifCheck::Incomplete;
}

void checkComplete(QFile &file, const QByteArray &format, const QSize &size)
{
    const QString path = file.fileName();
    const auto incomplete = [&](const QString &why) {
        return PictureError(
                path, QStringLiteral("The picture \"%1\" is incomplete: %2").arg(shown(path), why));
    };
    if (format == "bmp") {
        const BmpHeader header = readBmpHeader(file);
        if (header.pixelDataEnd > file.size())
            throw incomplete(QStringLiteral("the file is shorter than its %1 x %2 pixels need.")
                                     .arg(size.width())
                                     .arg(size.height()));
        return;
    }
    // Reading the file is cheaper than mapping it: no page faults, and it is small.
    const QByteArray bytes = file.readAll();
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 length = bytes.size();
    if (format == "jpeg") {
        if (!jpegComplete(data, length))
            throw incomplete(QStringLiteral("its JPEG data ends before the end-of-image marker."));
        return;
    }
    switch (gifFirstImageComplete(data, length)) {
    case GifCheck::Complete:
        return;
    case GifCheck::Incomplete:
        throw incomplete(QStringLiteral("the file ends inside its GIF picture data."));
    case GifCheck::NoPicture:
        throw PictureError(
                path, QStringLiteral("The GIF file \"%1\" holds no picture.").arg(shown(path)));
    case GifCheck::Damaged:
        throw PictureError(path,
                           QStringLiteral("The GIF file \"%1\" is damaged: an unknown block "
                                          "comes before its first picture.")
                                   .arg(shown(path)));
    }
}

void checkPrintable(const QString &path, const QSize &size)
{
    if (size.width() <= MaxWidthDots && size.height() <= MaxHeightDots)
        return;
    throw PictureTooLargeError(path,
                               QStringLiteral("The picture \"%1\" is %2 x %3 pixels, too large "
                                              "for an NV image: a picture may be at most %4 "
                                              "dots wide and %5 dots high.")
                                       .arg(shown(path))
                                       .arg(size.width())
                                       .arg(size.height())
                                       .arg(MaxWidthDots)
                                       .arg(MaxHeightDots));
}

} // namespace

PictureInfo inspectPicture(const QString &path)
{
    QFile file(path);
    openPicture(file);
    PictureInfo info;
    info.path = path;
    info.format = sniffFormat(file);
    if (info.format.isEmpty())
        throw PictureError(path,
                           QStringLiteral("The file \"%1\" is not a BMP, JPEG or GIF picture.")
                                   .arg(shown(path)));
    {
        QImageReader reader(&file, info.format);
        info.size = reader.size();
    }
    file.seek(0);
    if (!info.size.isValid() && info.format == "bmp")
        info.size = readBmpHeader(file).size; // the reader refuses absurd sizes outright
    if (!info.size.isValid() || info.size.isEmpty())
        throw PictureError(path,
                           QStringLiteral("The picture \"%1\" is damaged: its size cannot be "
                                          "read from the file.")
                                   .arg(shown(path)));
    checkPrintable(path, info.size);
    checkComplete(file, info.format, info.size);
    return info;
}

QImage decodePicture(const PictureInfo &info)
{
    QFile file(info.path);
    openPicture(file);
    QImageReader reader(&file, info.format);
    reader.setAutoTransform(false);
    QImage image;
    if (!reader.read(&image)) {
        const qint64 needed = qint64(info.size.width()) * info.size.height() * 4;
        const int limitMb = QImageReader::allocationLimit();
        if (limitMb > 0 && needed > qint64(limitMb) * 1024 * 1024)
            throw PictureError(info.path,
                               QStringLiteral("The picture \"%1\" is too large to decode: its "
                                              "%2 x %3 pixels need more than the %4 MB the "
                                              "picture reader may use.")
                                       .arg(shown(info.path))
                                       .arg(info.size.width())
                                       .arg(info.size.height())
                                       .arg(limitMb));
        throw PictureError(info.path,
                           QStringLiteral("The picture \"%1\" could not be decoded (%2); the "
                                          "file may be damaged.")
                                   .arg(shown(info.path), reader.errorString()));
    }
    checkPrintable(info.path, image.size());
    return image;
}

QImage loadPicture(const QString &path)
{
    return decodePicture(inspectPicture(path));
}

} // namespace NvImage

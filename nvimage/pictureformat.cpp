#include "pictureformat.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>

namespace NvImage::Formats {

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

const uchar *dataOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uchar *>(bytes.constData());
}

PictureError incompletePicture(const QString &path, const QString &why)
{
    return PictureError(
            path, QStringLiteral("The picture \"%1\" is incomplete: %2").arg(shown(path), why));
}

PictureError damagedPicture(const QString &path, const QString &why)
{
    return PictureError(path,
                        QStringLiteral("The picture \"%1\" is damaged: %2").arg(shown(path), why));
}

PictureError tooLargeToDecode(const PictureInfo &info, int limitMb)
{
    return PictureError(info.path,
                        QStringLiteral("The picture \"%1\" is too large to decode: its %2 x %3 "
                                       "pixels need more than the %4 MB the picture reader may "
                                       "use.")
                                .arg(shown(info.path))
                                .arg(info.size.width())
                                .arg(info.size.height())
                                .arg(limitMb));
}

QImage decodeWithQt(const PictureInfo &info, const StopCheck &stop)
{
    throwIfStopped(stop);
    QBuffer file;
    file.setData(info.bytes);
    file.open(QIODevice::ReadOnly);
    QImageReader reader(&file, info.format);
    reader.setAutoTransform(false);
    QImage image;
    if (reader.read(&image)) {
        throwIfStopped(stop);
        return image;
    }
    const qint64 needed = qint64(info.size.width()) * info.size.height() * 4;
    const int limitMb = QImageReader::allocationLimit();
    if (limitMb > 0 && needed > qint64(limitMb) * 1024 * 1024)
        throw tooLargeToDecode(info, limitMb);
    throw PictureError(info.path,
                       QStringLiteral("The picture \"%1\" could not be decoded (%2); the file "
                                      "may be damaged.")
                               .arg(shown(info.path), reader.errorString()));
}

} // namespace NvImage::Formats

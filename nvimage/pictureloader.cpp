#include "pictureloader.h"

#include "errors.h"
#include "fileio.h"
#include "pictureformat.h"

// The loader reads a picture file once and dispatches to its format's reader
// (bmpformat.cpp, jpegformat.cpp, gifformat.cpp, pngformat.cpp).

namespace NvImage {

using namespace Formats;

namespace {

// The file's content at one moment, read once: the checks and the decoder all work on these
// bytes, so a file rewritten meanwhile can neither pass the checks as one picture and be
// decoded as another, nor be decoded from a mixture of both.
QByteArray readPicture(const QString &path, const StopCheck &stop)
{
    FileContent content = readRegularFile(path, MaxPictureFileBytes, stop);
    switch (content.outcome) {
    case FileContent::Read:
        return content.bytes;
    case FileContent::NotOpened:
        if (content.status.kind == FileStatus::Folder)
            throw PictureError(
                    path,
                    QStringLiteral("\"%1\" is a folder, not a picture file.").arg(shown(path)));
        if (content.status.kind == FileStatus::Other)
            throw PictureError(path,
                               QStringLiteral("\"%1\" is not a regular file (a device, a pipe or "
                                              "a socket), so it cannot be a picture file.")
                                       .arg(shown(path)));
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" cannot be opened: %2.")
                                   .arg(shown(path), content.status.reason()));
    case FileContent::TooLarge:
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" takes %2 bytes, more than "
                                          "the %3 that a printable picture may take.")
                                   .arg(shown(path))
                                   .arg(content.size)
                                   .arg(MaxPictureFileBytes));
    case FileContent::ReadFailed:
        break;
    case FileContent::Stopped:
        throw StoppedError();
    case FileContent::Changed:
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" changed while it was read; "
                                          "try again once it is saved.")
                                   .arg(shown(path)));
    }
    throw PictureError(path,
                       QStringLiteral("The picture file \"%1\" cannot be read: %2.")
                               .arg(shown(path), content.reason));
}

const PictureFormat *const Known[] = {&bmpFormat(), &jpegFormat(), &gifFormat(), &pngFormat()};

// Only the kinds the printer tool takes, recognised by the file's first bytes.
const PictureFormat *formatOf(const QByteArray &file)
{
    const QByteArray head = file.left(8);
    for (const PictureFormat *format : Known) {
        if (format->recognises(head))
            return format;
    }
    return nullptr;
}

PictureError notAPicture(const QString &path)
{
    return PictureError(path,
                        QStringLiteral("The file \"%1\" is not a BMP, JPEG, GIF or PNG picture.")
                                .arg(shown(path)));
}

const PictureFormat &formatOf(const PictureInfo &info)
{
    for (const PictureFormat *format : Known) {
        if (info.format == format->name)
            return *format;
    }
    throw notAPicture(info.path);
}

void checkPrepared(const QString &path, const QSize &size)
{
    if (size.width() <= MaxPreparedSide && size.height() <= MaxPreparedSide
        && qint64(size.width()) * size.height() <= MaxPreparedPixels)
        return;
    throw PictureTooLargeError(path,
                               QStringLiteral("The picture \"%1\" is %2 x %3 pixels, more than "
                                              "can be decoded: at most %4 million pixels.")
                                       .arg(shown(path))
                                       .arg(size.width())
                                       .arg(size.height())
                                       .arg(MaxPreparedPixels / (1024 * 1024)));
}

void checkPrintable(const QString &path, const QSize &size, PictureUse use)
{
    if (use == PictureUse::Prepared)
        return checkPrepared(path, size);
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

PictureInfo inspectPictureHeader(const QString &path)
{
    return inspectPictureHeader(path, StopCheck());
}

PictureInfo inspectPictureHeader(const QString &path, const StopCheck &stop, PictureUse use)
{
    PictureInfo info;
    info.path = path;
    info.use = use;
    info.bytes = readPicture(path, stop);
    const PictureFormat *format = formatOf(info.bytes);
    if (!format)
        throw notAPicture(path);
    info.format = format->name;
    info.size = format->readSize(info);
    if (!info.size.isValid() || info.size.isEmpty())
        throw PictureError(path,
                           QStringLiteral("The picture \"%1\" is damaged: its size cannot be "
                                          "read from the file.")
                                   .arg(shown(path)));
    checkPrintable(path, info.size, use);
    return info;
}

void checkPictureData(const PictureInfo &info)
{
    checkPictureData(info, StopCheck());
}

void checkPictureData(const PictureInfo &info, const StopCheck &stop)
{
    formatOf(info).checkData(info, stop);
}

PictureInfo inspectPicture(const QString &path)
{
    return inspectPicture(path, StopCheck());
}

PictureInfo inspectPicture(const QString &path, const StopCheck &stop)
{
    const PictureInfo info = inspectPictureHeader(path, stop);
    checkPictureData(info, stop);
    return info;
}

QImage decodePicture(const PictureInfo &info)
{
    return decodePicture(info, StopCheck());
}

QImage decodePicture(const PictureInfo &info, const StopCheck &stop)
{
    const QImage image = formatOf(info).decode(info, stop);
    if (image.isNull())
        throw PictureError(info.path,
                           QStringLiteral("The picture \"%1\" could not be decoded: the reader "
                                          "gave no picture.")
                                   .arg(shown(info.path)));
    // The NV memory was judged by the inspected size: a picture that outgrows it is refused.
    if (image.width() > info.size.width() || image.height() > info.size.height())
        throw PictureTooLargeError(info.path,
                                   QStringLiteral("The picture \"%1\" decodes to %2 x %3 pixels, "
                                                  "more than the %4 x %5 its header gives.")
                                           .arg(shown(info.path))
                                           .arg(image.width())
                                           .arg(image.height())
                                           .arg(info.size.width())
                                           .arg(info.size.height()));
    checkPrintable(info.path, image.size(), info.use);
    return image;
}

} // namespace NvImage

#include "pictureloader.h"

#include "errors.h"
#include "pictureformat.h"
#include "regularfile.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

// The loader reads a picture file once and dispatches to its format's reader
// (bmpformat.cpp, jpegformat.cpp, gifformat.cpp, pngformat.cpp).

namespace NvImage {

using namespace Formats;

namespace {

// Whether the file still holds exactly bytes and its size and times are those before the
// read. A write in progress during the read may leave the times as they were; the same bytes
// read a second time show that none was.
bool unchangedSinceRead(int fd, const QByteArray &bytes, const struct stat &before)
{
    const qint64 done = bytes.size();
    std::vector<char> again(64 * 1024);
    bool same = true;
    for (qint64 at = 0; same && at <= done;) {
        const ssize_t count = ::pread(fd, again.data(), again.size(), off_t(at));
        if (count < 0 && errno == EINTR)
            continue;
        same = count >= 0 && (count > 0 || at == done) && at + count <= done
               && std::memcmp(again.data(), bytes.constData() + at, std::size_t(count)) == 0;
        if (count == 0)
            break;
        at += count;
    }
    struct stat after;
    return same && ::fstat(fd, &after) == 0 && after.st_size == before.st_size
           && qint64(after.st_size) == done && after.st_mtim.tv_sec == before.st_mtim.tv_sec
           && after.st_mtim.tv_nsec == before.st_mtim.tv_nsec
           && after.st_ctim.tv_sec == before.st_ctim.tv_sec
           && after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
}

// The file's content at one moment, read once: the checks and the decoder all work on these
// bytes, so a file rewritten meanwhile can neither pass the checks as one picture and be
// decoded as another, nor be decoded from a mixture of both.
QByteArray readPicture(const QString &path)
{
    FileStatus status;
    const int fd = openRegularFile(path, &status);
    if (status.kind == FileStatus::Folder)
        throw PictureError(
                path, QStringLiteral("\"%1\" is a folder, not a picture file.").arg(shown(path)));
    if (status.kind == FileStatus::Other)
        throw PictureError(path,
                           QStringLiteral("\"%1\" is not a regular file (a device, a pipe or a "
                                          "socket), so it cannot be a picture file.")
                                   .arg(shown(path)));
    if (fd < 0)
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" cannot be opened: %2.")
                                   .arg(shown(path), status.reason()));
    const auto close = qScopeGuard([fd] { ::close(fd); });
    // By the size on disk first: a sparse file of gigabytes is refused without a read.
    const auto tooLarge = [&path](qint64 size) {
        return PictureError(path,
                            QStringLiteral("The picture file \"%1\" takes %2 bytes, more than "
                                           "the %3 that a printable picture may take.")
                                    .arg(shown(path))
                                    .arg(size)
                                    .arg(MaxPictureFileBytes));
    };
    struct stat before;
    if (::fstat(fd, &before) != 0)
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" cannot be read: %2.")
                                   .arg(shown(path), qt_error_string(errno)));
    if (qint64(before.st_size) > MaxPictureFileBytes)
        throw tooLarge(qint64(before.st_size));
    QByteArray bytes(qsizetype(before.st_size), Qt::Uninitialized);
    qint64 done = 0;
    // One byte more than the size on disk tells a file that grows while it is read.
    for (;;) {
        if (done == bytes.size()) {
            if (done >= MaxPictureFileBytes + 1)
                throw tooLarge(done);
            bytes.resize(qsizetype(std::min<qint64>(MaxPictureFileBytes + 1, done + 64 * 1024)));
        }
        const ssize_t count = ::read(fd, bytes.data() + done, std::size_t(bytes.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw PictureError(path,
                               QStringLiteral("The picture file \"%1\" cannot be read: %2.")
                                       .arg(shown(path), qt_error_string(errno)));
        if (count == 0)
            break;
        done += count;
    }
    bytes.truncate(qsizetype(done));
    if (!unchangedSinceRead(fd, bytes, before))
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" changed while it was read; "
                                          "try again once it is saved.")
                                   .arg(shown(path)));
    return bytes;
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

PictureInfo inspectPictureHeader(const QString &path)
{
    PictureInfo info;
    info.path = path;
    info.bytes = readPicture(path);
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
    checkPrintable(path, info.size);
    return info;
}

void checkPictureData(const PictureInfo &info)
{
    formatOf(info).checkData(info);
}

PictureInfo inspectPicture(const QString &path)
{
    const PictureInfo info = inspectPictureHeader(path);
    checkPictureData(info);
    return info;
}

QImage decodePicture(const PictureInfo &info)
{
    const QImage image = formatOf(info).decode(info);
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
    checkPrintable(info.path, image.size());
    return image;
}

} // namespace NvImage

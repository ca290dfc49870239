#include "nvimagefile.h"

#include "errors.h"
#include "fileio.h"

#include <QDir>
#include <QList>
#include <QtNumeric>

#include <limits>

namespace NvImage {

namespace {

QList<QSize> roundedSizes(const QList<PictureInfo> &pictures)
{
    QList<QSize> sizes;
    sizes.reserve(pictures.size());
    for (const PictureInfo &picture : pictures)
        sizes.append(QSize(roundUpToMultipleOf8(picture.size.width()),
                           roundUpToMultipleOf8(picture.size.height())));
    return sizes;
}

QList<PictureInfo> checkPictures(const QStringList &paths, qint64 nvCapacity, const StopCheck &stop)
{
    if (paths.isEmpty())
        throw PictureCountError(QStringLiteral("No picture was chosen."));
    if (paths.size() > MaxPictures)
        throw PictureCountError(QStringLiteral("%1 pictures were chosen, but at most %2 can be "
                                               "stored at once.")
                                        .arg(paths.size())
                                        .arg(MaxPictures));
    QList<PictureInfo> pictures;
    pictures.reserve(paths.size());
    for (const QString &path : paths)
        pictures.append(inspectPictureHeader(path, stop));
    // The sizes come from the headers: the memory is checked before any data is read.
    const qint64 dataSize = nvDefinitionSize(roundedSizes(pictures));
    if (dataSize > nvCapacity)
        throw NvCapacityError(dataSize, nvCapacity);
    for (const PictureInfo &picture : pictures)
        checkPictureData(picture, stop);
    return pictures;
}

// Where the stream's pieces go, in order: the scratch file or memory.
using StreamSink = std::function<void(const QByteArray &)>;

// The one writer behind the scratch file and the in-memory stream. Only one decoded picture
// and its dots are held at a time.
void writeStream(const StreamSink &write,
                 const QList<PictureInfo> &pictures,
                 PictureSurface &surface,
                 ImageSize &size,
                 Conversion conversion,
                 const StopCheck &stop)
{
    write(EscPos::initialize() + EscPos::defineNvBitImagesHeader(int(pictures.size())));
    for (const PictureInfo &picture : pictures) {
        const EscPos::DotImage dots = rasterisePicture(picture, surface, conversion, stop);
        size.ImageWidth = qint16(dots.width);
        size.ImageHeight = qint16(dots.height);
        write(EscPos::nvBitImageRecord(dots));
    }
}

} // namespace

EscPos::DotImage
rasterisePicture(const PictureInfo &picture, PictureSurface &surface, Conversion conversion)
{
    return rasterisePicture(picture, surface, conversion, StopCheck());
}

EscPos::DotImage rasterisePicture(const PictureInfo &picture,
                                  PictureSurface &surface,
                                  Conversion conversion,
                                  const StopCheck &stop)
{
    // The surface lets go of the last picture before the next is decoded.
    surface.clear();
    surface.drawPicture(decodePicture(picture, stop));
    // Conversion fails only for want of memory; an empty surface would print blank.
    if (surface.isNull())
        throw PictureError(picture.path,
                           QStringLiteral("The picture \"%1\" could not be converted to "
                                          "dots: there is not enough memory.")
                                   .arg(QDir::toNativeSeparators(picture.path)));
    applyConversion(surface, conversion, stop);
    return rasterise(surface,
                     roundUpToMultipleOf8(surface.width()),
                     roundUpToMultipleOf8(surface.height()),
                     stop);
}

bool FileExists(const QString &path) noexcept
{
    return canOpenRegularFile(path);
}

qint32 totalFileSize(const QStringList &paths)
{
    qint32 total = 0;
    for (const QString &path : paths) {
        const FileStatus status = fileStatus(path);
        const QString shown = QDir::toNativeSeparators(path);
        if (status.missing())
            throw PictureError(
                    path, QStringLiteral("The picture file \"%1\" cannot be found.").arg(shown));
        if (status.kind == FileStatus::Unreachable)
            throw PictureError(path,
                               QStringLiteral("The picture file \"%1\" cannot be reached: %2.")
                                       .arg(shown, status.reason()));
        if (status.kind == FileStatus::Folder)
            throw PictureError(
                    path, QStringLiteral("\"%1\" is a folder, not a picture file.").arg(shown));
        if (status.kind == FileStatus::Other)
            throw PictureError(path,
                               QStringLiteral("\"%1\" is not a regular file (a device, a pipe or "
                                              "a socket), so it cannot be a picture file.")
                                       .arg(shown));
        const qint64 length = status.size;
        if (length > std::numeric_limits<qint32>::max()
            || qAddOverflow(total, qint32(length), &total))
            throw OverflowError(QStringLiteral("Overflow: the chosen files together are larger "
                                               "than %1 bytes.")
                                        .arg(std::numeric_limits<qint32>::max()));
    }
    return total;
}

qint64 nvDefinitionSize(const QList<QSize> &roundedSizes)
{
    qint64 size = 0;
    for (const QSize &rounded : roundedSizes)
        size += EscPos::nvBitImageRecordSize(rounded.width(), rounded.height());
    return size;
}

qint16 roundUpToMultipleOf8(int pixels)
{
    const int max = std::numeric_limits<qint16>::max();
    const int rounded = pixels % 8 == 0 ? pixels : pixels - pixels % 8 + 8;
    if (pixels < 0 || pixels > max || rounded > max)
        throw OverflowError(QStringLiteral("Overflow: a picture size of %1 pixels, rounded up "
                                           "to a multiple of 8, does not fit in 16 bits.")
                                    .arg(pixels));
    return qint16(rounded);
}

ScratchFile::ScratchFile(const QString &folder)
    : m_folder(folder.isEmpty() ? QDir::tempPath() : folder)
{}

ScratchFile::~ScratchFile()
{
    remove();
}

bool ScratchFile::exists() const
{
    return m_file && m_file->isOpen();
}

void ScratchFile::remove()
{
    m_file.reset();
}

QString ScratchFile::name() const
{
    return QStringLiteral("the scratch file in \"%1\"").arg(QDir::toNativeSeparators(m_folder));
}

AnonymousFile &ScratchFile::create()
{
    remove();
    auto file = std::make_unique<AnonymousFile>();
    if (!file->create(m_folder))
        throw ScratchFileError(QStringLiteral("Could not create the scratch file in \"%1\": %2.")
                                       .arg(QDir::toNativeSeparators(m_folder), file->reason()));
    m_file = std::move(file);
    return *m_file;
}

void WriteNvImageFile(ScratchFile &scratch,
                      const QStringList &paths,
                      PictureSurface &Picture1,
                      ImageSize &size,
                      qint64 nvCapacity,
                      Conversion conversion)
{
    WriteNvImageFile(scratch, paths, Picture1, size, nvCapacity, conversion, StopCheck());
}

void WriteNvImageFile(ScratchFile &scratch,
                      const QStringList &paths,
                      PictureSurface &Picture1,
                      ImageSize &size,
                      qint64 nvCapacity,
                      Conversion conversion,
                      const StopCheck &stop)
{
    // A stream of an earlier run never survives into this one.
    scratch.remove();
    const QList<PictureInfo> pictures = checkPictures(paths, nvCapacity, stop);
    try {
        AnonymousFile &file = scratch.create();
        const auto write = [&file, &scratch](const QByteArray &bytes) {
            if (!file.write(bytes.constData(), bytes.size()))
                throw ScratchFileError(QStringLiteral("Could not write %1: %2.")
                                               .arg(scratch.name(), file.reason()));
        };
        writeStream(write, pictures, Picture1, size, conversion, stop);
    } catch (...) {
        scratch.remove();
        throw;
    }
}

QByteArray ReadNvImageFile(ScratchFile &scratch)
{
    if (!scratch.exists())
        throw ScratchFileError(QStringLiteral("There is no scratch file to read back: it was "
                                              "not written, or it has been removed."));
    QByteArray bytes;
    if (!scratch.m_file->readAll(&bytes))
        throw ScratchFileError(QStringLiteral("Could not read %1 completely: %2.")
                                       .arg(scratch.name(), scratch.m_file->reason()));
    return bytes;
}

QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              ImageSize &size,
                              qint64 nvCapacity,
                              Conversion conversion)
{
    return buildNvImageStream(paths, surface, size, nvCapacity, conversion, StopCheck());
}

QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              qint64 nvCapacity,
                              Conversion conversion)
{
    return buildNvImageStream(paths, surface, nvCapacity, conversion, StopCheck());
}

QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              ImageSize &size,
                              qint64 nvCapacity,
                              Conversion conversion,
                              const StopCheck &stop)
{
    const QList<PictureInfo> pictures = checkPictures(paths, nvCapacity, stop);
    QByteArray stream;
    stream.reserve(NvStreamHeaderSize + nvDefinitionSize(roundedSizes(pictures)));
    writeStream([&stream](const QByteArray &bytes) { stream.append(bytes); },
                pictures,
                surface,
                size,
                conversion,
                stop);
    return stream;
}

QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              qint64 nvCapacity,
                              Conversion conversion,
                              const StopCheck &stop)
{
    ImageSize size;
    return buildNvImageStream(paths, surface, size, nvCapacity, conversion, stop);
}

qint64 nvRecordSize(const QString &path)
{
    return nvDefinitionSize(roundedSizes({inspectPictureHeader(path)}));
}

qint64 nvStreamSize(const QStringList &paths)
{
    qint64 size = NvStreamHeaderSize;
    for (const QString &path : paths)
        size += nvRecordSize(path);
    return size;
}

} // namespace NvImage

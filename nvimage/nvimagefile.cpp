#include "nvimagefile.h"

#include "errors.h"
#include "fileio.h"

#include <QDir>
#include <QList>
#include <QtNumeric>

#include <limits>

namespace NvImage {

namespace {

QSize roundedSize(const QSize &size)
{
    return QSize(roundUpToMultipleOf8(size.width()), roundUpToMultipleOf8(size.height()));
}

QList<QSize> roundedSizes(const QList<PictureInfo> &pictures)
{
    QList<QSize> sizes;
    sizes.reserve(pictures.size());
    for (const PictureInfo &picture : pictures)
        sizes.append(roundedSize(picture.size));
    return sizes;
}

// The picture's stored size as far as its header tells: exact without preparation or trim,
// unknown (nothing) with trim, which must see the picture first. A prepared size that no
// record can carry is refused here, before anything is decoded.
std::optional<QSize> storedSize(const PictureInfo &picture, const Preparation &preparation)
{
    if (preparation.isIdentity())
        return roundedSize(picture.size);
    if (preparation.trim)
        return std::nullopt;
    const QSize prepared = preparedSize(picture.size, preparation);
    const QString problem = preparedSizeError(prepared, preparation);
    if (!problem.isEmpty())
        throw PictureTooLargeError(
                picture.path,
                QStringLiteral("\"%1\": %2").arg(QDir::toNativeSeparators(picture.path), problem));
    return roundedSize(prepared);
}

QList<PictureInfo> checkPictures(const QStringList &paths, const StreamOptions &options)
{
    if (paths.isEmpty())
        throw PictureCountError(QStringLiteral("No picture was chosen."));
    if (paths.size() > MaxPictures)
        throw PictureCountError(QStringLiteral("%1 pictures were chosen, but at most %2 can be "
                                               "stored at once.")
                                        .arg(paths.size())
                                        .arg(MaxPictures));
    const PictureUse use
            = options.preparation.isIdentity() ? PictureUse::Stored : PictureUse::Prepared;
    QList<PictureInfo> pictures;
    pictures.reserve(paths.size());
    QList<QSize> sizes;
    for (const QString &path : paths) {
        pictures.append(inspectPictureHeader(path, options.stop, use));
        if (const std::optional<QSize> size = storedSize(pictures.constLast(), options.preparation))
            sizes.append(*size);
    }
    // The sizes come from the headers: the memory is checked before any data is read. After
    // trim the stream builder checks it as the sizes become known.
    const qint64 dataSize = nvDefinitionSize(sizes);
    if (dataSize > options.nvCapacity)
        throw NvCapacityError(dataSize, options.nvCapacity);
    for (const PictureInfo &picture : pictures)
        checkPictureData(picture, options.stop);
    return pictures;
}

// The printer tool's own conversion, nothing prepared.
StreamOptions unprepared(qint64 nvCapacity, Conversion conversion)
{
    StreamOptions options;
    options.nvCapacity = nvCapacity;
    options.preparation.conversion = conversion;
    return options;
}

// Where the stream's pieces go, in order: the scratch file or memory.
using StreamSink = std::function<void(const QByteArray &)>;

// The one writer behind the scratch file and the in-memory stream. Only one decoded picture
// and its dots are held at a time.
void writeStream(const StreamSink &write,
                 const QList<PictureInfo> &pictures,
                 PictureSurface &surface,
                 ImageSize &size,
                 const StreamOptions &options)
{
    write(EscPos::initialize() + EscPos::defineNvBitImagesHeader(int(pictures.size())));
    qint64 definition = 0;
    const bool judge = options.warnings != nullptr;
    for (const PictureInfo &picture : pictures) {
        const RasterisedPicture rasterised
                = rasterisePicture(picture, surface, options.preparation, options.stop, judge);
        const EscPos::DotImage &dots = rasterised.dots;
        definition += EscPos::nvBitImageRecordSize(dots.width, dots.height);
        if (definition > options.nvCapacity)
            throw NvCapacityError(definition, options.nvCapacity);
        size.ImageWidth = qint16(dots.width);
        size.ImageHeight = qint16(dots.height);
        if (judge) {
            options.warnings->append(judgePicture(dots,
                                                  rasterised.own,
                                                  rasterised.colours,
                                                  options.preparation.threshold.has_value(),
                                                  options.warningRules));
        }
        write(EscPos::nvBitImageRecord(dots));
    }
}

// The picture decoded and prepared; a size the format cannot take names the file.
PreparedPicture prepared(const PictureInfo &picture,
                         const Preparation &preparation,
                         const DotFormat &format,
                         const QColor &background,
                         const StopCheck &stop)
{
    try {
        return preparePicture(decodePicture(picture, stop), preparation, format, background);
    } catch (const PictureTooLargeError &error) {
        throw PictureTooLargeError(
                picture.path,
                QStringLiteral("\"%1\": %2")
                        .arg(QDir::toNativeSeparators(picture.path), error.message()));
    }
}

// The prepared way: the picture decoded, then every step of the preparation.
RasterisedPicture preparedDots(const PictureInfo &picture,
                               PictureSurface &surface,
                               const Preparation &preparation,
                               const StopCheck &stop,
                               bool withColours)
{
    surface.clear();
    PreparedPicture done = prepared(picture, preparation, DotFormat(), surface.background(), stop);
    RasterisedPicture rasterised{std::move(done.dots), done.size, std::nullopt};
    if (withColours && !done.pixels.isNull())
        rasterised.colours = countColours(done.pixels);
    return rasterised;
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

RasterisedPicture rasterisePicture(const PictureInfo &picture,
                                   PictureSurface &surface,
                                   const Preparation &preparation,
                                   const StopCheck &stop,
                                   bool withColours)
{
    if (!preparation.isIdentity())
        return preparedDots(picture, surface, preparation, stop, withColours);
    RasterisedPicture rasterised;
    rasterised.dots = rasterisePicture(picture, surface, preparation.conversion, stop);
    rasterised.own = QSize(surface.width(), surface.height());
    // The surface still holds the drawn picture: the blue rule packed it unchanged.
    if (withColours && preparation.conversion == Conversion::BlueRule)
        rasterised.colours = countColours(surface);
    return rasterised;
}

EscPos::DotImage pictureDots(const QString &path,
                             const Preparation &preparation,
                             const DotFormat &format,
                             const StopCheck &stop,
                             QList<PreviewWarning> *warnings,
                             const WarningRules &rules)
{
    const PictureUse use = preparation.isIdentity() ? PictureUse::Stored : PictureUse::Prepared;
    const PictureInfo picture = inspectPictureHeader(path, stop, use);
    checkPictureData(picture, stop);
    PreparedPicture done = prepared(picture, preparation, format, Qt::white, stop);
    if (warnings) {
        std::optional<ColourCounts> colours;
        if (!done.pixels.isNull())
            colours = countColours(done.pixels);
        *warnings = judgePicture(
                done.dots, done.size, colours, preparation.threshold.has_value(), rules);
    }
    return std::move(done.dots);
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
    WriteNvImageFile(scratch, paths, Picture1, size, unprepared(nvCapacity, conversion));
}

void WriteNvImageFile(ScratchFile &scratch,
                      const QStringList &paths,
                      PictureSurface &Picture1,
                      ImageSize &size,
                      const StreamOptions &options)
{
    // A stream of an earlier run never survives into this one.
    scratch.remove();
    const QList<PictureInfo> pictures = checkPictures(paths, options);
    try {
        AnonymousFile &file = scratch.create();
        const auto write = [&file, &scratch](const QByteArray &bytes) {
            if (!file.write(bytes.constData(), bytes.size()))
                throw ScratchFileError(QStringLiteral("Could not write %1: %2.")
                                               .arg(scratch.name(), file.reason()));
        };
        writeStream(write, pictures, Picture1, size, options);
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
    return buildNvImageStream(paths, surface, size, unprepared(nvCapacity, conversion));
}

QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              qint64 nvCapacity,
                              Conversion conversion)
{
    ImageSize size;
    return buildNvImageStream(paths, surface, size, nvCapacity, conversion);
}

QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              ImageSize &size,
                              const StreamOptions &options)
{
    const QList<PictureInfo> pictures = checkPictures(paths, options);
    QByteArray stream;
    if (options.preparation.isIdentity())
        stream.reserve(NvStreamHeaderSize + nvDefinitionSize(roundedSizes(pictures)));
    writeStream([&stream](const QByteArray &bytes) { stream.append(bytes); },
                pictures,
                surface,
                size,
                options);
    return stream;
}

std::optional<qint64> nvRecordSize(const QString &path, const Preparation &preparation)
{
    const PictureUse use = preparation.isIdentity() ? PictureUse::Stored : PictureUse::Prepared;
    const std::optional<QSize> size
            = storedSize(inspectPictureHeader(path, StopCheck(), use), preparation);
    if (!size)
        return std::nullopt;
    return nvDefinitionSize({*size});
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

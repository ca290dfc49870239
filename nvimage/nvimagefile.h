#pragma once

#include "fileio.h"
#include "pictureloader.h"
#include "picturesurface.h"

#include <escpos/commands.h>
#include <escpos/dotimage.h>

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace NvImage {

// FS q carries the number of pictures in one byte.
constexpr int MaxPictures = EscPos::NvBitImageMaxCount;

// ESC @ and FS q n: the stream's bytes before the first picture's record.
constexpr int NvStreamHeaderSize = EscPos::InitializeSize + EscPos::NvBitImagesHeaderSize;

// The chosen picture files together must stay below this many bytes on disk.
constexpr qint32 TotalFileSizeLimit = 262125;

// The NV memory assumed when the caller names none (256 KB).
constexpr qint64 DefaultNvCapacity = 262144;

// The rounded size of the picture written last (the window's ImageWidth/ImageHeight).
struct ImageSize
{
    qint16 ImageWidth = 0;
    qint16 ImageHeight = 0;
};

// Whether the file can be opened for reading: false for a folder, a missing file or a bad
// path. Never throws.
bool FileExists(const QString &path) noexcept;

// The lengths of the files on disk summed as a signed 32-bit number. Throws PictureError
// naming a file that is missing or a folder, OverflowError when the sum leaves 32 bits.
qint32 totalFileSize(const QStringList &paths);

constexpr bool totalFileSizeAccepted(qint32 total)
{
    return total < TotalFileSizeLimit;
}

// The bytes of NV memory a definition of pictures of these sizes (already rounded up to
// multiples of 8) takes: EscPos::nvBitImageRecordSize of each, which throws EscPos::LimitError
// for a size no record carries. ESC @ FS q n is not stored and not counted.
qint64 nvDefinitionSize(const QList<QSize> &roundedSizes);

// A pixel size rounded up to a multiple of 8 in 16-bit arithmetic; OverflowError when the
// size or the result lies beyond 32767.
qint16 roundUpToMultipleOf8(int pixels);

// The one path from a checked picture to its dots: decodes it, draws it on the surface (which
// keeps it afterwards), converts it and rasterises it at its size rounded up to multiples of
// 8, the padding white. Throws PictureError (undecodable, or no memory to convert),
// PictureTooLargeError or OverflowError.
EscPos::DotImage
rasterisePicture(const PictureInfo &picture, PictureSurface &surface, Conversion conversion);
// The same, asking stop every few rows while it decodes, dithers and rasterises:
// StoppedError when it says so.
EscPos::DotImage rasterisePicture(const PictureInfo &picture,
                                  PictureSurface &surface,
                                  Conversion conversion,
                                  const StopCheck &stop);

// The scratch file that carries the stream between writing and sending: created anew for
// each write, in the temporary folder, without a name (fileio.h's AnonymousFile), so that
// only this process can read it and nothing is left in the folder however the process ends,
// even killed while it writes. remove() or the destructor frees it.
class ScratchFile
{
public:
    // An empty folder means the user's temporary folder.
    explicit ScratchFile(const QString &folder = QString());
    ~ScratchFile();

    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    // The folder the file is made in.
    QString folder() const { return m_folder; }
    // Whether the file holds a stream written and not yet removed.
    bool exists() const;
    // Frees the file now; harmless when there is none.
    void remove();

private:
    friend void WriteNvImageFile(ScratchFile &,
                                 const QStringList &,
                                 PictureSurface &,
                                 ImageSize &,
                                 qint64,
                                 Conversion,
                                 const StopCheck &);
    friend QByteArray ReadNvImageFile(ScratchFile &);

    AnonymousFile &create();
    QString name() const;

    QString m_folder;
    std::unique_ptr<AnonymousFile> m_file;
};

// Writes ESC @ FS q n and one record per picture, in the order given, to a fresh scratch
// file, and closes it. Every picture is checked (count, format, completeness, size, and the
// definition's size against nvCapacity) before the first byte is written. On any failure
// the scratch file is removed and the error is thrown: PictureCountError, PictureError,
// PictureTooLargeError, NvCapacityError, OverflowError or ScratchFileError. size keeps the
// rounded size of the last picture written. conversion says how each drawn picture becomes
// dots; BlueRule writes the bytes the printer tool always wrote.
void WriteNvImageFile(ScratchFile &scratch,
                      const QStringList &paths,
                      PictureSurface &Picture1,
                      ImageSize &size,
                      qint64 nvCapacity = DefaultNvCapacity,
                      Conversion conversion = Conversion::BlueRule);
// The same, asking stop between pictures and every few rows of each: StoppedError when it
// says so, the scratch file removed as on any failure.
void WriteNvImageFile(ScratchFile &scratch,
                      const QStringList &paths,
                      PictureSurface &Picture1,
                      ImageSize &size,
                      qint64 nvCapacity,
                      Conversion conversion,
                      const StopCheck &stop);

// The whole scratch file. Throws ScratchFileError when it is missing or cannot be read.
QByteArray ReadNvImageFile(ScratchFile &scratch);

// The same stream as WriteNvImageFile writes, built in memory.
QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              ImageSize &size,
                              qint64 nvCapacity = DefaultNvCapacity,
                              Conversion conversion = Conversion::BlueRule);
QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              qint64 nvCapacity = DefaultNvCapacity,
                              Conversion conversion = Conversion::BlueRule);
// The same, asking stop as WriteNvImageFile does.
QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              ImageSize &size,
                              qint64 nvCapacity,
                              Conversion conversion,
                              const StopCheck &stop);
QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              qint64 nvCapacity,
                              Conversion conversion,
                              const StopCheck &stop);

// The bytes a picture's record takes in the stream and in NV memory (four size bytes and
// its dots), and the whole stream's length for these pictures (ESC @ FS q n and their
// records). Both read the pictures' headers only, so a list can be summed as it changes;
// they throw PictureError or PictureTooLargeError as inspectPictureHeader does.
qint64 nvRecordSize(const QString &path);
qint64 nvStreamSize(const QStringList &paths);

} // namespace NvImage

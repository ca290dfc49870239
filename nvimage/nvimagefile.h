#pragma once

#include "fileio.h"
#include "pictureloader.h"
#include "picturesurface.h"
#include "picturewarnings.h"
#include "preparation.h"

#include <escpos/commands.h>
#include <escpos/dotimage.h>

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

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

// How a download's pictures become its stream.
struct StreamOptions
{
    qint64 nvCapacity = DefaultNvCapacity;
    // The identity: the dots the printer tool always made (the blue rule, or dither). Any
    // other preparation judges the pictures by what is stored, not by their size on disk.
    Preparation preparation;
    StopCheck stop;
    // When given, each picture is judged as it is rasterised, against warningRules, and its
    // warnings are appended to it: one list a picture, in the stream's order.
    QList<QList<PreviewWarning>> *warnings = nullptr;
    WarningRules warningRules;
};

// The dots of one picture prepared as the options say, padded for FS q, with what judging it
// needs: its own size inside the padding and, for a rule colours can fool, its colours.
struct RasterisedPicture
{
    EscPos::DotImage dots;
    QSize own;
    std::optional<ColourCounts> colours;
};
RasterisedPicture rasterisePicture(const PictureInfo &picture,
                                   PictureSurface &surface,
                                   const Preparation &preparation,
                                   const StopCheck &stop,
                                   bool countColours);

// A picture file as dots in a format of the caller's (an NV graphic's: its own size, no
// padding): checked, decoded and prepared, transparent parts white; judged against rules into
// warnings, when given. Throws what inspectPicture, decodePicture and preparePicture throw,
// naming the file.
EscPos::DotImage pictureDots(const QString &path,
                             const Preparation &preparation,
                             const DotFormat &format,
                             const StopCheck &stop = StopCheck(),
                             QList<PreviewWarning> *warnings = nullptr,
                             const WarningRules &rules = WarningRules());

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
                                 const StreamOptions &);
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
// The same with every option: prepared pictures (whose NV data is checked against the
// capacity as it is made when trim leaves the sizes open until then), stop asked between
// pictures and every few rows of each (StoppedError, the scratch file removed as on any
// failure), and the pictures judged on the way.
void WriteNvImageFile(ScratchFile &scratch,
                      const QStringList &paths,
                      PictureSurface &Picture1,
                      ImageSize &size,
                      const StreamOptions &options);

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
// The same with every option, as WriteNvImageFile takes them.
QByteArray buildNvImageStream(const QStringList &paths,
                              PictureSurface &surface,
                              ImageSize &size,
                              const StreamOptions &options);

// The bytes a picture's record takes in the stream and in NV memory (four size bytes and
// its dots), and the whole stream's length for these pictures (ESC @ FS q n and their
// records). Both read the pictures' headers only, so a list can be summed as it changes;
// they throw PictureError or PictureTooLargeError as inspectPictureHeader does. A preparation
// with trim knows its sizes only once the picture is decoded: nothing, then.
std::optional<qint64> nvRecordSize(const QString &path, const Preparation &preparation);
qint64 nvRecordSize(const QString &path);
qint64 nvStreamSize(const QStringList &paths);

} // namespace NvImage

#pragma once

#include "stopcheck.h"

#include <escpos/commands.h>

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace NvImage {

// The largest picture an NV bit image holds; a larger one is refused from its header.
constexpr int MaxWidthDots = EscPos::NvBitImageMaxWidth;
constexpr int MaxHeightDots = EscPos::NvBitImageMaxHeight;

// The most bytes a picture file may take: the largest printable picture with 64 bits a pixel
// and no compression, and room for its headers. Larger files are refused by their size on
// disk, before any byte is read.
constexpr qint64 MaxPictureFileBytes = qint64(MaxWidthDots) * MaxHeightDots * 8 + 1024 * 1024;

// What becomes of a picture: stored as it is, so that its size must be an NV image's, or
// prepared first (turned, trimmed, fitted), so that only what the decoder can hold counts:
// at most MaxPreparedPixels pixels and MaxPreparedSide on either side.
enum class PictureUse { Stored, Prepared };
constexpr qint64 MaxPreparedPixels = 64 * 1024 * 1024;
constexpr int MaxPreparedSide = 32767;

// What a picture file's header tells, found without decoding the picture.
struct PictureInfo
{
    QString path;
    QByteArray format; // "bmp", "jpeg", "gif" or "png", decided by the file's content
    QSize size;        // in pixels
    QByteArray bytes;  // the file as read once; checked and decoded from here, never reread
    PictureUse use = PictureUse::Stored; // which size rule the header and the decoder apply
};

// Reads a picture file's header and checks that it is a whole BMP, JPEG, GIF or PNG picture
// of a size the printer accepts. Throws PictureError (missing, not a regular file,
// unreadable, larger than MaxPictureFileBytes, changed while read, not such a picture,
// incomplete or damaged) or PictureTooLargeError.
PictureInfo inspectPicture(const QString &path);
PictureInfo inspectPicture(const QString &path, const StopCheck &stop);

// inspectPicture in two steps, so that a list of pictures can be checked against the
// printer's memory before any picture's data is checked. The first reads the file into
// info.bytes and reads the format and the size and checks the size; the second checks that the data
// is whole, decoding a GIF's picture data, walking a BMP's runs and a PNG's chunks with their CRCs.
PictureInfo inspectPictureHeader(const QString &path);
void checkPictureData(const PictureInfo &info);
// The same, asking stop every few megabytes (StoppedError when it says so), for the use.
PictureInfo inspectPictureHeader(const QString &path,
                                 const StopCheck &stop,
                                 PictureUse use = PictureUse::Stored);
void checkPictureData(const PictureInfo &info, const StopCheck &stop);

// Decodes the picture (a GIF's first frame) that inspectPicture described. Throws
// PictureError when the decoder refuses it or reports damaged data (a JPEG is decoded with
// libjpeg, a PNG with libpng, whose every warning about the picture's data counts), also when it
// exceeds the reader's allocation limit, and PictureTooLargeError when the decoded picture is
// larger than its header said. Never returns a null image.
QImage decodePicture(const PictureInfo &info);
// The same, asking stop every few rows: StoppedError when it says so. Qt's reader, which
// decodes BMP pictures and a few unusual GIF ones, is asked before and after only.
QImage decodePicture(const PictureInfo &info, const StopCheck &stop);

} // namespace NvImage

#pragma once

// Internal to the picture loader: one reader per picture format, in the manner of an image
// plugin, and what the readers share. pictureloader.cpp dispatches to them.

#include "errors.h"
#include "pictureloader.h"
#include "stopcheck.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace NvImage::Formats {

// One format's part of the loader. Every function works on PictureInfo::bytes, the file as
// read once.
struct PictureFormat
{
    const char *name; // PictureInfo::format
    // Whether a file beginning with these (up to eight) bytes is of this format.
    bool (*recognises)(const QByteArray &head);
    // The picture's size from its header alone, invalid when the header does not give it.
    // May throw PictureError for a header its library refuses.
    QSize (*readSize)(const PictureInfo &picture);
    // Throws PictureError when the data is incomplete or damaged, before any decoding that
    // can wait for decodePicture.
    void (*checkData)(const PictureInfo &picture, const StopCheck &stop);
    // The decoded picture, or a null image; throws PictureError for data the decoder refuses.
    QImage (*decode)(const PictureInfo &picture, const StopCheck &stop);
    // Both ask stop every few rows or megabytes and throw StoppedError when it says so.
};

const PictureFormat &bmpFormat();
const PictureFormat &jpegFormat();
const PictureFormat &gifFormat();
const PictureFormat &pngFormat();

// The path as the user writes it, for messages.
QString shown(const QString &path);
quint32 le16(const uchar *p);
quint32 le32(const uchar *p);
const uchar *dataOf(const QByteArray &bytes);

// "The picture "x" is incomplete: why" and "... is damaged: why"; why ends with its full stop.
PictureError incompletePicture(const QString &path, const QString &why);
PictureError damagedPicture(const QString &path, const QString &why);
// A picture whose decoded size exceeds QImageReader's allocation limit.
PictureError tooLargeToDecode(const PictureInfo &picture, int limitMb);

// Qt's own reader of the format, for the formats whose pixels it decodes. It cannot be
// stopped halfway: stop is asked before and after.
QImage decodeWithQt(const PictureInfo &picture, const StopCheck &stop);

} // namespace NvImage::Formats

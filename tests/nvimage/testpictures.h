#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

#include <vector>

namespace TestPictures {

// Qt cannot write GIF, so the tests carry a small encoder: an Indexed8 picture, optionally
// with one transparent palette index (GIF89a graphic control extension).
QByteArray encodeGif(const QImage &indexed, int transparentIndex = -1);

// The same with the layouts Qt's reader treats apart. The LZW data always has 8-bit codes,
// so any index may follow any table.
struct GifLayout
{
    QImage indexes;          // Indexed8; its colour table fills the tables below
    QSize screen;            // the logical screen, empty for the image's own size
    QPoint corner;           // of the image on the screen
    int globalColours = 256; // 2, 4, ... 256, or 0 for no global table
    int localColours = 0;    // likewise; a local table holds the colours inverted
    bool interlaced = false;
    QByteArray extensions; // raw blocks before the image
};
QByteArray encodeGif(const GifLayout &layout);

// Writes bytes to path, failing the test on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// Saves picture at path as "bmp", "jpeg" (quality 100), "png" or "gif" (picture must be
// Indexed8). transparentIndex applies to an Indexed8 GIF or PNG.
QString savePicture(const QString &path,
                    const QImage &picture,
                    const QByteArray &format,
                    int transparentIndex = -1);

QImage filled(int width, int height, const QColor &colour);

// Every pixel an opaque colour of its own, the same for the same seed.
QImage randomColours(int width, int height, quint32 seed);

// The dots of one picture as read back from a stream.
struct DecodedPicture
{
    int width = 0;           // in dots
    int height = 0;          // in dots
    std::vector<bool> black; // column-major, width * height
    bool isBlack(int x, int y) const { return black[std::size_t(x) * height + y]; }
};

// Reads an ESC @ FS q stream back into dots; an empty list and a message on a malformed
// stream.
QList<DecodedPicture> decodeNvStream(const QByteArray &stream, QString *error);

} // namespace TestPictures

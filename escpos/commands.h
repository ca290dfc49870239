#pragma once

#include <escpos/dotimage.h>

#include <QByteArray>
#include <QList>

#include <stdexcept>

namespace EscPos {

// A command whose parameters lie outside what the command can carry. Thrown before any byte
// is built, so no half-built command escapes.
class LimitError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

// --- Limits -----------------------------------------------------------------------------------
// ESC @.
constexpr int InitializeSize = 2;
// FS q: the count is one byte; each image is x x 8 by y x 8 dots with x <= 1023, y <= 288.
constexpr int NvBitImageMaxCount = 255;
constexpr int NvBitImageMaxWidth = 1023 * 8;
constexpr int NvBitImageMaxHeight = 288 * 8;
// FS q n before the records; each record's xL xH yL yH before its dots.
constexpr int NvBitImagesHeaderSize = 3;
constexpr int NvBitImageRecordHeaderSize = 4;

// GS ( L fn 67: x and y in dots.
constexpr int GraphicsMaxWidth = 8192;
constexpr int GraphicsMaxHeight = 2304;
// A key byte, a process ID byte.
constexpr int PrintableMin = 32;
constexpr int PrintableMax = 126;
// Bytes a short-form GS ( L can count after pL pH.
constexpr qint64 ShortFormMaxParameters = 65535;

// --- Basic commands ---------------------------------------------------------------------------
QByteArray initialize();                               // ESC @: 1B 40
QByteArray printNvBitImage(quint8 image, quint8 mode); // FS p n m: 1C 70 n m
QByteArray cutPaper();                                 // GS V 66 0: 1D 56 42 00

// --- FS q: define NV bit images --------------------------------------------------------------
// Whether an image can be an FS q record: both sides multiples of 8, 8 to the maxima above,
// and its rows complete.
bool isNvBitImage(const DotImage &image);
// The bytes of one record (and of NV memory it takes): four size bytes and width / 8 x height
// dot bytes. LimitError for a size FS q cannot carry.
qint64 nvBitImageRecordSize(int width, int height);
// FS q n alone, for writers that send the records one at a time. LimitError outside 1..255.
QByteArray defineNvBitImagesHeader(int count);
// One record: x = width / 8 and y = height / 8 (each low byte first), then the columns left
// to right, each column's 8-dot bands top to bottom, the top dot in bit 7. LimitError when
// isNvBitImage is false.
QByteArray nvBitImageRecord(const DotImage &image);
// FS q n and every record. Every image is checked before any byte is built.
QByteArray defineNvBitImages(const QList<DotImage> &images);

// --- Packers ----------------------------------------------------------------------------------
// The columns of an image whose height is a multiple of 8: for each column left to right,
// its bands top to bottom, the top dot in bit 7. LimitError for another height.
QByteArray packVerticalColumns(const DotImage &image);
// The same into a caller's buffer of width x height / 8 bytes.
void packVerticalColumnsInto(const DotImage &image, uchar *out);
// The rows top to bottom, each ceil(width / 8) bytes, the leftmost dot in the most
// significant bit, the bits past the width white.
QByteArray packRasterRows(const DotImage &image);

// --- Real-time status, identity, completion ---------------------------------------------------
// GS I n: what the printer is asked to name. 1 to 3 answer in one byte (ReplyReader's
// expectIdByte), 65 to 69 in a text block.
constexpr int PrinterIdModelByte = 1;
constexpr int PrinterIdTypeByte = 2;
constexpr int PrinterIdVersionByte = 3;
constexpr int PrinterIdFirmware = 65;
constexpr int PrinterIdMaker = 66;
constexpr int PrinterIdModel = 67;
constexpr int PrinterIdSerialNumber = 68;
constexpr int PrinterIdFonts = 69;

QByteArray realtimeStatus(int n);    // DLE EOT n: 10 04 n, n 1..4
QByteArray transmitPrinterId(int n); // GS I n: 1D 49 n, n one of the PrinterId numbers above
// GS ( H fn 48: 1D 28 48 06 00 30 30 d1..d4, a process ID of four bytes, each 32..126.
bool isProcessId(const QByteArray &id);
QByteArray transmitWhenProcessed(const QByteArray &id);

// --- NV graphics: GS ( L, m = 0x30 ------------------------------------------------------------
// A key is exactly two bytes, each 32..126.
bool isGraphicsKey(const QByteArray &key);
QByteArray nvGraphicsCapacity();                    // 1D 28 4C 02 00 30 30
QByteArray nvGraphicsRemaining();                   // 1D 28 4C 02 00 30 33
QByteArray nvGraphicsKeyList();                     // 1D 28 4C 04 00 30 40 4B 43
QByteArray nvGraphicsDeleteAll();                   // 1D 28 4C 05 00 30 41 43 4C 52
QByteArray nvGraphicsDelete(const QByteArray &key); // 1D 28 4C 04 00 30 42 k1 k2
// fn 67, raster, one colour: 1D 28 4C pL pH 30 43 30 k1 k2 01 xL xH yL yH 31 d1..dk with
// k = ceil(x / 8) x y (packRasterRows). When the 11 + k parameter bytes exceed 65535, the
// long form 1D 38 4C p1 p2 p3 p4 carries the same body. LimitError for a bad key or a size
// outside 1..8192 x 1..2304.
QByteArray nvGraphicsDefine(const QByteArray &key, const DotImage &image);
// ceil(width / 8) x height: the dot bytes of a define, not counting the printer's own
// overhead. LimitError outside the define's limits.
qint64 nvGraphicsDataSize(int width, int height);
// The whole define command's length for a graphic of the size.
qint64 nvGraphicsDefineSize(int width, int height);
// fn 69: 1D 28 4C 06 00 30 45 k1 k2 x y, each scale 1 or 2.
QByteArray nvGraphicsPrint(const QByteArray &key, int scaleX, int scaleY);

} // namespace EscPos

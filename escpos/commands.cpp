#include "commands.h"

#include "transpose.h"

#include <algorithm>
#include <initializer_list>
#include <string>

namespace EscPos {

namespace {

constexpr char ESC = 0x1b;
constexpr char FS = 0x1c;
constexpr char GS = 0x1d;
constexpr char DLE = 0x10;
constexpr char EOT = 0x04;
constexpr char GraphicsFunctions = 0x30; // m of GS ( L
constexpr char DefineRaster = 0x43;      // fn 67
constexpr char PrintGraphics = 0x45;     // fn 69

QByteArray make(std::initializer_list<char> list)
{
    return QByteArray(list.begin(), qsizetype(list.size()));
}

[[noreturn]] void refuse(const std::string &what)
{
    throw LimitError(what);
}

void appendWord(QByteArray &bytes, int value)
{
    bytes.append(char(value & 0xff));
    bytes.append(char((value >> 8) & 0xff));
}

bool printable(char c)
{
    return quint8(c) >= PrintableMin && quint8(c) <= PrintableMax;
}

void checkKey(const QByteArray &key)
{
    if (!isGraphicsKey(key))
        refuse("an NV graphics key is two characters, each 32 to 126");
}

// GS ( L pL pH m fn + rest, pL pH counting m fn and rest.
QByteArray graphicsCommand(char fn, const QByteArray &rest)
{
    QByteArray bytes = make({GS, '(', 'L'});
    appendWord(bytes, int(rest.size()) + 2);
    bytes.append(GraphicsFunctions);
    bytes.append(fn);
    bytes.append(rest);
    return bytes;
}

void checkImage(const DotImage &image)
{
    if (!image.isValid())
        refuse("a dot image's bytes do not match its size");
}

} // namespace

QByteArray initialize()
{
    return make({ESC, '@'});
}

QByteArray printNvBitImage(quint8 image, quint8 mode)
{
    return make({FS, 'p', char(image), char(mode)});
}

QByteArray cutPaper()
{
    return make({GS, 'V', char(66), '\0'});
}

bool isNvBitImage(const DotImage &image)
{
    return image.isValid() && image.width >= 8 && image.height >= 8 && image.width % 8 == 0
           && image.height % 8 == 0 && image.width <= NvBitImageMaxWidth
           && image.height <= NvBitImageMaxHeight;
}

qint64 nvBitImageRecordSize(int width, int height)
{
    if (width < 8 || height < 8 || width % 8 != 0 || height % 8 != 0 || width > NvBitImageMaxWidth
        || height > NvBitImageMaxHeight)
        refuse("an NV bit image is 8 to 8184 by 8 to 2304 dots, each a multiple of 8");
    return NvBitImageRecordHeaderSize + qint64(width) / 8 * height;
}

QByteArray defineNvBitImagesHeader(int count)
{
    if (count < 1 || count > NvBitImageMaxCount)
        refuse("FS q defines 1 to 255 NV bit images");
    return make({FS, 'q', char(quint8(count))});
}

QByteArray nvBitImageRecord(const DotImage &image)
{
    if (!isNvBitImage(image))
        refuse("an NV bit image is 8 to 8184 by 8 to 2304 dots, each a multiple of 8");
    QByteArray record;
    record.reserve(nvBitImageRecordSize(image.width, image.height));
    appendWord(record, image.width / 8);
    appendWord(record, image.height / 8);
    const qsizetype header = record.size();
    record.resize(header + qsizetype(image.width) * (image.height / 8));
    packVerticalColumnsInto(image, reinterpret_cast<uchar *>(record.data()) + header);
    return record;
}

QByteArray defineNvBitImages(const QList<DotImage> &images)
{
    QByteArray bytes = defineNvBitImagesHeader(int(qMin<qsizetype>(images.size(), 256)));
    qint64 size = bytes.size();
    for (const DotImage &image : images) {
        if (!isNvBitImage(image))
            refuse("an NV bit image is 8 to 8184 by 8 to 2304 dots, each a multiple of 8");
        size += nvBitImageRecordSize(image.width, image.height);
    }
    bytes.reserve(size);
    for (const DotImage &image : images)
        bytes.append(nvBitImageRecord(image));
    return bytes;
}

void packVerticalColumnsInto(const DotImage &image, uchar *out)
{
    checkImage(image);
    if (image.height % 8 != 0)
        refuse("vertical columns need a height that is a multiple of 8");
    const int bands = image.height / 8;
    const int groups = image.rowBytes();
    // A group of eight columns at a time: its eight column streams are written in order.
    for (int g = 0; g < groups; ++g) {
        const int columns = qMin(8, image.width - 8 * g);
        uchar *column = out + qsizetype(8 * g) * bands;
        for (int b = 0; b < bands; ++b) {
            quint64 matrix = 0;
            for (int k = 0; k < 8; ++k)
                matrix = matrix << 8 | image.row(8 * b + k)[g];
            matrix = transpose8x8(matrix);
            for (int j = 0; j < columns; ++j)
                column[qsizetype(j) * bands + b] = uchar(matrix >> (56 - 8 * j));
        }
    }
}

QByteArray packVerticalColumns(const DotImage &image)
{
    checkImage(image);
    if (image.height % 8 != 0)
        refuse("vertical columns need a height that is a multiple of 8");
    QByteArray bytes(qsizetype(image.width) * (image.height / 8), Qt::Uninitialized);
    packVerticalColumnsInto(image, reinterpret_cast<uchar *>(bytes.data()));
    return bytes;
}

QByteArray packRasterRows(const DotImage &image)
{
    checkImage(image);
    // The rows are the image's own layout; only the bits past the width are made sure white.
    QByteArray bytes = image.rows;
    const int rest = image.width % 8;
    if (rest != 0) {
        const uchar mask = uchar(0xff << (8 - rest));
        const int rowBytes = image.rowBytes();
        for (int y = 0; y < image.height; ++y) {
            char &last = bytes[qsizetype(y) * rowBytes + rowBytes - 1];
            last = char(uchar(last) & mask);
        }
    }
    return bytes;
}

QByteArray realtimeStatus(int n)
{
    if (n < 1 || n > 4)
        refuse("DLE EOT asks status 1 to 4");
    return make({DLE, EOT, char(n)});
}

QByteArray transmitPrinterId(int n)
{
    if (!((n >= PrinterIdModelByte && n <= PrinterIdVersionByte)
          || (n >= PrinterIdFirmware && n <= PrinterIdFonts)))
        refuse("GS I asks ID 1 to 3 or 65 to 69");
    return make({GS, 'I', char(n)});
}

bool isProcessId(const QByteArray &id)
{
    return id.size() == 4 && std::all_of(id.begin(), id.end(), printable);
}

QByteArray transmitWhenProcessed(const QByteArray &id)
{
    if (!isProcessId(id))
        refuse("a process ID is four characters, each 32 to 126");
    return make({GS, '(', 'H', char(6), '\0', '0', '0'}) + id;
}

bool isGraphicsKey(const QByteArray &key)
{
    return key.size() == 2 && printable(key.at(0)) && printable(key.at(1));
}

QByteArray nvGraphicsCapacity()
{
    return graphicsCommand(0x30, {});
}

QByteArray nvGraphicsRemaining()
{
    return graphicsCommand(0x33, {});
}

QByteArray nvGraphicsKeyList()
{
    return graphicsCommand(0x40, QByteArrayLiteral("KC"));
}

QByteArray nvGraphicsDeleteAll()
{
    return graphicsCommand(0x41, QByteArrayLiteral("CLR"));
}

QByteArray nvGraphicsDelete(const QByteArray &key)
{
    checkKey(key);
    return graphicsCommand(0x42, key);
}

qint64 nvGraphicsDataSize(int width, int height)
{
    if (width < 1 || height < 1 || width > GraphicsMaxWidth || height > GraphicsMaxHeight)
        refuse("an NV graphic is 1 to 8192 by 1 to 2304 dots");
    return qint64(DotImage::bytesPerRow(width)) * height;
}

namespace {

// m fn a kc1 kc2 b xL xH yL yH c before the dots.
constexpr qint64 DefineParameterBytes = 11;

} // namespace

qint64 nvGraphicsDefineSize(int width, int height)
{
    const qint64 parameters = DefineParameterBytes + nvGraphicsDataSize(width, height);
    return (parameters > ShortFormMaxParameters ? 7 : 5) + parameters;
}

QByteArray nvGraphicsDefine(const QByteArray &key, const DotImage &image)
{
    checkKey(key);
    checkImage(image);
    const qint64 data = nvGraphicsDataSize(image.width, image.height);
    const qint64 parameters = DefineParameterBytes + data;
    QByteArray bytes;
    bytes.reserve(nvGraphicsDefineSize(image.width, image.height));
    if (parameters > ShortFormMaxParameters) {
        bytes.append(GS).append('8').append('L');
        for (int shift = 0; shift < 32; shift += 8)
            bytes.append(char((parameters >> shift) & 0xff));
    } else {
        bytes.append(GS).append('(').append('L');
        appendWord(bytes, int(parameters));
    }
    bytes.append(GraphicsFunctions).append(DefineRaster).append('0').append(key).append(char(1));
    appendWord(bytes, image.width);
    appendWord(bytes, image.height);
    bytes.append('1');
    bytes.append(packRasterRows(image));
    return bytes;
}

QByteArray nvGraphicsPrint(const QByteArray &key, int scaleX, int scaleY)
{
    checkKey(key);
    if (scaleX < 1 || scaleX > 2 || scaleY < 1 || scaleY > 2)
        refuse("NV graphics print at scale 1 or 2 each way");
    return graphicsCommand(PrintGraphics, key + make({char(scaleX), char(scaleY)}));
}

} // namespace EscPos

#include "pictureformat.h"

#include <QBuffer>
#include <QImageReader>
#include <QList>

#include <algorithm>
#include <cstring>
#include <vector>

#include <png.h>
#include <zlib.h>

// PNG: the chunks and their CRCs are walked before anything is written; libpng itself decodes
// the pixels, every warning about the picture's data counted, where Qt's reader prints them
// and carries on.

namespace NvImage::Formats {

namespace {

constexpr char PngSignature[] = "\x89PNG\r\n\x1A\n";
constexpr int PngSignatureSize = 8;

quint32 be32(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

// Walks a PNG's chunks from IHDR to IEND checking every CRC, so that a cut or altered file
// is refused before any picture is written. libpng only warns about a bad CRC in an
// ancillary chunk and drops it. Returns why the file is damaged, or an empty string;
// *incomplete tells a file cut short.
QString pngChunkDamage(QIODevice &file, bool *incomplete, const StopCheck &stop)
{
    *incomplete = false;
    const auto cut = [incomplete](const QString &why) {
        *incomplete = true;
        return why;
    };
    // Read in blocks: a PNG of the largest picture may hold tens of megabytes.
    std::vector<char> block(64 * 1024);
    if (!file.seek(PngSignatureSize))
        return cut(QStringLiteral("the file ends before its first chunk."));
    for (bool first = true;; first = false) {
        uchar head[8];
        if (file.read(reinterpret_cast<char *>(head), 8) != 8)
            return cut(QStringLiteral("the file ends before its IEND chunk."));
        const quint32 length = be32(head);
        const QString type = QString::fromLatin1(reinterpret_cast<const char *>(head + 4), 4);
        if (length > 0x7FFFFFFFu)
            return QStringLiteral("its \"%1\" chunk claims %2 bytes.").arg(type).arg(length);
        if (first && type != QLatin1String("IHDR"))
            return QStringLiteral("it does not begin with its IHDR chunk.");
        uLong crc = crc32(crc32(0L, Z_NULL, 0), head + 4, 4);
        for (qint64 left = length; left > 0;) {
            if (file.pos() % (4 * 1024 * 1024) < qint64(block.size()))
                throwIfStopped(stop);
            const qint64 want = std::min<qint64>(left, qint64(block.size()));
            if (file.read(block.data(), want) != want)
                return cut(QStringLiteral("the file ends inside its \"%1\" chunk.").arg(type));
            crc = crc32(crc, reinterpret_cast<const Bytef *>(block.data()), uInt(want));
            left -= want;
        }
        uchar stored[4];
        if (file.read(reinterpret_cast<char *>(stored), 4) != 4)
            return cut(QStringLiteral("the file ends inside its \"%1\" chunk.").arg(type));
        if (crc != be32(stored))
            return QStringLiteral("the CRC of its \"%1\" chunk is wrong.").arg(type);
        if (type == QLatin1String("IEND"))
            return QString();
    }
}

// libpng reports through these callbacks; nothing reaches stderr. Errors jump back; a
// warning about anything but an ancillary chunk (data it dropped or made up) fails the
// picture as an error does.
struct PngJob
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    QIODevice *device = nullptr;
    QImage image;
    QList<QRgb> colourTable;
    QSize size;
    qint64 limitBytes = 0; // 0: no limit
    bool headerOnly = false;
    bool tooLarge = false;
    bool cutShort = false;
    int paletteSize = 0;
    char message[256] = {};
    QByteArray warning;              // the first warning that fails the picture
    const StopCheck *stop = nullptr; // asked every few rows
    bool stopped = false;
};

extern "C" void readPngInput(png_structp png, png_bytep out, size_t length)
{
    auto *job = static_cast<PngJob *>(png_get_io_ptr(png));
    if (job->device->read(reinterpret_cast<char *>(out), qint64(length)) != qint64(length)) {
        job->cutShort = true;
        png_error(png, "the file ends inside its PNG data");
    }
}

extern "C" void pngFail(png_structp png, png_const_charp message)
{
    auto *job = static_cast<PngJob *>(png_get_error_ptr(png));
    qstrncpy(job->message, message, sizeof job->message);
    png_longjmp(png, 1);
}

extern "C" void pngWarning(png_structp png, png_const_charp message)
{
    // libpng names the chunk first ("iCCP: known incorrect sRGB profile"); an ancillary
    // chunk's name begins in lower case and its warnings touch no pixel. tRNS is the
    // exception: the transparency libpng drops changes what prints.
    const bool ancillary = std::strlen(message) > 5 && message[4] == ':' && message[0] >= 'a'
                           && message[0] <= 'z';
    const bool transparency = std::strncmp(message, "tRNS", 4) == 0;
    auto *job = static_cast<PngJob *>(png_get_error_ptr(png));
    if ((!ancillary || transparency) && job->warning.isEmpty())
        job->warning = QByteArray(message);
}

// Asks libpng for rows in the format the picture becomes, and returns that format.
QImage::Format setUpPngLayout(PngJob &job, int colourType)
{
    // Palettes and plain grey stay one byte a pixel, as Qt's reader keeps them; the rest
    // becomes RGB32 or non-premultiplied ARGB32. The surface blends transparent parts over
    // its background as it does for a GIF. No gamma is applied: Qt's reader applies none.
    png_structp png = job.png;
    png_infop info = job.info;
    const bool transparent = png_get_valid(png, info, PNG_INFO_tRNS);
    QList<QRgb> &table = job.colourTable; // a local would leak when libpng jumps back
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &palette, &count);
        job.paletteSize = count;
        png_bytep alpha = nullptr;
        int alphaCount = 0;
        if (transparent)
            png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
        table.fill(qRgb(0, 0, 0), 256);
        for (int i = 0; i < count && i < 256; ++i)
            table[i] = qRgba(palette[i].red,
                             palette[i].green,
                             palette[i].blue,
                             i < alphaCount ? alpha[i] : 255);
        png_set_packing(png);
        return QImage::Format_Indexed8;
    }
    if (colourType == PNG_COLOR_TYPE_GRAY && !transparent) {
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_scale_16(png);
        return QImage::Format_Grayscale8;
    }
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) || transparent;
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        png_set_bgr(png);
        if (!alpha)
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    } else if (alpha) {
        png_set_swap_alpha(png);
    } else {
        png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
    }
    return alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
}

// Every libpng call that may jump back lives here and in setUpPngLayout; what must outlive a
// jump is in the job.
void runPngDecode(PngJob &job)
{
    png_structp png = job.png;
    png_infop info = job.info;
    png_set_read_fn(png, &job, readPngInput);
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colourType = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, nullptr, nullptr, nullptr);
    job.size = QSize(int(std::min<png_uint_32>(width, 1u << 30)),
                     int(std::min<png_uint_32>(height, 1u << 30)));
    if (job.headerOnly)
        return;
    if (job.limitBytes > 0 && qint64(width) * height * 4 > job.limitBytes) {
        job.tooLarge = true;
        png_error(png, "too large");
    }
    const QImage::Format format = setUpPngLayout(job, colourType);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t pixelBytes
            = format == QImage::Format_Indexed8 || format == QImage::Format_Grayscale8 ? 1 : 4;
    if (png_get_rowbytes(png, info) != std::size_t(width) * pixelBytes)
        png_error(png, "unexpected pixel layout");
    job.image = QImage(int(width), int(height), format);
    if (job.image.isNull())
        png_error(png, "not enough memory for the picture");
    if (!job.colourTable.isEmpty())
        job.image.setColorTable(job.colourTable);
    // What png_read_image does, with the stop check between rows.
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            if (y % 16 == 0 && *job.stop && (*job.stop)()) {
                job.stopped = true;
                png_error(png, "stopped");
            }
            png_read_row(png, job.image.scanLine(int(y)), nullptr);
        }
    }
    // Reads on to IEND: data beyond the last row is reported here. With the info, libpng
    // looks at the chunks after the data too (a tRNS there), instead of skipping them.
    png_read_end(png, info);
}

bool guardedPngDecode(PngJob &job)
{
    if (setjmp(png_jmpbuf(job.png)) != 0)
        return false;
    runPngDecode(job);
    return true;
}

// Decodes the whole PNG with libpng itself, every warning about the picture's data
// counted: Qt's reader prints them and carries on. With headerOnly, reads the size alone.
QImage decodePng(const PictureInfo &picture,
                 QIODevice &file,
                 bool headerOnly,
                 QSize *size,
                 const StopCheck &stop = {})
{
    PngJob job;
    job.headerOnly = headerOnly;
    job.stop = &stop;
    job.device = &file;
    const int limitMb = QImageReader::allocationLimit();
    job.limitBytes = qint64(std::max(limitMb, 0)) * 1024 * 1024;
    job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, pngFail, pngWarning);
    if (job.png)
        job.info = png_create_info_struct(job.png);
    if (!job.info) {
        png_destroy_read_struct(&job.png, nullptr, nullptr);
        throw std::bad_alloc();
    }
    const bool decoded = guardedPngDecode(job);
    png_destroy_read_struct(&job.png, &job.info, nullptr);
    if (size)
        *size = job.size;
    if (job.stopped)
        throw StoppedError();
    if (job.tooLarge)
        throw tooLargeToDecode(picture, limitMb);
    if (job.cutShort)
        throw PictureError(picture.path,
                           QStringLiteral("The picture \"%1\" is incomplete: the file ends "
                                          "inside its PNG data.")
                                   .arg(shown(picture.path)));
    if (decoded && job.image.format() == QImage::Format_Indexed8) {
        // libpng checks the indexes only of pictures it unpacks; one beyond the palette
        // would print as a made-up colour.
        uchar highest = 0;
        for (int y = 0; y < job.image.height(); ++y) {
            const uchar *line = job.image.constScanLine(y);
            highest = std::max(highest, *std::max_element(line, line + job.image.width()));
        }
        if (highest >= job.paletteSize)
            job.warning = QStringLiteral("a pixel uses palette entry %1, but the palette has %2")
                                  .arg(highest)
                                  .arg(job.paletteSize)
                                  .toUtf8();
    }
    if (!decoded || !job.warning.isEmpty())
        throw PictureError(picture.path,
                           QStringLiteral("The picture \"%1\" is damaged: %2.")
                                   .arg(shown(picture.path),
                                        decoded ? QString::fromUtf8(job.warning)
                                                : QString::fromUtf8(job.message)));
    return job.image;
}

bool recognisesPng(const QByteArray &head)
{
    return head == QByteArray(PngSignature, PngSignatureSize);
}

QSize readPngSize(const PictureInfo &picture)
{
    // libpng's own header reader, as silent as the decoder.
    QBuffer file;
    file.setData(picture.bytes);
    file.open(QIODevice::ReadOnly);
    QSize size;
    decodePng(picture, file, true, &size);
    return size;
}

void checkPngData(const PictureInfo &picture, const StopCheck &stop)
{
    // The compressed data is checked as decodePicture decodes it.
    bool cut = false;
    QBuffer file;
    file.setData(picture.bytes);
    file.open(QIODevice::ReadOnly);
    const QString why = pngChunkDamage(file, &cut, stop);
    if (!why.isEmpty())
        throw cut ? incompletePicture(picture.path, why) : damagedPicture(picture.path, why);
}

QImage decodePngPicture(const PictureInfo &picture, const StopCheck &stop)
{
    QBuffer file;
    file.setData(picture.bytes);
    file.open(QIODevice::ReadOnly);
    return decodePng(picture, file, false, nullptr, stop);
}

} // namespace

const PictureFormat &pngFormat()
{
    static const PictureFormat format{
            "png", recognisesPng, readPngSize, checkPngData, decodePngPicture};
    return format;
}

} // namespace NvImage::Formats

#include "pictureloader.h"

#include "errors.h"
#include "regularfile.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gif_lib.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace NvImage {

namespace {

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

quint32 le16(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8;
}

quint32 le32(const uchar *p)
{
    return le16(p) | le16(p + 2) << 16;
}

// The file's content at one moment, read once: the checks and the decoder all work on these
// bytes, so a file rewritten meanwhile can neither pass the checks as one picture and be
// decoded as another, nor be decoded from a mixture of both.
QByteArray readPicture(const QString &path)
{
    FileStatus status;
    const int fd = openRegularFile(path, &status);
    if (status.kind == FileStatus::Folder)
        throw PictureError(
                path, QStringLiteral("\"%1\" is a folder, not a picture file.").arg(shown(path)));
    if (status.kind == FileStatus::Other)
        throw PictureError(path,
                           QStringLiteral("\"%1\" is not a regular file (a device, a pipe or a "
                                          "socket), so it cannot be a picture file.")
                                   .arg(shown(path)));
    if (fd < 0)
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" cannot be opened: %2.")
                                   .arg(shown(path), status.reason()));
    const auto close = qScopeGuard([fd] { ::close(fd); });
    // By the size on disk first: a sparse file of gigabytes is refused without a read.
    const auto tooLarge = [&path](qint64 size) {
        return PictureError(path,
                            QStringLiteral("The picture file \"%1\" takes %2 bytes, more than "
                                           "the %3 that a printable picture may take.")
                                    .arg(shown(path))
                                    .arg(size)
                                    .arg(MaxPictureFileBytes));
    };
    struct stat before;
    if (::fstat(fd, &before) != 0)
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" cannot be read: %2.")
                                   .arg(shown(path), qt_error_string(errno)));
    if (qint64(before.st_size) > MaxPictureFileBytes)
        throw tooLarge(qint64(before.st_size));
    QByteArray bytes(qsizetype(before.st_size), Qt::Uninitialized);
    qint64 done = 0;
    // One byte more than the size on disk tells a file that grows while it is read.
    for (;;) {
        if (done == bytes.size()) {
            if (done >= MaxPictureFileBytes + 1)
                throw tooLarge(done);
            bytes.resize(qsizetype(std::min<qint64>(MaxPictureFileBytes + 1, done + 64 * 1024)));
        }
        const ssize_t count = ::read(fd, bytes.data() + done, std::size_t(bytes.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw PictureError(path,
                               QStringLiteral("The picture file \"%1\" cannot be read: %2.")
                                       .arg(shown(path), qt_error_string(errno)));
        if (count == 0)
            break;
        done += count;
    }
    bytes.truncate(qsizetype(done));
    // A write in progress during the read may leave the times as they were; the same
    // bytes read a second time show that none was.
    std::vector<char> again(64 * 1024);
    bool same = true;
    for (qint64 at = 0; same && at <= done;) {
        const ssize_t count = ::pread(fd, again.data(), again.size(), off_t(at));
        if (count < 0 && errno == EINTR)
            continue;
        same = count >= 0 && (count > 0 || at == done) && at + count <= done
               && std::memcmp(again.data(), bytes.constData() + at, std::size_t(count)) == 0;
        if (count == 0)
            break;
        at += count;
    }
    struct stat after;
    same = same && ::fstat(fd, &after) == 0 && after.st_size == before.st_size
           && qint64(after.st_size) == done && after.st_mtim.tv_sec == before.st_mtim.tv_sec
           && after.st_mtim.tv_nsec == before.st_mtim.tv_nsec
           && after.st_ctim.tv_sec == before.st_ctim.tv_sec
           && after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
    if (!same)
        throw PictureError(path,
                           QStringLiteral("The picture file \"%1\" changed while it was read; "
                                          "try again once it is saved.")
                                   .arg(shown(path)));
    return bytes;
}

constexpr char PngSignature[] = "\x89PNG\r\n\x1A\n";
constexpr int PngSignatureSize = 8;

// The format by the file's first bytes; only the kinds the printer tool takes.
QByteArray sniffFormat(const QByteArray &file)
{
    const QByteArray head = file.left(PngSignatureSize);
    if (head.startsWith("BM"))
        return QByteArrayLiteral("bmp");
    if (head.startsWith("\xFF\xD8\xFF"))
        return QByteArrayLiteral("jpeg");
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return QByteArrayLiteral("gif");
    if (head == QByteArray(PngSignature, PngSignatureSize))
        return QByteArrayLiteral("png");
    return QByteArray();
}

// The fields of a BMP header that matter here: the claimed size and where the pixels lie.
struct BmpHeader
{
    QSize size;
    qint64 pixelDataStart = -1;
    qint64 pixelDataEnd = -1; // -1 when the layout is compressed or not understood
    int rleBits = 0;          // 8 or 4 for run-length encoded pixels, else 0
};

BmpHeader readBmpHeader(const QByteArray &file)
{
    BmpHeader header;
    const QByteArray bytes = file.left(54);
    if (bytes.size() < 26)
        return header;
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 pixelOffset = le32(p + 10);
    const quint32 infoSize = le32(p + 14);
    qint64 width = 0;
    qint64 height = 0;
    quint32 bitCount = 0;
    quint32 compression = 0;
    if (infoSize == 12) {
        width = le16(p + 18);
        height = le16(p + 20);
        bitCount = le16(p + 24);
    } else if (infoSize >= 40 && bytes.size() >= 34) {
        width = qint32(le32(p + 18));
        height = qint32(le32(p + 22));
        bitCount = le16(p + 28);
        compression = le32(p + 30);
    } else {
        return header;
    }
    height = std::abs(height); // negative: rows stored top-down
    if (width <= 0 || height <= 0)
        return header;
    header.size
            = QSize(int(std::min<qint64>(width, 1 << 30)), int(std::min<qint64>(height, 1 << 30)));
    // The layout is worked out only for printable sizes: a larger picture is refused by its
    // size, and 2^31 x 2^31 x 32 bits would not fit in 64 bits.
    if (width > MaxWidthDots || height > MaxHeightDots)
        return header;
    header.pixelDataStart = std::max<qint64>(pixelOffset, 14 + qint64(infoSize));
    if ((compression == 1 && bitCount == 8) || (compression == 2 && bitCount == 4)) {
        header.rleBits = int(bitCount);
        return header;
    }
    const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
    const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16
                            || bitCount == 24 || bitCount == 32;
    if (uncompressed && knownDepth) {
        const qint64 stride = (width * bitCount + 31) / 32 * 4;
        header.pixelDataEnd = header.pixelDataStart + stride * height;
    }
    return header;
}

// Walks run-length encoded BMP pixels: every pixel must be set exactly once, by runs that
// stay inside their row, and the data must end with its end-of-bitmap code inside the file.
// The reader leaves whatever is missing at palette index 0 and reports success. Returns
// why the data is damaged, or an empty string.
QString rleDamage(const uchar *d, qint64 n, qint64 start, int bits, const QSize &size)
{
    const qint64 width = size.width();
    const qint64 height = size.height();
    qint64 x = 0;
    qint64 y = 0;
    qint64 pos = start;
    const auto rowFull = [&] {
        return QStringLiteral("a run goes past the end of row %1.").arg(y + 1);
    };
    while (pos + 2 <= n) {
        const int count = d[pos];
        const int code = d[pos + 1];
        pos += 2;
        if (count > 0) {
            if (y >= height)
                return QStringLiteral("runs go on below the last row.");
            if (x + count > width)
                return rowFull();
            x += count;
            continue;
        }
        switch (code) {
        case 0: // end of line
            if (y >= height)
                return QStringLiteral("runs go on below the last row.");
            if (x != width)
                return QStringLiteral("row %1 ends after %2 of its %3 pixels.")
                        .arg(y + 1)
                        .arg(x)
                        .arg(width);
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            if ((y == height - 1 && x == width) || (y == height && x == 0))
                return QString();
            return QStringLiteral("the picture ends at row %1 of %2.").arg(y + 1).arg(height);
        case 2: // delta: pixels skipped are never set
            return QStringLiteral("it skips pixels (a delta code at row %1).").arg(y + 1);
        default: { // absolute run of code pixels, padded to a whole 16-bit word
            if (y >= height)
                return QStringLiteral("runs go on below the last row.");
            if (x + code > width)
                return rowFull();
            const qint64 bytes = bits == 8 ? code : (code + 1) / 2;
            pos += bytes + (bytes & 1);
            if (pos > n)
                return QStringLiteral("a run reaches past the end of the file.");
            x += code;
            break;
        }
        }
    }
    return QStringLiteral("the file ends before the end-of-bitmap code, at row %1 of %2.")
            .arg(std::min(y + 1, height))
            .arg(height);
}

// Whether the entropy-coded data reaches the end-of-image marker. The reader would
// otherwise make up the missing rows and report success.
bool jpegComplete(const uchar *d, qint64 n)
{
    qint64 pos = 2; // past SOI
    while (pos < n) {
        const void *ff = std::memchr(d + pos, 0xFF, std::size_t(n - pos));
        if (!ff)
            return false;
        pos = static_cast<const uchar *>(ff) - d;
        while (pos < n && d[pos] == 0xFF) // fill bytes
            ++pos;
        if (pos >= n)
            return false;
        const uchar marker = d[pos++];
        if (marker == 0xD9)
            return true;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue; // no length field
        if (pos + 2 > n)
            return false;
        const qint64 length = qint64(d[pos]) << 8 | d[pos + 1];
        if (length < 2)
            return false;
        pos += length;
        if (pos > n)
            return false;
        if (marker != 0xDA)
            continue;
        // Scan data runs to the next marker other than a stuffed zero or a restart.
        for (;;) {
            ff = std::memchr(d + pos, 0xFF, std::size_t(n - pos));
            if (!ff)
                return false;
            pos = static_cast<const uchar *>(ff) - d;
            if (pos + 1 >= n)
                return false;
            const uchar next = d[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                pos += 2;
            else if (next == 0xFF)
                pos += 1;
            else
                break;
        }
    }
    return false;
}

enum class GifCheck { Complete, Incomplete, NoPicture, Damaged };

// Walks the blocks up to the end of the first image's data: the reader leaves the rest
// of a cut-off image transparent and reports success.
struct GifImage
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int codeSize = 0;
    qint64 dataStart = 0; // the first sub-block of LZW data
};

GifCheck gifFirstImageComplete(const uchar *d, qint64 n, GifImage *image)
{
    if (n < 13)
        return GifCheck::Incomplete;
    qint64 pos = 13;
    if (d[10] & 0x80)
        pos += 3 * (qint64(2) << (d[10] & 7));
    const auto skipSubBlocks = [&]() {
        for (;;) {
            if (pos >= n)
                return false;
            const int length = d[pos++];
            if (length == 0)
                return true;
            pos += length;
        }
    };
    while (pos < n) {
        const uchar introducer = d[pos++];
        if (introducer == 0x21) {
            ++pos; // label
            if (!skipSubBlocks())
                return GifCheck::Incomplete;
        } else if (introducer == 0x2C) {
            if (pos + 9 > n)
                return GifCheck::Incomplete;
            image->left = int(le16(d + pos));
            image->top = int(le16(d + pos + 2));
            image->width = int(le16(d + pos + 4));
            image->height = int(le16(d + pos + 6));
            const uchar packed = d[pos + 8];
            pos += 9;
            if (packed & 0x80)
                pos += 3 * (qint64(2) << (packed & 7));
            if (pos >= n)
                return GifCheck::Incomplete;
            image->codeSize = d[pos++];
            image->dataStart = pos;
            return skipSubBlocks() ? GifCheck::Complete : GifCheck::Incomplete;
        } else if (introducer == 0x3B) {
            return GifCheck::NoPicture;
        } else {
            return GifCheck::Damaged;
        }
    }
    return GifCheck::Incomplete;
}

// Follows the first image's LZW codes, counting the pixels each one stands for: the codes
// must be valid and the end code must come exactly after the last pixel. giflib stops
// once every line is full and never looks for the end code, so data decoded with a wrong
// code size can pass it. Returns why the data is damaged, or an empty string.
QString lzwDamage(const uchar *d, qint64 n, const GifImage &image)
{
    if (image.codeSize < 2 || image.codeSize > 8)
        return QStringLiteral("its LZW code size %1 lies outside 2 to 8.").arg(image.codeSize);
    const qint64 pixels = qint64(image.width) * image.height;
    const int clear = 1 << image.codeSize;
    const int end = clear + 1;
    std::vector<quint32> length(4096, 1);
    int next = clear + 2;
    int codeSize = image.codeSize + 1;
    int previous = -1;
    qint64 decoded = 0;
    quint32 bits = 0;
    int bitCount = 0;
    qint64 pos = image.dataStart;
    int blockLeft = 0;
    for (;;) {
        while (bitCount < codeSize) {
            if (blockLeft == 0) {
                blockLeft = pos < n ? d[pos++] : 0;
                if (blockLeft == 0)
                    return QStringLiteral("its LZW data stops after %1 of %2 pixels, without "
                                          "an end code.")
                            .arg(decoded)
                            .arg(pixels);
            }
            bits |= quint32(d[pos++]) << bitCount;
            bitCount += 8;
            --blockLeft;
        }
        const int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        if (code == clear) {
            next = clear + 2;
            codeSize = image.codeSize + 1;
            previous = -1;
            continue;
        }
        if (code == end)
            break;
        quint32 codeLength;
        if (previous < 0) {
            if (code > clear)
                return QStringLiteral("its LZW data holds an undefined code.");
            codeLength = 1;
        } else {
            if (code > next || (code == next && next == 4096))
                return QStringLiteral("its LZW data holds an undefined code.");
            codeLength
                    = code == next ? length[std::size_t(previous)] + 1 : length[std::size_t(code)];
            if (next < 4096) {
                length[std::size_t(next)] = length[std::size_t(previous)] + 1;
                ++next;
                if (next == (1 << codeSize) && codeSize < 12)
                    ++codeSize;
            }
        }
        decoded += codeLength;
        if (decoded > pixels)
            return QStringLiteral("its LZW data holds more than the picture's %1 pixels.")
                    .arg(pixels);
        previous = code;
    }
    if (decoded != pixels)
        return QStringLiteral("its LZW data ends after %1 of %2 pixels.").arg(decoded).arg(pixels);
    return QString();
}

struct GifInput
{
    const uchar *data;
    qint64 size;
    qint64 pos;
};

extern "C" int readGifInput(GifFileType *gif, GifByteType *buffer, int length)
{
    auto *input = static_cast<GifInput *>(gif->UserData);
    const qint64 count = std::max<qint64>(0, std::min<qint64>(length, input->size - input->pos));
    std::memcpy(buffer, input->data + input->pos, std::size_t(count));
    input->pos += count;
    return int(count);
}

QString gifError(int code)
{
    const char *text = GifErrorString(code);
    return text ? QString::fromUtf8(text) : QStringLiteral("GIF error %1").arg(code);
}

// Decodes the first image's LZW data to the last pixel. The reader leaves rows that the
// data does not reach transparent and reports success; giflib reports random, short or
// wrongly sized codes. Returns why the data is damaged, or an empty string.
QString gifDamage(const uchar *d, qint64 n)
{
    GifInput input{d, n, 0};
    int error = 0;
    GifFileType *gif = DGifOpen(&input, readGifInput, &error);
    if (!gif)
        return gifError(error);
    const auto close = qScopeGuard([gif] {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    });
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            return gifError(gif->Error);
        if (type == EXTENSION_RECORD_TYPE) {
            int label = 0;
            GifByteType *block = nullptr;
            if (DGifGetExtension(gif, &label, &block) == GIF_ERROR)
                return gifError(gif->Error);
            while (block) {
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                    return gifError(gif->Error);
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            return QStringLiteral("no picture before the end of the file.");
        if (DGifGetImageDesc(gif) == GIF_ERROR)
            return gifError(gif->Error);
        const int width = gif->Image.Width;
        const int height = gif->Image.Height;
        if (width <= 0 || height <= 0)
            return QStringLiteral("its first picture has no pixels.");
        std::vector<GifPixelType> line(static_cast<std::size_t>(width));
        for (int row = 0; row < height; ++row) {
            if (DGifGetLine(gif, line.data(), width) == GIF_ERROR)
                return QStringLiteral("%1 (line %2 of %3).")
                        .arg(gifError(gif->Error))
                        .arg(row + 1)
                        .arg(height);
        }
        return QString();
    }
}

quint32 be32(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

// Walks a PNG's chunks from IHDR to IEND checking every CRC, so that a cut or altered file
// is refused before any picture is written. libpng only warns about a bad CRC in an
// ancillary chunk and drops it. Returns why the file is damaged, or an empty string;
// *incomplete tells a file cut short.
QString pngChunkDamage(QIODevice &file, bool *incomplete)
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

// The size of the picture Qt's reader gives for a GIF: its first image laid on the logical
// screen, which the image's own corner and size make when the screen claims no size. The
// reader's size() doubts large screens that its decoder believes.
QSize gifCanvasSize(const QByteArray &bytes)
{
    const auto *d = reinterpret_cast<const uchar *>(bytes.constData());
    GifImage image;
    gifFirstImageComplete(d, bytes.size(), &image);
    if (bytes.size() < 10 || image.width == 0 || image.height == 0)
        return QSize(); // no picture: refused as damaged
    const int screenWidth = int(le16(d + 6));
    const int screenHeight = int(le16(d + 8));
    return QSize(screenWidth > 0 ? screenWidth : image.left + image.width,
                 screenHeight > 0 ? screenHeight : image.top + image.height);
}

void checkComplete(const QByteArray &bytes,
                   const QString &path,
                   const QByteArray &format,
                   const QSize &size)
{
    const auto incomplete = [&](const QString &why) {
        return PictureError(
                path, QStringLiteral("The picture \"%1\" is incomplete: %2").arg(shown(path), why));
    };
    const auto damaged = [&](const QString &why) {
        return PictureError(
                path, QStringLiteral("The picture \"%1\" is damaged: %2").arg(shown(path), why));
    };
    if (format == "bmp") {
        const BmpHeader header = readBmpHeader(bytes);
        if (header.pixelDataEnd > bytes.size())
            throw incomplete(QStringLiteral("the file is shorter than its %1 x %2 pixels need.")
                                     .arg(size.width())
                                     .arg(size.height()));
        if (header.rleBits == 0)
            return;
        const QString why = rleDamage(reinterpret_cast<const uchar *>(bytes.constData()),
                                      bytes.size(),
                                      header.pixelDataStart,
                                      header.rleBits,
                                      size);
        if (!why.isEmpty())
            throw damaged(why);
        return;
    }
    if (format == "png") {
        // The compressed data is checked as decodePicture decodes it.
        bool cut = false;
        QBuffer file;
        file.setData(bytes);
        file.open(QIODevice::ReadOnly);
        const QString why = pngChunkDamage(file, &cut);
        if (!why.isEmpty())
            throw cut ? incomplete(why) : damaged(why);
        return;
    }
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 length = bytes.size();
    if (format == "jpeg") {
        if (!jpegComplete(data, length))
            throw incomplete(QStringLiteral("its JPEG data ends before the end-of-image marker."));
        return;
    }
    GifImage image;
    switch (gifFirstImageComplete(data, length, &image)) {
    case GifCheck::Complete: {
        QString why = gifDamage(data, length);
        if (why.isEmpty())
            why = lzwDamage(data, length, image);
        if (!why.isEmpty())
            throw damaged(why);
        return;
    }
    case GifCheck::Incomplete:
        throw incomplete(QStringLiteral("the file ends inside its GIF picture data."));
    case GifCheck::NoPicture:
        throw PictureError(
                path, QStringLiteral("The GIF file \"%1\" holds no picture.").arg(shown(path)));
    case GifCheck::Damaged:
        throw PictureError(path,
                           QStringLiteral("The GIF file \"%1\" is damaged: an unknown block "
                                          "comes before its first picture.")
                                   .arg(shown(path)));
    }
}

PictureError tooLargeToDecode(const PictureInfo &info, int limitMb)
{
    return PictureError(info.path,
                        QStringLiteral("The picture \"%1\" is too large to decode: its %2 x %3 "
                                       "pixels need more than the %4 MB the picture reader may "
                                       "use.")
                                .arg(shown(info.path))
                                .arg(info.size.width())
                                .arg(info.size.height())
                                .arg(limitMb));
}

void checkPrintable(const QString &path, const QSize &size)
{
    if (size.width() <= MaxWidthDots && size.height() <= MaxHeightDots)
        return;
    throw PictureTooLargeError(path,
                               QStringLiteral("The picture \"%1\" is %2 x %3 pixels, too large "
                                              "for an NV image: a picture may be at most %4 "
                                              "dots wide and %5 dots high.")
                                       .arg(shown(path))
                                       .arg(size.width())
                                       .arg(size.height())
                                       .arg(MaxWidthDots)
                                       .arg(MaxHeightDots));
}

// libjpeg reports through these callbacks; nothing may reach stderr, and a warning (data it
// had to make up or skip) fails the picture as an error does.
struct JpegErrors : jpeg_error_mgr
{
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void jpegFail(j_common_ptr info)
{
    auto *errors = static_cast<JpegErrors *>(info->err);
    errors->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

extern "C" void jpegMessage(j_common_ptr info, int level)
{
    if (level < 0) // a warning: corrupt data
        jpegFail(info);
}

extern "C" void jpegSilence(j_common_ptr) {}

struct JpegJob
{
    jpeg_decompress_struct info;
    JpegErrors errors;
    QImage image;
    qint64 limitBytes = 0; // 0: no limit
    bool headerOnly = false;
    bool tooLarge = false;
    bool scansMissing = false;
};

// Qt's own conversions, so that a good picture gives the same pixels as its reader:
// RGB straight into RGB32, grey into Grayscale8, and (Adobe's inverted) CMYK by k.
void convertRow(const JpegJob &job, const JSAMPLE *in, QRgb *out)
{
    const int width = int(job.info.output_width);
    if (job.info.output_components == 3) {
        for (int x = 0; x < width; ++x, in += 3)
            out[x] = qRgb(in[0], in[1], in[2]);
        return;
    }
    for (int x = 0; x < width; ++x, in += 4) {
        const int k = in[3];
        out[x] = qRgb(k * in[0] / 255, k * in[1] / 255, k * in[2] / 255);
    }
}

// Every libjpeg call that may jump back lives here: it holds no object that needs
// destroying, so the jump skips nothing.
void runJpegDecode(JpegJob &job, const uchar *data, qint64 length)
{
    jpeg_decompress_struct &info = job.info;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(length));
    jpeg_read_header(&info, TRUE);
    bool direct = false;
    if (info.num_components == 3 && info.out_color_space == JCS_RGB) {
        info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
        direct = true;
    }
    jpeg_calc_output_dimensions(&info);
    if (job.headerOnly)
        return;
    QImage::Format format = QImage::Format_Invalid;
    if (info.output_components == 1)
        format = QImage::Format_Grayscale8;
    else if (direct || info.output_components == 3
             || (info.output_components == 4 && info.out_color_space == JCS_CMYK))
        format = QImage::Format_RGB32;
    if (format == QImage::Format_Invalid)
        ERREXIT(&info, JERR_CONVERSION_NOTIMPL);
    const qint64 bytes = qint64(info.output_width) * info.output_height
                         * (format == QImage::Format_Grayscale8 ? 1 : 4);
    if (job.limitBytes > 0 && bytes > job.limitBytes) {
        job.tooLarge = true;
        ERREXIT(&info, JERR_OUT_OF_MEMORY);
    }
    job.image = QImage(int(info.output_width), int(info.output_height), format);
    if (job.image.isNull())
        ERREXIT(&info, JERR_OUT_OF_MEMORY);
    JSAMPARRAY row = nullptr;
    if (format == QImage::Format_RGB32 && !direct)
        row = info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&info),
                                     JPOOL_IMAGE,
                                     info.output_width * JDIMENSION(info.output_components),
                                     1);
    // A progressive picture is read whole here. The scans missing from one that was cut
    // short leave coefficients unrefined, without a warning.
    jpeg_start_decompress(&info);
    if (info.progressive_mode && info.coef_bits) {
        for (int c = 0; c < info.num_components; ++c) {
            for (int k = 0; k < DCTSIZE2; ++k) {
                if (info.coef_bits[c][k] != 0) {
                    job.scansMissing = true;
                    ERREXIT(&info, JERR_NO_IMAGE);
                }
            }
        }
    }
    while (info.output_scanline < info.output_height) {
        uchar *line = job.image.scanLine(int(info.output_scanline));
        if (row) {
            jpeg_read_scanlines(&info, row, 1);
            convertRow(job, row[0], reinterpret_cast<QRgb *>(line));
        } else {
            JSAMPROW target = line;
            jpeg_read_scanlines(&info, &target, 1);
        }
    }
    jpeg_finish_decompress(&info);
}

bool guardedJpegDecode(JpegJob &job, const uchar *data, qint64 length)
{
    if (setjmp(job.errors.jump) != 0)
        return false;
    runJpegDecode(job, data, length);
    return true;
}

// Decodes the whole JPEG with libjpeg itself: Qt's reader prints libjpeg's warnings and
// returns the picture with made-up pixels. With headerOnly, reads the size alone.
QImage decodeJpeg(const PictureInfo &picture, const QByteArray &bytes, bool headerOnly, QSize *size)
{
    JpegJob job;
    job.headerOnly = headerOnly;
    job.info.err = jpeg_std_error(&job.errors);
    job.errors.error_exit = jpegFail;
    job.errors.emit_message = jpegMessage;
    job.errors.output_message = jpegSilence;
    job.errors.message[0] = '\0';
    const int limitMb = QImageReader::allocationLimit();
    job.limitBytes = qint64(std::max(limitMb, 0)) * 1024 * 1024;
    jpeg_create_decompress(&job.info);
    const bool decoded = guardedJpegDecode(
            job, reinterpret_cast<const uchar *>(bytes.constData()), bytes.size());
    if (size)
        *size = QSize(int(job.info.output_width), int(job.info.output_height));
    jpeg_destroy_decompress(&job.info);
    if (decoded)
        return job.image;
    if (job.tooLarge)
        throw tooLargeToDecode(picture, limitMb);
    if (job.scansMissing)
        throw PictureError(picture.path,
                           QStringLiteral("The picture \"%1\" is incomplete: its progressive "
                                          "scans stop before every detail is sent.")
                                   .arg(shown(picture.path)));
    throw PictureError(picture.path,
                       QStringLiteral("The picture \"%1\" is damaged: %2.")
                               .arg(shown(picture.path), QString::fromUtf8(job.errors.message)));
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
    std::vector<png_bytep> rows;
    QSize size;
    qint64 limitBytes = 0; // 0: no limit
    bool headerOnly = false;
    bool tooLarge = false;
    bool cutShort = false;
    int paletteSize = 0;
    char message[256] = {};
    QByteArray warning; // the first warning that fails the picture
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
    png_set_interlace_handling(png);
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
    job.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        job.rows[y] = job.image.scanLine(int(y));
    png_read_image(png, job.rows.data());
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
QImage decodePng(const PictureInfo &picture, QIODevice &file, bool headerOnly, QSize *size)
{
    PngJob job;
    job.headerOnly = headerOnly;
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

} // namespace

PictureInfo inspectPictureHeader(const QString &path)
{
    PictureInfo info;
    info.path = path;
    info.bytes = readPicture(path);
    const QByteArray &bytes = info.bytes;
    info.format = sniffFormat(bytes);
    if (info.format.isEmpty())
        throw PictureError(path,
                           QStringLiteral("The file \"%1\" is not a BMP, JPEG, GIF or PNG picture.")
                                   .arg(shown(path)));
    QBuffer file;
    file.setData(bytes);
    file.open(QIODevice::ReadOnly);
    if (info.format == "jpeg") {
        // libjpeg's own header reader: Qt's prints libjpeg's complaints on stderr.
        decodeJpeg(info, bytes, true, &info.size);
    } else if (info.format == "png") {
        // libpng's own header reader, as silent as the decoder.
        decodePng(info, file, true, &info.size);
    } else if (info.format == "gif") {
        info.size = gifCanvasSize(bytes);
    } else {
        QImageReader reader(&file, info.format);
        info.size = reader.size();
    }
    if (!info.size.isValid() && info.format == "bmp")
        info.size = readBmpHeader(bytes).size; // the reader refuses absurd sizes outright
    if (!info.size.isValid() || info.size.isEmpty())
        throw PictureError(path,
                           QStringLiteral("The picture \"%1\" is damaged: its size cannot be "
                                          "read from the file.")
                                   .arg(shown(path)));
    checkPrintable(path, info.size);
    return info;
}

void checkPictureData(const PictureInfo &info)
{
    checkComplete(info.bytes, info.path, info.format, info.size);
}

PictureInfo inspectPicture(const QString &path)
{
    const PictureInfo info = inspectPictureHeader(path);
    checkPictureData(info);
    return info;
}

QImage decodePicture(const PictureInfo &info)
{
    QBuffer file;
    file.setData(info.bytes);
    file.open(QIODevice::ReadOnly);
    QImage image;
    if (info.format == "png") {
        image = decodePng(info, file, false, nullptr);
    } else if (info.format == "jpeg") {
        image = decodeJpeg(info, info.bytes, false, nullptr);
    } else {
        QImageReader reader(&file, info.format);
        reader.setAutoTransform(false);
        if (!reader.read(&image)) {
            const qint64 needed = qint64(info.size.width()) * info.size.height() * 4;
            const int limitMb = QImageReader::allocationLimit();
            if (limitMb > 0 && needed > qint64(limitMb) * 1024 * 1024)
                throw tooLargeToDecode(info, limitMb);
            throw PictureError(info.path,
                               QStringLiteral("The picture \"%1\" could not be decoded (%2); the "
                                              "file may be damaged.")
                                       .arg(shown(info.path), reader.errorString()));
        }
    }
    if (image.isNull())
        throw PictureError(info.path,
                           QStringLiteral("The picture \"%1\" could not be decoded: the reader "
                                          "gave no picture.")
                                   .arg(shown(info.path)));
    // The NV memory was judged by the inspected size: a picture that outgrows it is refused.
    if (image.width() > info.size.width() || image.height() > info.size.height())
        throw PictureTooLargeError(info.path,
                                   QStringLiteral("The picture \"%1\" decodes to %2 x %3 pixels, "
                                                  "more than the %4 x %5 its header gives.")
                                           .arg(shown(info.path))
                                           .arg(image.width())
                                           .arg(image.height())
                                           .arg(info.size.width())
                                           .arg(info.size.height()));
    checkPrintable(info.path, image.size());
    return image;
}

} // namespace NvImage

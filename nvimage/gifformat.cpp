#include "pictureformat.h"

#include <QImageReader>
#include <QList>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include <gif_lib.h>

// GIF: the first image's blocks are walked and its LZW codes checked before anything is
// written; giflib then decodes it once, to the last line, into one byte a pixel with the
// colours Qt's reader would give. Qt's reader stays for the images it lays on a larger
// screen or reads its own way, after giflib has checked them.

namespace NvImage::Formats {

namespace {

enum class GifCheck { Complete, Incomplete, NoPicture, Damaged };

// The first image as the blocks before and around it describe it.
struct GifImage
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    uchar packed = 0;    // the image descriptor's flags: local colour table, interlace
    qint64 localMap = 0; // where its local colour table starts, when it has one
    int codeSize = 0;
    qint64 dataStart = 0; // the first sub-block of LZW data
    // Qt's reader: the transparent index it takes (the last graphic control extension's),
    // and whether it reads every extension before the image as giflib does (it does not for
    // a graphic control extension shorter than 4 bytes or an application extension whose
    // first block is empty).
    int transparent = -1;
    bool readAsGiflibDoes = true;
};

// Notes what Qt's reader takes from the extension whose label is at d[pos].
void noteExtension(const uchar *d, qint64 n, qint64 pos, GifImage *image)
{
    if (pos + 1 >= n)
        return;
    const int label = d[pos];
    const int length = d[pos + 1];
    if (label == 0xFF && length == 0)
        image->readAsGiflibDoes = false;
    if (label != 0xF9)
        return;
    if (length < 4 || pos + 5 >= n) {
        image->readAsGiflibDoes = false;
        return;
    }
    image->transparent = (d[pos + 2] & 1) ? d[pos + 5] : -1;
}

// Walks the blocks up to the end of the first image's data: the reader leaves the rest
// of a cut-off image transparent and reports success.
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
            noteExtension(d, n, pos, image);
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
            image->packed = d[pos + 8];
            pos += 9;
            image->localMap = pos;
            if (image->packed & 0x80)
                pos += 3 * (qint64(2) << (image->packed & 7));
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
QString lzwDamage(const uchar *d, qint64 n, const GifImage &image, const StopCheck &stop)
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
    for (qint64 codes = 1;; ++codes) {
        if (codes % (1 << 20) == 0)
            throwIfStopped(stop);
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

// Decodes the first image's LZW data to the last pixel, row after row as the file holds
// them, each into the width bytes rowFor(row) gives. The reader leaves rows that the data
// does not reach transparent and reports success; giflib reports random, short or wrongly
// sized codes. Returns why the data is damaged, or an empty string; throws StoppedError when
// stop, asked every few rows, says so.
template<typename RowFor>
QString decodeFirstImage(
        const uchar *d, qint64 n, const QSize &expected, const StopCheck &stop, RowFor rowFor)
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
        if (expected.isValid() && expected != QSize(width, height))
            return QStringLiteral("its first picture is not the size its blocks give.");
        for (int row = 0; row < height; ++row) {
            if (row % 16 == 0)
                throwIfStopped(stop);
            if (DGifGetLine(gif, rowFor(row, width), width) == GIF_ERROR)
                return QStringLiteral("%1 (line %2 of %3).")
                        .arg(gifError(gif->Error))
                        .arg(row + 1)
                        .arg(height);
        }
        return QString();
    }
}

// The data check alone: the rows go to one line and are dropped.
QString gifDamage(const uchar *d, qint64 n, const StopCheck &stop)
{
    std::vector<GifPixelType> line;
    return decodeFirstImage(d, n, QSize(), stop, [&line](int, int width) {
        line.resize(std::size_t(width));
        return line.data();
    });
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

// The colour of each index as Qt's reader gives it for the first image: its local colour
// table, else the global one, else black; an index past the table transparent white, and the
// transparent index its colour made transparent. Without a transparent index the reader
// makes an opaque picture, so every colour is opaque.
std::array<QRgb, 256> qtColours(const uchar *d, const GifImage &image)
{
    const bool local = image.packed & 0x80;
    const int count = local ? 2 << (image.packed & 7) : 2 << (d[10] & 7);
    const uchar *table = local ? d + image.localMap : ((d[10] & 0x80) ? d + 13 : nullptr);
    constexpr QRgb ClearWhite = 0x00ffffff;
    std::array<QRgb, 256> colours;
    for (int i = 0; i < 256; ++i) {
        QRgb colour = ClearWhite;
        if (i < count)
            colour = table ? qRgb(table[3 * i], table[3 * i + 1], table[3 * i + 2]) : 0;
        else if (i == count && !table)
            colour = 0;
        if (i == image.transparent)
            colour &= ClearWhite;
        colours[std::size_t(i)] = image.transparent < 0 ? colour | 0xff000000u : colour;
    }
    return colours;
}

// Whether the first image's indexes and qtColours give the picture Qt's reader gives: the
// image fills its screen from the corner, and the reader reads the blocks as giflib does.
// Qt's reader lays other images on their screen, and interlaces pictures of fewer than five
// rows its own way; those are left to it.
bool decodableWithoutQt(const GifImage &image, const QSize &canvas)
{
    const bool interlaced = image.packed & 0x40;
    return image.readAsGiflibDoes && image.left == 0 && image.top == 0
           && QSize(image.width, image.height) == canvas && (!interlaced || image.height >= 5);
}

// The picture row of each row in the file: an interlaced image holds every eighth row from
// the first, every eighth from the fifth, every fourth from the third, then the odd ones.
std::vector<int> rowOrder(int height, bool interlaced)
{
    std::vector<int> order;
    order.reserve(std::size_t(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            order.push_back(y);
        return order;
    }
    for (const auto &[first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = first; y < height; y += step)
            order.push_back(y);
    return order;
}

// The first image decoded once by giflib into one byte a pixel, the indexes standing for
// qtColours. The decode is the data check too: it fails as gifDamage does.
QImage decodeIndexes(const PictureInfo &picture, const GifImage &image, const StopCheck &stop)
{
    // Qt's reader would refuse a 32-bit picture above its allocation limit; so is this one.
    const int limitMb = QImageReader::allocationLimit();
    if (limitMb > 0 && qint64(image.width) * 4 * image.height > qint64(limitMb) * 1024 * 1024)
        throw tooLargeToDecode(picture, limitMb);
    QImage indexes(image.width, image.height, QImage::Format_Indexed8);
    if (indexes.isNull())
        throw PictureError(picture.path,
                           QStringLiteral("The picture \"%1\" could not be decoded: there is not "
                                          "enough memory.")
                                   .arg(shown(picture.path)));
    const std::array<QRgb, 256> colours = qtColours(dataOf(picture.bytes), image);
    indexes.setColorTable(QList<QRgb>(colours.begin(), colours.end()));
    const std::vector<int> order = rowOrder(image.height, image.packed & 0x40);
    uchar *bits = indexes.bits();
    const qsizetype stride = indexes.bytesPerLine();
    const QString why = decodeFirstImage(
            dataOf(picture.bytes),
            picture.bytes.size(),
            QSize(image.width, image.height),
            stop,
            [&](int row, int) { return bits + order[std::size_t(row)] * stride; });
    if (!why.isEmpty())
        throw damagedPicture(picture.path, why);
    return indexes;
}

QImage decodeGif(const PictureInfo &picture, const StopCheck &stop)
{
    const uchar *data = dataOf(picture.bytes);
    const qint64 length = picture.bytes.size();
    GifImage image;
    if (gifFirstImageComplete(data, length, &image) == GifCheck::Complete
        && decodableWithoutQt(image, picture.size))
        return decodeIndexes(picture, image, stop);
    // Qt's reader for the pixels, once giflib has checked the data.
    const QString why = gifDamage(data, length, stop);
    if (!why.isEmpty())
        throw damagedPicture(picture.path, why);
    return decodeWithQt(picture, stop);
}

bool recognisesGif(const QByteArray &head)
{
    return head.startsWith("GIF87a") || head.startsWith("GIF89a");
}

QSize readGifSize(const PictureInfo &picture)
{
    return gifCanvasSize(picture.bytes);
}

// The blocks and the LZW codes before anything is written; giflib's decode, which finds
// what else may be wrong, is the picture's decode (decodeGif). A file both find damaged gets
// giflib's reason.
void checkGifData(const PictureInfo &picture, const StopCheck &stop)
{
    const QString &path = picture.path;
    const uchar *data = dataOf(picture.bytes);
    const qint64 length = picture.bytes.size();
    GifImage image;
    switch (gifFirstImageComplete(data, length, &image)) {
    case GifCheck::Complete: {
        const QString why = lzwDamage(data, length, image, stop);
        if (why.isEmpty())
            return;
        const QString giflibWhy = gifDamage(data, length, stop);
        throw damagedPicture(path, giflibWhy.isEmpty() ? why : giflibWhy);
    }
    case GifCheck::Incomplete:
        throw incompletePicture(path, QStringLiteral("the file ends inside its GIF picture data."));
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

} // namespace

const PictureFormat &gifFormat()
{
    static const PictureFormat format{"gif", recognisesGif, readGifSize, checkGifData, decodeGif};
    return format;
}

} // namespace NvImage::Formats

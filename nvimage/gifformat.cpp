#include "pictureformat.h"

#include <QScopeGuard>

#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

// GIF: the first image's blocks are walked, giflib decodes its LZW data to the last line and
// a walk over its codes checks what giflib lets pass; Qt's reader decodes the pixels, laying
// the first frame on its logical screen.

namespace NvImage::Formats {

namespace {

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

bool recognisesGif(const QByteArray &head)
{
    return head.startsWith("GIF87a") || head.startsWith("GIF89a");
}

QSize readGifSize(const PictureInfo &picture)
{
    return gifCanvasSize(picture.bytes);
}

void checkGifData(const PictureInfo &picture)
{
    const QString &path = picture.path;
    const uchar *data = dataOf(picture.bytes);
    const qint64 length = picture.bytes.size();
    GifImage image;
    switch (gifFirstImageComplete(data, length, &image)) {
    case GifCheck::Complete: {
        QString why = gifDamage(data, length);
        if (why.isEmpty())
            why = lzwDamage(data, length, image);
        if (!why.isEmpty())
            throw damagedPicture(path, why);
        return;
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
    static const PictureFormat format{
            "gif", recognisesGif, readGifSize, checkGifData, decodeWithQt};
    return format;
}

} // namespace NvImage::Formats

#include "pictureformat.h"

#include <QImageReader>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

// JPEG: decoded with libjpeg itself, every warning counted; Qt's reader prints libjpeg's
// warnings and returns the picture with made-up pixels.

namespace NvImage::Formats {

namespace {

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
    const StopCheck *stop = nullptr; // asked every few rows
    bool stopped = false;
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
        if (info.output_scanline % 16 == 0 && *job.stop && (*job.stop)()) {
            job.stopped = true;
            ERREXIT(&info, JERR_NO_IMAGE);
        }
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
QImage decodeJpeg(const PictureInfo &picture,
                  const QByteArray &bytes,
                  bool headerOnly,
                  QSize *size,
                  const StopCheck &stop = {})
{
    JpegJob job;
    job.headerOnly = headerOnly;
    job.stop = &stop;
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
    if (job.stopped)
        throw StoppedError();
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

bool recognisesJpeg(const QByteArray &head)
{
    return head.startsWith("\xFF\xD8\xFF");
}

QSize readJpegSize(const PictureInfo &picture)
{
    // libjpeg's own header reader: Qt's prints libjpeg's complaints on stderr.
    QSize size;
    decodeJpeg(picture, picture.bytes, true, &size);
    return size;
}

void checkJpegData(const PictureInfo &picture, const StopCheck &)
{
    // The entropy-coded data itself is checked as it is decoded.
    if (!jpegComplete(dataOf(picture.bytes), picture.bytes.size()))
        throw incompletePicture(
                picture.path, QStringLiteral("its JPEG data ends before the end-of-image marker."));
}

QImage decodeJpegPicture(const PictureInfo &picture, const StopCheck &stop)
{
    return decodeJpeg(picture, picture.bytes, false, nullptr, stop);
}

} // namespace

const PictureFormat &jpegFormat()
{
    static const PictureFormat format{
            "jpeg", recognisesJpeg, readJpegSize, checkJpegData, decodeJpegPicture};
    return format;
}

} // namespace NvImage::Formats

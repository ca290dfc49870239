// Fuzz target for the picture path of a download: a file inspected and decoded as the window
// does, then turned into the FS q stream for that one picture.
#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>
#include <nvimage/pictureloader.h>
#include <nvimage/picturesurface.h>

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

int wordAt(const QByteArray &bytes, int index)
{
    return uchar(bytes.at(index)) + 256 * uchar(bytes.at(index + 1));
}

QString *inputPath = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    // A private folder in memory when there is one: each input is written there first.
    static QTemporaryDir folder(QFile::exists(QStringLiteral("/dev/shm"))
                                        ? QStringLiteral("/dev/shm/nvlogo-fuzz-XXXXXX")
                                        : QString());
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        std::exit(1);
    }
    static QString path = folder.filePath(QStringLiteral("picture"));
    inputPath = &path;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    {
        QFile file(*inputPath);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input");
        check(file.write(reinterpret_cast<const char *>(bytes), qint64(size)) == qint64(size),
              "cannot write the input");
    }

    NvImage::PictureInfo info;
    try {
        info = NvImage::inspectPicture(*inputPath);
    } catch (const NvImage::PictureError &) {
        return 0; // a clear refusal is the right answer to most inputs
    }
    check(info.format == "bmp" || info.format == "jpeg" || info.format == "gif"
                  || info.format == "png",
          "format");
    check(info.size.width() >= 1 && info.size.width() <= NvImage::MaxWidthDots
                  && info.size.height() >= 1 && info.size.height() <= NvImage::MaxHeightDots,
          "inspected size out of range");

    QImage picture;
    try {
        picture = NvImage::decodePicture(info);
    } catch (const NvImage::PictureError &) {
        return 0;
    }
    check(!picture.isNull(), "null picture without an error");
    check(picture.width() <= info.size.width() && picture.height() <= info.size.height(),
          "decoded picture larger than its header said");
    if (picture.format() == QImage::Format_Indexed8 && info.format == "gif") {
        // Our own GIF decoder must give exactly the pixels Qt's reader gives.
        QImageReader reader(*inputPath, "gif");
        const QImage theirs = reader.read();
        check(!theirs.isNull()
                      && theirs.convertToFormat(QImage::Format_ARGB32)
                                 == picture.convertToFormat(QImage::Format_ARGB32),
              "GIF pixels unlike Qt's reader's");
    }

    // The stream: ESC @, FS q 1, xL xH yL yH, then the data. Only a lack of NV memory may
    // refuse a picture that was inspected and decoded.
    const int widthDots = (info.size.width() + 7) / 8 * 8;
    const int heightDots = (info.size.height() + 7) / 8 * 8;
    const bool fits = 4 + qint64(widthDots) / 8 * heightDots <= NvImage::DefaultNvCapacity;
    NvImage::PictureSurface surface;
    NvImage::ImageSize rounded;
    QByteArray stream;
    try {
        stream = NvImage::buildNvImageStream({*inputPath}, surface, rounded);
    } catch (const NvImage::Error &) {
        check(!fits, "an accepted picture was refused when its stream was built");
        return 0;
    }
    check(rounded.ImageWidth == widthDots && rounded.ImageHeight == heightDots, "rounded size");
    check(stream.size() >= 9 && stream.startsWith("\x1b\x40\x1c\x71\x01"), "stream head");
    check(wordAt(stream, 5) * 8 == widthDots && wordAt(stream, 7) * 8 == heightDots,
          "record size differs from the rounded picture size");
    check(stream.size() == 9 + qsizetype(widthDots) / 8 * heightDots, "stream length");
    return 0;
}

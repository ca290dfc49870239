#include "testpictures.h"
#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>
#include <nvimage/picturepreview.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <limits>
#include <utility>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace NvImage;
using namespace TestPictures;

namespace {

NvImage::StreamOptions optionsOf(NvImage::Conversion conversion, const NvImage::StopCheck &stop)
{
    NvImage::StreamOptions options;
    options.preparation.conversion = conversion;
    options.stop = stop;
    return options;
}

struct PictureFile
{
    QImage image;
    QByteArray format; // bmp, jpeg, gif
    int transparentIndex = -1;
};
using PictureFiles = QList<PictureFile>;

QImage indexed(int width, int height, const QList<QRgb> &table, int index = 0)
{
    QImage image(width, height, QImage::Format_Indexed8);
    image.setColorTable(table);
    image.fill(uint(index));
    return image;
}

QByteArray header(int count)
{
    return QByteArray::fromHex("1B401C71") + char(count);
}

// A record: its four size bytes as written in hex, the bytes of every pictured column,
// then blank columns up to the rounded width.
QByteArray record(const char *sizeHex, const char *columnHex, int pictured, int width)
{
    const QByteArray size = QByteArray::fromHex(sizeHex);
    const QByteArray column = QByteArray::fromHex(columnHex);
    return size + column.repeated(pictured) + QByteArray((width - pictured) * column.size(), '\0');
}

QByteArray randomBytes(int length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    QRandomGenerator random(length);
    for (char &b : bytes)
        b = char(random.bounded(256));
    return bytes;
}

QImage randomBlocks(int width, int height, int block, quint32 seed)
{
    static const QList<QRgb> colours = {qRgb(0, 0, 0),
                                        qRgb(127, 127, 127),
                                        qRgb(128, 128, 128),
                                        qRgb(255, 255, 255),
                                        qRgb(255, 0, 0),
                                        qRgb(0, 0, 255),
                                        qRgb(255, 255, 0)};
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int by = 0; by < height; by += block)
        for (int bx = 0; bx < width; bx += block) {
            const QRgb c = colours.at(int(random.bounded(colours.size())));
            for (int y = by; y < qMin(height, by + block); ++y)
                for (int x = bx; x < qMin(width, bx + block); ++x)
                    image.setPixel(x, y, c);
        }
    return image;
}

enum class Kind { None, Picture, TooLarge, Count, Overflow, Scratch, Capacity, Other };

// Runs the call and tells which of our errors it threw, with its message.
Kind failureOf(const std::function<void()> &call, QString *message)
{
    try {
        call();
    } catch (const PictureTooLargeError &e) {
        *message = e.message();
        return Kind::TooLarge;
    } catch (const PictureError &e) {
        *message = e.message();
        return Kind::Picture;
    } catch (const PictureCountError &e) {
        *message = e.message();
        return Kind::Count;
    } catch (const OverflowError &e) {
        *message = e.message();
        return Kind::Overflow;
    } catch (const ScratchFileError &e) {
        *message = e.message();
        return Kind::Scratch;
    } catch (const NvCapacityError &e) {
        *message = e.message();
        return Kind::Capacity;
    } catch (const std::exception &e) {
        *message = QString::fromUtf8(e.what());
        return Kind::Other;
    }
    return Kind::None;
}

} // namespace

Q_DECLARE_METATYPE(PictureFiles)
Q_DECLARE_METATYPE(NvImage::Conversion)

class tst_NvImageFile : public QObject
{
    Q_OBJECT

private slots:
    void streams_data();
    void streams();
    void dotsMatchSourcePixels_data();
    void dotsMatchSourcePixels();
    void failures_data();
    void failures();
    void gifFirstFrame();
    void mostPictures();
    void nvCapacity_data();
    void nvCapacity();
    void totalFileSize_data();
    void totalFileSize();
    void roundUp_data();
    void roundUp();
    void fileExists();
    void stopEndsTheWork_data();
    void stopEndsTheWork();
    void scratchFileIsPrivateAndReplaced();
    void scratchFileGoneWhenKilled();
    void scratchFileFailures();
    void writeFailure();

private:
    QStringList save(const PictureFiles &pictures);

    QTemporaryDir m_dir;
    int m_saved = 0;
};

QStringList tst_NvImageFile::save(const PictureFiles &pictures)
{
    QStringList paths;
    for (const PictureFile &picture : pictures) {
        const QString path = m_dir.filePath(QStringLiteral("picture%1.%2")
                                                    .arg(++m_saved)
                                                    .arg(QString::fromLatin1(picture.format)));
        savePicture(path, picture.image, picture.format, picture.transparentIndex);
        paths << path;
    }
    return paths;
}

void tst_NvImageFile::streams_data()
{
    QTest::addColumn<PictureFiles>("pictures");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QByteArray>("expected");

    const QColor white(Qt::white);
    const QImage black100x50 = filled(100, 50, Qt::black);
    const QByteArray file100x50 = header(1) + record("0D000700", "FFFFFFFFFFFFC0", 100, 104);
    QTest::newRow("100x50 bmp") << PictureFiles{{black100x50, "bmp"}} << white << file100x50;
    QTest::newRow("100x50 jpeg") << PictureFiles{{black100x50, "jpeg"}} << white << file100x50;
    QTest::newRow("100x50 gif") << PictureFiles{{indexed(100, 50, {qRgb(0, 0, 0)}), "gif"}} << white
                                << file100x50;
    QTest::newRow("100x50 png") << PictureFiles{{black100x50, "png"}} << white << file100x50;
    QTest::newRow("width 64") << PictureFiles{{filled(64, 8, Qt::black), "bmp"}} << white
                              << header(1) + record("08000100", "FF", 64, 64);
    QTest::newRow("width 2048") << PictureFiles{{indexed(2048, 8, {qRgb(0, 0, 0)}), "gif"}} << white
                                << header(1) + record("00010100", "FF", 2048, 2048);
    QTest::newRow("widest accepted") << PictureFiles{{indexed(8184, 8, {qRgb(0, 0, 0)}), "gif"}}
                                     << white << header(1) + record("FF030100", "FF", 8184, 8184);
    const QByteArray fullColumn = QByteArray("FF").repeated(288);
    QTest::newRow("tallest accepted")
            << PictureFiles{{filled(1, 2304, Qt::black), "bmp"}} << white
            << header(1) + record("01002001", fullColumn.constData(), 1, 8);
    QTest::newRow("height 8, width 1") << PictureFiles{{filled(1, 8, Qt::black), "bmp"}} << white
                                       << header(1) + record("01000100", "FF", 1, 8);

    const struct
    {
        const char *name;
        QRgb colour;
        const char *dots;
    } colours[] = {{"grey 127", qRgb(127, 127, 127), "FF"},
                   {"grey 128", qRgb(128, 128, 128), "00"},
                   {"red", qRgb(255, 0, 0), "FF"},
                   {"blue", qRgb(0, 0, 255), "00"},
                   {"pale yellow", qRgb(255, 255, 127), "FF"},
                   {"dark blue 128", qRgb(0, 0, 128), "00"}};
    for (const auto &c : colours) {
        const QByteArray expected = header(1) + record("01000100", c.dots, 8, 8);
        QTest::addRow("%s bmp", c.name)
                << PictureFiles{{filled(8, 8, c.colour), "bmp"}} << white << expected;
        QTest::addRow("%s gif", c.name)
                << PictureFiles{{indexed(8, 8, {c.colour}), "gif"}} << white << expected;
    }
    QTest::newRow("red jpeg") << PictureFiles{{filled(16, 16, Qt::red), "jpeg"}} << white
                              << header(1) + record("02000200", "FFFF", 16, 16);
    QTest::newRow("blue jpeg") << PictureFiles{{filled(16, 16, Qt::blue), "jpeg"}} << white
                               << header(1) + record("02000200", "0000", 16, 16);

    // Transparent GIF and PNG pixels read as the window's background.
    QImage halfClear = indexed(8, 8, {qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < 8; ++y)
        for (int x = 4; x < 8; ++x)
            halfClear.setPixel(x, y, 1);
    for (const char *format : {"gif", "png"}) {
        const PictureFiles clear{{halfClear, format, 0}};
        QTest::addRow("transparent %s on white", format)
                << clear << white
                << header(1) + QByteArray::fromHex("01000100") + QByteArray(4, '\0')
                           + QByteArray(4, '\xFF');
        QTest::addRow("transparent %s on black", format)
                << clear << QColor(Qt::black) << header(1) + record("01000100", "FF", 8, 8);
        QTest::addRow("transparent %s on pale yellow", format)
                << clear << QColor(255, 255, 127) << header(1) + record("01000100", "FF", 8, 8);
    }

    QImage topBlack = indexed(8, 16, {qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            topBlack.setPixel(x, y, 1);
    QTest::newRow("three pictures in order")
            << PictureFiles{{filled(16, 8, Qt::black), "bmp"},
                            {topBlack, "gif"},
                            {filled(24, 8, Qt::white), "jpeg"}}
            << white
            << header(3) + record("02000100", "FF", 16, 16) + record("01000200", "FF00", 8, 8)
                       + record("03000100", "00", 24, 24);
}

void tst_NvImageFile::streams()
{
    QFETCH(PictureFiles, pictures);
    QFETCH(QColor, background);
    QFETCH(QByteArray, expected);
    const QStringList paths = save(pictures);

    QTemporaryDir scratchDir;
    PictureSurface Picture1(background);
    ImageSize size;
    {
        ScratchFile scratch(scratchDir.path());
        WriteNvImageFile(scratch, paths, Picture1, size);
        QVERIFY(scratch.exists());
        QCOMPARE(ReadNvImageFile(scratch).toHex(' '), expected.toHex(' '));
    }
    QVERIFY(QDir(scratchDir.path()).isEmpty());

    // The surface and the size keep the last picture.
    const QImage &last = pictures.constLast().image;
    QCOMPARE(Picture1.width(), last.width());
    QCOMPARE(size.ImageWidth, roundUpToMultipleOf8(last.width()));
    QCOMPARE(size.ImageHeight, roundUpToMultipleOf8(last.height()));

    PictureSurface surface(background);
    QCOMPARE(buildNvImageStream(paths, surface).toHex(' '), expected.toHex(' '));
}

void tst_NvImageFile::dotsMatchSourcePixels_data()
{
    QTest::addColumn<PictureFiles>("pictures");
    QTest::addColumn<QColor>("background");

    QRandomGenerator random(7);
    QList<QRgb> palette;
    for (int i = 0; i < 40; ++i)
        palette << qRgb(
                int(random.bounded(256)), int(random.bounded(256)), 110 + int(random.bounded(36)));
    QImage gif(37, 21, QImage::Format_Indexed8);
    gif.setColorTable(palette);
    for (int y = 0; y < gif.height(); ++y)
        for (int x = 0; x < gif.width(); ++x)
            gif.setPixel(x, y, uint(random.bounded(palette.size())));

    const PictureFiles mixed{{randomBlocks(100, 50, 1, 1), "bmp"},
                             {gif, "gif", 3},
                             {randomBlocks(203, 45, 16, 2), "jpeg"},
                             {randomBlocks(29, 70, 3, 4), "png"},
                             {randomBlocks(1, 1, 1, 3), "bmp"}};
    QTest::newRow("on white") << mixed << QColor(Qt::white);
    QTest::newRow("on dark blue") << mixed << QColor(0, 0, 100);
}

void tst_NvImageFile::dotsMatchSourcePixels()
{
    QFETCH(PictureFiles, pictures);
    QFETCH(QColor, background);
    const QStringList paths = save(pictures);
    PictureSurface surface(background);
    const QByteArray stream = buildNvImageStream(paths, surface);

    QString error;
    const QList<DecodedPicture> decoded = decodeNvStream(stream, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(decoded.size(), paths.size());
    for (int n = 0; n < paths.size(); ++n) {
        // The source as the reader gives it; JPEG by its decoded, not its original, pixels.
        const QImage source = QImage(paths.at(n)).convertToFormat(QImage::Format_ARGB32);
        const DecodedPicture &dots = decoded.at(n);
        QCOMPARE(dots.width, (source.width() + 7) / 8 * 8);
        QCOMPARE(dots.height, (source.height() + 7) / 8 * 8);
        for (int x = 0; x < dots.width; ++x) {
            for (int y = 0; y < dots.height; ++y) {
                bool black = false;
                if (x < source.width() && y < source.height()) {
                    const QRgb pixel = source.pixel(x, y);
                    black = (qAlpha(pixel) == 0 ? background.blue() : qBlue(pixel)) < 128;
                }
                if (dots.isBlack(x, y) != black)
                    QFAIL(qPrintable(
                            QStringLiteral("picture %1, dot (%2, %3)").arg(n + 1).arg(x).arg(y)));
            }
        }
    }
}

void tst_NvImageFile::failures_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("fragments");
    QTest::addColumn<bool>("upFront"); // refused before any picture was written
    QTest::addColumn<int>("allocationLimit");

    const auto path = [this](const QString &name) {
        return m_dir.filePath(name);
    };
    const QString good
            = savePicture(path(QStringLiteral("good.bmp")), filled(8, 8, Qt::black), "bmp");

    writeFile(path(QStringLiteral("notes.bmp")), "just some text, not a picture\n");
    QTest::newRow("not a picture")
            << QStringList{good, path(QStringLiteral("notes.bmp"))} << int(Kind::Picture)
            << QStringList{QStringLiteral("notes.bmp"),
                           QStringLiteral("not a BMP, JPEG, GIF or PNG")}
            << true << 0;
    QTest::newRow("missing") << QStringList{path(QStringLiteral("absent.gif"))}
                             << int(Kind::Picture)
                             << QStringList{QStringLiteral("absent.gif"),
                                            QStringLiteral("cannot be opened")}
                             << true << 0;
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.jpg"));
    QTest::newRow("folder") << QStringList{path(QStringLiteral("folder.jpg"))} << int(Kind::Picture)
                            << QStringList{QStringLiteral("folder.jpg"), QStringLiteral("folder")}
                            << true << 0;

    const struct
    {
        const char *name;
        QImage image;
        QByteArray format;
    } truncated[] = {{"truncated jpeg", randomBlocks(64, 64, 1, 4), "jpeg"},
                     {"truncated bmp", randomBlocks(64, 64, 1, 5), "bmp"},
                     {"truncated gif", indexed(64, 64, {qRgb(0, 0, 0)}), "gif"}};
    for (const auto &t : truncated) {
        const QString name = QStringLiteral("cut.%1").arg(QString::fromLatin1(t.format));
        const QByteArray whole = readFile(savePicture(path(name), t.image, t.format));
        writeFile(path(name), whole.left(whole.size() / 2));
        QTest::addRow("%s", t.name) << QStringList{good, path(name)} << int(Kind::Picture)
                                    << QStringList{name, QStringLiteral("incomplete")} << true << 0;
    }

    // A BMP header that claims 30000 x 30000 pixels, with hardly any data behind it.
    QByteArray huge = readFile(good).left(54);
    const qint32 side = 30000;
    memcpy(huge.data() + 18, &side, 4);
    memcpy(huge.data() + 22, &side, 4);
    writeFile(path(QStringLiteral("huge.bmp")), huge + QByteArray(1000, '\0'));
    const QStringList limits{QStringLiteral("8184 dots wide"), QStringLiteral("2304 dots high")};
    // Sizes near 2^31 must not overflow the header arithmetic either.
    const qint32 largest = std::numeric_limits<qint32>::max();
    memcpy(huge.data() + 18, &largest, 4);
    memcpy(huge.data() + 22, &largest, 4);
    writeFile(path(QStringLiteral("largest.bmp")), huge);
    QTest::newRow("bmp claims 2^31-1 square")
            << QStringList{path(QStringLiteral("largest.bmp"))} << int(Kind::TooLarge)
            << limits + QStringList{QStringLiteral("largest.bmp")} << true << 0;
    QTest::newRow("bmp claims 30000x30000")
            << QStringList{path(QStringLiteral("huge.bmp"))} << int(Kind::TooLarge)
            << limits + QStringList{QStringLiteral("huge.bmp"), QStringLiteral("30000 x 30000")}
            << true << 0;
    savePicture(path(QStringLiteral("wide.gif")), indexed(8185, 1, {qRgb(0, 0, 0)}), "gif");
    QTest::newRow("8185 wide") << QStringList{good, path(QStringLiteral("wide.gif"))}
                               << int(Kind::TooLarge)
                               << limits
                                          + QStringList{QStringLiteral("wide.gif"),
                                                        QStringLiteral("8185 x 1")}
                               << true << 0;
    savePicture(path(QStringLiteral("tall.bmp")), indexed(1, 2305, {qRgb(0, 0, 0)}), "bmp");
    QTest::newRow("2305 high") << QStringList{path(QStringLiteral("tall.bmp"))}
                               << int(Kind::TooLarge)
                               << limits
                                          + QStringList{QStringLiteral("tall.bmp"),
                                                        QStringLiteral("1 x 2305")}
                               << true << 0;

    // Passes the header checks, but the reader refuses its 7 bits per pixel.
    QByteArray oddDepth = readFile(good);
    oddDepth[28] = 7;
    writeFile(path(QStringLiteral("depth7.bmp")), oddDepth);
    QTest::newRow("reader refuses after a good picture")
            << QStringList{good, path(QStringLiteral("depth7.bmp"))} << int(Kind::Picture)
            << QStringList{QStringLiteral("depth7.bmp"), QStringLiteral("could not be decoded")}
            << false << 0;
    savePicture(path(QStringLiteral("big.bmp")), filled(600, 600, Qt::black), "bmp");
    QTest::newRow("beyond the reader's allocation limit")
            << QStringList{good, path(QStringLiteral("big.bmp"))} << int(Kind::Picture)
            << QStringList{QStringLiteral("big.bmp"), QStringLiteral("too large to decode")}
            << false << 1;

    // Damaged data after a good picture: the stream is dropped whole. A GIF's data is
    // checked before writing, a JPEG's while it is decoded.
    QByteArray noisyGif = encodeGif(indexed(16, 8, {qRgb(0, 0, 0)}));
    const qsizetype lzwStart = 13 + 768 + 10 + 1;
    noisyGif = noisyGif.left(lzwStart) + char(100) + randomBytes(100) + QByteArray("\0;", 2);
    writeFile(path(QStringLiteral("noise.gif")), noisyGif);
    QTest::newRow("good, then damaged gif")
            << QStringList{good, path(QStringLiteral("noise.gif"))} << int(Kind::Picture)
            << QStringList{QStringLiteral("noise.gif"), QStringLiteral("damaged")} << true << 0;
    const QByteArray jpeg = readFile(
            savePicture(path(QStringLiteral("cut.jpg")), randomBlocks(32, 32, 1, 8), "jpeg"));
    writeFile(path(QStringLiteral("cut.jpg")), jpeg.left(jpeg.size() - 40) + "\xFF\xD9");
    QTest::newRow("good, then jpeg cut in its scan")
            << QStringList{good, path(QStringLiteral("cut.jpg"))} << int(Kind::Picture)
            << QStringList{QStringLiteral("cut.jpg"), QStringLiteral("damaged")} << false << 0;

    QTest::newRow("256 pictures") << QStringList(256, good) << int(Kind::Count)
                                  << QStringList{QStringLiteral("256"), QStringLiteral("255")}
                                  << true << 0;
    QTest::newRow("no picture") << QStringList() << int(Kind::Count)
                                << QStringList{QStringLiteral("No picture")} << true << 0;
}

void tst_NvImageFile::failures()
{
    QFETCH(QStringList, paths);
    QFETCH(int, kind);
    QFETCH(QStringList, fragments);
    QFETCH(bool, upFront);
    QFETCH(int, allocationLimit);

    const int savedLimit = QImageReader::allocationLimit();
    if (allocationLimit > 0) {
        QImageReader::setAllocationLimit(allocationLimit);
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("allocation limit")));
    }
    const auto restoreLimit
            = qScopeGuard([savedLimit] { QImageReader::setAllocationLimit(savedLimit); });

    QTemporaryDir scratchDir;
    ScratchFile scratch(scratchDir.path());
    PictureSurface Picture1;
    ImageSize size;
    // An earlier stream in the scratch file must not survive the failed write.
    WriteNvImageFile(scratch, {m_dir.filePath(QStringLiteral("good.bmp"))}, Picture1, size);
    QVERIFY(scratch.exists());
    size = ImageSize();

    QString message;
    QCOMPARE(int(failureOf([&] { WriteNvImageFile(scratch, paths, Picture1, size); }, &message)),
             kind);
    for (const QString &fragment : fragments)
        QVERIFY2(message.contains(fragment), qPrintable(message));
    QVERIFY(!scratch.exists());
    QVERIFY(QDir(scratchDir.path()).isEmpty());
    QVERIFY_THROWS_EXCEPTION(NvImage::Error, ReadNvImageFile(scratch));
    QCOMPARE(size.ImageWidth == 0, upFront);

    QString memoryMessage;
    QCOMPARE(int(failureOf([&] { buildNvImageStream(paths, Picture1); }, &memoryMessage)), kind);
    QCOMPARE(memoryMessage, message);
}

void tst_NvImageFile::gifFirstFrame()
{
    // Two frames sharing the first one's palette: black, then white.
    const QList<QRgb> table{qRgb(0, 0, 0), qRgb(255, 255, 255)};
    const QByteArray first = encodeGif(indexed(8, 8, table, 0));
    const QByteArray second = encodeGif(indexed(8, 8, table, 1));
    const qsizetype headerLength = 13 + 3 * 256;
    const QString path = m_dir.filePath(QStringLiteral("frames.gif"));
    writeFile(path, first.chopped(1) + second.mid(headerLength));
    QImageReader reader(path);
    QCOMPARE(reader.imageCount(), 2);
    QCOMPARE(reader.read().pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(reader.read().pixel(0, 0), qRgb(255, 255, 255));
    PictureSurface surface;
    QCOMPARE(buildNvImageStream({path}, surface), header(1) + record("01000100", "FF", 8, 8));
}

void tst_NvImageFile::mostPictures()
{
    const QString path = savePicture(
            m_dir.filePath(QStringLiteral("dot.gif")), indexed(1, 1, {qRgb(0, 0, 0)}), "gif");
    PictureSurface surface;
    const QByteArray stream = buildNvImageStream(QStringList(255, path), surface);
    QCOMPARE(stream, header(255) + record("01000100", "80", 1, 8).repeated(255));
}

void tst_NvImageFile::nvCapacity_data()
{
    QTest::addColumn<PictureFiles>("pictures");
    QTest::addColumn<qint64>("capacity"); // -1: the default
    QTest::addColumn<qint64>("dataSize");
    QTest::addColumn<bool>("accepted");

    // 4 + 1 * 8 and 4 + 2 * 16 bytes: the rounded sizes count, ESC @ FS q n does not.
    const PictureFiles two{{filled(5, 3, Qt::black), "bmp"}, {filled(16, 9, Qt::black), "bmp"}};
    QTest::newRow("exactly the capacity") << two << qint64(48) << qint64(48) << true;
    QTest::newRow("one byte over") << two << qint64(47) << qint64(48) << false;
    // 4 + 1023 * 264 bytes: one valid, small file whose picture outgrows the default.
    QTest::newRow("default capacity") << PictureFiles{{filled(8184, 264, Qt::white), "jpeg"}}
                                      << qint64(-1) << qint64(270076) << false;
}

void tst_NvImageFile::nvCapacity()
{
    QFETCH(PictureFiles, pictures);
    QFETCH(qint64, capacity);
    QFETCH(qint64, dataSize);
    QFETCH(bool, accepted);
    const QStringList paths = save(pictures);
    QList<QSize> sizes;
    for (const PictureFile &picture : pictures)
        sizes << QSize((picture.image.width() + 7) / 8 * 8, (picture.image.height() + 7) / 8 * 8);
    QCOMPARE(nvDefinitionSize(sizes), dataSize);

    QTemporaryDir scratchDir;
    ScratchFile scratch(scratchDir.path());
    PictureSurface surface;
    ImageSize size;
    try {
        if (capacity < 0)
            WriteNvImageFile(scratch, paths, surface, size);
        else
            WriteNvImageFile(scratch, paths, surface, size, capacity);
        QVERIFY(accepted);
        QCOMPARE(ReadNvImageFile(scratch).size(), 5 + dataSize);
    } catch (const NvCapacityError &e) {
        QVERIFY2(!accepted, qPrintable(e.message()));
        const qint64 limit = capacity < 0 ? DefaultNvCapacity : capacity;
        QCOMPARE(e.dataSize(), dataSize);
        QCOMPARE(e.capacity(), limit);
        QVERIFY2(e.message().contains(QString::number(dataSize))
                         && e.message().contains(QString::number(limit)),
                 qPrintable(e.message()));
        // Refused from the headers: nothing decoded, nothing written.
        QCOMPARE(size.ImageWidth, qint16(0));
        QVERIFY(QDir(scratchDir.path()).isEmpty());
    }
    QString message;
    QCOMPARE(int(failureOf(
                     [&] {
                         capacity < 0 ? buildNvImageStream(paths, surface)
                                      : buildNvImageStream(paths, surface, capacity);
                     },
                     &message)),
             int(accepted ? Kind::None : Kind::Capacity));
}

void tst_NvImageFile::totalFileSize_data()
{
    QTest::addColumn<QList<qint64>>("lengths"); // -1: a missing file
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("largest accepted") << QList<qint64>{262124} << int(Kind::None) << 262124 << true;
    QTest::newRow("smallest refused")
            << QList<qint64>{262125} << int(Kind::None) << 262125 << false;
    QTest::newRow("two, accepted")
            << QList<qint64>{131062, 131062} << int(Kind::None) << 262124 << true;
    QTest::newRow("two, refused") << QList<qint64>{131062, 131063} << int(Kind::None) << 262125
                                  << false;
    QTest::newRow("empty file") << QList<qint64>{0} << int(Kind::None) << 0 << true;
    QTest::newRow("sum beyond 32 bits")
            << QList<qint64>{2147483647, 1} << int(Kind::Overflow) << 0 << false;
    QTest::newRow("file beyond 32 bits")
            << QList<qint64>{3000000000LL} << int(Kind::Overflow) << 0 << false;
    QTest::newRow("missing file") << QList<qint64>{10, -1} << int(Kind::Picture) << 0 << false;
}

void tst_NvImageFile::totalFileSize()
{
    QFETCH(QList<qint64>, lengths);
    QFETCH(int, kind);
    QFETCH(int, total);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    QStringList paths;
    for (const qint64 length : lengths) {
        paths << dir.filePath(QStringLiteral("file%1.bmp").arg(paths.size()));
        if (length < 0)
            continue;
        QFile file(paths.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (length < (1 << 20))
            QCOMPARE(file.write(randomBytes(int(length))), length);
        else
            QVERIFY(file.resize(length)); // sparse, takes no room
    }
    QString message;
    qint32 sum = -1;
    QCOMPARE(int(failureOf([&] { sum = NvImage::totalFileSize(paths); }, &message)), kind);
    if (kind == int(Kind::Picture))
        QVERIFY2(message.contains(QStringLiteral("file1.bmp")), qPrintable(message));
    if (kind != int(Kind::None))
        return;
    QCOMPARE(sum, total);
    QCOMPARE(totalFileSizeAccepted(sum), accepted);
}

void tst_NvImageFile::roundUp_data()
{
    QTest::addColumn<int>("pixels");
    QTest::addColumn<int>("rounded"); // -1: overflow
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 8;
    QTest::newRow("8") << 8 << 8;
    QTest::newRow("100") << 100 << 104;
    QTest::newRow("32760") << 32760 << 32760;
    QTest::newRow("32761") << 32761 << -1;
    QTest::newRow("40000") << 40000 << -1;
}

void tst_NvImageFile::roundUp()
{
    QFETCH(int, pixels);
    QFETCH(int, rounded);
    if (rounded < 0)
        QVERIFY_THROWS_EXCEPTION(OverflowError, roundUpToMultipleOf8(pixels));
    else
        QCOMPARE(int(roundUpToMultipleOf8(pixels)), rounded);
}

void tst_NvImageFile::fileExists()
{
    const QString file = m_dir.filePath(QStringLiteral("exists.bin"));
    writeFile(file, "x");
    QVERIFY(FileExists(file));
    QVERIFY(!FileExists(m_dir.filePath(QStringLiteral("absent.bin"))));
    QVERIFY(!FileExists(m_dir.path()));
    QVERIFY(!FileExists(QString()));
    QVERIFY(!FileExists(file + QStringLiteral("/below/a/file")));
}

void tst_NvImageFile::stopEndsTheWork_data()
{
    QTest::addColumn<PictureFiles>("pictures");
    QTest::addColumn<Conversion>("conversion");
    // Tall enough for several checks in every phase; a palette and a 32-bit picture of each.
    const QImage colours = randomBlocks(45, 70, 3, 5);
    const QImage palette = colours.convertToFormat(QImage::Format_Indexed8);
    for (const auto &[name, files] :
         {std::pair{"bmp", PictureFiles{{palette, "bmp"}, {colours, "bmp"}}},
          {"jpeg", PictureFiles{{colours, "jpeg"}}},
          {"png", PictureFiles{{palette, "png"}, {colours, "png"}}},
          {"gif", PictureFiles{{palette, "gif"}, {palette, "gif", 3}}}}) {
        QTest::addRow("%s, blue rule", name) << files << Conversion::BlueRule;
        QTest::addRow("%s, dithered", name) << files << Conversion::Dither;
    }
}

void tst_NvImageFile::stopEndsTheWork()
{
    QFETCH(PictureFiles, pictures);
    QFETCH(Conversion, conversion);
    const QStringList paths = save(pictures);
    PictureSurface surface;
    const QByteArray whole = buildNvImageStream(paths, surface, DefaultNvCapacity, conversion);
    // A stop check that says stop at its n-th question: every question it is asked ends the
    // work at once with StoppedError and leaves no scratch file, until n passes the last.
    QTemporaryDir dir;
    for (int n = 0;; ++n) {
        int asked = 0;
        const StopCheck stop = [&asked, n] {
            return asked++ == n;
        };
        ScratchFile scratch(dir.path());
        ImageSize size;
        try {
            WriteNvImageFile(scratch, paths, surface, size, optionsOf(conversion, stop));
        } catch (const StoppedError &) {
            QCOMPARE(asked, n + 1);
            QVERIFY(!scratch.exists());
            QVERIFY(QDir(dir.path()).isEmpty());
            asked = 0;
            QVERIFY_THROWS_EXCEPTION(
                    StoppedError,
                    buildNvImageStream(paths, surface, size, optionsOf(conversion, stop)));
            continue;
        }
        // Asked while each picture is read, decoded (Qt's reader before and after) and
        // rasterised, every 16 rows while it is dithered: 6 times and 11 times at least.
        const int least = (conversion == Conversion::Dither ? 11 : 6) * int(paths.size());
        QVERIFY2(n >= least, qPrintable(QStringLiteral("asked only %1 times").arg(n)));
        QCOMPARE(ReadNvImageFile(scratch), whole);
        break;
    }
    const StopCheck now = [] {
        return true;
    };
    QVERIFY_THROWS_EXCEPTION(StoppedError,
                             previewPicture(paths.first(),
                                            optionsOf(conversion, now).preparation,
                                            Qt::white,
                                            {std::nullopt, 1 << 20},
                                            now));
}

void tst_NvImageFile::scratchFileIsPrivateAndReplaced()
{
    const QStringList three = save({{filled(16, 8, Qt::black), "bmp"},
                                    {filled(8, 8, Qt::black), "bmp"},
                                    {filled(8, 8, Qt::black), "bmp"}});
    QTemporaryDir dir;
    PictureSurface Picture1;
    ImageSize size;
    const QByteArray one = header(1) + record("01000100", "FF", 8, 8);
    {
        ScratchFile scratch(dir.path());
        ScratchFile other(dir.path());
        QVERIFY(!scratch.exists());
        WriteNvImageFile(scratch, three, Picture1, size);
        WriteNvImageFile(other, three.mid(1, 1), Picture1, size);
        // Both held, yet nothing in the folder: no other process can open them, and none
        // can be left behind.
        QVERIFY(scratch.exists() && other.exists());
        QCOMPARE(QDir(dir.path())
                         .entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                    | QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(ReadNvImageFile(scratch).size(), 5 + 3 * 4 + 16 + 8 + 8);
        QCOMPARE(ReadNvImageFile(other), one);

        // A shorter stream replaces the longer one whole.
        WriteNvImageFile(scratch, three.mid(1, 1), Picture1, size);
        QCOMPARE(ReadNvImageFile(scratch), one);

        other.remove();
        other.remove();
        QVERIFY(!other.exists());
        QVERIFY(scratch.exists());
    }
    QVERIFY(QDir(dir.path()).isEmpty());
}

void tst_NvImageFile::scratchFileGoneWhenKilled()
{
#ifdef Q_OS_LINUX
    // A process killed while it writes the scratch file leaves nothing in the folder. The
    // stop check's last question comes while the last picture is rasterised, after the
    // first ones' records are written.
    const QStringList two
            = save({{filled(64, 64, Qt::black), "bmp"}, {filled(64, 64, Qt::black), "bmp"}});
    PictureSurface surface;
    ImageSize size;
    int questions = 0;
    {
        ScratchFile scratch;
        WriteNvImageFile(scratch, two, surface, size, optionsOf(Conversion::BlueRule, [&] {
                             ++questions;
                             return false;
                         }));
    }
    QTemporaryDir dir;
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        int asked = 0;
        ScratchFile scratch(dir.path());
        try {
            WriteNvImageFile(scratch, two, surface, size, optionsOf(Conversion::BlueRule, [&] {
                                 if (++asked == questions)
                                     ::raise(SIGKILL);
                                 return false;
                             }));
        } catch (...) {
        }
        ::_exit(1); // not killed: the parent sees it
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    QCOMPARE(QDir(dir.path())
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                | QDir::NoDotAndDotDot),
             QStringList());
#else
    QSKIP("needs fork");
#endif
}

void tst_NvImageFile::scratchFileFailures()
{
    const QStringList one = save({{filled(8, 8, Qt::black), "bmp"}});
    PictureSurface Picture1;
    ImageSize size;
    ScratchFile nowhere(m_dir.filePath(QStringLiteral("no/such/folder")));
    QString message;
    QCOMPARE(int(failureOf([&] { WriteNvImageFile(nowhere, one, Picture1, size); }, &message)),
             int(Kind::Scratch));
    QVERIFY2(message.contains(QStringLiteral("no/such/folder")), qPrintable(message));
    QVERIFY(!nowhere.exists());

    ScratchFile unwritten;
    QCOMPARE(int(failureOf([&] { ReadNvImageFile(unwritten); }, &message)), int(Kind::Scratch));
}

void tst_NvImageFile::writeFailure()
{
#ifdef Q_OS_LINUX
    // A file size limit makes the write fail as a full disk would.
    const QStringList one = save({{filled(128, 128, Qt::black), "bmp"}});
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, oldHandler);
    });

    QTemporaryDir dir;
    ScratchFile scratch(dir.path());
    PictureSurface Picture1;
    ImageSize size;
    QString message;
    QCOMPARE(int(failureOf([&] { WriteNvImageFile(scratch, one, Picture1, size); }, &message)),
             int(Kind::Scratch));
    QVERIFY2(message.contains(QStringLiteral("Could not write")), qPrintable(message));
    // The system's reason, as "No space left on device" for a full disk.
    QVERIFY2(message.contains(qt_error_string(EFBIG)), qPrintable(message));
    QVERIFY(!scratch.exists());
    QVERIFY(QDir(dir.path()).isEmpty());
#else
    QSKIP("needs a file size limit");
#endif
}

QTEST_GUILESS_MAIN(tst_NvImageFile)
#include "tst_nvimagefile.moc"

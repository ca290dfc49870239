#include "testpictures.h"
#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>
#include <nvimage/pictureloader.h>

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

#include <cstdio>

#include <sys/stat.h>
#include <zlib.h>

using namespace NvImage;
using namespace TestPictures;

Q_DECLARE_METATYPE(TestPictures::GifLayout)

namespace {

// What the download does with one picture: inspect it, then decode it.
QImage loadPicture(const QString &path)
{
    return decodePicture(inspectPicture(path));
}

QByteArray le16(int v)
{
    return QByteArray(1, char(v & 0xff)) + char((v >> 8) & 0xff);
}

QByteArray le32(qint64 v)
{
    return le16(int(v & 0xffff)) + le16(int((v >> 16) & 0xffff));
}

// An 8-bit run-length BMP of two colours around the given pixel data.
QByteArray rle8Bmp(int width, int height, const QByteArray &data)
{
    const int offset = 14 + 40 + 2 * 4;
    QByteArray bmp = "BM" + le32(offset + data.size()) + le32(0) + le32(offset);
    bmp += le32(40) + le32(width) + le32(height) + le16(1) + le16(8) + le32(1) + le32(data.size())
           + le32(2835) + le32(2835) + le32(2) + le32(0);
    bmp += QByteArray::fromHex("00000000FFFFFF00"); // black, white
    return bmp + data;
}

// 16 x 4 pixels: per row a run, an absolute run (with its pad byte) and a run.
QByteArray goodRle8Data()
{
    QByteArray data;
    for (int y = 0; y < 4; ++y)
        data += QByteArray::fromHex("0A00"
                                    "0003010001"
                                    "00"
                                    "0301")
                + QByteArray::fromHex("0000");
    data.chop(2);
    return data + QByteArray::fromHex("0001");
}

QByteArray jpeg(const QImage &image, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

QByteArray be32(quint32 v)
{
    return QByteArray(1, char(v >> 24)) + char((v >> 16) & 0xff) + char((v >> 8) & 0xff)
           + char(v & 0xff);
}

// A whole chunk, its CRC right.
QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    const QByteArray body = type + data;
    const uLong crc
            = crc32(0L, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()));
    return be32(quint32(data.size())) + body + be32(quint32(crc));
}

// The PNG with its first chunk of that type replaced by one holding data instead.
QByteArray withChunk(const QByteArray &file, const QByteArray &type, const QByteArray &data)
{
    const qsizetype at = file.indexOf(type) - 4;
    const QByteArray lengthBytes = file.mid(at, 4);
    const auto *p = reinterpret_cast<const uchar *>(lengthBytes.constData());
    const qsizetype length = qsizetype(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    return file.left(at) + pngChunk(type, data) + file.mid(at + 12 + length);
}

// The PNG with a chunk inserted before its first chunk of type before.
QByteArray insertChunk(const QByteArray &file, const QByteArray &before, const QByteArray &chunk)
{
    return file.left(file.indexOf(before) - 4) + chunk + file.mid(file.indexOf(before) - 4);
}

QByteArray chunkData(const QByteArray &file, const QByteArray &type)
{
    const qsizetype at = file.indexOf(type);
    const QByteArray lengthBytes = file.mid(at - 4, 4);
    const auto *p = reinterpret_cast<const uchar *>(lengthBytes.constData());
    return file.mid(at + 4, qsizetype(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

// A GIF of 16 x 8 pixels; its LZW data starts after the header, the 256 colours, the image
// descriptor and the code size byte.
constexpr int GifDataStart = 13 + 768 + 10 + 1;

QImage indexedStripes(int width, int height)
{
    QImage image(width, height, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(0, 0, 255)});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, uint((x + y) % 3));
    return image;
}

} // namespace

class tst_PictureLoader : public QObject
{
    Q_OBJECT

private slots:
    void damaged_data();
    void damaged();
    void everyPrefixRefused_data();
    void everyPrefixRefused();
    void decodesAsQtDoes_data();
    void decodesAsQtDoes();
    void gifAsQtReadsIt_data();
    void gifAsQtReadsIt();
    void notRegularFile();
    void changedWhileRead_data();
    void changedWhileRead();

private:
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_dir;
};

QString tst_PictureLoader::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

void tst_PictureLoader::damaged_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fragment");

    const QString damaged = QStringLiteral("damaged");
    const QByteArray rle = goodRle8Data();
    QTest::newRow("rle8 random") << write(QStringLiteral("random.bmp"),
                                          rle8Bmp(16, 4, QByteArray::fromHex("07A3FF1000C2")))
                                 << damaged;
    QTest::newRow("rle8 only end of bitmap")
            << write(QStringLiteral("eob.bmp"), rle8Bmp(16, 4, QByteArray::fromHex("0001")))
            << damaged;
    QTest::newRow("rle8 run past the row")
            << write(QStringLiteral("wide.bmp"), rle8Bmp(16, 4, QByteArray::fromHex("1100") + rle))
            << damaged;
    QTest::newRow("rle8 delta") << write(QStringLiteral("delta.bmp"),
                                         rle8Bmp(16, 4, QByteArray::fromHex("00020100") + rle))
                                << damaged;
    QTest::newRow("rle8 absolute run past the file") << write(
            QStringLiteral("absolute.bmp"), rle8Bmp(16, 4, QByteArray::fromHex("000E0101")))
                                                     << damaged;
    QTest::newRow("rle8 64 bytes claiming 8184 x 2304")
            << write(QStringLiteral("claims.bmp"), rle8Bmp(8184, 2304, QByteArray::fromHex("0001")))
            << damaged;

    const QByteArray gif = encodeGif(indexedStripes(16, 8));
    const QByteArray gifHead = gif.left(GifDataStart);
    QRandomGenerator random(3);
    QByteArray noise(200, Qt::Uninitialized);
    for (char &b : noise)
        b = char(random.bounded(256));
    QTest::newRow("gif random lzw") << write(QStringLiteral("random.gif"),
                                             gifHead + char(200) + noise + QByteArray("\0;", 2))
                                    << damaged;
    QTest::newRow("gif empty lzw")
            << write(QStringLiteral("empty.gif"), gifHead + QByteArray("\0;", 2)) << damaged;
    // The data of one row under a descriptor of eight.
    QByteArray oneRow = encodeGif(indexedStripes(16, 1));
    oneRow.replace(8, 2, le16(8));
    oneRow.replace(13 + 768 + 7, 2, le16(8));
    QTest::newRow("gif ends after one row") << write(QStringLiteral("row.gif"), oneRow) << damaged;
    QByteArray codeSize = gif;
    codeSize[GifDataStart - 1] = 3;
    QTest::newRow("gif wrong code size")
            << write(QStringLiteral("codesize.gif"), codeSize) << damaged;

    const QByteArray good = jpeg(TestPictures::randomColours(32, 32, 1));
    const qsizetype scan = good.indexOf("\xFF\xDA");
    QVERIFY(scan > 0);
    const QByteArray eoi = QByteArray::fromHex("FFD9");
    QTest::newRow("jpeg scan cut, then EOI")
            << write(QStringLiteral("cut.jpg"), good.left((scan + good.size()) / 2) + eoi)
            << damaged;
    QTest::newRow("jpeg without scan")
            << write(QStringLiteral("noscan.jpg"), good.left(scan) + eoi) << damaged;
    QByteArray claims = jpeg(TestPictures::randomColours(8, 8, 2));
    const qsizetype frame = claims.indexOf("\xFF\xC0");
    QVERIFY(frame > 0);
    claims.replace(frame + 5, 4, QByteArray::fromHex("09001FF8")); // 2304 high, 8184 wide
    QTest::newRow("jpeg claiming 8184 x 2304")
            << write(QStringLiteral("claims.jpg"), claims) << damaged;
    const QByteArray goodPng = png(TestPictures::randomColours(32, 32, 4));
    const QByteArray idat = chunkData(goodPng, "IDAT");
    const qsizetype idatAt = goodPng.indexOf("IDAT");
    const QString incomplete = QStringLiteral("incomplete");
    QTest::newRow("png cut inside IDAT")
            << write(QStringLiteral("cut.png"), goodPng.left(idatAt + idat.size() / 2))
            << incomplete;
    QTest::newRow("png without IEND")
            << write(QStringLiteral("noiend.png"), goodPng.chopped(12)) << incomplete;
    QByteArray badCrc = goodPng;
    badCrc[idatAt + 4 + idat.size() / 2] = char(badCrc.at(idatAt + 4 + idat.size() / 2) ^ 0x10);
    QTest::newRow("png bad CRC") << write(QStringLiteral("crc.png"), badCrc) << damaged;
    QByteArray zlibNoise = noise.left(idat.size());
    zlibNoise.prepend(idat.left(2)); // a valid zlib header, then nonsense
    QTest::newRow("png bad zlib data, right CRC")
            << write(QStringLiteral("zlib.png"), withChunk(goodPng, "IDAT", zlibNoise)) << damaged;
    QTest::newRow("png IDAT cut, right CRC") << write(
            QStringLiteral("idat.png"), withChunk(goodPng, "IDAT", idat.left(idat.size() / 2)))
                                             << damaged;
    QByteArray claimsHeader = chunkData(goodPng, "IHDR");
    claimsHeader.replace(0, 8, be32(8184) + be32(2304));
    QTest::newRow("png claiming 8184 x 2304")
            << write(QStringLiteral("claims.png"), withChunk(goodPng, "IHDR", claimsHeader))
            << damaged;
    QTest::newRow("png data after the last row")
            << write(QStringLiteral("extra.png"),
                     withChunk(png(TestPictures::randomColours(32, 16, 5)), "IDAT", idat))
            << damaged;

    // Stripes of colours 0 to 2 under a palette of two.
    const QByteArray stripes = png(indexedStripes(16, 8));
    QTest::newRow("png colour beyond its palette")
            << write(QStringLiteral("palette.png"),
                     withChunk(stripes, "PLTE", chunkData(stripes, "PLTE").left(6)))
            << damaged;

    // libpng drops such transparency with a warning; the picture would print unlike it shows.
    const QByteArray clear = pngChunk("tRNS", QByteArray(4, '\0'));
    QTest::newRow("png tRNS longer than the palette")
            << write(QStringLiteral("trns-long.png"), insertChunk(stripes, "IDAT", clear))
            << QStringLiteral("tRNS");
    const QByteArray grey
            = png(TestPictures::filled(8, 8, Qt::gray).convertToFormat(QImage::Format_Grayscale8));
    QTest::newRow("png tRNS of a wrong length for grey")
            << write(QStringLiteral("trns-grey.png"),
                     insertChunk(grey, "IDAT", pngChunk("tRNS", QByteArray(3, '\0'))))
            << QStringLiteral("tRNS");
    QTest::newRow("png tRNS after IDAT")
            << write(QStringLiteral("trns-late.png"),
                     insertChunk(stripes, "IEND", pngChunk("tRNS", QByteArray(1, '\0'))))
            << QStringLiteral("tRNS");
    QTest::newRow("png tRNS before PLTE")
            << write(QStringLiteral("trns-early.png"),
                     insertChunk(stripes, "PLTE", pngChunk("tRNS", QByteArray(1, '\0'))))
            << QStringLiteral("tRNS");

    // Refused by its size on disk: nothing of it is read.
    const QString sparse = m_dir.filePath(QStringLiteral("sparse.gif"));
    QFile sparseFile(sparse);
    QVERIFY(sparseFile.open(QIODevice::WriteOnly) && sparseFile.write("GIF89a") == 6
            && sparseFile.resize(qint64(3) << 30));
    sparseFile.close();
    QTest::newRow("sparse 3 GB gif") << sparse << QStringLiteral("takes 3221225472 bytes");

    QByteArray arithmetic = good;
    arithmetic[good.indexOf("\xFF\xC0") + 1] = char(0xC9);
    QTest::newRow("jpeg huffman data marked arithmetic")
            << write(QStringLiteral("arithmetic.jpg"), arithmetic) << damaged;
}

void tst_PictureLoader::damaged()
{
    QFETCH(QString, path);
    QFETCH(QString, fragment);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    try {
        const QImage image = loadPicture(path);
        QFAIL(qPrintable(
                QStringLiteral("accepted, %1 x %2").arg(image.width()).arg(image.height())));
    } catch (const PictureError &e) {
        QVERIFY2(e.message().contains(fragment), qPrintable(e.message()));
        QVERIFY2(e.message().contains(QFileInfo(path).fileName()), qPrintable(e.message()));
    }
}

void tst_PictureLoader::everyPrefixRefused_data()
{
    QTest::addColumn<QByteArray>("whole");
    QTest::addColumn<QByteArray>("suffix"); // appended to every prefix
    QTest::addColumn<QString>("name");
    QTest::newRow("rle8 bmp") << rle8Bmp(16, 4, goodRle8Data()) << QByteArray()
                              << QStringLiteral("prefix.bmp");
    const QByteArray good = jpeg(TestPictures::randomColours(16, 16, 5));
    QTest::newRow("jpeg with EOI appended")
            << good.chopped(2) << QByteArray::fromHex("FFD9") << QStringLiteral("prefix.jpg");
    QTest::newRow("progressive jpeg with EOI appended")
            << jpeg(TestPictures::randomColours(16, 16, 6), true).chopped(2)
            << QByteArray::fromHex("FFD9") << QStringLiteral("prefix-p.jpg");
    // Without its trailer byte the first picture is still whole: later frames are not read.
    QTest::newRow("gif") << encodeGif(indexedStripes(16, 8)).chopped(1) << QByteArray(";")
                         << QStringLiteral("prefix.gif");
    QTest::newRow("png") << png(indexedStripes(16, 8)) << QByteArray()
                         << QStringLiteral("prefix.png");
}

void tst_PictureLoader::everyPrefixRefused()
{
    QFETCH(QByteArray, whole);
    QFETCH(QByteArray, suffix);
    QFETCH(QString, name);
    // The whole file is good, so the refusals below are for what is missing.
    QCOMPARE(loadPicture(write(name, whole + suffix)).isNull(), false);
    for (qsizetype length = 0; length < whole.size(); ++length) {
        const QString path = write(name, whole.left(length) + suffix);
        try {
            loadPicture(path);
            QFAIL(qPrintable(QStringLiteral("a prefix of %1 of %2 bytes was accepted")
                                     .arg(length)
                                     .arg(whole.size())));
        } catch (const PictureError &) {
        }
    }
}

void tst_PictureLoader::decodesAsQtDoes_data()
{
    QTest::addColumn<QString>("path");
    // PNG pictures all come as RGB32 or ARGB32 from Qt's reader, GIF pictures as Indexed8
    // from ours.
    QTest::addColumn<bool>("sameFormat");
    const QImage colour = TestPictures::randomColours(45, 29, 9).scaled(90, 58);
    QTest::newRow("jpeg") << write(QStringLiteral("qt.jpg"), jpeg(colour)) << true;
    QTest::newRow("progressive jpeg")
            << write(QStringLiteral("qt-p.jpg"), jpeg(colour, true)) << true;
    QTest::newRow("grey jpeg") << write(QStringLiteral("grey.jpg"),
                                        jpeg(colour.convertToFormat(QImage::Format_Grayscale8)))
                               << true;
    QTest::newRow("gif") << write(QStringLiteral("qt.gif"), encodeGif(indexedStripes(37, 11), 2))
                         << false;
    QTest::newRow("rle8 bmp") << write(QStringLiteral("qt.bmp"), rle8Bmp(16, 4, goodRle8Data()))
                              << true;

    QImage translucent
            = TestPictures::randomColours(23, 9, 7).convertToFormat(QImage::Format_ARGB32);
    QImage clearIndex = indexedStripes(19, 7);
    clearIndex.setColor(2, qRgba(0, 0, 255, 0));
    QTest::newRow("png rgb") << write(QStringLiteral("rgb.png"), png(colour)) << false;
    QTest::newRow("png alpha") << write(QStringLiteral("alpha.png"), png(translucent)) << false;
    QTest::newRow("png palette, one colour clear")
            << write(QStringLiteral("palette.png"), png(clearIndex)) << false;
    QTest::newRow("png grey") << write(QStringLiteral("grey.png"),
                                       png(colour.convertToFormat(QImage::Format_Grayscale8)))
                              << false;
    QTest::newRow("png 16 bits") << write(QStringLiteral("deep.png"),
                                          png(translucent.convertToFormat(QImage::Format_RGBA64)))
                                 << false;
    QTest::newRow("png 1 bit") << write(QStringLiteral("mono.png"),
                                        png(colour.convertToFormat(QImage::Format_Mono)))
                               << false;
}

void tst_PictureLoader::decodesAsQtDoes()
{
    QFETCH(QString, path);
    QFETCH(bool, sameFormat);
    const QImage ours = loadPicture(path);
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QImage theirs = reader.read();
    QVERIFY(!theirs.isNull());
    if (sameFormat)
        QCOMPARE(ours.format(), theirs.format());
    QCOMPARE(ours.convertToFormat(QImage::Format_ARGB32),
             theirs.convertToFormat(QImage::Format_ARGB32));
}

void tst_PictureLoader::gifAsQtReadsIt_data()
{
    QTest::addColumn<GifLayout>("layout");
    QTest::addColumn<bool>("ownDecoder"); // false: left to Qt's reader
    QImage indexes(21, 13, QImage::Format_Indexed8);
    QRandomGenerator random(3);
    QList<QRgb> colours;
    for (int i = 0; i < 256; ++i)
        colours << qRgb(
                int(random.bounded(256)), int(random.bounded(256)), int(random.bounded(256)));
    indexes.setColorTable(colours);
    for (int y = 0; y < indexes.height(); ++y)
        for (int x = 0; x < indexes.width(); ++x)
            indexes.setPixel(x, y, uint(random.bounded(256)));
    const auto control = [](int flags, int transparent, int length = 4) {
        return QByteArray("\x21\xF9", 2) + char(length) + char(flags) + QByteArray(length - 2, '\0')
               + char(transparent) + QByteArray(1, '\0');
    };
    GifLayout plain;
    plain.indexes = indexes;
    QTest::newRow("opaque, 256 colours") << plain << true;
    GifLayout clear = plain;
    clear.extensions = control(1, 7);
    QTest::newRow("index 7 transparent") << clear << true;
    GifLayout small = plain;
    small.globalColours = 4;
    QTest::newRow("indexes past a 4-colour table") << small << true;
    small.extensions = control(1, 200);
    QTest::newRow("same, index 200 transparent") << small << true;
    small.extensions = control(1, 4);
    QTest::newRow("same, the index after the table transparent") << small << true;
    GifLayout local = plain;
    local.localColours = 16;
    QTest::newRow("local table over the global one") << local << true;
    local.globalColours = 0;
    QTest::newRow("local table alone") << local << true;
    GifLayout none = plain;
    none.globalColours = 0;
    QTest::newRow("no table") << none << true;
    none.extensions = control(1, 2);
    QTest::newRow("no table, index 2 transparent") << none << true;
    GifLayout laced = plain;
    laced.interlaced = true;
    QTest::newRow("interlaced") << laced << true;
    laced.extensions = control(1, 9);
    QTest::newRow("interlaced, transparent") << laced << true;
    GifLayout later = plain;
    later.extensions = control(1, 9) + QByteArray("\x21\xFE\x02hi\x00", 6) + control(0, 9);
    QTest::newRow("a later control extension without transparency") << later << true;
    GifLayout longer = plain;
    longer.extensions = control(1, 5, 6);
    QTest::newRow("control extension of 6 bytes") << longer << true;

    GifLayout shortControl = plain;
    shortControl.extensions = control(1, 5, 3);
    QTest::newRow("control extension of 3 bytes") << shortControl << false;
    GifLayout framed = plain;
    framed.screen = QSize(30, 20);
    framed.corner = QPoint(4, 3);
    QTest::newRow("framed on a larger screen") << framed << false;
    framed.extensions = control(1, 7);
    QTest::newRow("framed, transparent") << framed << false;
    GifLayout flat = plain;
    flat.indexes = indexes.copy(0, 0, 21, 3);
    flat.interlaced = true;
    QTest::newRow("interlaced, 3 rows") << flat << false;
}

void tst_PictureLoader::gifAsQtReadsIt()
{
    QFETCH(GifLayout, layout);
    QFETCH(bool, ownDecoder);
    const QString path = write(QStringLiteral("layout.gif"), encodeGif(layout));
    const QImage ours = loadPicture(path);
    QImageReader reader(path);
    const QImage theirs = reader.read();
    QVERIFY2(!theirs.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(ours.format() == QImage::Format_Indexed8, ownDecoder);
    QCOMPARE(ours.convertToFormat(QImage::Format_ARGB32),
             theirs.convertToFormat(QImage::Format_ARGB32));
    // And so the same dots, on a background that transparent pixels show.
    for (const Conversion conversion : {Conversion::BlueRule, Conversion::Dither}) {
        PictureSurface fromOurs(QColor(0, 0, 100));
        PictureSurface fromTheirs(QColor(0, 0, 100));
        fromOurs.drawPicture(ours);
        fromTheirs.drawPicture(theirs);
        applyConversion(fromOurs, conversion);
        applyConversion(fromTheirs, conversion);
        QCOMPARE(rasterise(fromOurs, 24, 16), rasterise(fromTheirs, 24, 16));
    }
}

void tst_PictureLoader::notRegularFile()
{
    // A FIFO without a writer would block an open() for reading for ever.
    const QString fifo = m_dir.filePath(QStringLiteral("logo.bmp"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!FileExists(fifo));
    QVERIFY_THROWS_EXCEPTION(PictureError, NvImage::totalFileSize({fifo}));
    try {
        inspectPicture(fifo);
        QFAIL("a FIFO was accepted");
    } catch (const PictureError &e) {
        QVERIFY2(e.message().contains(QStringLiteral("not a regular file")),
                 qPrintable(e.message()));
    }
    PictureSurface surface;
    QVERIFY_THROWS_EXCEPTION(PictureError, buildNvImageStream({fifo}, surface));
}

void tst_PictureLoader::changedWhileRead_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("bmp") << QByteArray("bmp");
    QTest::newRow("gif") << QByteArray("gif");
    QTest::newRow("png") << QByteArray("png");
}

void tst_PictureLoader::changedWhileRead()
{
    // A good version and a cut one take turns under the picture's name, as a sync tool
    // replaces a file; every stream built meanwhile must be the good one's, or the picture
    // refused: what was checked is what was decoded.
    QFETCH(QByteArray, format);
    const QString suffix = QString::fromLatin1("." + format);
    const QString good = TestPictures::savePicture(
            m_dir.filePath(QLatin1Char('a') + suffix), indexedStripes(64, 48), format);
    const QByteArray whole = readFile(good);
    const QByteArray cut = whole.left(whole.size() * 3 / 5);
    PictureSurface surface;
    const QByteArray expected = buildNvImageStream({good}, surface);
    const QString path = write(QStringLiteral("changing") + suffix, whole);
    const QString next = m_dir.filePath(QStringLiteral("next") + suffix);

    std::atomic<bool> done{false};
    QThread *writer = QThread::create([&] {
        for (int round = 0; !done && round < 1000000; ++round) {
            QFile file(next);
            if (!file.open(QIODevice::WriteOnly) || file.write(round % 2 ? whole : cut) < 0)
                break;
            file.close();
            if (::rename(QFile::encodeName(next).constData(), QFile::encodeName(path).constData())
                != 0)
                break;
        }
    });
    writer->start();
    int refused = 0;
    int other = 0;
    for (int i = 0; i < 300; ++i) {
        try {
            other += buildNvImageStream({path}, surface) != expected;
        } catch (const PictureError &) {
            ++refused;
        }
    }
    done = true;
    writer->wait();
    delete writer;
    QCOMPARE(other, 0);
    qDebug("%d of 300 refused", refused);
}

QTEST_GUILESS_MAIN(tst_PictureLoader)
#include "tst_pictureloader.moc"

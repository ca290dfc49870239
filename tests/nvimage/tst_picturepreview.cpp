#include "testpictures.h"
#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>
#include <nvimage/picturepreview.h>

#include <QTemporaryDir>
#include <QTest>

using namespace NvImage;
using namespace TestPictures;

Q_DECLARE_METATYPE(NvImage::Conversion)

namespace {

// Black blocks on white: a logo that suits the blue rule, about a quarter black.
QImage blackOnWhite(int width, int height)
{
    QImage image = filled(width, height, Qt::white);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((x / 4 + y / 4) % 4 == 0)
                image.setPixel(x, y, qRgb(0, 0, 0));
    return image;
}

QImage withBlackPixels(int width, int height, int count)
{
    QImage image = filled(width, height, Qt::white);
    for (int i = 0; i < count; ++i)
        image.setPixel(i % width, i / width, qRgb(0, 0, 0));
    return image;
}

// Blue lettering on white above a yellow band: the blue rule drops the one, fills the other.
QImage blueAndYellow()
{
    QImage image = filled(120, 60, Qt::white);
    for (int y = 5; y < 30; ++y)
        for (int x = 10; x < 110; ++x)
            if ((x / 6) % 2 == 0)
                image.setPixel(x, y, qRgb(20, 40, 200));
    for (int y = 40; y < 55; ++y)
        for (int x = 0; x < 120; ++x)
            image.setPixel(x, y, qRgb(250, 220, 0));
    return image;
}

QImage greyGradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int grey = x * 255 / (width - 1);
            image.setPixel(x, y, qRgb(grey, grey, grey));
        }
    return image;
}

QByteArray firstRecordDots(const QByteArray &stream, QSize *size)
{
    const auto byte = [&stream](int i) {
        return int(quint8(stream.at(i)));
    };
    *size = QSize(8 * (byte(5) + 256 * byte(6)), 8 * (byte(7) + 256 * byte(8)));
    return stream.mid(9);
}

} // namespace

class tst_PicturePreview : public QObject
{
    Q_OBJECT

private slots:
    void previewIsTheStreamsDots_data();
    void previewIsTheStreamsDots();
    void warnings_data();
    void warnings();
    void ditherIsFixedAndOptIn();
    void storedImageRefusesMismatch();

private:
    QString save(const QString &name, const QImage &picture, const QByteArray &format = "bmp");

    QTemporaryDir m_dir;
};

QString
tst_PicturePreview::save(const QString &name, const QImage &picture, const QByteArray &format)
{
    return savePicture(m_dir.filePath(name), picture, format);
}

void tst_PicturePreview::previewIsTheStreamsDots_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("1 x 1") << TestPictures::randomColours(1, 1, 1) << QByteArray("bmp");
    QTest::newRow("7 x 9") << TestPictures::randomColours(7, 9, 2) << QByteArray("bmp");
    QTest::newRow("13 x 17 png") << TestPictures::randomColours(13, 17, 3) << QByteArray("png");
    QTest::newRow("41 x 23") << TestPictures::randomColours(41, 23, 4) << QByteArray("bmp");
    QTest::newRow("64 x 16, no padding")
            << TestPictures::randomColours(64, 16, 5) << QByteArray("png");
}

void tst_PicturePreview::previewIsTheStreamsDots()
{
    QFETCH(QImage, picture);
    QFETCH(QByteArray, format);
    const QString path
            = save(QStringLiteral("odd.") + QString::fromLatin1(format), picture, format);

    PictureSurface surface;
    QSize size;
    const QByteArray dots = firstRecordDots(buildNvImageStream({path}, surface), &size);
    const QSize rounded((picture.width() + 7) / 8 * 8, (picture.height() + 7) / 8 * 8);
    QCOMPARE(size, rounded);

    // The picture by the blue rule, read pixel by pixel; the padding white.
    QImage expected(rounded, QImage::Format_RGB32);
    expected.fill(Qt::white);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            expected.setPixel(
                    x, y, qBlue(picture.pixel(x, y)) < 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));

    const QImage drawn = storedImage(dots, size.width(), size.height());
    QCOMPARE(drawn.convertToFormat(QImage::Format_RGB32), expected);

    const PicturePreview preview = previewPicture(path, Conversion::BlueRule);
    QCOMPARE(preview.dots.convertToFormat(QImage::Format_RGB32), expected);
    QCOMPARE(preview.sizeDots, rounded);
    QCOMPARE(preview.sizeMm, QSizeF(rounded) / 8);
    QCOMPARE(preview.pictureSize, picture.size());
    QCOMPARE(preview.recordBytes, 4 + qint64(rounded.width()) * rounded.height() / 8);
    QCOMPARE(nvRecordSize(path), preview.recordBytes);
    QCOMPARE(nvStreamSize({path, path}), 5 + 2 * preview.recordBytes);
}

void tst_PicturePreview::warnings_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<Conversion>("conversion");
    QTest::addColumn<qint64>("nvCapacity");
    QTest::addColumn<QList<PreviewWarning>>("expected");

    const auto blue = Conversion::BlueRule;
    const qint64 nv = DefaultNvCapacity;
    using W = PreviewWarning;
    QTest::newRow("black logo") << blackOnWhite(200, 60) << blue << nv << QList<W>{};
    QTest::newRow("384 dots wide") << blackOnWhite(384, 16) << blue << nv << QList<W>{};
    QTest::newRow("385 dots wide")
            << blackOnWhite(385, 16) << blue << nv << QList<W>{W::WiderThan58mmPaper};
    QTest::newRow("576 dots wide")
            << blackOnWhite(576, 16) << blue << nv << QList<W>{W::WiderThan58mmPaper};
    QTest::newRow("577 dots wide")
            << blackOnWhite(577, 16) << blue << nv << QList<W>{W::WiderThan80mmPaper};
    QTest::newRow("white") << filled(40, 40, Qt::white) << blue << nv
                           << QList<W>{W::NearlyAllWhite};
    // 2000 pixels: 10 black dots are 0.5 %, not less.
    QTest::newRow("0.5 % black") << withBlackPixels(40, 50, 10) << blue << nv << QList<W>{};
    QTest::newRow("0.45 % black") << withBlackPixels(40, 50, 9) << blue << nv
                                  << QList<W>{W::NearlyAllWhite};
    QTest::newRow("black") << filled(40, 40, Qt::black) << blue << nv
                           << QList<W>{W::NearlyAllBlack};
    QTest::newRow("blue and yellow")
            << blueAndYellow() << blue << nv << QList<W>{W::ColoursMisprinted};
    QTest::newRow("blue and yellow dithered")
            << blueAndYellow() << Conversion::Dither << nv << QList<W>{};
    QTest::newRow("grey gradient")
            << greyGradient(200, 40) << blue << nv << QList<W>{W::ShadesLost};
    QTest::newRow("grey gradient dithered")
            << greyGradient(200, 40) << Conversion::Dither << nv << QList<W>{};
    // 4 + 13 x 104 bytes.
    QTest::newRow("record of 1356 bytes, 1356 free")
            << blackOnWhite(100, 100) << blue << qint64(1356) << QList<W>{};
    QTest::newRow("record of 1356 bytes, 1355 free")
            << blackOnWhite(100, 100) << blue << qint64(1355) << QList<W>{W::LargerThanNvMemory};
}

void tst_PicturePreview::warnings()
{
    QFETCH(QImage, picture);
    QFETCH(Conversion, conversion);
    QFETCH(qint64, nvCapacity);
    QFETCH(QList<PreviewWarning>, expected);
    const QString path = save(QStringLiteral("warn.bmp"), picture);
    const PicturePreview preview = previewPicture(path, conversion, Qt::white, nvCapacity);
    QCOMPARE(preview.warningKinds, expected);
    QCOMPARE(preview.warnings.size(), expected.size());
    for (const QString &text : preview.warnings)
        QVERIFY(!text.isEmpty());
}

void tst_PicturePreview::ditherIsFixedAndOptIn()
{
    // 16 x 8 colours; the dots were worked out apart from this code, with the luminance
    // (299 R + 587 G + 114 B) / 1000, threshold 128 and errors 7, 3, 5 and 1 sixteenths cut
    // towards zero.
    QImage picture(16, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            picture.setPixel(
                    x,
                    y,
                    qRgb((x * 16 + y * 8) & 255, (x * 8 + y * 24) & 255, 255 - x * 12 - y * 5));
    const QString path = save(QStringLiteral("dither.bmp"), picture);
    const QByteArray dithered = QByteArray::fromHex("1B401C710102000100"
                                                    "F5DAADF0AED0AA54A9D024D103D12F93");

    PictureSurface surface;
    QCOMPARE(buildNvImageStream({path}, surface, DefaultNvCapacity, Conversion::Dither), dithered);
    ScratchFile scratch(m_dir.path());
    ImageSize size;
    WriteNvImageFile(scratch, {path}, surface, size, DefaultNvCapacity, Conversion::Dither);
    QCOMPARE(ReadNvImageFile(scratch), dithered);

    // Not asked for, the blue rule packs: black where 255 - 12 x - 5 y drops below 128.
    const QByteArray blueRule = QByteArray::fromHex("1B401C710102000100"
                                                    "0000000000000000010F3FFFFFFFFFFF");
    QCOMPARE(buildNvImageStream({path}, surface), blueRule);
    WriteNvImageFile(scratch, {path}, surface, size);
    QCOMPARE(ReadNvImageFile(scratch), blueRule);
}

void tst_PicturePreview::storedImageRefusesMismatch()
{
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, storedImage(QByteArray(15, '\0'), 16, 8));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, storedImage(QByteArray(12, '\0'), 12, 8));
}

QTEST_GUILESS_MAIN(tst_PicturePreview)
#include "tst_picturepreview.moc"

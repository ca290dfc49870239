#include <nvimage/errors.h>
#include <nvimage/picturesurface.h>

#include <QRandomGenerator>
#include <QTest>

using namespace NvImage;

namespace {

// One column of eight pixels from the top, 'B' black and 'W' white.
QImage column(const char *pattern)
{
    const int height = int(qstrlen(pattern));
    QImage image(1, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        image.setPixel(0, y, pattern[y] == 'B' ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    return image;
}

PictureSurface surfaceWith(const QImage &picture, const QColor &background = Qt::white)
{
    PictureSurface surface(background);
    surface.drawPicture(picture);
    return surface;
}

} // namespace

class tst_Rasteriser : public QObject
{
    Q_OBJECT

private slots:
    void emptySurface();
    void pointValue_data();
    void pointValue();
    void transparentShowsBackground_data();
    void transparentShowsBackground();
    void blueRule_data();
    void blueRule();
    void packPattern_data();
    void packPattern();
    void bandsBelowAndBesideSurface();
    void extremeBands_data();
    void extremeBands();
    void bulkEqualsSingle_data();
    void bulkEqualsSingle();
    void paletteAsIfDrawnIn32Bits_data();
    void paletteAsIfDrawnIn32Bits();
};

void tst_Rasteriser::emptySurface()
{
    PictureSurface surface;
    QCOMPARE(surface.width(), 0);
    QCOMPARE(surface.height(), 0);
    QCOMPARE(surface.Point(0, 0), -1);
    QCOMPARE(PackVerticalDots(surface, 0, 0), quint8(0));
    QCOMPARE(packPicture(surface, 3, 2), QByteArray(6, '\0'));

    surface.drawPicture(QImage(2, 3, QImage::Format_RGB32));
    QCOMPARE(surface.width(), 2);
    surface.drawPicture(QImage());
    QCOMPARE(surface.width(), 0);
}

void tst_Rasteriser::pointValue_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("rgb32") << QImage::Format_RGB32;
    QTest::newRow("rgb888") << QImage::Format_RGB888;
    QTest::newRow("argb32") << QImage::Format_ARGB32;
}

void tst_Rasteriser::pointValue()
{
    QFETCH(QImage::Format, format);
    QImage picture(3, 2, format);
    picture.setPixel(0, 0, qRgb(1, 2, 3));
    picture.setPixel(1, 0, qRgb(255, 0, 0));
    picture.setPixel(2, 0, qRgb(0, 255, 0));
    picture.setPixel(0, 1, qRgb(0, 0, 255));
    picture.setPixel(1, 1, qRgb(255, 255, 255));
    picture.setPixel(2, 1, qRgb(0, 0, 0));
    const PictureSurface surface = surfaceWith(picture);
    QCOMPARE(surface.width(), 3);
    QCOMPARE(surface.height(), 2);
    QCOMPARE(surface.Point(0, 0), 1 + 256 * 2 + 65536 * 3);
    QCOMPARE(surface.Point(1, 0), 255);
    QCOMPARE(surface.Point(2, 0), 255 * 256);
    QCOMPARE(surface.Point(0, 1), 255 * 65536);
    QCOMPARE(surface.Point(1, 1), 16777215);
    QCOMPARE(surface.Point(2, 1), 0);
    for (const QPoint outside : {QPoint(-1, 0), QPoint(0, -1), QPoint(3, 0), QPoint(0, 2)})
        QCOMPARE(surface.Point(outside.x(), outside.y()), -1);
}

void tst_Rasteriser::transparentShowsBackground_data()
{
    QTest::addColumn<QImage>("picture");
    QImage argb(2, 1, QImage::Format_ARGB32);
    argb.setPixel(0, 0, qRgba(0, 0, 0, 0));
    argb.setPixel(1, 0, qRgba(10, 20, 30, 255));
    QTest::newRow("argb32") << argb;
    QTest::newRow("premultiplied") << argb.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgba(255, 255, 255, 0), qRgb(10, 20, 30)});
    indexed.setPixel(0, 0, 0);
    indexed.setPixel(1, 0, 1);
    QTest::newRow("indexed") << indexed;
}

void tst_Rasteriser::transparentShowsBackground()
{
    QFETCH(QImage, picture);
    const PictureSurface surface = surfaceWith(picture, QColor(40, 50, 60));
    QCOMPARE(surface.Point(0, 0), 40 + 256 * 50 + 65536 * 60);
    QCOMPARE(surface.Point(1, 0), 10 + 256 * 20 + 65536 * 30);
    QCOMPARE(surface.image().format(), QImage::Format_RGB32);
}

void tst_Rasteriser::blueRule_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<int>("expected");
    QTest::newRow("black") << QColor(0, 0, 0) << 255;
    QTest::newRow("grey 127") << QColor(127, 127, 127) << 255;
    QTest::newRow("grey 128") << QColor(128, 128, 128) << 0;
    QTest::newRow("white") << QColor(255, 255, 255) << 0;
    QTest::newRow("red") << QColor(255, 0, 0) << 255;
    QTest::newRow("yellow") << QColor(255, 255, 0) << 255;
    QTest::newRow("pale yellow") << QColor(255, 255, 127) << 255;
    QTest::newRow("dark blue 128") << QColor(0, 0, 128) << 0;
    QTest::newRow("blue") << QColor(0, 0, 255) << 0;
}

void tst_Rasteriser::blueRule()
{
    QFETCH(QColor, colour);
    QFETCH(int, expected);
    QImage picture(1, 8, QImage::Format_RGB32);
    picture.fill(colour);
    const PictureSurface surface = surfaceWith(picture);
    QCOMPARE(int(PackVerticalDots(surface, 0, 0)), expected);
    QCOMPARE(int(quint8(packPicture(surface, 1, 1).at(0))), expected);
}

void tst_Rasteriser::packPattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("expected");
    QTest::newRow("worked example") << "BWBWWWWB" << 0xA1;
    QTest::newRow("all white") << "WWWWWWWW" << 0;
    QTest::newRow("all black") << "BBBBBBBB" << 255;
    QTest::newRow("top only") << "BWWWWWWW" << 128;
    QTest::newRow("bottom only") << "WWWWWWWB" << 1;
    QTest::newRow("five high") << "BBBBB" << 0xF8;
    QTest::newRow("one high") << "B" << 0x80;
}

void tst_Rasteriser::packPattern()
{
    QFETCH(QString, pattern);
    QFETCH(int, expected);
    const PictureSurface surface = surfaceWith(column(pattern.toLatin1().constData()));
    QCOMPARE(int(PackVerticalDots(surface, 0, 0)), expected);
    QCOMPARE(int(quint8(packPicture(surface, 1, 1).at(0))), expected);
}

void tst_Rasteriser::bandsBelowAndBesideSurface()
{
    // Five rows of black: every column packs to F8, nothing below or beside.
    QImage picture(3, 5, QImage::Format_RGB32);
    picture.fill(Qt::black);
    const PictureSurface surface = surfaceWith(picture);
    for (qint16 x = 0; x < 3; ++x) {
        QCOMPARE(PackVerticalDots(surface, x, 0), quint8(0xF8));
        QCOMPARE(PackVerticalDots(surface, x, 1), quint8(0));
    }
    for (const qint16 x : {qint16(-1), qint16(3), qint16(32767), qint16(-32768)})
        QCOMPARE(PackVerticalDots(surface, x, 0), quint8(0));
    QCOMPARE(packPicture(surface, 5, 2), QByteArray::fromHex("F800F800F80000000000"));
}

void tst_Rasteriser::extremeBands_data()
{
    QTest::addColumn<int>("band");
    QTest::addColumn<int>("expected"); // -1: overflow
    QTest::newRow("4095 reads rows 32760-32767") << 4095 << 0x81;
    QTest::newRow("4094") << 4094 << 0;
    QTest::newRow("0") << 0 << 0xFF;
    QTest::newRow("-1") << -1 << 0;
    QTest::newRow("-4096") << -4096 << 0;
    QTest::newRow("4096 overflows") << 4096 << -1;
    QTest::newRow("-4097 overflows") << -4097 << -1;
    QTest::newRow("32767 overflows") << 32767 << -1;
}

void tst_Rasteriser::extremeBands()
{
    QFETCH(int, band);
    QFETCH(int, expected);
    // One column of 32768 rows: black at the top band and at rows 32760 and 32767.
    static const PictureSurface surface = [] {
        QImage picture(1, 32768, QImage::Format_RGB32);
        picture.fill(Qt::white);
        for (int y : {0, 1, 2, 3, 4, 5, 6, 7, 32760, 32767})
            picture.setPixel(0, y, qRgb(0, 0, 0));
        return surfaceWith(picture);
    }();
    if (expected < 0) {
        QVERIFY_THROWS_EXCEPTION(OverflowError, PackVerticalDots(surface, 0, qint16(band)));
        return;
    }
    QCOMPARE(int(PackVerticalDots(surface, 0, qint16(band))), expected);
    if (band >= 0)
        QCOMPARE(int(quint8(packPicture(surface, 1, band + 1).at(band))), expected);
}

void tst_Rasteriser::bulkEqualsSingle_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("bands");
    QTest::newRow("1x1") << 1 << 1 << 8 << 1;
    QTest::newRow("7x9") << 7 << 9 << 8 << 2;
    QTest::newRow("13x17") << 13 << 17 << 16 << 3;
    QTest::newRow("100x50") << 100 << 50 << 104 << 7;
    QTest::newRow("64x8") << 64 << 8 << 64 << 1;
    QTest::newRow("9x64") << 9 << 64 << 16 << 8;
    QTest::newRow("wider and taller request") << 13 << 17 << 30 << 5;
    QTest::newRow("part of the picture") << 13 << 17 << 5 << 1;
    QTest::newRow("nothing") << 13 << 17 << 0 << 0;
}

void tst_Rasteriser::bulkEqualsSingle()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, columns);
    QFETCH(int, bands);
    // Colours around the threshold, and some transparent pixels over a dark background.
    QRandomGenerator random(quint32(width * 1000 + height));
    QImage picture(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int blue = 120 + int(random.bounded(16));
            const int alpha = random.bounded(5) == 0 ? 0 : 255;
            picture.setPixel(
                    x, y, qRgba(int(random.bounded(256)), int(random.bounded(256)), blue, alpha));
        }
    }
    for (const QColor &background : {QColor(Qt::white), QColor(0, 0, 100)}) {
        const PictureSurface surface = surfaceWith(picture, background);
        const QByteArray bulk = packPicture(surface, columns, bands);
        QCOMPARE(bulk.size(), columns * bands);
        for (int c = 0; c < columns; ++c) {
            for (int b = 0; b < bands; ++b) {
                const quint8 single = PackVerticalDots(surface, qint16(c), qint16(b));
                if (quint8(bulk.at(c * bands + b)) != single)
                    QFAIL(qPrintable(QStringLiteral("column %1 band %2: bulk %3, single %4")
                                             .arg(c)
                                             .arg(b)
                                             .arg(quint8(bulk.at(c * bands + b)))
                                             .arg(single)));
            }
        }
    }
}

void tst_Rasteriser::paletteAsIfDrawnIn32Bits_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QColor>("background");
    // Colours around the blue rule's threshold and the dither's, on odd sizes.
    QRandomGenerator random(11);
    const auto colours = [&random](int count, bool translucent) {
        QList<QRgb> table;
        for (int i = 0; i < count; ++i)
            table << qRgba(int(random.bounded(256)),
                           int(random.bounded(256)),
                           110 + int(random.bounded(36)),
                           translucent && random.bounded(3) == 0 ? int(random.bounded(256)) : 255);
        return table;
    };
    const auto indexes = [&random](QImage::Format format, const QList<QRgb> &table, int range) {
        QImage picture(29, 11, format);
        picture.setColorTable(table);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const int index = int(random.bounded(range));
                if (format == QImage::Format_Grayscale8)
                    picture.scanLine(y)[x] = uchar(index);
                else
                    picture.setPixel(x, y, uint(index));
            }
        }
        return picture;
    };
    const QColor white(Qt::white);
    const QColor navy(0, 0, 100);
    QTest::newRow("256 colours") << indexes(QImage::Format_Indexed8, colours(256, false), 256)
                                 << white;
    QTest::newRow("indexes beyond the table")
            << indexes(QImage::Format_Indexed8, colours(40, false), 60) << white;
    QTest::newRow("no table") << indexes(QImage::Format_Indexed8, {}, 256) << white;
    QTest::newRow("translucent colours")
            << indexes(QImage::Format_Indexed8, colours(40, true), 40) << navy;
    QTest::newRow("grey") << indexes(QImage::Format_Grayscale8, {}, 256) << white;
    QTest::newRow("mono") << indexes(QImage::Format_Mono, colours(2, false), 2) << white;
    QTest::newRow("mono, lsb first")
            << indexes(QImage::Format_MonoLSB, colours(2, false), 2) << white;
    QTest::newRow("mono, one translucent colour")
            << indexes(QImage::Format_Mono, {qRgba(0, 0, 0, 0), qRgb(20, 40, 60)}, 2) << navy;
    QTest::newRow("mono, no table") << indexes(QImage::Format_Mono, {}, 2) << white;
}

void tst_Rasteriser::paletteAsIfDrawnIn32Bits()
{
    QFETCH(QImage, picture);
    QFETCH(QColor, background);
    // The surface keeps a palette picture as its indexes; each point, the dots and the
    // dithered dots must be what the picture drawn as 32-bit pixels gives.
    PictureSurface kept = surfaceWith(picture, background);
    PictureSurface drawn
            = surfaceWith(picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                            : QImage::Format_RGB32),
                          background);
    QVERIFY(kept.hasPalette());
    QVERIFY(!drawn.hasPalette());
    for (int round = 0; round < 2; ++round) {
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                QCOMPARE(kept.Point(x, y), drawn.Point(x, y));
        QCOMPARE(rasterise(kept, 40, 16), rasterise(drawn, 40, 16));
        QCOMPARE(kept.image(), drawn.image());
        kept.dither();
        drawn.dither();
    }
}

QTEST_GUILESS_MAIN(tst_Rasteriser)
#include "tst_rasteriser.moc"

#include "testpictures.h"
#include <nvimage/preparation.h>

#include <QRandomGenerator>
#include <QTest>

using namespace NvImage;
using namespace TestPictures;

Q_DECLARE_METATYPE(NvImage::Preparation)
Q_DECLARE_METATYPE(NvImage::Conversion)
Q_DECLARE_METATYPE(NvImage::DotFormat)

namespace {

// A picture from rows of characters: '#' black, '.' white, 'b' blue, 'y' yellow, 't'
// transparent black, 'g' grey 100, 'A' 'B' 'C' greys 159, 160, 161 (a grey's brightness is
// its level).
QImage picture(const QStringList &rows)
{
    QImage image(int(rows.first().size()), int(rows.size()), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const char c = rows.at(y).at(x).toLatin1();
            const auto grey = [](int level) {
                return qRgb(level, level, level);
            };
            const QRgb colour = c == '#'   ? grey(0)
                                : c == 'b' ? qRgb(0, 0, 255)
                                : c == 'y' ? qRgb(255, 255, 0)
                                : c == 't' ? qRgba(0, 0, 0, 0)
                                : c == 'g' ? grey(100)
                                : c == 'A' ? grey(159)
                                : c == 'B' ? grey(160)
                                : c == 'C' ? grey(161)
                                           : grey(255);
            image.setPixel(x, y, colour);
        }
    return image;
}

// The dots as rows of '#' (black) and '.' (white), padding included.
QStringList art(const EscPos::DotImage &dots)
{
    QStringList rows;
    for (int y = 0; y < dots.height; ++y) {
        QString row;
        for (int x = 0; x < dots.width; ++x)
            row += QLatin1Char(dots.dot(x, y) ? '#' : '.');
        rows << row;
    }
    return rows;
}

QStringList repeated(const QString &row, int count)
{
    QStringList rows;
    for (int i = 0; i < count; ++i)
        rows << row;
    return rows;
}

// Options as words: "paper=8 rotate=90 trim fit center threshold=160 dither invert".
Preparation options(const QString &words)
{
    Preparation preparation;
    for (const QString &word : words.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = word.section(QLatin1Char('='), 0, 0);
        const int value = word.section(QLatin1Char('='), 1).toInt();
        if (key == QLatin1String("paper"))
            preparation.paperDots = value;
        else if (key == QLatin1String("rotate"))
            preparation.rotation = value;
        else if (key == QLatin1String("threshold"))
            preparation.threshold = value;
        else if (key == QLatin1String("trim"))
            preparation.trim = true;
        else if (key == QLatin1String("fit"))
            preparation.fit = true;
        else if (key == QLatin1String("center"))
            preparation.center = true;
        else if (key == QLatin1String("dither"))
            preparation.conversion = Conversion::Dither;
        else if (key == QLatin1String("invert"))
            preparation.invert = true;
        else
            qFatal("unknown option %s", qPrintable(word));
    }
    return preparation;
}

const DotFormat Unpadded{MaxWidthDots, MaxHeightDots, false};

// What the download did before preparation existed: the picture drawn on the window's
// surface, converted, and rasterised at its size or padded to multiples of 8. drawn gets the
// pixels that the blue rule read.
EscPos::DotImage todaysDots(const QImage &image,
                            Conversion conversion,
                            const QColor &background,
                            bool pad,
                            QImage *drawn = nullptr)
{
    PictureSurface surface(background);
    surface.drawPicture(image);
    if (drawn)
        *drawn = surface.image();
    applyConversion(surface, conversion);
    const auto size = [pad](int n) {
        return pad ? (n + 7) / 8 * 8 : n;
    };
    return rasterise(surface, size(surface.width()), size(surface.height()));
}

QImage withRandomAlpha(QImage image, quint32 seed)
{
    image = image.convertToFormat(QImage::Format_ARGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            const int alpha = int(random.bounded(4)) * 85; // opaque, clear and between
            image.setPixel(x, y, qRgba(qRed(c), qGreen(c), qBlue(c), alpha));
        }
    return image;
}

QImage indexedWithTransparency()
{
    QImage image(10, 3, QImage::Format_Indexed8);
    image.setColorTable({qRgb(255, 255, 255),
                         qRgba(0, 0, 0, 0),
                         qRgb(20, 40, 200),
                         qRgb(250, 220, 0),
                         qRgba(0, 0, 90, 128)});
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, uint((x + 2 * y) % 5));
    return image;
}

} // namespace

class tst_Preparation : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void trimJudgesByTheConversion_data();
    void trimJudgesByTheConversion();
    void identityKeepsTodaysDots_data();
    void identityKeepsTodaysDots();
    void isIdentity_data();
    void isIdentity();
    void validation_data();
    void validation();
    void paperFromText_data();
    void paperFromText();
    void sizeLimits_data();
    void sizeLimits();
    void largePhotoIsFittedToThePaper();
    void describesTheSizes();
};

void tst_Preparation::steps_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("padded");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("left");

    const QStringList bent{"#..", "##."};
    QTest::newRow("rotate 90 clockwise")
            << bent << "rotate=90" << false << QStringList{"##", "#.", ".."} << 0;
    QTest::newRow("rotate 180") << bent << "rotate=180" << false << QStringList{".##", "..#"} << 0;
    QTest::newRow("rotate 270") << bent << "rotate=270" << false << QStringList{"..", ".#", "##"}
                                << 0;

    const QStringList framed{".....", ".b...", "..#..", "....."};
    QTest::newRow("trim, blue rule: blue is white")
            << framed << "trim" << false << QStringList{"#"} << 0;
    QTest::newRow("trim, brightness: blue is dark")
            << framed << "trim threshold=128" << false << QStringList{"#.", ".#"} << 0;
    QTest::newRow("trim transparent margins")
            << QStringList{"ttttt", "t#.#t", "ttttt"} << "trim" << false << QStringList{"#.#"} << 0;

    const QStringList greys{"#gABC."};
    QTest::newRow("blue rule") << greys << "" << false << QStringList{"##...."} << 0;
    QTest::newRow("threshold 160")
            << greys << "threshold=160" << false << QStringList{"###..."} << 0;
    QTest::newRow("threshold 0") << greys << "threshold=0" << false << QStringList{"......"} << 0;
    QTest::newRow("threshold 255")
            << greys << "threshold=255" << false << QStringList{"#####."} << 0;
    QTest::newRow("colours, blue rule")
            << QStringList{"by"} << "" << false << QStringList{".#"} << 0;
    QTest::newRow("colours, brightness")
            << QStringList{"by"} << "threshold=128" << false << QStringList{"#."} << 0;
    QTest::newRow("transparent by brightness")
            << QStringList{"t#"} << "threshold=128" << false << QStringList{".#"} << 0;

    QTest::newRow("fit: shrink") << repeated("##..##..##..##..", 2) << "paper=8 fit" << false
                                 << QStringList{"#.#.#.#."} << 0;
    // Area averaging: a line half a dot wide becomes a mid grey wherever it lies; the
    // threshold keeps it, the blue rule (128) loses it.
    QTest::newRow("fit: thin line at 4")
            << repeated("....#...........", 2) << "paper=8 fit threshold=160" << false
            << QStringList{"..#....."} << 0;
    QTest::newRow("fit: thin line at 5")
            << repeated(".....#..........", 2) << "paper=8 fit threshold=160" << false
            << QStringList{"..#....."} << 0;
    QTest::newRow("fit: thin line, blue rule") << repeated(".....#..........", 2) << "paper=8 fit"
                                               << false << QStringList{"........"} << 0;
    // A quarter of a dot on each side of a boundary: both dots turn a light grey. Sampling
    // (nearest or bilinear) looks at pixels 1 and 2, 5 and 6 and misses the line.
    QTest::newRow("fit: a line between samples")
            << repeated("...##...........................", 4) << "paper=8 fit threshold=200"
            << false << QStringList{"##......"} << 0;
    QTest::newRow("fit: enlarge") << QStringList{"#.", ".#"} << "paper=8 fit" << false
                                  << (repeated("####....", 4) + repeated("....####", 4)) << 0;
    QTest::newRow("fit: enlarge a line, edges crisp")
            << QStringList{".#.."} << "paper=16 fit threshold=128" << false
            << repeated("....####........", 4) << 0;
    // Replicated pixels: no ramp at the edge for dither to scatter.
    QTest::newRow("fit: enlarge for dither")
            << QStringList{"#.."} << "paper=8 fit dither" << false << repeated("###.....", 3) << 0;

    QTest::newRow("centre") << QStringList{"##"} << "paper=8 center" << false
                            << QStringList{"...##..."} << 3;
    QTest::newRow("centre, odd dot right")
            << QStringList{"###"} << "paper=8 center" << false << QStringList{"..###..."} << 2;
    QTest::newRow("centre, wider than paper") << QStringList{"#.......#"} << "paper=8 center"
                                              << false << QStringList{"#.......#"} << 0;
    // The blue rule prints blue white, so it inverts to black.
    QTest::newRow("invert") << QStringList{"#.", ".b"} << "invert" << false
                            << QStringList{".#", "##"} << 0;
    QTest::newRow("invert, padding stays white")
            << QStringList{"#.."} << "invert" << true
            << (QStringList{".##....."} + repeated("........", 7)) << 0;

    // The order of the steps.
    QTest::newRow("order: trim before fit") << QStringList{"..####.."} << "paper=8 trim fit"
                                            << false << repeated("########", 2) << 0;
    QTest::newRow("order: fit without trim")
            << QStringList{"..####.."} << "paper=8 fit" << false << QStringList{"..####.."} << 0;
    QTest::newRow("order: rotate before fit")
            << repeated("#.", 4) << "paper=8 rotate=90 fit" << false
            << (repeated("########", 2) + repeated("........", 2)) << 0;
    QTest::newRow("order: fit before centre")
            << QStringList{"#."} << "paper=8 fit center" << false << repeated("####....", 4) << 0;
    QTest::newRow("order: centre before invert") << QStringList{"#."} << "paper=8 center invert"
                                                 << false << QStringList{"###.####"} << 3;
    QTest::newRow("order: trim before centre")
            << QStringList{"..#"} << "paper=8 trim center" << false << QStringList{"...#...."} << 3;
}

void tst_Preparation::steps()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, words);
    QFETCH(bool, padded);
    QFETCH(QStringList, expected);
    QFETCH(int, left);

    const Preparation preparation = options(words);
    const QImage source = picture(rows);
    const PreparedPicture prepared
            = preparePicture(source, preparation, padded ? DotFormat() : Unpadded);
    QCOMPARE(art(prepared.dots), expected);
    QCOMPARE(prepared.left, left);
    QCOMPARE(prepared.pictureSize, source.size());
    if (!preparation.trim)
        QCOMPARE(prepared.size, preparedSize(source.size(), preparation));
}

void tst_Preparation::trimJudgesByTheConversion_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("nothingLeft");
    QTest::addColumn<bool>("wholeBlock");

    // A block of light grey (200) on white: blue and brightness 200 and above, white;
    // dither prints some of its dots.
    QTest::newRow("blue rule") << "trim" << true << false;
    QTest::newRow("threshold 200") << "trim threshold=200" << true << false;
    QTest::newRow("threshold 201") << "trim threshold=201" << false << true;
    QTest::newRow("dither") << "trim dither" << false << false;
}

void tst_Preparation::trimJudgesByTheConversion()
{
    QFETCH(QString, words);
    QFETCH(bool, nothingLeft);
    QFETCH(bool, wholeBlock);

    QImage image = filled(40, 30, Qt::white);
    const QRect block(5, 4, 24, 20);
    for (int y = block.top(); y <= block.bottom(); ++y)
        for (int x = block.left(); x <= block.right(); ++x)
            image.setPixel(x, y, qRgb(200, 200, 200));
    if (nothingLeft) {
        QVERIFY_THROWS_EXCEPTION(PreparationError, preparePicture(image, options(words)));
        return;
    }
    const PreparedPicture prepared = preparePicture(image, options(words), Unpadded);
    if (wholeBlock)
        QCOMPARE(prepared.kept, block);
    QVERIFY(!prepared.kept.isEmpty());
    QVERIFY(block.contains(prepared.kept));
    QCOMPARE(prepared.size, prepared.kept.size());
}

void tst_Preparation::identityKeepsTodaysDots_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QString>("words");

    const QList<QPair<const char *, QImage>> pictures{
            {"rgb32 13x7", randomColours(13, 7, 1)},
            {"rgb32 64x40", randomColours(64, 40, 2)},
            {"rgb32 1x1", randomColours(1, 1, 3)},
            {"argb32 9x17 alpha", withRandomAlpha(randomColours(9, 17, 4), 5)},
            {"premultiplied 8x8",
             withRandomAlpha(randomColours(8, 8, 6), 7)
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied)},
            {"indexed with transparency", indexedWithTransparency()},
            {"rgb888 5x5", randomColours(5, 5, 8).convertToFormat(QImage::Format_RGB888)},
            {"grayscale 16x16",
             randomColours(16, 16, 9).convertToFormat(QImage::Format_Grayscale8)},
            {"mono 12x4",
             randomColours(12, 4, 10).convertToFormat(QImage::Format_Mono, Qt::ThresholdDither)},
    };
    for (const auto &entry : pictures)
        for (const char *words : {"", "dither", "paper=384", "paper=58 dither"})
            QTest::addRow("%s, %s", entry.first, *words ? words : "no options")
                    << entry.second << QString::fromLatin1(words);
}

void tst_Preparation::identityKeepsTodaysDots()
{
    QFETCH(QImage, image);
    QFETCH(QString, words);

    const Preparation preparation = options(words);
    QVERIFY(preparation.isIdentity());
    QVERIFY(preparationError(preparation).isEmpty());
    // The window draws transparent parts on its own background.
    for (const QColor &background : {QColor(Qt::white), QColor(230, 240, 120)}) {
        const PreparedPicture padded = preparePicture(image, preparation, DotFormat(), background);
        QImage drawn;
        QCOMPARE(padded.dots, todaysDots(image, preparation.conversion, background, true, &drawn));
        // The preview judges the colours by the pixels the blue rule read.
        if (preparation.conversion == Conversion::BlueRule)
            QCOMPARE(padded.pixels, drawn);
        else
            QVERIFY(padded.pixels.isNull());
        const EscPos::DotImage own = preparePicture(image, preparation, Unpadded, background).dots;
        QCOMPARE(own, todaysDots(image, preparation.conversion, background, false));
    }
}

void tst_Preparation::isIdentity_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("identity");

    QTest::newRow("nothing") << "" << true;
    QTest::newRow("paper") << "paper=384" << true;
    QTest::newRow("dither") << "dither" << true;
    QTest::newRow("rotate") << "rotate=180" << false;
    QTest::newRow("trim") << "trim" << false;
    QTest::newRow("fit") << "fit" << false;
    QTest::newRow("center") << "center" << false;
    QTest::newRow("threshold 128") << "threshold=128" << false;
    QTest::newRow("invert") << "invert" << false;
}

void tst_Preparation::isIdentity()
{
    QFETCH(QString, words);
    QFETCH(bool, identity);
    QCOMPARE(options(words).isIdentity(), identity);
}

void tst_Preparation::validation_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("error"); // a part of the message; empty when accepted

    QTest::newRow("paper 7") << "paper=7"
                             << "7 dots is not";
    QTest::newRow("paper 8") << "paper=8"
                             << "";
    QTest::newRow("paper 8184") << "paper=8184"
                                << "";
    QTest::newRow("paper 8185") << "paper=8185"
                                << "8185 dots is not";
    QTest::newRow("rotate 90") << "rotate=90"
                               << "";
    QTest::newRow("rotate 270") << "rotate=270"
                                << "";
    QTest::newRow("rotate 45") << "rotate=45"
                               << "not 45 degrees";
    QTest::newRow("rotate -90") << "rotate=-90"
                                << "not -90 degrees";
    QTest::newRow("rotate 360") << "rotate=360"
                                << "not 360 degrees";
    QTest::newRow("threshold 0") << "threshold=0"
                                 << "";
    QTest::newRow("threshold 255") << "threshold=255"
                                   << "";
    QTest::newRow("threshold -1") << "threshold=-1"
                                  << "-1 is not";
    QTest::newRow("threshold 256") << "threshold=256"
                                   << "256 is not";
    QTest::newRow("threshold and dither") << "threshold=128 dither"
                                          << "Choose one";
}

void tst_Preparation::validation()
{
    QFETCH(QString, words);
    QFETCH(QString, error);

    const Preparation preparation = options(words);
    const QString message = preparationError(preparation);
    if (error.isEmpty()) {
        QVERIFY2(message.isEmpty(), qPrintable(message));
        QCOMPARE(preparePicture(picture({"#."}), preparation).dots.isNull(), false);
        return;
    }
    QVERIFY2(message.contains(error), qPrintable(message));
    try {
        preparePicture(picture({"#."}), preparation);
        QFAIL("refused options were applied");
    } catch (const PreparationError &refused) {
        QCOMPARE(refused.message(), message);
    }
}

void tst_Preparation::paperFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("dots"); // 0: refused

    QTest::newRow("58mm") << "58mm" << 384;
    QTest::newRow("80 mm") << " 80 mm" << 576;
    QTest::newRow("80MM") << "80MM" << 576;
    QTest::newRow("dots") << "512" << 512;
    QTest::newRow("fewest") << "8" << 8;
    QTest::newRow("too few") << "7" << 0;
    QTest::newRow("too many") << "8185" << 0;
    QTest::newRow("other paper") << "72mm" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("words") << "wide" << 0;
}

void tst_Preparation::paperFromText()
{
    QFETCH(QString, text);
    QFETCH(int, dots);

    QString error;
    QCOMPARE(paperDotsFromText(text, &error), dots);
    QCOMPARE(error.isEmpty(), dots != 0);
    if (dots == 0)
        QVERIFY2(error.contains(QLatin1Char('"') + text + QLatin1Char('"')), qPrintable(error));
}

void tst_Preparation::sizeLimits_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("words");
    QTest::addColumn<DotFormat>("format");
    QTest::addColumn<QString>("error"); // a part of the message; empty when accepted
    QTest::addColumn<QSize>("dots");

    const DotFormat graphics{8192, 2304, false};
    QTest::newRow("tall after fitting") << QSize(1000, 5000) << "fit" << DotFormat()
                                        << "the picture is 2880 dots high" << QSize();
    QTest::newRow("wide without fit") << QSize(8200, 10) << "" << DotFormat()
                                      << "8200 dots wide, wider than the 8184" << QSize();
    QTest::newRow("wide, fitted") << QSize(8200, 10) << "fit" << DotFormat() << "" << QSize(576, 8);
    QTest::newRow("tall") << QSize(10, 2400) << "" << DotFormat() << "2400 dots high" << QSize();
    QTest::newRow("tall, turned") << QSize(10, 2400) << "rotate=90" << DotFormat() << ""
                                  << QSize(2400, 16);
    QTest::newRow("widest") << QSize(8184, 8) << "" << DotFormat() << "" << QSize(8184, 8);
    QTest::newRow("highest") << QSize(8, 2304) << "" << DotFormat() << "" << QSize(8, 2304);
    QTest::newRow("graphics, unpadded") << QSize(8190, 5) << "" << graphics << "" << QSize(8190, 5);
    QTest::newRow("graphics, paper too wide")
            << QSize(10, 10) << "paper=8184 fit" << DotFormat{4000, 2304, false}
            << "The paper's 8184 dots are wider" << QSize();
}

void tst_Preparation::sizeLimits()
{
    QFETCH(QSize, size);
    QFETCH(QString, words);
    QFETCH(DotFormat, format);
    QFETCH(QString, error);
    QFETCH(QSize, dots);

    const Preparation preparation = options(words);
    const QImage image = filled(size.width(), size.height(), Qt::black);
    if (error.isEmpty()) {
        const PreparedPicture prepared = preparePicture(image, preparation, format);
        QCOMPARE(QSize(prepared.dots.width, prepared.dots.height), dots);
        return;
    }
    QVERIFY2(
            preparedSizeError(preparedSize(size, preparation), preparation, format).contains(error),
            qPrintable(preparedSizeError(preparedSize(size, preparation), preparation, format)));
    try {
        preparePicture(image, preparation, format);
        QFAIL("a picture too large for the format was prepared");
    } catch (const PictureTooLargeError &tooLarge) {
        QVERIFY2(tooLarge.message().contains(error), qPrintable(tooLarge.message()));
    }
}

void tst_Preparation::largePhotoIsFittedToThePaper()
{
    // A phone photo's size, far beyond what one NV image holds: a black frame 12 pixels wide
    // (under two dots once shrunk) inside a white margin, which must still print along every
    // edge, and nothing inside it.
    QImage photo = filled(4000, 3000, Qt::white);
    const QRect frame(8, 8, 3984, 2984);
    for (int y = frame.top(); y <= frame.bottom(); ++y)
        for (int x = frame.left(); x <= frame.right(); ++x)
            if (x < frame.left() + 12 || x > frame.right() - 12 || y < frame.top() + 12
                || y > frame.bottom() - 12)
                photo.setPixel(x, y, qRgb(0, 0, 0));
    Preparation preparation;
    preparation.fit = true;
    const PreparedPicture prepared = preparePicture(photo, preparation);
    QCOMPARE(prepared.size, QSize(576, 432));
    QCOMPARE(QSize(prepared.dots.width, prepared.dots.height), QSize(576, 432));
    QCOMPARE(preparedSize(photo.size(), preparation), QSize(576, 432));
    for (int i = 2; i < 430; ++i) {
        QVERIFY2(prepared.dots.dot(2, i) && prepared.dots.dot(573, i),
                 qPrintable(QString::number(i)));
        QVERIFY(prepared.dots.dot(i, 2) && prepared.dots.dot(i, 429));
        QVERIFY(!prepared.dots.dot(i / 2 + 100, i / 2 + 100));
    }
}

void tst_Preparation::describesTheSizes()
{
    // A black block inside a white frame.
    const auto framed = [](const QSize &size, const QRect &block) {
        QImage image = filled(size.width(), size.height(), Qt::white);
        for (int y = block.top(); y <= block.bottom(); ++y)
            for (int x = block.left(); x <= block.right(); ++x)
                image.setPixel(x, y, qRgb(0, 0, 0));
        return image;
    };
    Preparation preparation = options("trim fit center");
    QCOMPARE(describePreparation(
                     preparePicture(framed({1200, 400}, {10, 20, 1180, 370}), preparation),
                     preparation),
             QStringLiteral("1200 x 400 pixels, trimmed to 1180 x 370, shrunk to 576 x 181 dots: "
                            "stored as 576 x 184 dots"));
    preparation = options("rotate=90 center paper=384");
    QCOMPARE(describePreparation(preparePicture(framed({100, 300}, {0, 0, 100, 300}), preparation),
                                 preparation),
             QStringLiteral("100 x 300 pixels, turned 90 degrees clockwise, centred on 384 dots: "
                            "stored as 384 x 104 dots"));
}

QTEST_MAIN(tst_Preparation)
#include "tst_preparation.moc"

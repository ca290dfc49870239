#include "handmade.h"

#include <vprinter/parser.h>

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

using namespace VirtualPrinter;
using Kind = Command::Kind;

namespace {

class Recorder : public ParserHandler
{
public:
    void text(const QByteArray &bytes) override
    {
        events << QStringLiteral("text \"%1\"").arg(QString::fromLatin1(bytes));
    }
    void command(const Command &command) override
    {
        commands << command;
        events << QStringLiteral("command %1 %2 %3 %4")
                                  .arg(int(command.kind))
                                  .arg(command.parameter)
                                  .arg(command.secondParameter)
                                  .arg(command.text)
                          + (command.payload.isEmpty()
                                     ? QString()
                                     : QLatin1Char(' ')
                                               + QString::fromLatin1(command.payload.toHex()));
    }
    void defineNvImages(const QVector<NvBitImage> &images,
                        int declaredCount,
                        const QString &problem) override
    {
        definitions << images;
        problems << problem;
        QCryptographicHash hash(QCryptographicHash::Sha1);
        for (const NvBitImage &image : images)
            hash.addData(image.data);
        events << QStringLiteral("define %1 of %2 %3 %4")
                          .arg(images.size())
                          .arg(declaredCount)
                          .arg(QString::fromLatin1(hash.result().toHex()), problem);
    }

    QStringList events;
    QVector<Command> commands;
    QVector<QVector<NvBitImage>> definitions;
    QStringList problems;
};

Recorder parse(const QByteArray &stream, qint64 capacity = DefaultNvCapacity)
{
    Recorder recorder;
    Parser parser(&recorder);
    parser.setNvCapacity(capacity);
    parser.feed(stream);
    parser.finish();
    return recorder;
}

QByteArray initialize()
{
    return HandMade::initialize();
}

} // namespace

class tst_VPrinterParser : public QObject
{
    Q_OBJECT

private slots:
    void literalImage();
    void severalImagesInOneDefinition();
    void definitionLimits_data();
    void definitionLimits();
    void nvCapacity();
    void truncated_data();
    void truncated();
    void knownLengths_data();
    void knownLengths();
    void cutFunctions_data();
    void cutFunctions();
    void textAndControls();
    void chunkingIndependence_data();
    void chunkingIndependence();
};

void tst_VPrinterParser::literalImage()
{
    // One 8x8 image: a diagonal from the top-left corner, plus the whole bottom row.
    const QByteArray stream = HandMade::bytes({0x1C,
                                               0x71,
                                               0x01,
                                               0x01,
                                               0x00,
                                               0x01,
                                               0x00,
                                               0x81,
                                               0x41,
                                               0x21,
                                               0x11,
                                               0x09,
                                               0x05,
                                               0x03,
                                               0x01});
    const Recorder recorder = parse(stream);
    QCOMPARE(recorder.definitions.size(), 1);
    const NvBitImage image = recorder.definitions.first().first();
    QCOMPARE(image.widthDots(), 8);
    QCOMPARE(image.heightDots(), 8);
    for (int x = 0; x < 8; ++x) {
        for (int y = 0; y < 8; ++y)
            QCOMPARE(image.dot(x, y), x == y || y == 7);
    }
    const QImage picture = image.toImage();
    QCOMPARE(picture.size(), QSize(8, 8));
    QCOMPARE(qGray(picture.pixel(3, 3)), 0);
    QCOMPARE(qGray(picture.pixel(4, 3)), 255);
}

void tst_VPrinterParser::severalImagesInOneDefinition()
{
    const auto first = HandMade::record(13, 7, HandMade::pattern);
    const auto second = HandMade::record(72, 25, [](int c, int r) { return (c + r) % 3 == 0; });
    const auto third = HandMade::record(8, 8, [](int c, int) { return c % 2 == 1; });
    const Recorder recorder
            = parse(initialize() + HandMade::defineImages({first, second, third}) + initialize());

    QCOMPARE(recorder.definitions.size(), 1);
    const QVector<NvBitImage> images = recorder.definitions.first();
    QCOMPARE(images.size(), 3);
    QCOMPARE(images[0].widthDots(), 104);
    QCOMPARE(images[0].heightDots(), 56);
    QCOMPARE(images[1].widthDots(), 576);
    QCOMPARE(images[1].heightDots(), 200);
    QCOMPARE(images[2].widthDots(), 64);
    QCOMPARE(images[2].data, third.mid(4));
    QVERIFY(images[1].dot(0, 0));
    QVERIFY(!images[1].dot(1, 0));
    QVERIFY(images[1].dot(575, 199) == ((575 + 199) % 3 == 0));
    for (int x = 0; x < 104; ++x) {
        for (int y = 0; y < 56; ++y)
            QCOMPARE(images[0].dot(x, y), HandMade::pattern(x, y));
    }
    QCOMPARE(recorder.problems.first(), QString());
    // ESC @, the definition, ESC @: the data bytes were not read as commands.
    QCOMPARE(recorder.commands.size(), 2);
    QCOMPARE(recorder.commands.last().kind, Kind::Initialize);
}

void tst_VPrinterParser::definitionLimits_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("imagesTaken"); // -1: definition rejected as a whole
    QTest::addColumn<QString>("reason");

    const auto small = HandMade::record(1, 1, HandMade::pattern);
    QTest::newRow("n = 0") << HandMade::bytes({0x1C, 'q', 0}) << -1 << "number of images";
    QTest::newRow("x = 0") << HandMade::defineImages({HandMade::bytes({0, 0, 1, 0})}) << -1
                           << "width of 0 units";
    QTest::newRow("x = 1024") << HandMade::defineImages({HandMade::bytes({0, 4, 1, 0})}) << -1
                              << "width of 1024 units";
    QTest::newRow("y = 0") << HandMade::defineImages({HandMade::bytes({1, 0, 0, 0})}) << -1
                           << "height of 0 units";
    QTest::newRow("y = 289") << HandMade::defineImages({HandMade::bytes({1, 0, 33, 1})}) << -1
                             << "height of 289 units";
    QTest::newRow("x = 1023, y = 1")
            << HandMade::defineImages({HandMade::record(1023, 1, [](int, int) { return true; })})
            << 1 << "";
    QTest::newRow("x = 1, y = 288")
            << HandMade::defineImages({HandMade::record(1, 288, [](int, int) { return true; })})
            << 1 << "";
    QTest::newRow("second of three out of range")
            << (HandMade::bytes({0x1C, 'q', 3}) + small + HandMade::bytes({0, 4, 1, 0})) << 1
            << "image 2 of 3";
}

void tst_VPrinterParser::definitionLimits()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, imagesTaken);
    QFETCH(QString, reason);

    // What follows a refused header is new data, as on a printer: here a line of text.
    const Recorder recorder = parse(stream + "AB\n" + initialize());
    if (imagesTaken < 0) {
        QVERIFY(recorder.definitions.isEmpty());
        QCOMPARE(recorder.commands.first().kind, Kind::DefinitionRejected);
        QVERIFY2(recorder.commands.first().text.contains(reason),
                 qPrintable(recorder.commands.first().text));
        QVERIFY(recorder.commands.first().text.contains(QLatin1String("stored images kept")));
    } else {
        QCOMPARE(recorder.definitions.size(), 1);
        QCOMPARE(recorder.definitions.first().size(), imagesTaken);
        QVERIFY(recorder.problems.first().contains(reason));
    }
    QCOMPARE(recorder.events.at(recorder.events.size() - 3), QStringLiteral("text \"AB\""));
    QCOMPARE(recorder.commands.at(recorder.commands.size() - 2).kind, Kind::LineFeed);
    QCOMPARE(recorder.commands.last().kind, Kind::Initialize);
}

void tst_VPrinterParser::nvCapacity()
{
    // 80 data and 4 header bytes fit twice in 200 bytes, not three times.
    const auto record = HandMade::record(5, 2, HandMade::pattern);
    const auto stream = HandMade::defineImages({record, record, record});
    Recorder recorder = parse(stream, 200);
    QCOMPARE(recorder.definitions.size(), 1);
    QCOMPARE(recorder.definitions.first().size(), 2);
    QVERIFY(recorder.problems.first().contains(QLatin1String("NV memory")));

    // A definition that fills the memory exactly is taken whole: the FS q n bytes do not count.
    recorder = parse(HandMade::defineImages({record, record}), 168);
    QCOMPARE(recorder.definitions.size(), 1);
    QCOMPARE(recorder.definitions.first().size(), 2);
    QVERIFY(recorder.problems.first().isEmpty());

    recorder = parse(HandMade::defineImages({record}), 83);
    QVERIFY(recorder.definitions.isEmpty());
    QCOMPARE(recorder.commands.first().kind, Kind::DefinitionRejected);
}

void tst_VPrinterParser::truncated_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("report");

    const auto twoImages = HandMade::defineImages(
            {HandMade::record(2, 1, HandMade::pattern), HandMade::record(1, 2, HandMade::pattern)});
    QTest::newRow("FS q without n") << HandMade::bytes({0x1C, 'q'}) << "FS q after 2";
    QTest::newRow("record header") << twoImages.left(5) << "header of image 1 of 2, 2 of 4";
    QTest::newRow("first record data") << twoImages.left(10) << "image 1 of 2 (16x8 dots), 3 of 16";
    QTest::newRow("second record header")
            << twoImages.left(3 + 20 + 1) << "header of image 2 of 2, 1 of 4";
    QTest::newRow("last data byte missing")
            << twoImages.chopped(1) << "image 2 of 2 (8x16 dots), 15 of 16";
    QTest::newRow("raster image") << HandMade::bytes({0x1D, 'v', '0', 0, 2, 0, 3, 0, 1, 2})
                                  << "GS v 0, 2 of 6 parameter bytes";
    QTest::newRow("lone ESC") << HandMade::bytes({0x1B}) << "ESC at the end";
    QTest::newRow("bar code") << HandMade::bytes({0x1D, 'k', 4, '1', '2'}) << "no closing NUL";
    QTest::newRow("graphics block")
            << HandMade::bytes({0x1D, '8', 'L', 9, 0, 0, 0, '0', 'C'}) << "GS 8 L, 2 of 9";
}

void tst_VPrinterParser::truncated()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, report);

    Recorder recorder;
    Parser parser(&recorder);
    parser.feed(stream);
    QVERIFY(!parser.isIdle());
    parser.finish();
    QVERIFY(parser.isIdle());
    QVERIFY(recorder.definitions.isEmpty());
    QCOMPARE(recorder.commands.size(), 1);
    QCOMPARE(recorder.commands.first().kind, Kind::Truncated);
    QVERIFY2(recorder.commands.first().text.contains(report),
             qPrintable(recorder.commands.first().text));

    // The parser starts afresh after the end of the stream.
    parser.feed(initialize());
    QCOMPARE(recorder.commands.last().kind, Kind::Initialize);
}

void tst_VPrinterParser::knownLengths_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("payload");

    // Payloads hold bytes that would read as ESC @ if the length were got wrong.
    const QByteArray trap = HandMade::bytes({0x1B, '@', 0x1B, '@'});
    auto row = [](const char *name,
                  const QByteArray &bytes,
                  Kind kind,
                  const char *text,
                  const QByteArray &payload = QByteArray()) {
        QTest::newRow(name) << bytes << int(kind) << QString::fromLatin1(text) << payload;
    };
    row("ESC ! n", HandMade::bytes({0x1B, '!', 0x1B}), Kind::PrintModes, "ESC !");
    row("ESC a n", HandMade::bytes({0x1B, 'a', 1}), Kind::Justification, "ESC a");
    row("ESC E n", HandMade::bytes({0x1B, 'E', 1}), Kind::Emphasis, "ESC E");
    row("ESC - n", HandMade::bytes({0x1B, '-', 2}), Kind::Underline, "ESC -");
    row("ESC d n", HandMade::bytes({0x1B, 'd', 3}), Kind::FeedLines, "ESC d");
    row("ESC J n", HandMade::bytes({0x1B, 'J', 0x1B}), Kind::FeedDots, "ESC J");
    row("ESC 2", HandMade::bytes({0x1B, '2'}), Kind::LineSpacing, "ESC 2");
    row("ESC 3 n", HandMade::bytes({0x1B, '3', 40}), Kind::LineSpacing, "ESC 3");
    row("GS ! n", HandMade::bytes({0x1D, '!', 0x11}), Kind::CharacterSize, "GS !");
    row("DLE EOT n", HandMade::bytes({0x10, 0x04, 1}), Kind::StatusRequest, "DLE EOT");
    row("DLE EOT 7 a", HandMade::bytes({0x10, 0x04, 7, 1}), Kind::Skipped, "DLE EOT 7 1");
    row("ESC t n", HandMade::bytes({0x1B, 't', 0x1B}), Kind::CodeTable, "ESC t");
    row("GS a n", HandMade::bytes({0x1D, 'a', 0x1B}), Kind::AutoStatusBack, "GS a");
    row("GS r n", HandMade::bytes({0x1D, 'r', 0x1B}), Kind::TransmitStatus, "GS r");
    row("ESC p m t1 t2", HandMade::bytes({0x1B, 'p', 0, 0x1B, '@'}), Kind::Skipped, "ESC p");
    row("ESC W",
        HandMade::bytes({0x1B, 'W', 0, 0, 0, 0, 0x1B, '@', 0x1B, '@'}),
        Kind::Skipped,
        "ESC W");
    row("GS v 0",
        HandMade::bytes({0x1D, 'v', '0', 0, 2, 0, 2, 0}) + trap,
        Kind::RasterImage,
        "GS v 0",
        HandMade::bytes({0, 2, 0, 2, 0}) + trap);
    row("GS v 0 beyond any image",
        HandMade::bytes({0x1D, 'v', '0', 0, 0xFF, 0xFF, 0xFF, 0}) + QByteArray(0xFFFF * 0xFF, 0x1B),
        Kind::Skipped,
        "GS v 0 (raster bit image 524280x255 dots, larger than");
    row("GS ( k", HandMade::bytes({0x1D, '(', 'k', 4, 0}) + trap, Kind::Symbol, "GS ( k", trap);
    row("GS ( L",
        HandMade::bytes({0x1D, '(', 'L', 6, 0}) + trap + trap.left(2),
        Kind::Graphics,
        "GS ( L",
        trap + trap.left(2));
    row("GS ( L empty", HandMade::bytes({0x1D, '(', 'L', 0, 0}), Kind::Graphics, "GS ( L");
    row("GS 8 L",
        HandMade::bytes({0x1D, '8', 'L', 4, 0, 0, 0}) + trap,
        Kind::Graphics,
        "GS 8 L",
        trap);
    row("GS 8 L beyond any graphic",
        HandMade::bytes({0x1D, '8', 'L', 0, 0, 0x40, 0}) + QByteArray(0x400000, 0x1B),
        Kind::Skipped,
        "GS 8 L (graphics, 4194304 parameter bytes, more than");
    row("GS ( H",
        HandMade::bytes({0x1D, '(', 'H', 6, 0, '0', '0', 0x1B, '@', 'A', 'B'}),
        Kind::ResponseRequest,
        "GS ( H",
        HandMade::bytes({'0', '0', 0x1B, '@', 'A', 'B'}));
    row("GS I n", HandMade::bytes({0x1D, 'I', 0x1B}), Kind::TransmitId, "GS I");
    row("GS *", HandMade::bytes({0x1D, '*', 1, 1}) + trap + trap, Kind::Skipped, "GS *");
    row("FS ( A", HandMade::bytes({0x1C, '(', 'A', 2, 0, 0x1B, '@'}), Kind::Skipped, "FS ( A");
    row("FS g 1",
        HandMade::bytes({0x1C, 'g', '1', 0, 0, 0, 0, 0, 2, 0, 0x1B, '@'}),
        Kind::Skipped,
        "FS g 1");
    row("ESC * 33",
        HandMade::bytes({0x1B, '*', 33, 2, 0}) + trap + trap.left(2),
        Kind::BitImage,
        "ESC *",
        HandMade::bytes({33, 2, 0}) + trap + trap.left(2));
    row("ESC * 0",
        HandMade::bytes({0x1B, '*', 0, 4, 0}) + trap,
        Kind::BitImage,
        "ESC *",
        HandMade::bytes({0, 4, 0}) + trap);
    row("ESC ( A", HandMade::bytes({0x1B, '(', 'A', 4, 0}) + trap, Kind::Skipped, "ESC ( A");
    row("ESC & two characters",
        HandMade::bytes({0x1B, '&', 3, 'A', 'B', 1, 0x1B, '@', 0x1B, 2}) + trap + trap.left(2),
        Kind::Skipped,
        "ESC & (user-defined characters 65 to 66)");
    row("ESC D tab positions", HandMade::bytes({0x1B, 'D', 8, 16, 24, 0}), Kind::Skipped, "ESC D");
    row("GS k 4 (NUL-ended)",
        HandMade::bytes({0x1D, 'k', 4, '1', '2', '3', 0}),
        Kind::BarCode,
        "GS k 4",
        HandMade::bytes({4, '1', '2', '3'}));
    row("GS k 73 (counted)",
        HandMade::bytes({0x1D, 'k', 73, 2}) + trap.left(2),
        Kind::BarCode,
        "GS k",
        HandMade::bytes({73}) + trap.left(2));
    row("unknown ESC", HandMade::bytes({0x1B, 'z'}), Kind::Stray, "unknown ESC 0x7a");
    row("unknown GS", HandMade::bytes({0x1D, 0x01}), Kind::Stray, "unknown GS 0x01");
    row("unknown FS", HandMade::bytes({0x1C, 'z'}), Kind::Stray, "unknown FS 0x7a");
    row("control bytes",
        HandMade::bytes({0x00, 0x07, 0x7F}),
        Kind::Stray,
        "3 control bytes 0x00 0x07 0x7f");
    row("stray DLE", HandMade::bytes({0x10, 0x01}), Kind::Stray, "2 control bytes 0x10 0x01");
}

void tst_VPrinterParser::knownLengths()
{
    QFETCH(QByteArray, command);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(QByteArray, payload);

    const Recorder recorder = parse(command + initialize());
    QCOMPARE(recorder.commands.size(), 2);
    QCOMPARE(int(recorder.commands.first().kind), kind);
    QCOMPARE(recorder.commands.first().payload, payload);
    QVERIFY2(recorder.commands.first().text.startsWith(text),
             qPrintable(recorder.commands.first().text));
    QCOMPARE(recorder.commands.last().kind, Kind::Initialize);
}

void tst_VPrinterParser::cutFunctions_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("feed");

    QTest::newRow("A 0") << HandMade::bytes({0x1D, 'V', 0}) << 0 << -1;
    QTest::newRow("A 48") << HandMade::bytes({0x1D, 'V', 48}) << 48 << -1;
    QTest::newRow("A 1") << HandMade::bytes({0x1D, 'V', 1}) << 1 << -1;
    QTest::newRow("A 49") << HandMade::bytes({0x1D, 'V', 49}) << 49 << -1;
    QTest::newRow("B 65") << HandMade::bytes({0x1D, 'V', 65, 0x1B}) << 65 << 0x1B;
    QTest::newRow("B 66") << HandMade::bytes({0x1D, 'V', 66, 0}) << 66 << 0;
    QTest::newRow("C 97") << HandMade::bytes({0x1D, 'V', 97, 5}) << 97 << 5;
    QTest::newRow("C 98") << HandMade::bytes({0x1D, 'V', 98, 6}) << 98 << 6;
    QTest::newRow("D 103") << HandMade::bytes({0x1D, 'V', 103, 7}) << 103 << 7;
    QTest::newRow("D 104") << HandMade::bytes({0x1D, 'V', 104, 8}) << 104 << 8;
    QTest::newRow("ESC i") << HandMade::bytes({0x1B, 'i'}) << 1 << -1;
    QTest::newRow("ESC m") << HandMade::bytes({0x1B, 'm'}) << 1 << -1;
    QTest::newRow("undefined GS V 2") << HandMade::bytes({0x1D, 'V', 2}) << -1 << -1;
}

void tst_VPrinterParser::cutFunctions()
{
    QFETCH(QByteArray, command);
    QFETCH(int, function);
    QFETCH(int, feed);

    const Recorder recorder = parse(command + initialize());
    QCOMPARE(recorder.commands.size(), 2);
    const Command cut = recorder.commands.first();
    if (function < 0) {
        QCOMPARE(cut.kind, Kind::Stray);
        QVERIFY(cut.text.contains(QLatin1String("undefined cut function")));
    } else {
        QCOMPARE(cut.kind, Kind::Cut);
        QCOMPARE(cut.parameter, function);
        QCOMPARE(cut.secondParameter, feed);
    }
    QCOMPARE(recorder.commands.last().kind, Kind::Initialize);
}

void tst_VPrinterParser::textAndControls()
{
    const Recorder recorder = parse(QByteArray("Hello\r\nW\x07orld\t\xc7!\x1b", 17));
    const QStringList expected = {
            QStringLiteral("text \"Hello\""),
            QStringLiteral("command %1 0 -1 CR").arg(int(Kind::CarriageReturn)),
            QStringLiteral("command %1 0 -1 LF").arg(int(Kind::LineFeed)),
            QStringLiteral("text \"W\""),
            QStringLiteral("command %1 0 -1 control byte 0x07").arg(int(Kind::Stray)),
            QStringLiteral("text \"orld\""),
            QStringLiteral("command %1 0 -1 HT").arg(int(Kind::HorizontalTab)),
            QStringLiteral("text \"%1!\"").arg(QChar(0xc7)),
            QStringLiteral("command %1 0 -1 ESC at the end of the data").arg(int(Kind::Truncated)),
    };
    QCOMPARE(recorder.events, expected);
}

void tst_VPrinterParser::chunkingIndependence_data()
{
    QTest::addColumn<QByteArray>("stream");

    const QByteArray definition = HandMade::defineImages(
            {HandMade::record(3, 2, HandMade::pattern), HandMade::record(2, 3, HandMade::pattern)});
    QByteArray everything = initialize() + definition + "Receipt\n"
                            + HandMade::bytes({0x1B, 'a', 1, 0x1D, '!', 0x11}) + "Total\r\n"
                            + HandMade::bytes({0x1D, 'v', '0', 0, 1, 0, 2, 0, 0x1B, '@'})
                            + HandMade::printImage(2, 3) + HandMade::cutB(0)
                            + HandMade::bytes({0x00, 0x01, 0x1B, 0x1B, 'z', 0x1D, 'k', 4}) + "123"
                            + HandMade::bytes({0, 0x10, 0x04, 1, 0x1B, '&', 3, 'A', 'A', 2})
                            + QByteArray(6, '\x1b') + HandMade::bytes({0x1D, 'V', 1})
                            + QByteArray(5000, 'x') + "\n"
                            + HandMade::bytes({0x1D, '(', 'L', 4, 0, '0', 'B', 'A', '1'})
                            + HandMade::bytes({0x1D, '(', 'H', 6, 0, '0', '0', 'a', 'b', 'c', 'd'});
    QTest::newRow("mixed stream") << everything;
    QTest::newRow("cut short in a record") << everything + definition.left(20);
    QByteArray noise(4096, Qt::Uninitialized);
    QRandomGenerator generator(20240601);
    for (char &byte : noise)
        byte = char(generator.bounded(256));
    QTest::newRow("noise") << noise;
}

void tst_VPrinterParser::chunkingIndependence()
{
    QFETCH(QByteArray, stream);

    const QStringList whole = parse(stream).events;
    QVERIFY(whole.size() > 5);

    Recorder byteByByte;
    Parser parser(&byteByByte);
    for (const char byte : stream)
        parser.feed(&byte, 1);
    parser.finish();
    QCOMPARE(byteByByte.events, whole);

    QRandomGenerator generator(7);
    for (int round = 0; round < 20; ++round) {
        Recorder chunked;
        Parser chunkParser(&chunked);
        qsizetype at = 0;
        while (at < stream.size()) {
            const qsizetype size
                    = std::min<qsizetype>(generator.bounded(1, 300), stream.size() - at);
            chunkParser.feed(stream.constData() + at, size);
            at += size;
        }
        chunkParser.finish();
        QCOMPARE(chunked.events, whole);
    }
}

QTEST_GUILESS_MAIN(tst_VPrinterParser)
#include "tst_vprinterparser.moc"

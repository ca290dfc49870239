#include "handmade.h"

#include <vprinter/receiptprinter.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace VirtualPrinter;

namespace {

// A printer with everything it reports collected.
class Run
{
public:
    explicit Run(const PrinterSettings &settings = PrinterSettings())
        : printer(settings)
    {
        printer.onLog = [this](const QString &line) {
            log << line;
        };
        printer.onStrip = [this](const QImage &strip, const QString &file) {
            strips << strip;
            files << file;
        };
        printer.onReply = [this](const QByteArray &bytes) {
            replies += bytes;
        };
    }
    Run(const Run &) = delete;
    Run &operator=(const Run &) = delete;

    void send(const QByteArray &bytes)
    {
        printer.receive(bytes);
        printer.endOfStream();
    }
    bool logged(const QString &part) const
    {
        for (const QString &line : log) {
            if (line.contains(part))
                return true;
        }
        return false;
    }

    ReceiptPrinter printer;
    QStringList log;
    QVector<QImage> strips;
    QStringList files;
    QByteArray replies;
};

bool black(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y)) < 128;
}

// The columns that hold at least one black dot, as [first, last]; {-1, -1} for none.
QPair<int, int> blackColumns(const QImage &image)
{
    int first = -1;
    int last = -1;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            if (black(image, x, y)) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
        }
    }
    return {first, last};
}

const QByteArray threeImages = HandMade::defineImages(
        {HandMade::record(3, 2, HandMade::pattern),
         HandMade::record(1, 1, [](int, int) { return true; }),
         HandMade::record(2, 4, [](int c, int r) { return c < 4 || r >= 28; })});

} // namespace

class tst_VPrinterPrinter : public QObject
{
    Q_OBJECT

private slots:
    void printModes_data();
    void printModes();
    void cutFunctions_data();
    void cutFunctions();
    void cutWithNothingPrinted();
    void textLines_data();
    void textLines();
    void initializeKeepsImagesAndDropsText();
    void secondDefinitionReplacesAll();
    void partialDefinitionKeepsEarlierImages();
    void imageNotPrinted_data();
    void imageNotPrinted();
    void paperWidthClipping_data();
    void paperWidthClipping();
    void chunkingGivesSameOutput();
    void statePersistsAcrossInstances();
    void damagedStateFileIsKept();
    void stateFileKinds_data();
    void stateFileKinds();
    void exportWritesEachImage();
    void stripNumbersContinue();
    void unwritableFolder();
    void statusReplies_data();
    void statusReplies();
    void identityAndCompletion_data();
    void identityAndCompletion();
    void resetIsSilent();
    void nvGraphics();
    void refusedDefineStoresNothing_data();
    void refusedDefineStoresNothing();
    void keyListHandshake_data();
    void keyListHandshake();
    void graphicsSurviveRestart();
    void longPaperIsWrittenWithoutCut();
    void imageCommands_data();
    void imageCommands();
    void statusBack_data();
    void statusBack();
    void statusBackOnChange_data();
    void statusBackOnChange();
    void barCodeAndQrCode();
    void readableLog_data();
    void readableLog();
    void noiseIsSummarised();
};

void tst_VPrinterPrinter::printModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("scaleX");
    QTest::addColumn<int>("scaleY");
    QTest::addColumn<QString>("name");

    QTest::newRow("0 normal") << 0 << 1 << 1 << "normal";
    QTest::newRow("48 normal") << 48 << 1 << 1 << "normal";
    QTest::newRow("1 double width") << 1 << 2 << 1 << "double width";
    QTest::newRow("49 double width") << 49 << 2 << 1 << "double width";
    QTest::newRow("2 double height") << 2 << 1 << 2 << "double height";
    QTest::newRow("50 double height") << 50 << 1 << 2 << "double height";
    QTest::newRow("3 double") << 3 << 2 << 2 << "double";
    QTest::newRow("51 double") << 51 << 2 << 2 << "double";
}

void tst_VPrinterPrinter::printModes()
{
    QFETCH(int, mode);
    QFETCH(int, scaleX);
    QFETCH(int, scaleY);
    QFETCH(QString, name);

    Run run;
    run.send(threeImages + HandMade::printImage(1, mode) + HandMade::cutB(0));
    QCOMPARE(run.strips.size(), 1);
    const QImage strip = run.strips.first();
    QCOMPARE(strip.width(), 576);
    QCOMPARE(strip.height(), 16 * scaleY);
    for (int y = 0; y < strip.height(); ++y) {
        for (int x = 0; x < strip.width(); ++x) {
            const bool expected = x < 24 * scaleX && HandMade::pattern(x / scaleX, y / scaleY);
            if (black(strip, x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("dot %1,%2 is wrong").arg(x).arg(y)));
        }
    }
    QVERIFY(run.log.contains(QStringLiteral("FS p: image 1, %1").arg(name)));
    QVERIFY(run.log.contains(QStringLiteral("GS V: partial cut (feed 0) -> strip-0001.png")));
}

void tst_VPrinterPrinter::cutFunctions_data()
{
    QTest::addColumn<QByteArray>("cut");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<int>("feed");

    QTest::newRow("A 0") << HandMade::bytes({0x1D, 'V', 0}) << "GS V: full cut ->" << 0;
    QTest::newRow("A 48") << HandMade::bytes({0x1D, 'V', 48}) << "GS V: full cut ->" << 0;
    QTest::newRow("A 1") << HandMade::bytes({0x1D, 'V', 1}) << "GS V: partial cut ->" << 0;
    QTest::newRow("A 49") << HandMade::bytes({0x1D, 'V', 49}) << "GS V: partial cut ->" << 0;
    QTest::newRow("B 65") << HandMade::bytes({0x1D, 'V', 65, 10}) << "GS V: full cut (feed 10) ->"
                          << 10;
    QTest::newRow("B 66") << HandMade::bytes({0x1D, 'V', 66, 0}) << "GS V: partial cut (feed 0) ->"
                          << 0;
    QTest::newRow("C 97") << HandMade::bytes({0x1D, 'V', 97, 3}) << "GS V: full cut (feed 3) ->"
                          << 3;
    QTest::newRow("C 98") << HandMade::bytes({0x1D, 'V', 98, 4}) << "GS V: partial cut (feed 4) ->"
                          << 4;
    QTest::newRow("D 103") << HandMade::bytes({0x1D, 'V', 103, 5}) << "GS V: full cut (feed 5) ->"
                           << 5;
    QTest::newRow("D 104") << HandMade::bytes({0x1D, 'V', 104, 255})
                           << "GS V: partial cut (feed 255) ->" << 255;
    QTest::newRow("ESC i") << HandMade::bytes({0x1B, 'i'}) << "ESC i: partial cut ->" << 0;
    QTest::newRow("ESC m") << HandMade::bytes({0x1B, 'm'}) << "ESC m: partial cut ->" << 0;
}

void tst_VPrinterPrinter::cutFunctions()
{
    QFETCH(QByteArray, cut);
    QFETCH(QString, logLine);
    QFETCH(int, feed);

    Run run;
    // A text line, the cut, then a second strip cut the same way: numbering goes on.
    run.send("X\n" + cut + "Y\n" + cut);
    QCOMPARE(run.strips.size(), 2);
    QCOMPARE(run.strips.first().height(), 30 + feed);
    QCOMPARE(run.files,
             QStringList({QStringLiteral("strip-0001.png"), QStringLiteral("strip-0002.png")}));
    QVERIFY2(run.log.contains(logLine + QStringLiteral(" strip-0001.png")),
             qPrintable(run.log.join(QLatin1Char('\n'))));
    QVERIFY(run.log.contains(logLine + QStringLiteral(" strip-0002.png")));
}

void tst_VPrinterPrinter::cutWithNothingPrinted()
{
    Run run;
    run.send(HandMade::bytes({0x1B, 'd', 3, 0x1D, 'V', 0, 0x1D, 'V', 66, 40}));
    QVERIFY(run.strips.isEmpty());
    QVERIFY(run.logged(QStringLiteral("GS V: full cut: nothing printed since the last cut")));
    // The blank paper fed before does not end up at the top of the next strip.
    run.send("Z\n" + HandMade::bytes({0x1D, 'V', 0}));
    QCOMPARE(run.strips.size(), 1);
    QCOMPARE(run.strips.first().height(), 30);
}

void tst_VPrinterPrinter::textLines_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("firstColumn");
    QTest::addColumn<int>("lastColumn");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("left") << QByteArray("AB\n") << 30 << 0 << 23 << R"(text: "AB")";
    QTest::newRow("centre") << HandMade::bytes({0x1B, 'a', 1}) + "AB\n"
                            << 30 << 276 << 299 << R"(text: "AB")";
    QTest::newRow("right") << HandMade::bytes({0x1B, 'a', 50}) + "AB\n"
                           << 30 << 552 << 575 << R"(text: "AB")";
    QTest::newRow("double size") << HandMade::bytes({0x1D, '!', 0x11}) + "AB\n"
                                 << 48 << 0 << 47 << R"(text: "AB")";
    QTest::newRow("line spacing") << HandMade::bytes({0x1B, '3', 50}) + "AB\n"
                                  << 50 << 0 << 23 << R"(text: "AB")";
    QTest::newRow("two lines and a blank one")
            << QByteArray("A\n\nB\n") << 90 << 0 << 11 << "LF: blank line";
    QTest::newRow("tab") << QByteArray("A\tB\n") << 30 << 0 << 107 << R"(text: "A       B")";
    QTest::newRow("wrapped")
            << QByteArray(49, 'M') + "\n"
            << 60 << 0 << 575
            << QStringLiteral("text: \"%1\" (wrapped)").arg(QString(48, QLatin1Char('M')));
    QTest::newRow("quotes escaped")
            << QByteArray("M\"hi\"M\n") << 30 << 0 << 71 << R"(text: "M\"hi\"M")";
    // D5 is the euro sign in PC858 and a box-drawing character in PC437.
    QTest::newRow("ESC t 19, PC858")
            << HandMade::bytes({0x1B, 't', 19, 0xD5, '\n'}) << 30 << 0 << 11 << "text: \"\u20ac\"";
    // Box drawing: the glyph starts mid-cell.
    QTest::newRow("ESC t 0, PC437") << HandMade::bytes({0x1B, 't', 19, 0x1B, 't', 0, 0xD5, '\n'})
                                    << 30 << 4 << 11 << "text: \"\u2552\"";
}

void tst_VPrinterPrinter::textLines()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, height);
    QFETCH(int, firstColumn);
    QFETCH(int, lastColumn);
    QFETCH(QString, logLine);

    Run run;
    run.send(stream + HandMade::bytes({0x1D, 'V', 0}));
    QCOMPARE(run.strips.size(), 1);
    const QImage strip = run.strips.first();
    QCOMPARE(strip.height(), height);
    const QPair<int, int> columns = blackColumns(strip);
    // Glyphs leave a little white at the edges of their 12-dot cells.
    QVERIFY2(columns.first >= firstColumn && columns.first < firstColumn + 4,
             qPrintable(QString::number(columns.first)));
    QVERIFY2(columns.second <= lastColumn && columns.second > lastColumn - 4,
             qPrintable(QString::number(columns.second)));
    QVERIFY2(run.log.contains(logLine), qPrintable(run.log.join(QLatin1Char('\n'))));
}

void tst_VPrinterPrinter::initializeKeepsImagesAndDropsText()
{
    Run run;
    run.send(threeImages + "unprinted" + HandMade::initialize() + HandMade::printImage(3, 0)
             + HandMade::cutB());
    QVERIFY(run.log.contains(QStringLiteral(R"(ESC @ (unprinted text dropped: "unprinted"))")));
    QCOMPARE(run.printer.store().count(), 3);
    QCOMPARE(run.strips.size(), 1);
    QCOMPARE(run.strips.first().height(), 32);
    QVERIFY(black(run.strips.first(), 3, 0));
    QVERIFY(!black(run.strips.first(), 4, 0));
    QVERIFY(black(run.strips.first(), 15, 31));
    QVERIFY(!black(run.strips.first(), 16, 31));
}

void tst_VPrinterPrinter::secondDefinitionReplacesAll()
{
    Run run;
    run.send(threeImages);
    QCOMPARE(run.printer.store().count(), 3);
    run.send(HandMade::defineImages({HandMade::record(4, 1, [](int c, int) { return c == 0; })})
             + HandMade::printImage(2, 0) + HandMade::printImage(1, 0) + HandMade::cutB());
    QCOMPARE(run.printer.store().count(), 1);
    QVERIFY(run.log.contains(QStringLiteral("FS q: 1 image 32x8")));
    QVERIFY(run.log.contains(
            QStringLiteral("FS p: image 2 is not defined (1 stored), nothing printed")));
    QCOMPARE(run.strips.size(), 1);
    QCOMPARE(run.strips.first().height(), 8);
    QCOMPARE(blackColumns(run.strips.first()), qMakePair(0, 0));
}

void tst_VPrinterPrinter::partialDefinitionKeepsEarlierImages()
{
    Run run;
    run.send(threeImages);
    run.send(HandMade::bytes({0x1C, 'q', 3}) + HandMade::record(1, 1, HandMade::pattern)
             + HandMade::bytes({0, 0, 1, 0}));
    QCOMPARE(run.printer.store().count(), 1);
    QVERIFY(run.logged(
            QStringLiteral("FS q: 1 image 8x8; image 2 of 3 (0x1 units): its width of "
                           "0 units is outside 1 to 1023; images 2 to 3 are undefined")));

    // A refused first record leaves the stored images as they were.
    run.send(HandMade::bytes({0x1C, 'q', 1, 1, 0, 0x21, 1}));
    QCOMPARE(run.printer.store().count(), 1);
    QVERIFY(run.logged(QStringLiteral("FS q: rejected, image 1 of 1 (1x289 units)")));
}

void tst_VPrinterPrinter::imageNotPrinted_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("image 0") << HandMade::printImage(0, 0)
                             << "FS p: image 0 is not defined (3 stored), nothing printed";
    QTest::newRow("image 4 of 3") << HandMade::printImage(4, 3)
                                  << "FS p: image 4 is not defined (3 stored), nothing printed";
    QTest::newRow("mode 4") << HandMade::printImage(1, 4)
                            << "FS p: image 1, mode 4 is undefined, nothing printed";
    QTest::newRow("text waiting")
            << "abc" + HandMade::printImage(1, 0)
            << "FS p: image 1, normal: ignored, text waits in the line buffer";
}

void tst_VPrinterPrinter::imageNotPrinted()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, logLine);

    Run run;
    run.send(threeImages + stream + HandMade::bytes({0x1D, 'V', 0}));
    QVERIFY2(run.logged(logLine), qPrintable(run.log.join(QLatin1Char('\n'))));
    // Nothing but the waiting text, if any, reached the paper.
    const int expectedHeight = stream.startsWith("abc") ? 30 : 0;
    QCOMPARE(run.strips.isEmpty() ? 0 : run.strips.first().height(), expectedHeight);
}

void tst_VPrinterPrinter::paperWidthClipping_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("scale");

    QTest::newRow("normal") << 0 << 1;
    QTest::newRow("double width") << 1 << 2;
}

void tst_VPrinterPrinter::paperWidthClipping()
{
    QFETCH(int, mode);
    QFETCH(int, scale);

    PrinterSettings settings;
    settings.paperWidth = 64;
    Run run(settings);
    run.send(HandMade::defineImages({HandMade::record(16, 1, HandMade::pattern)})
             + HandMade::printImage(1, mode) + "ABCDEF\n" + HandMade::cutB());
    QCOMPARE(run.strips.size(), 1);
    const QImage strip = run.strips.first();
    QCOMPARE(strip.width(), 64);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 64; ++x)
            QCOMPARE(black(strip, x, y), HandMade::pattern(x / scale, y));
    }
    QVERIFY(run.logged(
            QStringLiteral("(clipped to the paper: 64 of %1 dots wide)").arg(128 * scale)));
    // Five 12-dot characters fit on a 64-dot line; the sixth goes to the next one.
    QVERIFY(run.log.contains(QStringLiteral(R"(text: "ABCDE" (wrapped))")));
    QVERIFY(run.log.contains(QStringLiteral(R"(text: "F")")));
    QCOMPARE(strip.height(), 8 + 30 + 30);
}

void tst_VPrinterPrinter::chunkingGivesSameOutput()
{
    const QByteArray stream = HandMade::initialize() + threeImages + "Title\n"
                              + HandMade::printImage(1, 3) + HandMade::bytes({0x1B, 'a', 1})
                              + "Thanks\n" + HandMade::cutB(8) + HandMade::printImage(3, 1)
                              + HandMade::bytes({0x1B, 'i'});
    Run whole;
    whole.send(stream);
    Run single;
    for (const char byte : stream)
        single.printer.receive(&byte, 1);
    single.printer.endOfStream();
    QCOMPARE(single.log, whole.log);
    QCOMPARE(whole.strips.size(), 2);
    QCOMPARE(single.strips, whole.strips);
}

void tst_VPrinterPrinter::statePersistsAcrossInstances()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterSettings settings;
    settings.stateFolder = folder.filePath(QStringLiteral("state"));
    QVector<NvBitImage> defined;
    {
        Run first(settings);
        QString error;
        QVERIFY2(first.printer.start(&error), qPrintable(error));
        QCOMPARE(first.printer.store().count(), 0);
        first.send(threeImages);
        defined = first.printer.store().images();
        // A definition cut short changes neither the memory nor the state file.
        const QByteArray saved = [&] {
            QFile file(QDir(settings.stateFolder).filePath(NvStore::stateFileName()));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        QVERIFY(saved.startsWith("\x1c"
                                 "q\x03"));
        first.send(HandMade::defineImages({HandMade::record(1, 1, HandMade::pattern)}).chopped(2));
        QVERIFY(first.logged(QStringLiteral("truncated: FS q: image 1 of 1")));
        QCOMPARE(first.printer.store().count(), 3);
        QFile file(QDir(settings.stateFolder).filePath(NvStore::stateFileName()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), saved);
    }
    QCOMPARE(defined.size(), 3);

    Run second(settings);
    QString error;
    QVERIFY2(second.printer.start(&error), qPrintable(error));
    QCOMPARE(second.printer.store().images(), defined);
    second.send(HandMade::printImage(2, 0) + HandMade::cutB());
    QCOMPARE(second.strips.size(), 1);
    QCOMPARE(blackColumns(second.strips.first()), qMakePair(0, 7));

    Run withoutState;
    QVERIFY(withoutState.printer.start(&error));
    QCOMPARE(withoutState.printer.store().count(), 0);
}

void tst_VPrinterPrinter::damagedStateFileIsKept()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray damaged
            = HandMade::defineImages({HandMade::record(2, 2, HandMade::pattern)}).chopped(5);
    QFile file(folder.filePath(NvStore::stateFileName()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(damaged);
    file.close();

    PrinterSettings settings;
    settings.stateFolder = folder.path();
    ReceiptPrinter printer(settings);
    QString error;
    QVERIFY(!printer.start(&error));
    QVERIFY2(error.contains(QLatin1String("is damaged")), qPrintable(error));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), damaged);
}

void tst_VPrinterPrinter::stateFileKinds_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");

    const QString graphics = NvStore::graphicsFileName();
    const QString images = NvStore::stateFileName();
    QTest::newRow("graphics: link to /dev/zero")
            << graphics << "link:/dev/zero"
            << "is a link to /dev/zero, a device, FIFO or socket, not a regular file";
    QTest::newRow("graphics: FIFO") << graphics << "fifo"
                                    << "is a device, FIFO or socket, not a regular file";
    QTest::newRow("images: FIFO") << images << "fifo"
                                  << "is a device, FIFO or socket, not a regular file";
    QTest::newRow("graphics: 512 MB, valid header")
            << graphics << "large"
            << QStringLiteral("holds 536870912 bytes, more than any NV memory of this printer "
                              "(at most %1 bytes)")
                       .arg(MaxStateFileSize);
    QTest::newRow("images: 512 MB, valid header") << images << "large"
                                                  << "holds 536870912 bytes";
    QTest::newRow("images: folder") << images << "folder"
                                    << "is a folder, not a regular file";
    QTest::newRow("graphics: dangling link") << graphics << "link:/nonexistent/nv"
                                             << "is a link to /nonexistent/nv, which does not";
}

// Whatever lies at a state file's path is looked at before it is read: start-up neither blocks,
// nor reads without bound, and the thing is left as it was.
void tst_VPrinterPrinter::stateFileKinds()
{
#ifndef Q_OS_UNIX
    QSKIP("FIFOs and device links are a Unix matter");
#else
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(file);
    if (kind.startsWith(QLatin1String("link:"))) {
        QVERIFY(QFile::link(kind.mid(5), path));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else {
        // A header that reads as valid, then a hole: the size is all that is wrong.
        QFile large(path);
        QVERIFY(large.open(QIODevice::WriteOnly));
        large.write(file == NvStore::stateFileName()
                            ? HandMade::defineImages({HandMade::record(1, 1, HandMade::pattern)})
                            : NvStore::serializeGraphics({}));
        QVERIFY(large.resize(512 * 1024 * 1024));
    }
    const QFileInfo before(path);

    PrinterSettings settings;
    settings.stateFolder = folder.path();
    ReceiptPrinter printer(settings);
    QString error;
    QVERIFY(!printer.start(&error));
    QVERIFY2(error.startsWith(path + QLatin1Char(' ')) && error.contains(message)
                     && error.endsWith(QLatin1String("move it away or choose another state "
                                                     "folder")),
             qPrintable(error));
    const QFileInfo after(path);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.isFile(), before.isFile());
    QCOMPARE(after.size(), before.size());
#endif
}

void tst_VPrinterPrinter::exportWritesEachImage()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterSettings settings;
    settings.exportFolder = folder.path();
    Run run(settings);
    QString error;
    QVERIFY2(run.printer.start(&error), qPrintable(error));
    run.send(threeImages);
    QVERIFY(run.logged(QStringLiteral("export: 3 images")));

    const QImage first(folder.filePath(QStringLiteral("nv-1.png")));
    QCOMPARE(first.size(), QSize(24, 16));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x)
            QCOMPARE(black(first, x, y), HandMade::pattern(x, y));
    }
    QCOMPARE(QImage(folder.filePath(QStringLiteral("nv-3.png"))).size(), QSize(16, 32));

    // Fewer images: the PNG of an image that no longer exists goes too.
    run.send(HandMade::defineImages({HandMade::record(1, 1, HandMade::pattern)}));
    QVERIFY(QFile::exists(folder.filePath(QStringLiteral("nv-1.png"))));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("nv-2.png"))));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("nv-3.png"))));
    QCOMPARE(QImage(folder.filePath(QStringLiteral("nv-1.png"))).size(), QSize(8, 8));
}

void tst_VPrinterPrinter::stripNumbersContinue()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile earlier(folder.filePath(QStringLiteral("strip-0007.png")));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("keep me");
    earlier.close();

    PrinterSettings settings;
    settings.outFolder = folder.path();
    Run run(settings);
    QString error;
    QVERIFY2(run.printer.start(&error), qPrintable(error));
    run.send(threeImages + HandMade::printImage(1, 0) + HandMade::cutB());
    QVERIFY(run.log.contains(QStringLiteral("GS V: partial cut (feed 0) -> strip-0008.png")));
    const QImage written(folder.filePath(QStringLiteral("strip-0008.png")));
    QCOMPARE(written.size(), QSize(576, 16));
    QVERIFY(black(written, 0, 0));
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("keep me"));
}

void tst_VPrinterPrinter::unwritableFolder()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile blocker(folder.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    for (const bool state : {false, true}) {
        PrinterSettings settings;
        (state ? settings.stateFolder : settings.outFolder)
                = blocker.fileName() + QStringLiteral("/sub");
        ReceiptPrinter printer(settings);
        QString error;
        QVERIFY(!printer.start(&error));
        QVERIFY2(error.contains(QLatin1String("cannot create the folder")), qPrintable(error));
    }
}

void tst_VPrinterPrinter::statusReplies_data()
{
    QTest::addColumn<int>("paper");
    QTest::addColumn<bool>("coverOpen");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("replies"); // to DLE EOT 1, 2, 3 and 4

    auto row = [](const char *name,
                  PaperState paper,
                  bool cover,
                  PrinterError error,
                  std::initializer_list<int> replies) {
        QTest::newRow(name) << int(paper) << cover << int(error) << HandMade::bytes(replies);
    };
    using E = PrinterError;
    row("ready", PaperState::Ok, false, E::None, {0x12, 0x12, 0x12, 0x12});
    row("paper near end", PaperState::NearEnd, false, E::None, {0x12, 0x12, 0x12, 0x1E});
    row("paper end", PaperState::End, false, E::None, {0x1A, 0x32, 0x12, 0x7E});
    row("cover open", PaperState::Ok, true, E::None, {0x1A, 0x16, 0x12, 0x12});
    row("mechanical", PaperState::Ok, false, E::Mechanical, {0x1A, 0x52, 0x16, 0x12});
    row("autocutter", PaperState::Ok, false, E::Autocutter, {0x1A, 0x52, 0x1A, 0x12});
    row("unrecoverable", PaperState::Ok, false, E::Unrecoverable, {0x1A, 0x52, 0x32, 0x12});
    row("auto-recoverable",
        PaperState::NearEnd,
        false,
        E::AutoRecoverable,
        {0x1A, 0x52, 0x52, 0x1E});
}

void tst_VPrinterPrinter::statusReplies()
{
    QFETCH(int, paper);
    QFETCH(bool, coverOpen);
    QFETCH(int, error);
    QFETCH(QByteArray, replies);

    PrinterSettings settings;
    settings.paper = PaperState(paper);
    settings.coverOpen = coverOpen;
    settings.error = PrinterError(error);
    Run run(settings);
    run.send(HandMade::bytes(
            {0x10, 0x04, 1, 0x10, 0x04, 2, 0x10, 0x04, 3, 0x10, 0x04, 4, 0x10, 0x04, 5}));
    QCOMPARE(run.replies.toHex(' '), replies.toHex(' '));
    for (const char reply : std::as_const(run.replies))
        QCOMPARE(uchar(reply) & 0x93, 0x12);
    QVERIFY(run.log.contains(QStringLiteral("DLE EOT 5: undefined status request, no reply")));

    // Without a back channel nothing at all goes back.
    settings.replies = false;
    Run mute(settings);
    mute.send(HandMade::bytes({0x10, 0x04, 1, 0x1D, 'I', 67}));
    QCOMPARE(mute.replies, QByteArray());
    QVERIFY(mute.logged(QStringLiteral("no back channel")));
}

void tst_VPrinterPrinter::identityAndCompletion_data()
{
    QTest::addColumn<int>("paper");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("strips");

    const QByteArray request = HandMade::bytes({0x1D, '(', 'H', 6, 0, '0', '0'});
    const QByteArray receipt = "Receipt\n" + request + "ab12" + HandMade::cutB();
    QTest::newRow("ID bytes") << int(PaperState::Ok)
                              << HandMade::bytes(
                                         {0x1D, 'I', 1, 0x1D, 'I', 50, 0x1D, 'I', 3, 0x1D, 'I', 4})
                              << HandMade::bytes({0x20, 0x02, 0x01}) << 0;
    QTest::newRow("ID texts") << int(PaperState::Ok)
                              << HandMade::bytes({0x1D, 'I', 65, 0x1D, 'I', 67, 0x1D, 'I', 70})
                              << QByteArray("\x5f"
                                            "1.0\0\x5f"
                                            "nvlogo-printer\0",
                                            21)
                              << 0;
    QTest::newRow("printed, confirmed") << int(PaperState::Ok) << receipt
                                        << QByteArray("\x37\x22"
                                                      "ab12\0",
                                                      7)
                                        << 1;
    QTest::newRow("near end still prints") << int(PaperState::NearEnd) << receipt
                                           << QByteArray("\x37\x22"
                                                         "ab12\0",
                                                         7)
                                           << 1;
    QTest::newRow("paper end: not printed, not confirmed")
            << int(PaperState::End) << receipt << QByteArray() << 0;
    QTest::newRow("bad process ID")
            << int(PaperState::Ok) << request + HandMade::bytes({'a', 'b', 0x1F, 'c'})
            << QByteArray() << 0;
}

void tst_VPrinterPrinter::identityAndCompletion()
{
    QFETCH(int, paper);
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, replies);
    QFETCH(int, strips);

    PrinterSettings settings;
    settings.paper = PaperState(paper);
    Run run(settings);
    run.send(stream);
    QCOMPARE(run.replies.toHex(' '), replies.toHex(' '));
    QCOMPARE(run.strips.size(), strips);
    if (stream.startsWith("Receipt")) {
        // The answer comes after the text has printed and before the cut.
        const auto index = [&run](const char *part) {
            for (int i = 0; i < run.log.size(); ++i) {
                if (run.log.at(i).contains(QLatin1String(part)))
                    return i;
            }
            return -1;
        };
        const int text = index("text: \"Receipt\"");
        const int answer = index("GS ( H: process ID \"ab12\"");
        QVERIFY2(text >= 0 && answer > text && index("GS V") > answer,
                 qPrintable(run.log.join(QLatin1Char('\n'))));
        if (strips == 0)
            QVERIFY(run.logged(QStringLiteral("nothing printed, out of paper")));
    }
}

void tst_VPrinterPrinter::resetIsSilent()
{
    PrinterSettings settings;
    settings.resetMs = 1000;
    Run run(settings);
    qint64 now = 5000;
    run.printer.clock = [&now] {
        return now;
    };
    int resets = 0;
    run.printer.onReset = [&resets](int ms) {
        QCOMPARE(ms, 1000);
        ++resets;
    };
    const QByteArray status = HandMade::bytes({0x10, 0x04, 1});

    // What comes with the definition, after it, is dropped as well as what comes later.
    run.printer.receive(HandMade::defineImages({HandMade::record(1, 1, HandMade::pattern)}) + status
                        + "Lost\n");
    QCOMPARE(resets, 1);
    now += 999;
    run.printer.receive(status);
    QCOMPARE(run.replies, QByteArray());
    QVERIFY(!run.logged(QStringLiteral("Lost")));
    now += 1;
    run.printer.receive(status);
    QCOMPARE(run.replies, QByteArray("\x12"));
    QVERIFY(run.logged(QStringLiteral("reset: over, ready again (11 bytes that came during it "
                                      "were dropped)")));
    QCOMPARE(run.printer.store().count(), 1);
}

namespace {

QByteArray digits(const char *head, qint64 number)
{
    return QByteArray(head) + QByteArray::number(number) + '\0';
}

const QByteArray listKeys = HandMade::graphics(0x40, "KC");

bool odd(int x, int y)
{
    return (x * 5 + y * 3) % 7 < 3 || x == 12;
}

} // namespace

void tst_VPrinterPrinter::nvGraphics()
{
    Run run;
    run.send(threeImages + HandMade::defineGraphic("A1", 13, 10, odd)
             + HandMade::defineGraphic("B/", 20, 3, HandMade::pattern, true)
             + HandMade::graphics(0x30) + HandMade::graphics(0x33) + listKeys);
    QVERIFY(run.logged(QStringLiteral("NV graphics: defined A1 13x10, 20 bytes; FS q images "
                                      "erased")));
    QCOMPARE(run.printer.store().count(), 0);
    const qint64 free = DefaultGraphicsCapacity - (20 + 24) - (9 + 24);
    QCOMPARE(run.replies,
             digits("\x37\x30", DefaultGraphicsCapacity) + digits("\x37\x31", free)
                     + QByteArray("\x37\x72\x40"
                                  "A1B/\0",
                                  8));

    // Each dot at the scale, nothing else; the bits past the width stay white.
    run.send(HandMade::graphics(0x45, HandMade::bytes({'A', '1', 2, 1}))
             + HandMade::graphics(0x45, HandMade::bytes({'B', '/', 1, 2})) + HandMade::cutB());
    QCOMPARE(run.strips.size(), 1);
    const QImage strip = run.strips.first();
    QCOMPARE(strip.height(), 10 + 6);
    for (int y = 0; y < strip.height(); ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool expected = y < 10 ? x < 26 && odd(x / 2, y)
                                         : x < 20 && HandMade::pattern(x, (y - 10) / 2);
            QVERIFY2(black(strip, x, y) == expected,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
        }
    }

    run.replies.clear();
    run.send(HandMade::graphics(0x42, "B/") + listKeys + HandMade::graphics(0x41, "CLR") + listKeys
             + HandMade::graphics(0x33));
    QCOMPARE(run.replies,
             QByteArray("\x37\x72\x40"
                        "A1\0"
                        "\x37\x72\x40\0",
                        10)
                     + digits("\x37\x31", DefaultGraphicsCapacity));
}

void tst_VPrinterPrinter::refusedDefineStoresNothing_data()
{
    QTest::addColumn<QByteArray>("define");
    QTest::addColumn<QString>("why");

    const auto all = [](int, int) {
        return true;
    };
    QTest::newRow("does not fit") << HandMade::defineGraphic("Z9", 80, 100, all)
                                  << "Z9 80x100 needs 1024 bytes, 999 free";
    QTest::newRow("key byte") << HandMade::defineGraphic(QByteArray("\x1f"
                                                                    "A"),
                                                         8,
                                                         1,
                                                         all)
                              << "the key 1f 41";
    QTest::newRow("no width") << HandMade::defineGraphic("Z9", 0, 1, all) << "Z9: 0x1 dots";
    QTest::newRow("too tall") << HandMade::defineGraphic("Z9", 1, 2305, all) << "Z9: 1x2305 dots";
    QTest::newRow("data short") << HandMade::defineGraphic("Z9", 16, 2, all)
                                           .chopped(1)
                                           .replace(3, 1, QByteArray(1, char(14)))
                                << "Z9: 3 data bytes where 16x2 dots take 4";
}

void tst_VPrinterPrinter::refusedDefineStoresNothing()
{
    QFETCH(QByteArray, define);
    QFETCH(QString, why);

    PrinterSettings settings;
    settings.graphicsCapacity = 1024;
    Run run(settings);
    // One graphic takes 1 + 24 bytes; the images defined after it stay.
    run.send(HandMade::defineGraphic("A1", 8, 1, HandMade::pattern) + threeImages);
    QCOMPARE(run.printer.store().count(), 3);
    run.send(define + listKeys);
    QVERIFY2(run.logged(QStringLiteral("define refused, ") + why),
             qPrintable(run.log.join(QLatin1Char('\n'))));
    QCOMPARE(run.printer.store().graphics().keys(), QList<QByteArray>{"A1"});
    QCOMPARE(run.printer.store().count(), 3);
    QCOMPARE(run.replies,
             QByteArray("\x37\x72\x40"
                        "A1\0",
                        6));
}

void tst_VPrinterPrinter::keyListHandshake_data()
{
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<QList<int>>("blocks"); // the blocks sent, by number
    QTest::addColumn<QString>("logged");

    QTest::newRow("ACK, NAK, ACK") << QByteArray("\x06\x15\x06") << QList<int>{0, 1, 1, 2}
                                   << "key list block 3, 5 keys, sent";
    QTest::newRow("CAN") << QByteArray("\x18") << QList<int>{0} << "cancelled by the host";
    QTest::newRow("other byte") << QByteArray("A") << QList<int>{0} << "0x41 came instead";
    QTest::newRow("no answer") << QByteArray() << QList<int>{0} << "no ACK, NAK or CAN came";
}

void tst_VPrinterPrinter::keyListHandshake()
{
    QFETCH(QByteArray, answers);
    QFETCH(QList<int>, blocks);
    QFETCH(QString, logged);

    Run run;
    qint64 now = 0;
    run.printer.clock = [&now] {
        return now;
    };
    QByteArray defines;
    QList<QByteArray> keys;
    for (int i = 0; i < 85; ++i) {
        const QByteArray key = QByteArray(1, char(0x20 + i % 95)) + char(0x7E - i / 3);
        keys << key;
        defines += HandMade::defineGraphic(key, 8, 1, HandMade::pattern);
    }
    std::sort(keys.begin(), keys.end());
    run.printer.receive(defines);
    // The answers come with the request, in one piece: the printer takes them in turn.
    run.printer.receive(listKeys + answers
                        + (answers.isEmpty() ? QByteArray() : HandMade::bytes({0x10, 0x04, 1})));
    now += KeyListHandshakeMs;
    run.printer.poll();

    QByteArray expected;
    for (const int block : blocks) {
        expected += QByteArray("\x37\x72") + (block < 2 ? '\x41' : '\x40');
        for (int k = block * 40; k < std::min<int>(85, block * 40 + 40); ++k)
            expected += keys.at(k);
        expected += '\0';
    }
    // A status request after the answers is answered.
    if (!answers.isEmpty())
        expected += '\x12';
    QCOMPARE(run.replies.toHex(' '), expected.toHex(' '));
    QVERIFY2(run.logged(logged), qPrintable(run.log.join(QLatin1Char('\n'))));
}

void tst_VPrinterPrinter::graphicsSurviveRestart()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterSettings settings;
    settings.stateFolder = folder.filePath(QStringLiteral("state"));
    settings.exportFolder = folder.filePath(QStringLiteral("export"));
    QMap<QByteArray, NvGraphic> defined;
    {
        Run first(settings);
        QString error;
        QVERIFY2(first.printer.start(&error), qPrintable(error));
        first.send(HandMade::defineGraphic("A1", 13, 10, odd)
                   + HandMade::defineGraphic("B/", 20, 3, HandMade::pattern, true));
        defined = first.printer.store().graphics();
    }
    const QImage exported(QDir(settings.exportFolder).filePath(QStringLiteral("graphic-B%2F.png")));
    QCOMPARE(exported.size(), QSize(20, 3));
    QVERIFY(black(exported, 0, 0) == HandMade::pattern(0, 0)
            && black(exported, 19, 2) == HandMade::pattern(19, 2));

    Run second(settings);
    QString error;
    QVERIFY2(second.printer.start(&error), qPrintable(error));
    QCOMPARE(second.printer.store().graphics().keys(), (QList<QByteArray>{"A1", "B/"}));
    QVERIFY(second.printer.store().graphics() == defined);

    // A damaged graphics file stops the printer and is left as it is.
    QFile file(QDir(settings.stateFolder).filePath(NvStore::graphicsFileName()));
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.resize(file.size() - 1);
    file.close();
    Run third(settings);
    QVERIFY(!third.printer.start(&error));
    QVERIFY2(error.contains(QLatin1String("is damaged (it is cut short)")), qPrintable(error));
}

void tst_VPrinterPrinter::longPaperIsWrittenWithoutCut()
{
    PrinterSettings settings;
    settings.maxStripLength = 100;
    Run run(settings);
    run.send("1\n2\n3\n4\n5\n" + HandMade::bytes({0x1B, 'J', 200}) + HandMade::bytes({0x1B, 'i'}));
    QCOMPARE(run.strips.size(), 2);
    QCOMPARE(run.strips[0].height(), 90);
    QVERIFY(run.logged(QStringLiteral("paper: 90 dots without a cut -> strip-0001.png")));
    // Lines 4 and 5, then a feed longer than what one strip may hold.
    QCOMPARE(run.strips[1].height(), 60);
    QVERIFY(run.logged(QStringLiteral("ESC i: partial cut")));

    // Blank paper fed beyond the limit before anything is printed: the strip still keeps to
    // it (found by the fuzzer).
    run.send(HandMade::bytes({0x1B, 'd', 231}) + "x\n" + HandMade::bytes({0x1D, 'V', 0}));
    QCOMPARE(run.strips.size(), 3);
    QCOMPARE(run.strips[2].height(), 100);
}

namespace {

// The picture every image command prints below: irregular, so that a mirrored, shifted or
// transposed image shows.
bool picture(int x, int y)
{
    return HandMade::pattern(x, y) != (x == 3 && y == 1);
}

// GS ( L pL pH (or GS 8 L p1 p2 p3 p4) m fn and the rest.
QByteArray graphicsBlock(const QByteArray &body, bool longForm = false)
{
    const int size = int(body.size());
    if (longForm)
        return HandMade::bytes({0x1D, '8', 'L', size % 256, size / 256, 0, 0}) + body;
    return HandMade::bytes({0x1D, '(', 'L', size % 256, size / 256}) + body;
}

// fn 112 (rows) or 113 (columns) of a 16-dot-wide picture, then fn 50.
QByteArray printBuffer(int function, int height, int scaleX, int scaleY, bool longForm = false)
{
    const QByteArray data = function == 112 ? HandMade::rows(16, height, picture)
                                            : HandMade::columns(2, (height + 7) / 8, picture);
    return graphicsBlock(
                   HandMade::bytes({'0', function, '0', scaleX, scaleY, '1', 16, 0, height, 0})
                           + data,
                   longForm)
           + graphicsBlock("02");
}

} // namespace

void tst_VPrinterPrinter::imageCommands_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("height"); // of the picture, in its own dots
    QTest::addColumn<int>("scaleX");
    QTest::addColumn<int>("scaleY");
    QTest::addColumn<QString>("logLine");

    const auto raster = [](int mode) {
        return HandMade::bytes({0x1D, 'v', '0', mode, 2, 0, 8, 0}) + HandMade::rows(16, 8, picture);
    };
    // ESC * with the line spacing at 0: the line is as high as the image.
    const auto bitImage = [](int mode) {
        const int bytes = mode < 32 ? 1 : 3;
        return HandMade::bytes({0x1B, '3', 0, 0x1B, '*', mode, 16, 0})
               + HandMade::columns(2, bytes, picture) + "\n";
    };
    QTest::newRow("GS v 0, normal")
            << raster(0) << 8 << 1 << 1 << "GS v 0: raster image 16x8 dots, normal";
    QTest::newRow("GS v 0, double width") << raster(1) << 8 << 2 << 1 << "double width";
    QTest::newRow("GS v 0, double height") << raster('2') << 8 << 1 << 2 << "double height";
    QTest::newRow("GS v 0, quadruple") << raster(51) << 8 << 2 << 2 << "quadruple";
    QTest::newRow("ESC * 0, 8-dot single") << bitImage(0) << 8 << 2 << 3 << "line: a bit image";
    QTest::newRow("ESC * 1, 8-dot double") << bitImage(1) << 8 << 1 << 3 << "line: a bit image";
    QTest::newRow("ESC * 32, 24-dot single") << bitImage(32) << 24 << 2 << 1 << "line: a bit image";
    QTest::newRow("ESC * 33, 24-dot double") << bitImage(33) << 24 << 1 << 1 << "line: a bit image";
    QTest::newRow("GS ( L fn 112, fn 50") << printBuffer(112, 5, 1, 1) << 5 << 1 << 1
                                          << "GS ( L fn 50: print buffer graphics 16x5, scale 1x1";
    QTest::newRow("GS 8 L fn 112 scaled, fn 50")
            << printBuffer(112, 5, 2, 2, true) << 5 << 2 << 2 << "scale 2x2";
    QTest::newRow("GS ( L fn 113, fn 50") << printBuffer(113, 16, 2, 1) << 16 << 2 << 1
                                          << "GS ( L fn 50: print buffer graphics 16x16";
}

// Each image command prints the picture dot for dot at its scale, at the left of the paper,
// and nothing else.
void tst_VPrinterPrinter::imageCommands()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, height);
    QFETCH(int, scaleX);
    QFETCH(int, scaleY);
    QFETCH(QString, logLine);

    Run run;
    run.send(stream + HandMade::bytes({0x1D, 'V', 0}));
    QVERIFY2(run.logged(logLine), qPrintable(run.log.join(QLatin1Char('\n'))));
    QCOMPARE(run.strips.size(), 1);
    const QImage strip = run.strips.first();
    QCOMPARE(strip.height(), height * scaleY);
    for (int y = 0; y < strip.height(); ++y) {
        for (int x = 0; x < strip.width(); ++x) {
            const bool expected = x < 16 * scaleX && picture(x / scaleX, y / scaleY);
            if (black(strip, x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("dot %1,%2 is wrong").arg(x).arg(y)));
        }
    }
}

void tst_VPrinterPrinter::statusBack_data()
{
    QTest::addColumn<int>("paper");
    QTest::addColumn<bool>("coverOpen");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("replies"); // the block for GS a 255, then GS r 1 and GS r 2

    auto row = [](const char *name,
                  PaperState paper,
                  bool cover,
                  PrinterError error,
                  std::initializer_list<int> replies) {
        QTest::newRow(name) << int(paper) << cover << int(error) << HandMade::bytes(replies);
    };
    using E = PrinterError;
    row("ready", PaperState::Ok, false, E::None, {0x10, 0, 0, 0, 0x00, 0x00});
    row("paper near end", PaperState::NearEnd, false, E::None, {0x10, 0, 0x03, 0, 0x03, 0x00});
    row("paper end", PaperState::End, false, E::None, {0x18, 0, 0x0F, 0, 0x0F, 0x00});
    row("cover open", PaperState::Ok, true, E::None, {0x38, 0, 0, 0, 0x00, 0x00});
    row("mechanical", PaperState::Ok, false, E::Mechanical, {0x18, 0x04, 0, 0, 0x00, 0x00});
    row("autocutter", PaperState::Ok, false, E::Autocutter, {0x18, 0x08, 0, 0, 0x00, 0x00});
    row("unrecoverable", PaperState::Ok, false, E::Unrecoverable, {0x18, 0x20, 0, 0, 0x00, 0x00});
    row("auto-recoverable",
        PaperState::NearEnd,
        false,
        E::AutoRecoverable,
        {0x18, 0x40, 0x03, 0, 0x03, 0x00});
}

// GS a sends the block at once; GS r answers in every state, the paper end included.
void tst_VPrinterPrinter::statusBack()
{
    QFETCH(int, paper);
    QFETCH(bool, coverOpen);
    QFETCH(int, error);
    QFETCH(QByteArray, replies);

    PrinterSettings settings;
    settings.paper = PaperState(paper);
    settings.coverOpen = coverOpen;
    settings.error = PrinterError(error);
    Run run(settings);
    run.send(HandMade::bytes({0x1D, 'a', 0xFF, 0x1D, 'r', 1, 0x1D, 'r', '2', 0x1D, 'r', 3}));
    QCOMPARE(run.replies.toHex(' '), replies.toHex(' '));
    // The layouts every reader checks: 0xx1xx00 first, then bits 4 and 7 clear.
    QCOMPARE(uchar(run.replies.at(0)) & 0x93, 0x10);
    for (int i = 1; i < run.replies.size(); ++i)
        QCOMPARE(uchar(run.replies.at(i)) & 0x90, 0);
    QVERIFY(run.logged(QStringLiteral("GS r 3: undefined status, no reply")));
}

void tst_VPrinterPrinter::statusBackOnChange_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<int>("paper");
    QTest::addColumn<bool>("coverOpen");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("block"); // sent on the change; empty for none

    const auto asb = [](int n) {
        return HandMade::bytes({0x1D, 'a', n});
    };
    using E = PrinterError;
    const int ok = int(PaperState::Ok);
    QTest::newRow("online: cover opens")
            << asb(2) << ok << true << int(E::None) << HandMade::bytes({0x38, 0, 0, 0});
    QTest::newRow("online: paper end takes it offline")
            << asb(2) << int(PaperState::End) << false << int(E::None)
            << HandMade::bytes({0x18, 0, 0x0F, 0});
    QTest::newRow("online: near end is no change")
            << asb(2) << int(PaperState::NearEnd) << false << int(E::None) << QByteArray();
    QTest::newRow("paper: near end") << asb(8) << int(PaperState::NearEnd) << false << int(E::None)
                                     << HandMade::bytes({0x10, 0, 0x03, 0});
    QTest::newRow("error: autocutter")
            << asb(4) << ok << false << int(E::Autocutter) << HandMade::bytes({0x18, 0x08, 0, 0});
    QTest::newRow("error: cover is not covered")
            << asb(4) << ok << true << int(E::None) << QByteArray();
    QTest::newRow("drawer only") << asb(1) << int(PaperState::End) << true << int(E::None)
                                 << QByteArray();
    QTest::newRow("GS a 0") << asb(0) << ok << true << int(E::None) << QByteArray();
    QTest::newRow("ESC @ switches it off")
            << asb(0xFF) + HandMade::initialize() << ok << true << int(E::None) << QByteArray();
}

void tst_VPrinterPrinter::statusBackOnChange()
{
    QFETCH(QByteArray, setup);
    QFETCH(int, paper);
    QFETCH(bool, coverOpen);
    QFETCH(int, error);
    QFETCH(QByteArray, block);

    Run run;
    run.printer.receive(setup);
    run.replies.clear();
    run.printer.setCondition(PaperState(paper), coverOpen, PrinterError(error));
    QCOMPARE(run.replies.toHex(' '), block.toHex(' '));
    // And back: the same items change again.
    run.replies.clear();
    run.printer.setCondition(PaperState::Ok, false, PrinterError::None);
    QCOMPARE(run.replies.isEmpty(), block.isEmpty());
}

void tst_VPrinterPrinter::barCodeAndQrCode()
{
    Run run;
    run.send(HandMade::bytes({0x1D, 'h', 40, 0x1D, 'w', 2, 0x1D, 'k', 73, 3, '{', 'B', 'x'})
             + HandMade::bytes({0x1D, '(', 'k', 3, 0, '1', 'C', 2})
             + HandMade::bytes({0x1D, '(', 'k', 8, 0, '1', 'P', '0'}) + "hello"
             + HandMade::bytes({0x1D, '(', 'k', 3, 0, '1', 'Q', '0', 0x1D, 'V', 0}));
    QVERIFY2(run.logged(QStringLiteral("GS k 73: bar code CODE128 \"{Bx\", drawn as a box 154x40")),
             qPrintable(run.log.join(QLatin1Char('\n'))));
    QCOMPARE(run.strips.size(), 1);
    const QImage strip = run.strips.first();
    // The box's border, and white inside it.
    QVERIFY(black(strip, 0, 0) && black(strip, 153, 39) && !black(strip, 154, 0));
    QVERIFY(!black(strip, 100, 30));
#ifdef NVLOGO_HAVE_QRENCODE
    QVERIFY(run.logged(
            QStringLiteral("GS ( k: QR code \"hello\", version 1, level L, 42x42 dots")));
    QCOMPARE(strip.height(), 40 + 42);
    // The finder pattern at the top left: a ring of 7 modules, a white ring, a 3-module core,
    // each module 2 dots.
    for (int m = 0; m < 7; ++m) {
        const bool ring = m == 0 || m == 6;
        for (int n = 0; n < 7; ++n) {
            const bool expected
                    = ring || n == 0 || n == 6 || (m >= 2 && m <= 4 && n >= 2 && n <= 4);
            QCOMPARE(black(strip, 2 * n, 40 + 2 * m), expected);
            QCOMPARE(black(strip, 2 * n + 1, 40 + 2 * m + 1), expected);
        }
    }
#else
    QVERIFY(run.logged(QStringLiteral("GS ( k: QR code \"hello\", drawn as a box")));
#endif
}

void tst_VPrinterPrinter::readableLog_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("a run passed over is one line")
            << HandMade::bytes({0x1B, 'p', 0, 25, 250, 0x1D, 'B', 1, 0x1C, 'C', 0, 0x1B, '!', 0})
            << QStringList{QStringLiteral("skipped: ESC p 0 25 250 (drawer kick-out pulse); "
                                          "GS B 1 (white/black reverse printing); "
                                          "FS C 0 (Kanji code system)"),
                           QStringLiteral("ESC ! 0x00: plain text")};
    QTest::newRow("stray bytes join the run")
            << HandMade::bytes({0x00, 0x07, 0x1B, 'z', 0x1D, 'B', 1, 0x1B, 'd', 1})
            << QStringList{QStringLiteral("skipped: 2 control bytes 0x00 0x07; unknown ESC 0x7a; "
                                          "GS B 1 (white/black reverse printing)"),
                           QStringLiteral("ESC d 1: feed 1 lines")};
    QTest::newRow("GS ( L functions by name")
            << graphicsBlock(HandMade::bytes({'0', 'S', 1, 2})) + graphicsBlock("0R")
                       + graphicsBlock(HandMade::bytes({'4', 'A'}))
            << QStringList{QStringLiteral("skipped: GS ( L (fn 83, define a download graphic, "
                                          "raster; 4 parameter bytes); GS ( L (fn 82, delete a "
                                          "download graphic; 2 parameter bytes); GS ( L (m = 52 "
                                          "fn 65, undefined; 2 parameter bytes)")};
}

void tst_VPrinterPrinter::readableLog()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, lines);

    Run run;
    run.send(stream);
    QCOMPARE(run.log, lines);
}

// A megabyte of random bytes: a few hundred lines at most, and the printer answers after it.
void tst_VPrinterPrinter::noiseIsSummarised()
{
    QRandomGenerator random(27);
    QByteArray noise(1024 * 1024, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    Run run;
    run.printer.clock = [] {
        return qint64(0);
    };
    run.send(noise);
    QVERIFY2(run.log.size() <= 300, qPrintable(QString::number(run.log.size())));
    QVERIFY(run.logged(QStringLiteral("noise: ")));
    run.replies.clear();
    run.send(HandMade::bytes({0x10, 0x04, 1}));
    QCOMPARE(run.replies, QByteArray("\x12"));
}

QTEST_MAIN(tst_VPrinterPrinter)
#include "tst_vprinterprinter.moc"

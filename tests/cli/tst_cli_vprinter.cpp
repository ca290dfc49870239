// nvlogo-cli against the virtual printer, both as separate programs: pictures go in with a
// download, come out printed in each size mode, and must match their source dot for dot.

#include <tests/nvimage/testpictures.h>
#include <tests/support/printerprocess.h>
#include <tests/support/slowpeer.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int PaperWidth = 576;

// Runs nvlogo-cli to its end; its exit status, with its output kept for failure messages.
int cli(const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(NVLOGO_CLI_PATH), arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        *output = QStringLiteral("nvlogo-cli did not finish");
        return -1;
    }
    *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A picture with colours on both sides of the threshold: blue decides, not brightness.
QImage stripes(int width, int height)
{
    QImage image(width, height, QImage::Format_Indexed8);
    image.setColorTable({qRgb(255, 255, 255),
                         qRgb(0, 0, 0),
                         qRgb(255, 0, 0),
                         qRgb(0, 0, 255),
                         qRgb(127, 127, 127),
                         qRgb(128, 128, 128)});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, uint((x / 3 + y / 2 + (x * y) % 5) % 6));
    return image;
}

// Compares a printed strip with the source picture: each source pixel prints as a block of
// scaleX by scaleY dots at the strip's left edge, black when its blue is below 128; the rest
// of the paper is white.
QString compareStrip(const QImage &strip, const QImage &source, int scaleX, int scaleY)
{
    if (strip.width() != PaperWidth)
        return QStringLiteral("strip is %1 dots wide").arg(strip.width());
    const int printedHeight = ((source.height() + 7) / 8 * 8) * scaleY;
    if (strip.height() < printedHeight)
        return QStringLiteral("strip is %1 dots high, needs %2")
                .arg(strip.height())
                .arg(printedHeight);
    for (int y = 0; y < strip.height(); ++y) {
        for (int x = 0; x < strip.width(); ++x) {
            const int sx = x / scaleX;
            const int sy = y / scaleY;
            const bool inside = sx < source.width() && sy < source.height();
            const bool expected = inside && qBlue(source.pixel(sx, sy)) < 128;
            const bool printed = qGray(strip.pixel(x, y)) < 128;
            if (printed != expected)
                return QStringLiteral("dot %1,%2 is %3")
                        .arg(x)
                        .arg(y)
                        .arg(printed ? "black" : "white");
        }
    }
    return {};
}

} // namespace

class tst_CliVirtualPrinter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void printsEachModeOverTcp_data();
    void printsEachModeOverTcp();
    void downloadsAndPrintsOverASerialLine();
    void fileNameBytesReachTheOpen();
    void terminationSignalStopsCleanly_data();
    void terminationSignalStopsCleanly();

private:
    QString waitForStrip(PrinterProcess &printer, int number);

    QTemporaryDir m_dir;
    QImage m_first;
    QImage m_second;
    QStringList m_pictures;
    std::unique_ptr<PrinterProcess> m_tcpPrinter;
    QString m_ip;
    int m_strips = 0;
};

void tst_CliVirtualPrinter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_first = stripes(45, 21).convertToFormat(QImage::Format_RGB32);
    m_second = stripes(37, 13);
    m_pictures = {
            TestPictures::savePicture(m_dir.filePath(QStringLiteral("first.bmp")), m_first, "bmp"),
            TestPictures::savePicture(
                    m_dir.filePath(QStringLiteral("second.gif")), m_second, "gif")};
    m_second = m_second.convertToFormat(QImage::Format_RGB32);

    m_tcpPrinter = std::make_unique<PrinterProcess>(QStringLiteral(NVLOGO_PRINTER_PATH),
                                                    m_dir.filePath(QStringLiteral("tcp")));
    m_tcpPrinter->start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    const auto listening
            = m_tcpPrinter->waitFor(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"));
    QVERIFY2(listening.hasMatch(), qPrintable(m_tcpPrinter->transcript()));
    m_ip = QStringLiteral("127.0.0.1:") + listening.captured(1);

    QString output;
    QCOMPARE(cli(QStringList{QStringLiteral("download"), QStringLiteral("--ip"), m_ip} + m_pictures,
                 &output),
             0);
    QVERIFY2(output.contains(QLatin1String("Wait until printer reset.")), qPrintable(output));
    QVERIFY2(m_tcpPrinter->waitFor(QStringLiteral("FS q: 2 images 48x24, 40x16")).hasMatch(),
             qPrintable(m_tcpPrinter->transcript()));
}

QString tst_CliVirtualPrinter::waitForStrip(PrinterProcess &printer, int number)
{
    const QString name = QStringLiteral("strip-%1.png").arg(number, 4, 10, QLatin1Char('0'));
    if (!printer.waitFor(QRegularExpression::escape(name)).hasMatch())
        return QString();
    return QDir(printer.out()).filePath(name);
}

void tst_CliVirtualPrinter::printsEachModeOverTcp_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("image");
    QTest::addColumn<int>("scaleX");
    QTest::addColumn<int>("scaleY");
    QTest::newRow("normal") << "normal" << 1 << 1 << 1;
    QTest::newRow("double width") << "double-width" << 2 << 2 << 1;
    QTest::newRow("double height") << "double-height" << 1 << 1 << 2;
    QTest::newRow("double") << "double" << 2 << 2 << 2;
}

void tst_CliVirtualPrinter::printsEachModeOverTcp()
{
    QFETCH(QString, mode);
    QFETCH(int, image);
    QFETCH(int, scaleX);
    QFETCH(int, scaleY);

    QString output;
    QCOMPARE(cli({QStringLiteral("print"),
                  QString::number(image),
                  QStringLiteral("--mode"),
                  mode,
                  QStringLiteral("--ip"),
                  m_ip},
                 &output),
             0);
    const QString strip = waitForStrip(*m_tcpPrinter, ++m_strips);
    QVERIFY2(!strip.isEmpty(), qPrintable(m_tcpPrinter->transcript()));
    const QString difference
            = compareStrip(QImage(strip), image == 1 ? m_first : m_second, scaleX, scaleY);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void tst_CliVirtualPrinter::downloadsAndPrintsOverASerialLine()
{
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH),
                           m_dir.filePath(QStringLiteral("serial")));
    printer.start({QStringLiteral("--serial")});
    const auto serial = printer.waitFor(QStringLiteral("\\(port text (COM:\\S+)\\)$"));
    QVERIFY2(serial.hasMatch(), qPrintable(printer.transcript()));
    const QStringList port = {QStringLiteral("--port"),
                              serial.captured(1),
                              QStringLiteral("--baud"),
                              QStringLiteral("115200")};

    QString output;
    QCOMPARE(cli(QStringList{QStringLiteral("download")} + port + m_pictures, &output), 0);
    QVERIFY2(output.contains(QLatin1String("Sending")), qPrintable(output));
    QCOMPARE(cli(QStringList{QStringLiteral("print"),
                             QStringLiteral("1"),
                             QStringLiteral("--mode"),
                             QStringLiteral("double")}
                         + port,
                 &output),
             0);
    const QString strip = waitForStrip(printer, 1);
    QVERIFY2(!strip.isEmpty(), qPrintable(printer.transcript()));
    const QString difference = compareStrip(QImage(strip), m_first, 2, 2);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void tst_CliVirtualPrinter::fileNameBytesReachTheOpen()
{
    // A Latin-1 name (caf\xe9.bmp) is no valid UTF-8; the tool must still open that very file.
    // The name is made and passed by the shell, since this test's own strings are UTF-8.
    QImage picture(16, 8, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QVERIFY(picture.save(m_dir.filePath(QStringLiteral("plain.bmp")), "BMP"));
    const QString script = QStringLiteral(
            "cp \"$1/plain.bmp\" \"$1/$(printf 'caf\\351.bmp')\" && "
            "exec \"$0\" stream \"$1/$(printf 'caf\\351.bmp')\" -o \"$1/latin1.bin\"");
    QProcess cli;
    cli.start(QStringLiteral("/bin/sh"),
              {QStringLiteral("-c"), script, QStringLiteral(NVLOGO_CLI_PATH), m_dir.path()});
    QVERIFY(cli.waitForFinished(30000));
    QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
    QFile written(m_dir.filePath(QStringLiteral("latin1.bin")));
    QVERIFY(written.open(QIODevice::ReadOnly));
    // ESC @ FS q 1, 2 x 1 units of 8 dots, sixteen black columns.
    QCOMPARE(written.readAll().toHex(), "1b401c710102000100" + QByteArray(16, '\xff').toHex());
}

void tst_CliVirtualPrinter::terminationSignalStopsCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void tst_CliVirtualPrinter::terminationSignalStopsCleanly()
{
    QFETCH(int, signal);
    // One bit a pixel: small on disk, 147 KB of stream for a printer that reads 20 KB/s.
    QImage mono(2048, 576, QImage::Format_Mono);
    mono.fill(1);
    const QString picture = QDir(m_dir.path()).filePath(QStringLiteral("slow.bmp"));
    QVERIFY(mono.save(picture, "BMP"));
    QTemporaryDir scratch;
    SlowPeer printer(1024, 50);
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), scratch.path());
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(NVLOGO_CLI_PATH),
              {QStringLiteral("download"),
               QStringLiteral("--ip"),
               QStringLiteral("127.0.0.1:%1").arg(printer.port()),
               picture});
    QVERIFY(cli.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(printer.received() > 0, 30000);
    ::kill(pid_t(cli.processId()), signal);
    QVERIFY(cli.waitForFinished(30000));
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(err.contains(QLatin1String("Stopped after")), qPrintable(err));
    QVERIFY2(!err.contains(QLatin1String("Wait until printer reset.")), qPrintable(err));
    QCOMPARE(QDir(scratch.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

QTEST_GUILESS_MAIN(tst_CliVirtualPrinter)
#include "tst_cli_vprinter.moc"

// The nvlogo-printer program end to end: streams built here go in over TCP, a pseudo-terminal
// or a file, and the PNGs it writes are checked dot by dot.
#include "handmade.h"
#include <tests/support/printerprocess.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int StartTimeoutMs = 20000;
constexpr int WaitTimeoutMs = 20000;

bool black(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y)) < 128;
}

// An image whose data bytes are 0 to 255, so that every byte value must arrive unchanged.
QByteArray everyByteRecord()
{
    QByteArray data;
    for (int value = 0; value < 256; ++value)
        data.append(char(value));
    return HandMade::record(1, 32, data);
}

bool everyByteDot(int column, int row)
{
    const int value = column * 32 + row / 8;
    return value & (0x80 >> (row % 8));
}

} // namespace

class tst_NvlogoPrinter : public QObject
{
    Q_OBJECT

private slots:
    void tcp();
    void silentConnectionIsClosed();
    void serial();
    void inputFileAndExport();
    void resetDropsTheConnection();
    void pathsKeepTheirBytes();
    void graphicsKeyListOverTcp();
    void halfClosedClients_data();
    void halfClosedClients();
    void fullDisk();
    void conditionFromStandardInput();
    void announceWithoutDaemon();
    void announceInNamespace();
    void badOptions_data();
    void badOptions();
};

void tst_NvlogoPrinter::tcp()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    printer.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    const auto listening = printer.waitFor(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"), 1, StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    const auto port = quint16(listening.captured(1).toUInt());
    QVERIFY(port != 0);

    // The download: ESC @ and two images; then a print-out in double mode.
    const QByteArray download
            = HandMade::initialize()
              + HandMade::defineImages({HandMade::record(2, 1, [](int, int) { return true; }),
                                        HandMade::record(3, 2, HandMade::pattern)});
    int connections = 0;
    for (const QByteArray &stream : {download, HandMade::printImage(2, 3) + HandMade::cutB(0)}) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(WaitTimeoutMs));
        socket.write(stream);
        QVERIFY(socket.waitForBytesWritten(WaitTimeoutMs));
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState)
            QVERIFY(socket.waitForDisconnected(WaitTimeoutMs));
        QVERIFY2(
                printer.waitFor(QStringLiteral("^nvlogo-printer: connection closed"), ++connections)
                        .hasMatch(),
                qPrintable(printer.transcript()));
    }
    QVERIFY2(printer.waitFor(QStringLiteral("^GS V: partial cut \\(feed 0\\) -> strip-0001\\.png$"))
                     .hasMatch(),
             qPrintable(printer.transcript()));

    const QImage strip(QDir(printer.out()).filePath(QStringLiteral("strip-0001.png")));
    QCOMPARE(strip.size(), QSize(576, 32));
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 576; ++x)
            QCOMPARE(black(strip, x, y), x < 48 && HandMade::pattern(x / 2, y / 2));
    }

    // A status request is answered on the same connection.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(WaitTimeoutMs));
    socket.write(HandMade::bytes({0x10, 0x04, 1}));
    QVERIFY(socket.waitForReadyRead(WaitTimeoutMs));
    QCOMPARE(socket.readAll(), QByteArray("\x12"));
    socket.abort();

    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));
    QVERIFY(QFile::exists(QDir(printer.state()).filePath(QStringLiteral("nv-images.bin"))));
}

void tst_NvlogoPrinter::silentConnectionIsClosed()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    printer.start({QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--idle-timeout"),
                   QStringLiteral("1")});
    const auto listening = printer.waitFor(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"), 1, StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    const auto port = quint16(listening.captured(1).toUInt());

    // A sender that stops in the middle of a definition and keeps the connection open...
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(silent.waitForConnected(WaitTimeoutMs));
    silent.write(HandMade::bytes({0x1C, 'q', 1, 2, 0}));
    QVERIFY(silent.waitForBytesWritten(WaitTimeoutMs));
    QVERIFY2(printer.waitFor(QStringLiteral("^nvlogo-printer: connection from")).hasMatch(),
             qPrintable(printer.transcript()));
    // ...and one that waits for its turn meanwhile.
    QTcpSocket next;
    next.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(next.waitForConnected(WaitTimeoutMs));
    next.write("Queued\n" + HandMade::bytes({0x1D, 'V', 0}));
    QVERIFY(next.waitForBytesWritten(WaitTimeoutMs));
    next.disconnectFromHost();

    QVERIFY2(printer.waitFor(QStringLiteral("^GS V: full cut -> strip-0001\\.png$")).hasMatch(),
             qPrintable(printer.transcript()));
    const QString transcript = printer.transcript();
    const qsizetype truncated = transcript.indexOf(
            QLatin1String("truncated: FS q: header of image 1 of 1, 2 of 4 bytes"));
    const qsizetype closed = transcript.indexOf(
            QLatin1String("connection closed after 1 s without data (5 bytes)"));
    const qsizetype queued = transcript.indexOf(QLatin1String("text: \"Queued\""));
    QVERIFY2(truncated >= 0 && closed > truncated && queued > closed, qPrintable(transcript));
    if (silent.state() != QAbstractSocket::UnconnectedState)
        QVERIFY(silent.waitForDisconnected(WaitTimeoutMs));
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));
}

void tst_NvlogoPrinter::serial()
{
#ifndef Q_OS_UNIX
    QSKIP("pseudo-terminals exist on Unix only");
#else
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    printer.start({QStringLiteral("--serial")});
    const auto announced = printer.waitFor(
            QStringLiteral("serial port (/dev/\\S+) \\(port text COM:(/dev/\\S+)\\)$"),
            1,
            StartTimeoutMs);
    QVERIFY2(announced.hasMatch(), qPrintable(printer.transcript()));
    QCOMPARE(announced.captured(2), announced.captured(1));
    const QByteArray slave = announced.captured(1).toLocal8Bit();

    // Two separate opens of the slave, as two commands of the program would do.
    const QByteArray streams[] = {
            HandMade::initialize() + HandMade::defineImages({everyByteRecord()}),
            HandMade::printImage(1, 0) + HandMade::cutB(0),
    };
    int sessions = 0;
    for (const QByteArray &stream : streams) {
        const int fd = ::open(slave.constData(), O_RDWR | O_NOCTTY);
        QVERIFY2(fd >= 0, slave.constData());
        QCOMPARE(::write(fd, stream.constData(), size_t(stream.size())), ssize_t(stream.size()));
        ::close(fd);
        QVERIFY2(printer.waitFor(QStringLiteral("serial port closed by the sender"), ++sessions)
                         .hasMatch(),
                 qPrintable(printer.transcript()));
    }
    QVERIFY2(printer.waitFor(QStringLiteral("-> strip-0001\\.png$")).hasMatch(),
             qPrintable(printer.transcript()));
    QVERIFY(printer.transcript().contains(QLatin1String("FS q: 1 image 8x256")));

    const QImage strip(QDir(printer.out()).filePath(QStringLiteral("strip-0001.png")));
    QCOMPARE(strip.size(), QSize(576, 256));
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 9; ++x)
            QCOMPARE(black(strip, x, y), x < 8 && everyByteDot(x, y));
    }
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));
#endif
}

void tst_NvlogoPrinter::inputFileAndExport()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString input = folder.filePath(QStringLiteral("captured.bin"));
    QFile file(input);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(HandMade::initialize()
               + HandMade::defineImages({HandMade::record(3, 2, HandMade::pattern),
                                         HandMade::record(1, 1, [](int, int) { return true; })})
               + "Receipt\n"
               + HandMade::defineImages({HandMade::record(1, 1, HandMade::pattern)}).chopped(3));
    file.close();

    {
        PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
        printer.start({QStringLiteral("--input"), input});
        QVERIFY2(printer.waitFor(QStringLiteral("^truncated: FS q: image 1 of 1")).hasMatch(),
                 qPrintable(printer.transcript()));
        QVERIFY2(printer.waitFor(QStringLiteral(
                                         "^paper: torn off without a cut -> strip-0001\\.png$"))
                         .hasMatch(),
                 qPrintable(printer.transcript()));
        QVERIFY(printer.waitFor(QStringLiteral("captured\\.bin: \\d+ bytes processed")).hasMatch());
        QVERIFY(QImage(QDir(printer.out()).filePath(QStringLiteral("strip-0001.png"))).height()
                == 30);
    }

    PrinterProcess exporter(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    const QString exportFolder = folder.filePath(QStringLiteral("export"));
    exporter.start({QStringLiteral("--export"), exportFolder});
    QVERIFY2(exporter.waitFor(QStringLiteral("exported 2 NV images")).hasMatch(),
             qPrintable(exporter.transcript()));
    const QImage first(QDir(exportFolder).filePath(QStringLiteral("nv-1.png")));
    QCOMPARE(first.size(), QSize(24, 16));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x)
            QCOMPARE(black(first, x, y), HandMade::pattern(x, y));
    }
    QCOMPARE(QImage(QDir(exportFolder).filePath(QStringLiteral("nv-2.png"))).size(), QSize(8, 8));
    // Export alone prints nothing.
    QVERIFY(!QFile::exists(QDir(exporter.out()).filePath(QStringLiteral("strip-0002.png"))));
}

void tst_NvlogoPrinter::resetDropsTheConnection()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    printer.start({QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--reset-ms"),
                   QStringLiteral("300"),
                   QStringLiteral("--drop-on-reset")});
    const auto listening = printer.waitFor(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"), 1, StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    const auto port = quint16(listening.captured(1).toUInt());

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(WaitTimeoutMs));
    socket.write(HandMade::defineImages({HandMade::record(1, 1, HandMade::pattern)}));
    // The printer closes the connection at its reset and answers once it is over.
    if (socket.state() != QAbstractSocket::UnconnectedState)
        QVERIFY(socket.waitForDisconnected(WaitTimeoutMs));
    QVERIFY2(printer.waitFor(QStringLiteral("connection closed by the printer's reset")).hasMatch(),
             qPrintable(printer.transcript()));
    QVERIFY2(printer.waitFor(QStringLiteral("^reset: over, ready again")).hasMatch(),
             qPrintable(printer.transcript()));
    QTcpSocket again;
    again.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(again.waitForConnected(WaitTimeoutMs));
    again.write(HandMade::bytes({0x10, 0x04, 1}));
    QVERIFY(again.waitForReadyRead(WaitTimeoutMs));
    QCOMPARE(again.readAll(), QByteArray("\x12"));
    again.abort();
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));
}

void tst_NvlogoPrinter::pathsKeepTheirBytes()
{
#ifndef Q_OS_UNIX
    QSKIP("byte paths are a Unix matter");
#else
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QByteArray base = QFile::encodeName(folder.path());
    const QByteArray input = base + "/caf\xe9.bin";
    QFile file(QFile::decodeName(base + "/input.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Hello\n" + HandMade::cutB());
    file.close();
    QVERIFY(::rename(QFile::encodeName(file.fileName()).constData(), input.constData()) == 0);

    // QProcess would re-encode the arguments; the shell passes the bytes through.
    QProcess process;
    process.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"),
                   QStringLiteral("exec \"$0\" --input \"$1/caf$(printf '\\351').bin\" "
                                  "--out \"$1/out$(printf '\\351')\" "
                                  "--state \"$1/st$(printf '\\351')/nv\""),
                   QStringLiteral(NVLOGO_PRINTER_PATH),
                   folder.path()});
    QVERIFY(process.waitForFinished(StartTimeoutMs));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    struct stat info;
    QVERIFY(::stat((base + "/out\xe9/strip-0001.png").constData(), &info) == 0);
    QVERIFY(::stat((base + "/st\xe9/nv").constData(), &info) == 0 && S_ISDIR(info.st_mode));
    // Nothing went to a folder of another name (QDir does not list names it cannot decode).
    QStringList names;
    DIR *dir = ::opendir(base.constData());
    QVERIFY(dir);
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << QString::fromLatin1(name.toHex());
    }
    ::closedir(dir);
    names.sort();
    QCOMPARE(names,
             QStringList({QStringLiteral("636166e92e62696e"),
                          QStringLiteral("6f7574e9"),
                          QStringLiteral("7374e9")}));
#endif
}

void tst_NvlogoPrinter::graphicsKeyListOverTcp()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    printer.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    const auto listening = printer.waitFor(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"), 1, StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    const auto port = quint16(listening.captured(1).toUInt());

    QByteArray defines;
    for (int i = 0; i < 45; ++i)
        defines += HandMade::defineGraphic(
                QByteArray("K") + char('0' + i), 8, 1, HandMade::pattern);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(socket.waitForConnected(WaitTimeoutMs));
    socket.write(defines + HandMade::graphics(0x40, "KC"));
    const auto readBlock = [&socket](int size) {
        QByteArray block;
        while (block.size() < size && socket.waitForReadyRead(WaitTimeoutMs))
            block += socket.readAll();
        return block;
    };
    const QByteArray first = readBlock(4 + 80);
    QCOMPARE(first.left(3), QByteArray("\x37\x72\x41"));
    socket.write("\x06");
    const QByteArray second = readBlock(4 + 10);
    QCOMPARE(second,
             QByteArray("\x37\x72\x40"
                        "KXKYKZK[K\\\0",
                        14));
    // Another list, left unanswered: the printer gives up after its bounded wait and reads on.
    socket.write(HandMade::graphics(0x40, "KC"));
    QCOMPARE(readBlock(4 + 80), first);
    QVERIFY2(printer.waitFor(QStringLiteral("key list given up, no ACK, NAK or CAN came"))
                     .hasMatch(),
             qPrintable(printer.transcript()));
    socket.write(HandMade::bytes({0x10, 0x04, 1}));
    QCOMPARE(readBlock(1), QByteArray("\x12"));
    socket.abort();
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));
}

void tst_NvlogoPrinter::halfClosedClients_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("question");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("clients");

    const QByteArray status = HandMade::bytes({0x10, 0x04, 1});
    const QByteArray model = HandMade::bytes({0x1D, 'I', 67});
    QTest::newRow("DLE EOT 1") << QStringList() << status << QByteArray("\x12") << 1;
    QTest::newRow("GS I 67") << QStringList() << model << QByteArray("\x5fnvlogo-printer\0", 16)
                             << 1;
    QTest::newRow("GS I 67 and 65, --model and --firmware")
            << QStringList{QStringLiteral("--model"),
                           QStringLiteral("TM Test/2"),
                           QStringLiteral("--firmware"),
                           QStringLiteral("0.9b")}
            << model + HandMade::bytes({0x1D, 'I', 65})
            << QByteArray("\x5fTM Test/2\0\x5f"
                          "0.9b\0",
                          17)
            << 1;
    QTest::newRow("DLE EOT 1, --asb-on-connect") << QStringList{QStringLiteral("--asb-on-connect")}
                                                 << status << QByteArray("\x10\0\0\0\x12", 5) << 1;
    QTest::newRow("key list") << QStringList() << HandMade::graphics(0x40, "KC")
                              << QByteArray("\x37\x72\x40\0", 4) << 1;
    QTest::newRow("50 queued, DLE EOT 1 and 4")
            << QStringList() << status + HandMade::bytes({0x10, 0x04, 4}) << QByteArray("\x12\x12")
            << 50;
}

// Clients that send their questions and half-close their side at once (as `nc -N` does), all
// waiting their turn: each gets its answers, and the log names each by its own address.
void tst_NvlogoPrinter::halfClosedClients()
{
#ifndef Q_OS_UNIX
    QSKIP("half-closing a socket is done here with the POSIX call");
#else
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, question);
    QFETCH(QByteArray, answer);
    QFETCH(int, clients);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    printer.start(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}
                  + arguments);
    const auto listening = printer.waitFor(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"), 1, StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    const auto port = quint16(listening.captured(1).toUInt());

    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < clients; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket &socket = *sockets.back();
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(WaitTimeoutMs));
        socket.write(question);
        QVERIFY(socket.waitForBytesWritten(WaitTimeoutMs));
        QCOMPARE(::shutdown(int(socket.socketDescriptor()), SHUT_WR), 0);
    }
    for (int i = 0; i < clients; ++i) {
        QTcpSocket &socket = *sockets.at(std::size_t(i));
        QByteArray received = socket.readAll();
        while (received.size() < answer.size() && socket.waitForReadyRead(WaitTimeoutMs))
            received += socket.readAll();
        QVERIFY2(received == answer,
                 qPrintable(QStringLiteral("client %1 of %2 got %3\n%4")
                                    .arg(i + 1)
                                    .arg(clients)
                                    .arg(QString::fromLatin1(received.toHex(' ')),
                                         printer.transcript())));
        const auto served = printer.waitFor(
                QStringLiteral("^nvlogo-printer: connection from 127\\.0\\.0\\.1:%1$")
                        .arg(socket.localPort()));
        QVERIFY2(served.hasMatch(), qPrintable(printer.transcript()));
    }
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));
#endif
}

// A file system that takes no more than a few kilobytes per file (RLIMIT_FSIZE, set by the
// shell for the printer alone): a graphic whose state file cannot be written is refused and
// not listed, a strip that cannot be written is said to be lost, and the printer goes on.
void tst_NvlogoPrinter::fullDisk()
{
#ifndef Q_OS_UNIX
    QSKIP("file size limits are set here with the POSIX shell");
#else
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral("/bin/sh"), folder.path());
    // Ignored, the signal leaves the write to fail with EFBIG, as a full disk makes it fail.
    // The limit is 8 blocks: 4 KB, or 8 KB where a block is 1 KB.
    printer.start({QStringLiteral("-c"),
                   QStringLiteral("trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\""),
                   QStringLiteral(NVLOGO_PRINTER_PATH),
                   QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:0")});
    const auto listening = printer.waitFor(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"), 1, StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(listening.captured(1).toUInt()));
    QVERIFY(socket.waitForConnected(WaitTimeoutMs));

    // Text that does not compress to less than the limit.
    QByteArray lines;
    for (int i = 0; i < 300; ++i) {
        for (int c = 0; c < 40; ++c)
            lines += char(0x21 + (i * 7 + c * c) % 94);
        lines += '\n';
    }
    const auto all = [](int, int) {
        return true;
    };
    socket.write(HandMade::defineGraphic("A1", 8, 1, all)
                 + HandMade::defineGraphic("B2", 576, 160, HandMade::pattern)
                 + HandMade::graphics(0x40, "KC") + lines + HandMade::bytes({0x1D, 'V', 0})
                 + HandMade::bytes({0x10, 0x04, 1}));
    QByteArray replies;
    while (replies.size() < 7 && socket.waitForReadyRead(WaitTimeoutMs))
        replies += socket.readAll();
    QCOMPARE(replies,
             QByteArray("\x37\x72\x40"
                        "A1\0\x12",
                        7));
    QVERIFY2(printer.waitFor(QStringLiteral("^NV graphics: define refused, B2 cannot be kept "
                                            "\\(cannot write .*\\); nothing stored$"))
                     .hasMatch(),
             qPrintable(printer.transcript()));
    QVERIFY2(printer.waitFor(QStringLiteral("^GS V: full cut -> strip-0001\\.png NOT written: "
                                            "cannot write "))
                     .hasMatch(),
             qPrintable(printer.transcript()));
    socket.abort();
    // Under LeakSanitizer a leak makes the exit status non-zero.
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));

    // What a restart finds is what was listed.
    PrinterProcess exporter(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    const QString exportFolder = folder.filePath(QStringLiteral("export"));
    exporter.start({QStringLiteral("--export"), exportFolder});
    QVERIFY2(exporter.waitFor(QStringLiteral("exported 1 NV images")).hasMatch(),
             qPrintable(exporter.transcript()));
    QCOMPARE(QDir(exportFolder).entryList(QDir::Files), QStringList{"graphic-A1.png"});
#endif
}

// Lines on standard input change the sensors; with GS a 8 only a change of the paper sends a
// block, which shows the cover opened before it.
void tst_NvlogoPrinter::conditionFromStandardInput()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcess printer;
    printer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    printer.start(QStringLiteral(NVLOGO_PRINTER_PATH),
                  {QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--control-stdin"),
                   QStringLiteral("--out"),
                   folder.filePath(QStringLiteral("out")),
                   QStringLiteral("--state"),
                   folder.filePath(QStringLiteral("state"))});
    QString output;
    const QRegularExpression listening(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)\n"));
    while (!listening.match(output).hasMatch() && printer.waitForReadyRead(StartTimeoutMs))
        output += QString::fromUtf8(printer.readAll());
    const auto port = listening.match(output);
    QVERIFY2(port.hasMatch(), qPrintable(output));

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port.captured(1).toUInt()));
    QVERIFY(socket.waitForConnected(WaitTimeoutMs));
    const auto read = [&socket](int size) {
        QByteArray bytes = socket.readAll();
        while (bytes.size() < size && socket.waitForReadyRead(WaitTimeoutMs))
            bytes += socket.readAll();
        return bytes;
    };
    socket.write(HandMade::bytes({0x1D, 'a', 8}));
    QCOMPARE(read(4).toHex(' '), QByteArray("10 00 00 00"));
    printer.write("cover open\npaper near-end\n");
    QVERIFY(printer.waitForBytesWritten(WaitTimeoutMs));
    QCOMPARE(read(4).toHex(' '), QByteArray("38 00 03 00"));
    printer.write("error mechanical\n");
    QVERIFY(printer.waitForBytesWritten(WaitTimeoutMs));
    // Standard input and the socket are two channels: the question goes once the line is taken.
    while (!output.contains(QLatin1String("mechanical error"))
           && printer.waitForReadyRead(WaitTimeoutMs))
        output += QString::fromUtf8(printer.readAll());
    socket.write(HandMade::bytes({0x10, 0x04, 3}));
    QCOMPARE(read(1).toHex(' '), QByteArray("16"));
    socket.abort();
    printer.terminate();
    QVERIFY(printer.waitForFinished(WaitTimeoutMs));
    output += QString::fromUtf8(printer.readAll());
    QVERIFY2(output.contains(QLatin1String("condition: paper near its end, cover open, no error, "
                                           "automatic status back replied 38 00 03 00")),
             qPrintable(output));
}

// No avahi daemon to be reached (a bus address that leads nowhere): one line says so, and the
// printer answers as ever.
void tst_NvlogoPrinter::announceWithoutDaemon()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    // The child takes the environment as it is at its start.
    const QByteArray bus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS",
            "unix:path=" + QFile::encodeName(folder.filePath(QStringLiteral("no-bus"))));
    printer.start({QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--announce"),
                   QStringLiteral("Nobody Hears")});
    if (bus.isNull())
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    else
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus);
    const auto listening = printer.waitFor(
            QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)$"), 1, StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));
    QVERIFY2(printer.waitFor(QStringLiteral("^nvlogo-printer: --announce: .*; not announced"))
                     .hasMatch(),
             qPrintable(printer.transcript()));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(listening.captured(1).toUInt()));
    QVERIFY(socket.waitForConnected(WaitTimeoutMs));
    socket.write(HandMade::bytes({0x10, 0x04, 1}));
    QVERIFY(socket.waitForReadyRead(WaitTimeoutMs));
    QCOMPARE(socket.readAll(), QByteArray("\x12"));
    socket.abort();
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));
    QCOMPARE(printer.transcript().count(QLatin1String("--announce")), 1);
}

// A private network namespace with its own bus and avahi daemon: a browse there finds the
// printer under its name, on the port it listens on. Nothing leaves the namespace.
void tst_NvlogoPrinter::announceInNamespace()
{
#ifndef Q_OS_LINUX
    QSKIP("network namespaces are a Linux matter");
#else
    if (::geteuid() != 0)
        QSKIP("needs root, for a private network namespace");
    for (const char *tool : {"unshare", "ip", "dbus-daemon", "avahi-daemon", "avahi-browse"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps --test)")
                                     .arg(QLatin1String(tool))));
    }
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("unshare"),
              {QStringLiteral("--net"),
               QStringLiteral("--mount"),
               QStringLiteral(NVLOGO_ANNOUNCE_SCRIPT),
               folder.path(),
               QStringLiteral(NVLOGO_PRINTER_PATH),
               QStringLiteral("--listen"),
               QStringLiteral("127.0.0.1:0"),
               QStringLiteral("--announce"),
               QStringLiteral("Shop Printer 2"),
               QStringLiteral("--out"),
               folder.filePath(QStringLiteral("out")),
               QStringLiteral("--state"),
               folder.filePath(QStringLiteral("state"))});
    QVERIFY(run.waitForFinished(60000));
    const QString output = QString::fromUtf8(run.readAll());
    if (run.exitCode() == 77 || (run.exitCode() != 0 && output.contains(QLatin1String("unshare"))))
        QSKIP(qPrintable(output.trimmed().section(QLatin1Char('\n'), 0, 0)));
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, qPrintable(output));
    const auto port = QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)\n"))
                              .match(output);
    QVERIFY2(port.hasMatch(), qPrintable(output));
    // avahi-browse --parsable: "=;interface;protocol;name;type;domain;host;address;port;txt".
    const QString resolved
            = QStringLiteral("\n=;nvlogo0;IPv4;%1;[^;]+;[^;]+;%2;")
                      .arg(QRegularExpression::escape(QStringLiteral(
                                   "Shop\\032Printer\\0322;_pdl-datastream._tcp;local")),
                           port.captured(1));
    QVERIFY2(QRegularExpression(resolved).match(output).hasMatch(), qPrintable(output));
    QVERIFY2(output.contains(QLatin1String("printer exit: 0")), qPrintable(output));
#endif
}

void tst_NvlogoPrinter::badOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("port in use") << QStringList{QStringLiteral("--listen"),
                                                QStringLiteral("127.0.0.1:@PORT@")}
                                 << 1 << "cannot listen on 127.0.0.1:@PORT@";
    QTest::newRow("no port") << QStringList{QStringLiteral("--listen"), QStringLiteral("localhost")}
                             << 2 << "--listen wants HOST:PORT";
    QTest::newRow("two sources") << QStringList{QStringLiteral("--serial"),
                                                QStringLiteral("--input"),
                                                QStringLiteral("x")}
                                 << 2 << "choose one of --listen, --serial and --input";
    QTest::newRow("narrow paper") << QStringList{QStringLiteral("--paper-width"),
                                                 QStringLiteral("10")}
                                  << 2 << "--paper-width wants a number of dots from 48 to 4096";
    QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--bogus")} << 2 << "Unknown option 'bogus'.";
    QTest::newRow("model with a tab")
            << QStringList{QStringLiteral("--model"), QStringLiteral("TM\t1")} << 2
            << "--model wants 1 to 80 printable ASCII characters";
    QTest::newRow("paper state") << QStringList{QStringLiteral("--paper"), QStringLiteral("low")}
                                 << 2 << "--paper wants ok, near-end or end";
    QTest::newRow("missing input")
            << QStringList{QStringLiteral("--input"), QStringLiteral("@FOLDER@/none.bin")} << 1
            << "cannot read @FOLDER@/none.bin";
    QTest::newRow("out folder under a file")
            << QStringList{QStringLiteral("--input"),
                           QStringLiteral("@FOLDER@/blocker"),
                           QStringLiteral("--out"),
                           QStringLiteral("@FOLDER@/blocker/out")}
            << 1 << "cannot create the folder @FOLDER@/blocker/out";
}

void tst_NvlogoPrinter::badOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile blocker(folder.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    for (QString *text : {&message}) {
        text->replace(QLatin1String("@PORT@"), QString::number(taken.serverPort()));
        text->replace(QLatin1String("@FOLDER@"), folder.path());
    }
    for (QString &argument : arguments) {
        argument.replace(QLatin1String("@PORT@"), QString::number(taken.serverPort()));
        argument.replace(QLatin1String("@FOLDER@"), folder.path());
    }
    if (!arguments.contains(QLatin1String("--out")))
        arguments << QStringLiteral("--out") << folder.filePath(QStringLiteral("out"));
    arguments << QStringLiteral("--state") << folder.filePath(QStringLiteral("state"));

    QProcess process;
    // Outside a desktop session: Qt's own warning about it must not reach the user.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(NVLOGO_PRINTER_PATH), arguments);
    QVERIFY(process.waitForFinished(StartTimeoutMs));
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(errors.contains(QStringLiteral("nvlogo-printer: error: ") + message),
             qPrintable(errors));
    QVERIFY2(!errors.contains(QLatin1String("XDG_RUNTIME_DIR")), qPrintable(errors));
}

QTEST_GUILESS_MAIN(tst_NvlogoPrinter)
#include "tst_nvlogoprinter.moc"

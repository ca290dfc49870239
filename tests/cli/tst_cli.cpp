#include <tests/support/slowpeer.h>
#include <tests/support/tcpsink.h>

#include <cli/dispatch.h>
#include <cli/exitcodes.h>

#include <QDir>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Captures what a command writes to one of its streams.
class Capture
{
public:
    Capture()
        : m_file(std::tmpfile())
    {}
    ~Capture() { std::fclose(m_file); }
    std::FILE *file() const { return m_file; }
    QString text() const
    {
        std::fflush(m_file);
        std::rewind(m_file);
        QByteArray bytes;
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            bytes.append(buffer, qsizetype(n));
        return QString::fromUtf8(bytes);
    }

private:
    std::FILE *m_file;
};

QString savePicture(const QDir &dir, const QString &name, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int i = 0; i < qMin(size.width(), size.height()); ++i)
        image.setPixel(i, i, qRgb(0, 0, 0));
    const QString path = dir.filePath(name);
    if (!image.save(path, "BMP"))
        qFatal("cannot save %s", qPrintable(path));
    return path;
}

// The NV record of savePicture's diagonal, worked out by hand: the size in bytes across and
// down, then each column of dots top to bottom in bytes of eight, the top dot the high bit;
// padding up to whole bytes stays white.
QByteArray diagonalRecord(QSize size)
{
    const int across = (size.width() + 7) / 8;
    const int down = (size.height() + 7) / 8;
    QByteArray record;
    for (const int value : {across & 0xff, across >> 8, down & 0xff, down >> 8})
        record.append(char(value));
    const int diagonal = qMin(size.width(), size.height());
    for (int column = 0; column < across * 8; ++column) {
        for (int band = 0; band < down; ++band) {
            const bool black = column < diagonal && column / 8 == band;
            record.append(char(black ? 0x80 >> (column % 8) : 0));
        }
    }
    return record;
}

} // namespace

class tst_Cli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void usageErrors_data();
    void usageErrors();
    void helpForEveryCommand_data();
    void helpForEveryCommand();
    void printersListsOnlyTheQueues();
    void printSendsTheBytesOfTheWindow_data();
    void printSendsTheBytesOfTheWindow();
    void printFailuresExitNonZero();
    void downloadSendsTheStreamWithProgress();
    void downloadRefusalsExitNonZero();
    void warningsComeBeforeTheFirstByte_data();
    void warningsComeBeforeTheFirstByte();
    void streamWritesWholeOrNothing();
    void downloadToAPrinterThatHangsUpFails();
    void previewWritesThePicturesAsStored();
    void previewFolderHoldsOnlyThisRun();
    void previewWarnsByTheCapacity_data();
    void previewWarnsByTheCapacity();
    void outputNamesKeepTheirBytes_data();
    void outputNamesKeepTheirBytes();

private:
    int run(const QStringList &arguments);
    int runBytes(const QList<QByteArray> &arguments);

    QTemporaryDir m_dir;
    Capture *m_out = nullptr;
    Capture *m_err = nullptr;
    QString m_stdout;
    QString m_stderr;
};

void tst_Cli::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

int tst_Cli::run(const QStringList &arguments)
{
    Capture out;
    Capture err;
    const int status = Cli::run(arguments, out.file(), err.file());
    m_stdout = out.text();
    m_stderr = err.text();
    return status;
}

int tst_Cli::runBytes(const QList<QByteArray> &arguments)
{
    Capture out;
    Capture err;
    const int status = Cli::runBytes(arguments, out.file(), err.file());
    m_stdout = out.text();
    m_stderr = err.text();
    return status;
}

void tst_Cli::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList{} << "missing command";
    QTest::newRow("unknown") << QStringList{"burn"} << "unknown command 'burn'";
    QTest::newRow("download without pictures") << QStringList{"download"} << "at least one picture";
    QTest::newRow("print without number") << QStringList{"print"} << "exactly one image number";
    QTest::newRow("print two numbers")
            << QStringList{"print", "1", "2"} << "exactly one image number";
    QTest::newRow("bad mode") << QStringList{"print", "1", "--mode", "huge"} << "--mode must be";
    QTest::newRow("bad baud") << QStringList{"print", "1", "--baud", "1200"} << "--baud must be";
    QTest::newRow("unknown option") << QStringList{"print", "1", "--colour"} << "colour";
    QTest::newRow("stream without output") << QStringList{"stream", "a.bmp"} << "-o FILE";
    QTest::newRow("preview into an empty name")
            << QStringList{"preview", "a.bmp", "-o", ""} << "-o needs a name";
    QTest::newRow("printers with arguments") << QStringList{"printers", "x"} << "no arguments";
    QTest::newRow("find with arguments") << QStringList{"find", "10.0.0.5"} << "--scan";
    QTest::newRow("find with a wrong range")
            << QStringList{"find", "--scan", "10.0.0.5", "--scan", "10.0.0.0/33"}
            << "--scan: '10.0.0.0/33' is no network";
    QTest::newRow("find with too many addresses")
            << QStringList{"find", "--scan", "10.0.0.0/20", "--scan", "10.1.0.1-10.1.0.3"}
            << "4097 addresses together; at most 4096";
    QTest::newRow("find with a wrong timeout")
            << QStringList{"find", "--timeout", "0"} << "--timeout must be";
    QTest::newRow("print a word") << QStringList{"print", "abc"} << "not 'abc'";
    QTest::newRow("print 0") << QStringList{"print", "0"} << "from 1 to 255";
    QTest::newRow("print 256") << QStringList{"print", "256"} << "from 1 to 255";
    QTest::newRow("print 3.5") << QStringList{"print", "3.5"} << "not '3.5'";
    QTest::newRow("unknown port kind")
            << QStringList{"print", "1", "--port", "USB"} << "ETHERNET, COM1..COM9";
    QTest::newRow("a prefix is no kind")
            << QStringList{"print", "1", "--port", "ETHx"} << "unknown printer 'ETHx'";
    QTest::newRow("no address, no default")
            << QStringList{"print", "1"} << "name the printer's address with --ip";
    QTest::newRow("an address for a serial port")
            << QStringList{"print", "1", "--port", "COM1", "--ip", "10.0.0.1"}
            << "--ip names an ETHERNET printer";
    QTest::newRow("one printer spelled twice")
            << QStringList{"status", "--ip", "[::1]", "--ip", "[0:0:0:0:0:0:0:1]:9100"}
            << "named twice";
    QTest::newRow("a typo") << QStringList{"dowload"} << "did you mean 'download'?";
    QTest::newRow("bad capacity")
            << QStringList{"stream", "a.bmp", "-o", "x", "--nv-capacity", "lots"}
            << "--nv-capacity";
}

void tst_Cli::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QCOMPARE(run(arguments), Cli::ExitUsage);
    QVERIFY2(m_stderr.contains(message), qPrintable(m_stderr));
}

void tst_Cli::helpForEveryCommand_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("usage");
    QTest::newRow("general") << QStringList{"--help"} << "Usage: nvlogo-cli COMMAND";
    QTest::newRow("download") << QStringList{"download", "--help"} << "Usage: nvlogo-cli download";
    QTest::newRow("print") << QStringList{"print", "--help"} << "Usage: nvlogo-cli print";
    QTest::newRow("stream") << QStringList{"stream", "--help"} << "Usage: nvlogo-cli stream";
    QTest::newRow("printers") << QStringList{"printers", "--help"} << "Usage: nvlogo-cli printers";
    QTest::newRow("find") << QStringList{"find", "--help"} << "Usage: nvlogo-cli find";
}

void tst_Cli::printersListsOnlyTheQueues()
{
    // The print server of this test does not exist; the machine's serial ports and USB
    // devices are not printers' queues.
    QCOMPARE(run({"printers"}), Cli::ExitNotConfirmed);
    QVERIFY2(m_stdout.isEmpty(), qPrintable(m_stdout));
    QVERIFY2(m_stderr.contains("its queues are not listed"), qPrintable(m_stderr));
    QVERIFY2(m_stderr.contains("no printer found"), qPrintable(m_stderr));
    QVERIFY2(!m_stderr.contains("DNS-SD"), qPrintable(m_stderr));
}

void tst_Cli::helpForEveryCommand()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, usage);
    QCOMPARE(run(arguments), Cli::ExitSuccess);
    QVERIFY2(m_stdout.startsWith(usage), qPrintable(m_stdout));
}

void tst_Cli::printSendsTheBytesOfTheWindow_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("default mode") << QStringList{"1"} << QByteArray::fromHex("1c7001001d564200");
    QTest::newRow("double") << QStringList{"13", "--mode", "double"}
                            << QByteArray::fromHex("1c700d031d564200");
    QTest::newRow("double width") << QStringList{"2", "--mode", "double-width"}
                                  << QByteArray::fromHex("1c7002011d564200");
    QTest::newRow("double height")
            << QStringList{"--mode=double-height", "2"} << QByteArray::fromHex("1c7002021d564200");
}

void tst_Cli::printSendsTheBytesOfTheWindow()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, bytes);
    TcpSink printer;
    const QString ip = QStringLiteral("127.0.0.1:%1").arg(printer.port());
    QCOMPARE(run(QStringList{"print", "--ip", ip} + options), Cli::ExitSuccess);
    QCOMPARE(printer.waitForClosedConnection().toHex(), bytes.toHex());
}

void tst_Cli::printFailuresExitNonZero()
{
    // Nothing listens on port 1 of the loopback address: the connection is refused, and the
    // reason follows the fixed text.
    QCOMPARE(run({"print", "1", "--ip", "127.0.0.1:1"}), Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("Fail to open port,please check!\nnvlogo-cli: ")),
             qPrintable(m_stderr));
    QVERIFY2(m_stderr.contains(QLatin1String("refused")), qPrintable(m_stderr));
}

void tst_Cli::downloadSendsTheStreamWithProgress()
{
    const QDir dir(m_dir.path());
    const QStringList pictures = {savePicture(dir, QStringLiteral("a.bmp"), {100, 50}),
                                  savePicture(dir, QStringLiteral("b.bmp"), {64, 8})};
    // ESC @, then FS q with the number of images and their records.
    const QByteArray expected = QByteArray::fromHex("1b401c7102") + diagonalRecord({100, 50})
                                + diagonalRecord({64, 8});

    TcpSink printer;
    const QString ip = QStringLiteral("127.0.0.1:%1").arg(printer.port());
    QCOMPARE(run(QStringList{"download", "--ip", ip} + pictures), Cli::ExitSuccess);
    QCOMPARE(printer.waitForClosedConnection().toHex(), expected.toHex());
    QVERIFY2(m_stderr.contains(QStringLiteral("Sending to %1: %2 of %2 bytes reached the printer")
                                       .arg(ip)
                                       .arg(expected.size())),
             qPrintable(m_stderr));
    QVERIFY2(m_stderr.contains(QLatin1String("Wait until printer reset.")), qPrintable(m_stderr));
}

void tst_Cli::downloadRefusalsExitNonZero()
{
    const QDir dir(m_dir.path());
    const QString good = savePicture(dir, QStringLiteral("good.bmp"), {16, 16});
    const QString text = dir.filePath(QStringLiteral("text.bmp"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();

    QCOMPARE(run({"download", "--ip", "127.0.0.1:1", good, text}), Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("Unexpect error!")), qPrintable(m_stderr));
    QVERIFY2(m_stderr.contains(QLatin1String("text.bmp")), qPrintable(m_stderr));

    QCOMPARE(run({"download", "--ip", "127.0.0.1:1", good}), Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("Fail to open port,please check!")),
             qPrintable(m_stderr));
}

void tst_Cli::warningsComeBeforeTheFirstByte_data()
{
    QTest::addColumn<bool>("strict");
    QTest::newRow("warned, then sent") << false;
    QTest::newRow("--strict sends nothing") << true;
}

void tst_Cli::warningsComeBeforeTheFirstByte()
{
    QFETCH(bool, strict);
    // Wider than 80 mm paper: the rest would not print.
    const QString wide = savePicture(QDir(m_dir.path()), QStringLiteral("wide.bmp"), {700, 40});
    TcpSink printer;
    QStringList arguments{
            "download", "--ip", QStringLiteral("127.0.0.1:%1").arg(printer.port()), wide};
    if (strict)
        arguments << QStringLiteral("--strict");
    QCOMPARE(run(arguments), strict ? Cli::ExitFailure : Cli::ExitSuccess);
    const qsizetype warned = m_stderr.indexOf(QLatin1String("warning: ") + wide
                                              + QLatin1String(": Wider than the paper (576 dots)"));
    QVERIFY2(warned >= 0, qPrintable(m_stderr));
    if (strict) {
        QVERIFY2(m_stderr.contains(QLatin1String("--strict: nothing was sent")),
                 qPrintable(m_stderr));
        QCOMPARE(printer.connectionCount(), 0);
    } else {
        QVERIFY(!printer.waitForClosedConnection().isEmpty());
        QVERIFY2(warned < m_stderr.indexOf(QLatin1String("Sending to")), qPrintable(m_stderr));
    }
}

void tst_Cli::streamWritesWholeOrNothing()
{
    const QDir dir(m_dir.path());
    const QString picture = savePicture(dir, QStringLiteral("s.bmp"), {100, 50});
    const QString output = dir.filePath(QStringLiteral("out.bin"));
    QCOMPARE(run({"stream", picture, "-o", output}), Cli::ExitSuccess);
    QFile written(output);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    QCOMPARE(bytes.size(), 737);
    QCOMPARE(bytes.left(9).toHex(), QByteArray("1b401c71010d000700"));
    written.close();

    // A failure leaves the earlier file as it was and adds nothing beside it.
    const QStringList before = dir.entryList(QDir::Files);
    QCOMPARE(run({"stream", picture, dir.filePath(QStringLiteral("missing.bmp")), "-o", output}),
             Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("missing.bmp")), qPrintable(m_stderr));
    QCOMPARE(dir.entryList(QDir::Files), before);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), bytes);

    // A FIFO nobody reads is refused at once, and stays a FIFO.
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("pipe")));
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    QCOMPARE(run({"stream", picture, "-o", QFile::decodeName(fifo)}), Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("nobody is reading it")), qPrintable(m_stderr));
    struct stat info;
    QVERIFY(::stat(fifo.constData(), &info) == 0 && S_ISFIFO(info.st_mode));

    // A device takes the stream as it is and stays a device.
    QCOMPARE(run({"stream", picture, "-o", "/dev/null"}), Cli::ExitSuccess);
    QVERIFY(QFileInfo(QStringLiteral("/dev/null")).isFile() == false);
    QVERIFY(QFile::exists(QStringLiteral("/dev/null")));
}

void tst_Cli::downloadToAPrinterThatHangsUpFails()
{
    // One bit a pixel: small on disk, 16 KB of stream.
    QImage mono(2048, 64, QImage::Format_Mono);
    mono.fill(0);
    const QString picture = QDir(m_dir.path()).filePath(QStringLiteral("h.bmp"));
    QVERIFY(mono.save(picture, "BMP"));
    SlowPeer printer(8192, 1, 10240);
    QCOMPARE(run({"download", "--ip", QStringLiteral("127.0.0.1:%1").arg(printer.port()), picture}),
             Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("error: Fail to send to printer,please check!")),
             qPrintable(m_stderr));
    QVERIFY2(!m_stderr.contains(QLatin1String("Wait until printer reset.")), qPrintable(m_stderr));
}

void tst_Cli::previewWritesThePicturesAsStored()
{
    const QDir dir(m_dir.path());
    const QStringList pictures = {savePicture(dir, QStringLiteral("p1.bmp"), {13, 9}),
                                  savePicture(dir, QStringLiteral("p2.bmp"), {600, 8})};
    const QString out = dir.filePath(QStringLiteral("preview"));
    QCOMPARE(run(QStringList{"preview", "-o", out} + pictures), Cli::ExitSuccess);
    // Named by NV image number, one pixel a dot, padded to whole bytes like the record.
    const QImage first(QDir(out).filePath(QStringLiteral("1.png")));
    QCOMPARE(first.size(), QSize(16, 16));
    // The diagonal's first dot is black, the padding white.
    QCOMPARE(first.pixelColor(0, 0), QColor(Qt::black));
    QCOMPARE(first.pixelColor(15, 15), QColor(Qt::white));
    QCOMPARE(QImage(QDir(out).filePath(QStringLiteral("2.png"))).size(), QSize(600, 8));
    QVERIFY2(m_stdout.contains(QLatin1String("2.png: warning: Wider than 80 mm")),
             qPrintable(m_stdout));

    QCOMPARE(run({"preview", "-o", out, dir.filePath(QStringLiteral("none.bmp"))}),
             Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("none.bmp")), qPrintable(m_stderr));
}

void tst_Cli::previewFolderHoldsOnlyThisRun()
{
    const QDir dir(m_dir.path());
    const QString picture = savePicture(dir, QStringLiteral("f.bmp"), {16, 8});
    QVERIFY(dir.mkpath(QStringLiteral("shared")));
    const QDir out(dir.filePath(QStringLiteral("shared")));
    const auto put = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const auto content = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    // Another user's link under the first name, and an earlier, larger run's pictures.
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    QVERIFY(put(victim, "keep"));
    QVERIFY(QFile::link(victim, out.filePath(QStringLiteral("1.png"))));
    QVERIFY(put(out.filePath(QStringLiteral("3.png")), "old"));
    QVERIFY(put(out.filePath(QStringLiteral("notes.txt")), "mine"));
    QCOMPARE(run({"preview", "-o", out.path(), picture}), Cli::ExitSuccess);
    QCOMPARE(content(victim), QByteArray("keep"));
    const QFileInfo first(out.filePath(QStringLiteral("1.png")));
    QVERIFY(first.isFile() && !first.isSymLink());
    QCOMPARE(QImage(first.filePath()).size(), QSize(16, 8));
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("3.png"))));
    QCOMPARE(content(out.filePath(QStringLiteral("notes.txt"))), QByteArray("mine"));
    QCOMPARE(out.entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary file left

    // A failed run leaves no picture of the earlier one.
    QCOMPARE(run({"preview", "-o", out.path(), dir.filePath(QStringLiteral("none.bmp"))}),
             Cli::ExitFailure);
    QVERIFY(!QFile::exists(out.filePath(QStringLiteral("1.png"))));

    // A FIFO under a numbered name is never opened: the folder is refused as it is.
    const QByteArray fifo = QFile::encodeName(out.filePath(QStringLiteral("2.png")));
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    QVERIFY(put(out.filePath(QStringLiteral("1.png")), "old"));
    QCOMPARE(run({"preview", "-o", out.path(), picture}), Cli::ExitFailure);
    QVERIFY2(m_stderr.contains(QLatin1String("2.png is not a file")), qPrintable(m_stderr));
    QCOMPARE(content(out.filePath(QStringLiteral("1.png"))), QByteArray("old"));
    struct stat info;
    QVERIFY(::stat(fifo.constData(), &info) == 0 && S_ISFIFO(info.st_mode));
}

void tst_Cli::previewWarnsByTheCapacity_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<bool>("warned");
    // The picture's record takes 4 + 128 / 8 * 128 = 2052 bytes.
    QTest::newRow("option below") << QStringList{"--nv-capacity", "2051"} << QByteArray() << true;
    QTest::newRow("option at") << QStringList{"--nv-capacity", "2052"} << QByteArray() << false;
    QTest::newRow("variable below") << QStringList() << QByteArray("2051") << true;
    QTest::newRow("option before variable")
            << QStringList{"--nv-capacity", "400000"} << QByteArray("2051") << false;
}

void tst_Cli::previewWarnsByTheCapacity()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, variable);
    QFETCH(bool, warned);
    const QDir dir(m_dir.path());
    const QString picture = savePicture(dir, QStringLiteral("c.bmp"), {128, 128});
    if (!variable.isEmpty())
        qputenv("NVLOGO_NV_CAPACITY", variable);
    const auto unset = qScopeGuard([] { qunsetenv("NVLOGO_NV_CAPACITY"); });
    QCOMPARE(run(QStringList{"preview", "-o", dir.filePath(QStringLiteral("cap")), picture}
                 + options),
             Cli::ExitSuccess);
    QCOMPARE(m_stdout.contains(QLatin1String(
                     "1.png: warning: Too large for the printer's NV memory (2051 bytes)")),
             warned);
    QCOMPARE(m_stdout.contains(QLatin1String("the printer holds 2051.")), warned);
    QVERIFY2(!m_stdout.contains(QLatin1String("262144")), qPrintable(m_stdout));
}

void tst_Cli::outputNamesKeepTheirBytes_data()
{
    QTest::addColumn<QByteArrayList>("arguments"); // NAME stands for the name
    QTest::addColumn<QByteArray>("made");          // NAME and what must be there after the run
    QTest::addColumn<bool>("existing");            // the name is a file before the run
    QTest::newRow("stream -o") << QByteArrayList{"stream", "PICTURE", "-o", "NAME"} << QByteArray()
                               << false;
    QTest::newRow("stream --output=")
            << QByteArrayList{"stream", "PICTURE", "--output=NAME"} << QByteArray() << false;
    QTest::newRow("stream -o over a file")
            << QByteArrayList{"stream", "PICTURE", "-o", "NAME"} << QByteArray() << true;
    QTest::newRow("preview -o") << QByteArrayList{"preview", "PICTURE", "-o", "NAME"}
                                << QByteArray("/1.png") << false;
    QTest::newRow("print --port LPT:")
            << QByteArrayList{"print", "1", "--port", "LPT:NAME"} << QByteArray() << true;
}

void tst_Cli::outputNamesKeepTheirBytes()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArray, made);
    QFETCH(bool, existing);
    const QDir dir(m_dir.path());
    const QByteArray picture = QFile::encodeName(savePicture(dir, QStringLiteral("n.bmp"), {8, 8}));
    // 0xE9 alone is no UTF-8: as text it would become U+FFFD and name another file.
    const QByteArray name = QFile::encodeName(dir.path()) + "/caf\xE9-"
                            + QByteArray(QTest::currentDataTag()).replace(' ', '_');
    if (existing)
        QVERIFY(::close(::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600)) == 0);
    for (QByteArray &argument : arguments)
        argument.replace("NAME", name).replace("PICTURE", picture);
    QCOMPARE(runBytes(arguments), Cli::ExitSuccess);
    struct stat info;
    QVERIFY2(::stat((name + made).constData(), &info) == 0 && S_ISREG(info.st_mode),
             qPrintable(m_stderr));
    QVERIFY(info.st_size > 0);
    const QString lossy = QFile::decodeName(name);
    QVERIFY(!QFileInfo::exists(lossy));
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"

// nvlogo-printer driven by real ESC/POS clients from the npm registry (installed by
// scripts/install-deps --test): each prints a small receipt, which the strip must show, and
// reads the printer's status. Only loopback addresses are used.
#include "handmade.h"
#include <tests/support/printerprocess.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int StartTimeoutMs = 20000;
constexpr int ClientTimeoutMs = 60000;

bool black(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y)) < 128;
}

// The picture the client prints, 16 x 8 dots.
bool picture(int x, int y)
{
    return HandMade::pattern(x, y) != (x == 3 && y == 1);
}

// The row of the strip where the picture starts at the left edge, or -1.
int findPicture(const QImage &strip)
{
    for (int top = 0; top + 8 <= strip.height(); ++top) {
        bool found = true;
        for (int y = 0; y < 8 && found; ++y) {
            for (int x = 0; x < 24 && found; ++x)
                found = black(strip, x, top + y) == (x < 16 && picture(x, y));
        }
        if (found)
            return top;
    }
    return -1;
}

} // namespace

class tst_NpmClients : public QObject
{
    Q_OBJECT

private slots:
    void printAndAskStatus_data();
    void printAndAskStatus();
};

void tst_NpmClients::printAndAskStatus_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("status");

    // receiptio waits for the automatic status block, prints, and takes the answer to the
    // GS r 1 at the end of its data as the sign of success; -q asks DLE EOT.
    QTest::newRow("receiptio") << "receiptio"
                               << "print: success"
                               << "status: online";
    // node-thermal-printer sends GS v 0 for the picture and GS r 1 for its status.
    QTest::newRow("node-thermal-printer") << "node-thermal-printer"
                                          << "print: sent"
                                          << "status: 00";
}

void tst_NpmClients::printAndAskStatus()
{
    QFETCH(QString, client);
    QFETCH(QString, printed);
    QFETCH(QString, status);

    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        QSKIP("node is not installed (scripts/install-deps --test installs it)");
    if (!QFile::exists(QStringLiteral(NVLOGO_NPM_CLIENTS "/node_modules/") + client))
        QSKIP(qPrintable(QStringLiteral("%1 is not installed in %2 (scripts/install-deps --test)")
                                 .arg(client, QStringLiteral(NVLOGO_NPM_CLIENTS))));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString picturePath = folder.filePath(QStringLiteral("picture.png"));
    QImage image(16, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x)
            image.setPixel(x, y, picture(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    }
    QVERIFY(image.save(picturePath));

    // receiptio reaches port 9100 only: a loopback address of its own keeps it apart from
    // anything else listening there.
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), folder.path());
    const QString host = QStringLiteral("127.84.%1.%2")
                                 .arg(QRandomGenerator::global()->bounded(256))
                                 .arg(1 + QRandomGenerator::global()->bounded(254));
    printer.start({QStringLiteral("--listen"), host + QStringLiteral(":9100")});
    const auto listening = printer.waitFor(
            QStringLiteral("listening on %1:9100$").arg(QRegularExpression::escape(host)),
            1,
            StartTimeoutMs);
    QVERIFY2(listening.hasMatch(), qPrintable(printer.transcript()));

    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(node,
              {QStringLiteral(NVLOGO_NPM_SCRIPT),
               QStringLiteral(NVLOGO_NPM_CLIENTS),
               client,
               host,
               QStringLiteral("9100"),
               picturePath});
    QVERIFY(run.waitForFinished(ClientTimeoutMs));
    const QString output = QString::fromUtf8(run.readAll());
    const QString both = output + QLatin1Char('\n') + printer.transcript();
    QVERIFY2(run.exitCode() == 0, qPrintable(both));
    QVERIFY2(output.contains(printed + QLatin1Char('\n')), qPrintable(both));
    QVERIFY2(output.contains(status + QLatin1Char('\n')), qPrintable(both));
    QVERIFY2(printer.waitFor(QStringLiteral("-> strip-0001\\.png$")).hasMatch(), qPrintable(both));
    QVERIFY2(printer.transcript().contains(QLatin1String("text: \"Receipt\"")), qPrintable(both));
    QVERIFY2(printer.stop(), qPrintable(printer.transcript()));

    const QImage strip(QDir(printer.out()).filePath(QStringLiteral("strip-0001.png")));
    QVERIFY(!strip.isNull());
    if (client == QLatin1String("node-thermal-printer"))
        QVERIFY2(findPicture(strip) > 0, "the picture is not on the strip dot for dot");
}

QTEST_GUILESS_MAIN(tst_NpmClients)
#include "tst_npmclients.moc"

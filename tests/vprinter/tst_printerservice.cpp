// The TCP side of nvlogo-printer, in process: a sender that never reads its replies.
#include "handmade.h"
#include <vprinter/nvlogo-printer/printerservice.h>

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace VirtualPrinter;
using VirtualPrinter::NvlogoPrinter::PrinterService;

namespace {

constexpr int WaitTimeoutMs = 60000;
// Far more replies than the limit and the network buffers on both sides can hold.
constexpr int Requests = 300000;

} // namespace

class tst_PrinterService : public QObject
{
    Q_OBJECT

private slots:
    void unreadRepliesAreBounded();
};

void tst_PrinterService::unreadRepliesAreBounded()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrinterSettings settings;
    settings.outFolder = folder.filePath(QStringLiteral("out"));
    settings.stateFolder = folder.filePath(QStringLiteral("state"));
    ReceiptPrinter printer(settings);
    QString error;
    QVERIFY2(printer.start(&error), qPrintable(error));

    PrinterService service(&printer);
    QStringList messages;
    connect(&service, &PrinterService::message, this, [&messages](const QString &line) {
        messages << line;
    });
    QVERIFY2(service.listen(QHostAddress::LocalHost, 0, &error), qPrintable(error));
    const auto listening = QRegularExpression(QStringLiteral(":(\\d+)$")).match(messages.last());
    QVERIFY(listening.hasMatch());
    const auto port = quint16(listening.captured(1).toUInt());

    // The flooding sender keeps its replies in the network: small buffers, nothing read.
    QTcpSocket flooder;
    flooder.setReadBufferSize(1024);
    flooder.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(flooder.waitForConnected(WaitTimeoutMs));
    flooder.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    QTRY_COMPARE_WITH_TIMEOUT(service.findChildren<QTcpSocket *>().size(), 1, WaitTimeoutMs);
    QTcpSocket *served = service.findChildren<QTcpSocket *>().first();
    served->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
    QByteArray requests;
    for (int i = 0; i < Requests; ++i)
        requests += HandMade::bytes({0x10, 0x04, 1});
    flooder.write(requests);

    const auto paused = [&messages] {
        return messages.filter(QStringLiteral("connection paused")).size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(paused() > 0, WaitTimeoutMs);
    QVERIFY2(served->bytesToWrite()
                     <= PrinterService::MaxPendingReplies + PrinterService::ReadChunk,
             qPrintable(QString::number(served->bytesToWrite())));

    // Another sender waits for its turn meanwhile.
    QTcpSocket next;
    next.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(next.waitForConnected(WaitTimeoutMs));
    next.write(HandMade::bytes({0x10, 0x04, 2}));

    // Once the flooder reads, the printer reads on: every request gets its answer.
    flooder.setReadBufferSize(0);
    QByteArray replies;
    QTRY_VERIFY_WITH_TIMEOUT((replies += flooder.readAll()).size() >= Requests, WaitTimeoutMs);
    QCOMPARE(replies, QByteArray(Requests, '\x12'));
    flooder.disconnectFromHost();

    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT(!(answer += next.readAll()).isEmpty(), WaitTimeoutMs);
    QCOMPARE(answer, QByteArray("\x12"));
}

QTEST_MAIN(tst_PrinterService)
#include "tst_printerservice.moc"

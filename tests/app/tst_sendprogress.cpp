// The window during a send that takes a while: it keeps answering, shows the bytes that
// reached the printer, can be stopped, and tells why a send failed.

#include <tests/support/recordingdialogs.h>
#include <tests/support/slowpeer.h>
#include <tests/support/windowdriver.h>

#include <app/frmcuttest.h>
#include <app/progresswindow.h>
#include <printer/poslibrary.h>

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using App::FrmCutTest;

namespace {

// A one-bit BMP is small on disk and makes a large stream: 2048 x 576 dots, 147,461 bytes.
QString bigPicture(const QDir &dir)
{
    QImage image(2048, 576, QImage::Format_Mono);
    image.fill(1);
    const QString path = dir.filePath(QStringLiteral("big.bmp"));
    if (!image.save(path, "BMP"))
        qFatal("cannot save %s", qPrintable(path));
    return path;
}

constexpr qint64 BigStreamSize = 5 + 4 + 2048 * 576 / 8;

} // namespace

class tst_SendProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void slowSendKeepsTheWindowAlive();
    void stopAndCloseDuringTheSendAskFirst();
    void failuresCarryTheirReason_data();
    void failuresCarryTheirReason();

private:
    void startDownload(quint16 port);

    QTemporaryDir m_dir;
    std::unique_ptr<Printer::PosLibrary> m_nvpos;
    RecordingDialogs m_dialogs;
    std::unique_ptr<FrmCutTest> m_window;
};

void tst_SendProgress::init()
{
    m_nvpos = std::make_unique<Printer::PosLibrary>(QStringLiteral(NVPOS_LIBRARY));
    m_dialogs = RecordingDialogs();
    m_window = std::make_unique<FrmCutTest>(*m_nvpos, &m_dialogs);
    m_window->show();
}

void tst_SendProgress::cleanup()
{
    m_window.reset();
}

void tst_SendProgress::startDownload(quint16 port)
{
    m_window->Text1->setText(QStringLiteral("127.0.0.1:%1").arg(port));
    m_dialogs.answers.append({bigPicture(QDir(m_dir.path()))});
    QTest::mouseClick(m_window->CmdDownload, Qt::LeftButton);
    QVERIFY(m_window->isBusy());
}

void tst_SendProgress::slowSendKeepsTheWindowAlive()
{
    SlowPeer printer(4096, 20); // about 200 KB/s
    int ticks = 0;
    bool progressShown = false;
    QList<int> barValues;
    QTimer clock;
    auto bar = m_window->progressWindow()->findChild<QProgressBar *>(QStringLiteral("bar"));
    QVERIFY(bar);
    connect(&clock, &QTimer::timeout, this, [&] {
        ++ticks;
        progressShown = progressShown || m_window->progressWindow()->isVisible();
        if (bar->maximum() == 1000 && (barValues.isEmpty() || barValues.last() != bar->value()))
            barValues.append(bar->value());
    });
    clock.start(10);
    qint64 receivedWhenToldSuccess = -1;
    m_dialogs.probe = [&] {
        receivedWhenToldSuccess = printer.received();
        return true;
    };

    QSignalSpy finished(m_window.get(), &FrmCutTest::commandFinished);
    startDownload(printer.port());
    QVERIFY(finished.wait(60000));

    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, QStringLiteral("Wait until printer reset."));
    // Success comes once the printer acknowledged every byte: what it has not read yet fits
    // in its small receive buffer, not in the megabytes the system would queue for it.
    QVERIFY2(BigStreamSize - receivedWhenToldSuccess <= 32768,
             qPrintable(QString::number(receivedWhenToldSuccess)));
    // The window's own timer went on firing during the send, and the progress showed.
    QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
    QVERIFY(progressShown);
    QVERIFY2(barValues.size() >= 3, qPrintable(QString::number(barValues.size())));
    QVERIFY(std::is_sorted(barValues.begin(), barValues.end()));
    QVERIFY(!m_window->progressWindow()->isVisible());
    QVERIFY(m_window->CmdDownload->isEnabled());
}

void tst_SendProgress::stopAndCloseDuringTheSendAskFirst()
{
    SlowPeer printer(1024, 20); // about 50 KB/s: three seconds for the stream
    QSignalSpy finished(m_window.get(), &FrmCutTest::commandFinished);
    startDownload(printer.port());
    auto bar = m_window->progressWindow()->findChild<QProgressBar *>(QStringLiteral("bar"));
    QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() == 1000 && bar->value() > 0, 30000);

    // Asked, and told no: the send goes on.
    m_dialogs.answerQuestion = [](const QString &, const QString &) {
        return false;
    };
    m_window->progressWindow()->stopButton()->click();
    QCOMPARE(m_dialogs.questions.size(), 1);
    QVERIFY(m_window->isBusy());

    // Closing the window asks too; yes stops the send, shows the outcome, then closes.
    m_dialogs.answerQuestion = [](const QString &, const QString &) {
        return true;
    };
    QVERIFY(!m_window->close());
    QCOMPARE(m_dialogs.questions.size(), 2);
    QVERIFY(finished.wait(30000));
    QCOMPARE(m_dialogs.messages.size(), 1);
    QVERIFY2(m_dialogs.messages[0].text.startsWith(QLatin1String("Stopped after")),
             qPrintable(m_dialogs.messages[0].text));
    QVERIFY(m_dialogs.messages[0].details.contains(QLatin1String("off and on")));
    QVERIFY(!m_window->isVisible());
    QVERIFY(printer.received() < BigStreamSize);
}

void tst_SendProgress::failuresCarryTheirReason_data()
{
    QTest::addColumn<qint64>("hangUpAfter");
    QTest::addColumn<QString>("text");
    QTest::newRow("nobody listens") << qint64(-2) << "Fail to open port,please check!";
    QTest::newRow("hangs up after 10 KB")
            << qint64(10240) << "Fail to send to printer,please check!";
}

void tst_SendProgress::failuresCarryTheirReason()
{
    QFETCH(qint64, hangUpAfter);
    QFETCH(QString, text);
    SlowPeer printer(8192, 1, std::max<qint64>(hangUpAfter, 0));
    // Port 1 of the loopback address refuses every connection.
    const quint16 port = hangUpAfter < 0 ? 1 : printer.port();
    m_window->Text1->setText(QStringLiteral("127.0.0.1:%1").arg(port));
    m_dialogs.answers.append({bigPicture(QDir(m_dir.path()))});
    QVERIFY(clickAndWait(*m_window, m_window->CmdDownload));
    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, text);
    QCOMPARE(m_dialogs.messages[0].caption, QStringLiteral("error"));
    // The fixed text stays; the reason is in the details.
    QVERIFY2(m_dialogs.messages[0].details.contains(QStringLiteral("127.0.0.1")),
             qPrintable(m_dialogs.messages[0].details));
}

QTEST_MAIN(tst_SendProgress)
#include "tst_sendprogress.moc"

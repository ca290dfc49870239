// The window against the private print server: its printer list and both commands over a
// raw print queue.

#include <tests/support/recordingdialogs.h>
#include <tests/support/windowdriver.h>

#include <app/frmcuttest.h>
#include <printer/poslibrary.h>

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using App::FrmCutTest;

namespace {

const QString Server = QStringLiteral(NVLOGO_CUPS_SERVER);
const QString SharedQueue = QStringLiteral(NVLOGO_CUPS_QUEUE);
// Other tests print to the shared queue at the same time, so this test prints to a queue of
// its own whose jobs land in a folder that nothing else writes to.
const QString Queue = QStringLiteral("kitchen");

QStringList run(const QString &program, const QStringList &arguments)
{
    // lpadmin lives in sbin, which an ordinary user's PATH may leave out.
    QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
                program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    QProcess process;
    process.start(path, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput())
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QSet<QString> jobFiles(const QString &jobDir)
{
    const QStringList names = QDir(jobDir).entryList({QStringLiteral("*.prn")}, QDir::Files);
    return QSet<QString>(names.begin(), names.end());
}

// The bytes of the one job that appears after `before`, waiting for the print server.
QByteArray newJob(const QString &jobDir, const QSet<QString> &before)
{
    for (int waited = 0; waited < 30000; waited += 50) {
        const QSet<QString> added = jobFiles(jobDir) - before;
        if (added.size() > 1)
            return QByteArray("more than one job arrived");
        if (added.size() == 1) {
            QFile file(QDir(jobDir).filePath(*added.begin()));
            if (file.open(QIODevice::ReadOnly))
                return file.readAll();
        }
        QTest::qWait(50);
    }
    return QByteArray("no job arrived");
}

} // namespace

class tst_PrintQueue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void listsTheInstalledQueuesInTheServersOrder();
    void printsOverTheQueue();
    void downloadsOverTheQueue();

private:
    std::unique_ptr<FrmCutTest> driverWindow();

    Printer::PosLibrary m_nvpos{QStringLiteral(NVPOS_LIBRARY)};
    RecordingDialogs m_dialogs;
    QStringList m_addedQueues{QStringLiteral("Bar_Counter"), Queue};
    QTemporaryDir m_jobDir{QStringLiteral(NVLOGO_CUPS_JOBDIR "/../printqueue-XXXXXX")};
};

void tst_PrintQueue::initTestCase()
{
    QCOMPARE(qEnvironmentVariable("CUPS_SERVER"), Server);
    QVERIFY2(m_jobDir.isValid(), qPrintable(m_jobDir.errorString()));
    for (const QString &queue : m_addedQueues) {
        run(QStringLiteral("lpadmin"),
            {QStringLiteral("-h"),
             Server,
             QStringLiteral("-p"),
             queue,
             QStringLiteral("-E"),
             QStringLiteral("-v"),
             QStringLiteral("capture:") + m_jobDir.path(),
             QStringLiteral("-m"),
             QStringLiteral("raw")});
    }
}

void tst_PrintQueue::cleanupTestCase()
{
    for (const QString &queue : m_addedQueues)
        run(QStringLiteral("lpadmin"), {QStringLiteral("-h"), Server, QStringLiteral("-x"), queue});
}

std::unique_ptr<FrmCutTest> tst_PrintQueue::driverWindow()
{
    auto window = std::make_unique<FrmCutTest>(m_nvpos, &m_dialogs);
    QSignalSpy listed(window.get(), &FrmCutTest::printersListed);
    if (!waitForPrinterList(listed))
        qFatal("the printer list did not arrive");
    window->Combo1->setCurrentIndex(window->Combo1->findText(QStringLiteral("DRIVER")));
    window->Combo2->setCurrentIndex(window->Combo2->findText(Queue));
    return window;
}

void tst_PrintQueue::listsTheInstalledQueuesInTheServersOrder()
{
    // lpstat asks the same server; its order is the server's.
    QStringList expected;
    for (const QString &line :
         run(QStringLiteral("lpstat"), {QStringLiteral("-h"), Server, QStringLiteral("-e")}))
        expected.append(line.trimmed());
    QVERIFY2(expected.size() >= 3, qPrintable(expected.join(QLatin1Char(' '))));
    QVERIFY(expected.contains(SharedQueue));
    QVERIFY(expected.contains(Queue));

    FrmCutTest window(m_nvpos, &m_dialogs);
    QSignalSpy arrived(&window, &FrmCutTest::printersListed);
    QVERIFY(waitForPrinterList(arrived));
    QStringList listed;
    for (int i = 0; i < window.Combo2->count(); ++i)
        listed.append(window.Combo2->itemText(i));
    QCOMPARE(listed, expected);
    QCOMPARE(window.Combo2->currentIndex(), 0);
}

void tst_PrintQueue::printsOverTheQueue()
{
    auto window = driverWindow();
    window->Combo4->setCurrentIndex(4);
    window->Combo5->setCurrentIndex(2);
    const QSet<QString> before = jobFiles(m_jobDir.path());
    QVERIFY(clickAndWait(*window, window->CmdPrintOut));
    QCOMPARE(m_dialogs.messages.size(), 0);
    QCOMPARE(newJob(m_jobDir.path(), before).toHex(), QByteArray("1c7005021d564200"));
}

void tst_PrintQueue::downloadsOverTheQueue()
{
    QTemporaryDir dir;
    QImage picture(100, 50, QImage::Format_RGB32);
    picture.fill(Qt::white);
    picture.setPixel(0, 0, qRgb(0, 0, 0));
    const QString path = dir.filePath(QStringLiteral("logo.bmp"));
    QVERIFY(picture.save(path, "BMP"));

    auto window = driverWindow();
    m_dialogs = RecordingDialogs();
    m_dialogs.answers.append({path});
    const QSet<QString> before = jobFiles(m_jobDir.path());
    QVERIFY(clickAndWait(*window, window->CmdDownload));
    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, QStringLiteral("Wait until printer reset."));

    const QByteArray job = newJob(m_jobDir.path(), before);
    QCOMPARE(job.size(), 737);
    QCOMPARE(job.left(10).toHex(), QByteArray("1b401c71010d00070080"));
    QCOMPARE(job.mid(10), QByteArray(727, '\0'));
}

QTEST_MAIN(tst_PrintQueue)
#include "tst_printqueue.moc"

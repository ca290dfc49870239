#include <tests/support/comboitems.h>
#include <tests/support/recordingdialogs.h>
#include <tests/support/recordinglibrary.h>
#include <tests/support/tcpsink.h>
#include <tests/support/windowdriver.h>

#include <app/frmcuttest.h>
#include <commands/commandstate.h>
#include <commands/downloadcommand.h>
#include <nvimage/nvimagefile.h>

#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using App::FrmCutTest;
using Commands::MessageIcon;

namespace {

// A picture with a black square in its top-left quarter, saved in the given format.
QString savePicture(const QDir &dir, const QString &name, QSize size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < size.height() / 2; ++y)
        for (int x = 0; x < size.width() / 2; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    const QString path = dir.filePath(name);
    if (!image.save(path, format, 100))
        qFatal("cannot save %s", qPrintable(path));
    return path;
}

void padTo(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::Append) || file.size() > size
        || file.write(QByteArray(size - file.size(), '\0')) < 0)
        qFatal("cannot pad %s", qPrintable(path));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A BMP header that claims a picture far larger than the file holds.
QByteArray hugeBmpHeader(qint32 width, qint32 height)
{
    QByteArray header(54, '\0');
    auto put32 = [&](int at, qint32 v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = char((quint32(v) >> (8 * i)) & 0xff);
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, 54 + 64);
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    header[26] = 1;
    header[28] = 24;
    return header + QByteArray(64, '\x7f');
}

QByteArray writtenBytes(const QString &call)
{
    // POS_WriteFile(handle,hex,count)
    const QStringList parts
            = call.mid(call.indexOf(QLatin1Char('(')) + 1).chopped(1).split(QLatin1Char(','));
    return QByteArray::fromHex(parts.value(1).toLatin1());
}

} // namespace

class tst_Download : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cancelChangesNothing();
    void onePictureIsSentInOneWrite();
    void picturesKeepTheDialogsOrder();
    void onlyAPrintQueueFramesTheWrite_data();
    void onlyAPrintQueueFramesTheWrite();
    void everyWayOutCleansUp_data();
    void everyWayOutCleansUp();
    void deliversTheStreamOverTcp();
    void stopBeforeSendingSendsNothing();
    void aNameThatIsNotTextIsFound();

private:
    QStringList calls() { return m_rec->calls(); }
    void download(const QStringList &paths);

    std::unique_ptr<QTemporaryDir> m_pictures;
    std::unique_ptr<QTemporaryDir> m_scratchDir;
    std::unique_ptr<RecordingLibrary> m_rec;
    RecordingDialogs m_dialogs;
    std::unique_ptr<FrmCutTest> m_window;
};

void tst_Download::initTestCase()
{
    m_rec = std::make_unique<RecordingLibrary>(QStringLiteral(RECORDING_POS_LIBRARY));
}

void tst_Download::init()
{
    m_pictures = std::make_unique<QTemporaryDir>();
    m_scratchDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pictures->isValid() && m_scratchDir->isValid());
    // The scratch file goes to the temporary folder; watch a private one.
    qputenv("TMPDIR", QFile::encodeName(m_scratchDir->path()));
    m_rec->reset();
    m_dialogs = RecordingDialogs();
    m_window = std::make_unique<FrmCutTest>(m_rec->library, &m_dialogs);
    m_window->show();
    m_dialogs.probe = [this] {
        return m_window->CmdDownload->isEnabled() && m_window->CmdPrintOut->isEnabled();
    };
}

void tst_Download::cleanup()
{
    m_window.reset();
    qunsetenv("TMPDIR");
}

void tst_Download::download(const QStringList &paths)
{
    m_dialogs.answers.append(paths);
    QVERIFY(clickAndWait(*m_window, m_window->CmdDownload));
}

void tst_Download::cancelChangesNothing()
{
    download({});
    QCOMPARE(m_dialogs.fileDialogCount, 1);
    QCOMPARE(m_dialogs.lastNameFilters,
             QStringList({"*.bmp (*.bmp *.BMP)",
                          "*.jpg (*.jpg *.JPG)",
                          "*.gif (*.gif *.GIF)",
                          "*.* (*)"}));
    QCOMPARE(calls(), QStringList());
    QCOMPARE(m_dialogs.messages.size(), 0);
    QCOMPARE(m_window->Combo4->count(), 13);
    QVERIFY(m_window->CmdDownload->isEnabled());
    QVERIFY(m_window->CmdPrintOut->isEnabled());
}

void tst_Download::onePictureIsSentInOneWrite()
{
    m_rec->setOpenResult(9);
    download({savePicture(m_pictures->path(), QStringLiteral("logo.bmp"), {100, 50}, "BMP")});

    const QStringList log = calls();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[0], QStringLiteral(R"(POS_Open("192.168.123.100",0,0,0,0,21))"));
    QVERIFY(log[1].startsWith(QLatin1String("POS_WriteFile(9,")));
    QVERIFY(log[1].endsWith(QLatin1String(",737)")));
    QCOMPARE(log[2], QStringLiteral("NVPOS_Close(9)"));

    const QByteArray stream = writtenBytes(log[1]);
    QCOMPARE(stream.left(9).toHex(), QByteArray("1b401c71010d000700"));
    // The black quarter: column 0 is black in rows 0..24, white below.
    QCOMPARE(stream.mid(9, 7).toHex(), QByteArray("ffffff80000000"));

    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, QStringLiteral("Wait until printer reset."));
    QCOMPARE(m_dialogs.messages[0].caption, QStringLiteral("info"));
    QCOMPARE(m_dialogs.messages[0].icon, MessageIcon::Information);
    QCOMPARE(comboItems(m_window->Combo4), QStringList{"1"});
    QCOMPARE(m_window->commandState().ImageWidth, qint16(104));
    QCOMPARE(m_window->commandState().ImageHeight, qint16(56));
    QVERIFY(m_window->CmdDownload->isEnabled());
    QVERIFY(m_window->CmdPrintOut->isEnabled());
    QCOMPARE(QDir(m_scratchDir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

void tst_Download::picturesKeepTheDialogsOrder()
{
    const QDir dir(m_pictures->path());
    const QStringList paths = {savePicture(dir, QStringLiteral("c.jpg"), {24, 8}, "JPEG"),
                               savePicture(dir, QStringLiteral("a.bmp"), {8, 16}, "BMP"),
                               savePicture(dir, QStringLiteral("b.jpg"), {16, 24}, "JPEG")};
    m_window->Combo4->setCurrentIndex(7);
    download(paths);

    QCOMPARE(comboItems(m_window->Combo4), QStringList({"1", "2", "3"}));
    QCOMPARE(m_window->Combo4->currentText(), QStringLiteral("1"));
    const QByteArray stream = writtenBytes(calls().value(1));
    QCOMPARE(quint8(stream[4]), quint8(3));
    // Walk the records: width and height units of each, in the chosen order.
    QList<QPair<int, int>> records;
    int at = 5;
    while (at + 4 <= stream.size()) {
        const int x = quint8(stream[at]) | quint8(stream[at + 1]) << 8;
        const int y = quint8(stream[at + 2]) | quint8(stream[at + 3]) << 8;
        records.append({x, y});
        at += 4 + x * y * 8;
    }
    QCOMPARE(at, stream.size());
    QCOMPARE(records, (QList<QPair<int, int>>{{3, 1}, {1, 2}, {2, 3}}));
    QCOMPARE(m_window->commandState().ImageWidth, qint16(16));
    QCOMPARE(m_window->commandState().ImageHeight, qint16(24));
}

void tst_Download::onlyAPrintQueueFramesTheWrite_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("callNames");
    QTest::newRow("driver") << "DRIVER"
                            << QStringList{"POS_Open",
                                           "NVPOS_StartDoc",
                                           "POS_WriteFile",
                                           "NVPOS_EndDoc",
                                           "NVPOS_Close"};
    QTest::newRow("serial") << "COM2" << QStringList{"POS_Open", "POS_WriteFile", "NVPOS_Close"};
    QTest::newRow("parallel") << "LPT1" << QStringList{"POS_Open", "POS_WriteFile", "NVPOS_Close"};
    // No known kind: nothing is opened and the write goes out with handle 0.
    QTest::newRow("unknown kind") << "USB" << QStringList{"POS_WriteFile", "NVPOS_Close"};
}

void tst_Download::onlyAPrintQueueFramesTheWrite()
{
    QFETCH(QString, port);
    QFETCH(QStringList, callNames);
    m_window->Combo1->setEditText(port);
    download({savePicture(m_pictures->path(), QStringLiteral("p.bmp"), {8, 8}, "BMP")});
    QStringList names;
    for (const QString &call : calls())
        names.append(call.left(call.indexOf(QLatin1Char('('))));
    QCOMPARE(names, callNames);
}

void tst_Download::everyWayOutCleansUp_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("detailsContain");
    QTest::addColumn<bool>("opened");

    QTest::newRow("262124 bytes are sent") << "sum 262124"
                                           << "Wait until printer reset."
                                           << "" << true;
    QTest::newRow("262125 bytes are refused") << "sum 262125"
                                              << "Graph size out of range!"
                                              << "below 262125 bytes" << false;
    QTest::newRow("256 pictures") << "256 pictures"
                                  << "Unexpect error!"
                                  << "255" << false;
    QTest::newRow("not a picture") << "text file"
                                   << "Unexpect error!"
                                   << "notes.bmp" << false;
    QTest::newRow("truncated JPEG") << "truncated jpeg"
                                    << "Unexpect error!"
                                    << "cut.jpg" << false;
    QTest::newRow("missing file") << "missing"
                                  << "Unexpect error!"
                                  << "gone.bmp" << false;
    QTest::newRow("header claims 30000 x 30000") << "huge bmp"
                                                 << "8184"
                                                 << "" << false;
    QTest::newRow("8185 dots wide") << "too wide"
                                    << "8184"
                                    << "" << false;
    QTest::newRow("2305 dots high") << "too high"
                                    << "2304"
                                    << "" << false;
    QTest::newRow("port does not open") << "open fails"
                                        << "Fail to open port,please check!"
                                        << "" << false;
    QTest::newRow("write fails") << "write fails"
                                 << "Fail to send to printer,please check!"
                                 << "result -5" << true;
    QTest::newRow("printer library lacks an entry point") << "no StartDoc"
                                                          << "Unexpect error!"
                                                          << "POS_StartDoc" << true;
}

void tst_Download::everyWayOutCleansUp()
{
    QFETCH(QString, scenario);
    QFETCH(QString, text);
    QFETCH(QString, detailsContain);
    QFETCH(bool, opened);

    const QDir dir(m_pictures->path());
    QStringList paths;
    std::unique_ptr<RecordingLibrary> partial;
    if (scenario.startsWith(QLatin1String("sum "))) {
        const qint64 total = scenario.mid(4).toLongLong();
        paths = {savePicture(dir, QStringLiteral("one.bmp"), {64, 64}, "BMP"),
                 savePicture(dir, QStringLiteral("two.bmp"), {640, 100}, "BMP")};
        padTo(paths[1], total - QFileInfo(paths[0]).size());
    } else if (scenario == QLatin1String("256 pictures")) {
        const QString one = savePicture(dir, QStringLiteral("p.bmp"), {8, 8}, "BMP");
        for (int i = 0; i < 256; ++i)
            paths.append(one);
    } else if (scenario == QLatin1String("text file")) {
        paths = {dir.filePath(QStringLiteral("notes.bmp"))};
        writeFile(paths[0], "This is not a picture.\n");
    } else if (scenario == QLatin1String("truncated jpeg")) {
        const QString whole = savePicture(dir, QStringLiteral("whole.jpg"), {200, 200}, "JPEG");
        QFile file(whole);
        QVERIFY(file.open(QIODevice::ReadOnly));
        paths = {dir.filePath(QStringLiteral("cut.jpg"))};
        writeFile(paths[0], file.readAll().left(int(file.size() / 2)));
    } else if (scenario == QLatin1String("missing")) {
        paths = {savePicture(dir, QStringLiteral("here.bmp"), {8, 8}, "BMP"),
                 dir.filePath(QStringLiteral("gone.bmp"))};
    } else if (scenario == QLatin1String("huge bmp")) {
        paths = {dir.filePath(QStringLiteral("huge.bmp"))};
        writeFile(paths[0], hugeBmpHeader(30000, 30000));
    } else if (scenario == QLatin1String("too wide")) {
        paths = {savePicture(dir, QStringLiteral("wide.bmp"), {8185, 8}, "BMP")};
    } else if (scenario == QLatin1String("too high")) {
        paths = {savePicture(dir, QStringLiteral("high.bmp"), {8, 2305}, "BMP")};
    } else {
        paths = {savePicture(dir, QStringLiteral("ok.bmp"), {16, 16}, "BMP")};
        if (scenario == QLatin1String("open fails"))
            m_rec->setOpenResult(-1);
        if (scenario == QLatin1String("write fails"))
            m_rec->setWriteResult(-5);
        if (scenario == QLatin1String("no StartDoc")) {
            partial = std::make_unique<RecordingLibrary>(
                    QStringLiteral(RECORDING_POS_NOSTARTDOC_LIBRARY));
            m_window = std::make_unique<FrmCutTest>(partial->library, &m_dialogs);
            m_window->Combo1->setCurrentIndex(m_window->Combo1->findText(QStringLiteral("DRIVER")));
        }
    }

    download(paths);

    QCOMPARE(m_dialogs.messages.size(), 1);
    QVERIFY2(m_dialogs.messages[0].text.contains(text), qPrintable(m_dialogs.messages[0].text));
    // The window is usable again by the time the user reads the outcome.
    QVERIFY(m_dialogs.messages[0].probed);
    if (!detailsContain.isEmpty()) {
        QVERIFY2(m_dialogs.messages[0].details.contains(detailsContain),
                 qPrintable(m_dialogs.messages[0].details));
    }
    // The list shows the new numbers whatever happened after the dialog.
    QCOMPARE(m_window->Combo4->count(), paths.size());
    QVERIFY(m_window->CmdDownload->isEnabled());
    QVERIFY(m_window->CmdPrintOut->isEnabled());
    QCOMPARE(QDir(m_scratchDir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
    const QStringList log = partial ? partial->calls() : calls();
    QCOMPARE(log.filter(QStringLiteral("NVPOS_Close(")).size(), opened ? 1 : 0);
}

void tst_Download::deliversTheStreamOverTcp()
{
    Printer::PosLibrary nvpos(QStringLiteral(NVPOS_LIBRARY));
    RecordingDialogs dialogs;
    FrmCutTest window(nvpos, &dialogs);
    TcpSink printer;
    window.Text1->setText(QStringLiteral("127.0.0.1:%1").arg(printer.port()));
    const QDir dir(m_pictures->path());
    const QStringList paths = {savePicture(dir, QStringLiteral("a.bmp"), {100, 50}, "BMP"),
                               savePicture(dir, QStringLiteral("b.jpg"), {2048, 64}, "JPEG")};
    dialogs.answers.append(paths);
    QVERIFY(clickAndWait(window, window.CmdDownload));

    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Wait until printer reset."));
    const QByteArray received = printer.waitForClosedConnection();
    QCOMPARE(received.size(), 5 + 4 + 104 * 7 + 4 + 2048 * 8);
    QCOMPARE(received.left(9).toHex(), QByteArray("1b401c71020d000700"));
    QCOMPARE(received.mid(9 + 728, 4).toHex(), QByteArray("00010800"));
    QCOMPARE(printer.connectionCount(), 1);
}

void tst_Download::stopBeforeSendingSendsNothing()
{
    struct StopAtOnce : Commands::Progress
    {
        bool stopRequested() const override { return true; }
    } stop;
    NvImage::PictureSurface surface;
    Commands::CommandState state;
    const Printer::PortSettings port{QStringLiteral("ETHERNET"),
                                     QStringLiteral("10.0.0.9"),
                                     QString(),
                                     QStringLiteral("19200")};
    const Commands::DownloadRequest request{
            {savePicture(m_pictures->path(), QStringLiteral("p.bmp"), {8, 8}, "BMP")}, {}, {}};
    const Commands::Outcome outcome
            = Commands::downloadPictures(m_rec->library, port, request, surface, state, &stop);
    QCOMPARE(outcome.kind, Commands::Outcome::Kind::Stopped);
    QVERIFY(!outcome.succeeded());
    QCOMPARE(calls(), QStringList());
    QCOMPARE(QDir(m_scratchDir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());
}

void tst_Download::aNameThatIsNotTextIsFound()
{
    // "caf\xe9.bmp" in Latin-1: the dialog can only show it as "caf\ufffd.bmp".
    const QString plain
            = savePicture(m_pictures->path(), QStringLiteral("plain.bmp"), {8, 8}, "BMP");
    const QByteArray latin1 = QFile::encodeName(m_pictures->path()) + "/caf\xe9.bmp";
    QVERIFY(::link(QFile::encodeName(plain).constData(), latin1.constData()) == 0);
    QVERIFY(!QFileInfo::exists(QFile::decodeName(latin1))); // the text names no file
    download({QFile::decodeName(latin1)});
    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, QStringLiteral("Wait until printer reset."));
    QCOMPARE(calls().size(), 3);
}

QTEST_MAIN(tst_Download)
#include "tst_download.moc"

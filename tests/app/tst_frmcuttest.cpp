#include <tests/support/comboitems.h>
#include <tests/support/recordingdialogs.h>
#include <tests/support/recordinglibrary.h>
#include <tests/support/tcpsink.h>
#include <tests/support/windowdriver.h>

#include <app/frmcuttest.h>

#include <QComboBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using App::FrmCutTest;

namespace {

// Text1, Combo2, Combo3 enabled, as a three-letter pattern such as "100".
QString settingsState(const FrmCutTest &w)
{
    QString s;
    for (const QWidget *control : {static_cast<const QWidget *>(w.Text1),
                                   static_cast<const QWidget *>(w.Combo2),
                                   static_cast<const QWidget *>(w.Combo3)})
        s += control->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
}

} // namespace

class tst_FrmCutTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void startUpValues();
    void layout_data();
    void layout();
    void focusOrder();
    void selectingAKindEnablesItsSettings_data();
    void selectingAKindEnablesItsSettings();
    void typingAKindEnablesItsSettings_data();
    void typingAKindEnablesItsSettings();
    void printOutReadsTheControls();
    void printOutFailureToOpenIsShown();
    void printOutReachesAPrinterOverTcp();
    void errorsReachTheApplicationHandlerAndTheWindowGoesOn();

private:
    RecordingLibrary m_rec{QStringLiteral(RECORDING_POS_LIBRARY)};
    RecordingDialogs m_dialogs;
    std::unique_ptr<FrmCutTest> m_window;
};

void tst_FrmCutTest::init()
{
    m_rec.reset();
    m_dialogs = RecordingDialogs();
    m_window = std::make_unique<FrmCutTest>(m_rec.library, &m_dialogs);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_FrmCutTest::cleanup()
{
    m_window.reset();
}

void tst_FrmCutTest::startUpValues()
{
    const FrmCutTest &w = *m_window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Frm_Kelvane(17-3-31)"));
    QVERIFY(!w.windowIcon().availableSizes().isEmpty());
    QCOMPARE(comboItems(w.Combo1),
             QStringList({"ETHERNET",
                          "COM1",
                          "COM2",
                          "COM3",
                          "COM4",
                          "COM5",
                          "COM6",
                          "COM7",
                          "COM8",
                          "COM9",
                          "LPT1",
                          "LPT2",
                          "LPT3",
                          "DRIVER"}));
    QCOMPARE(w.Combo1->currentText(), QStringLiteral("ETHERNET"));
    QVERIFY(w.Combo1->isEditable());
    QCOMPARE(comboItems(w.Combo3), QStringList({"9600", "19200", "38400", "115200"}));
    QCOMPARE(w.Combo3->currentText(), QStringLiteral("19200"));
    QCOMPARE(comboItems(w.Combo5),
             QStringList({"normal", "double width", "double height", "double"}));
    QCOMPARE(w.Combo5->currentText(), QStringLiteral("normal"));
    QCOMPARE(comboItems(w.Combo4),
             QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13"}));
    QCOMPARE(w.Combo4->currentText(), QStringLiteral("1"));
    for (const QComboBox *list : {w.Combo2, w.Combo3, w.Combo4, w.Combo5})
        QVERIFY(!list->isEditable());
    // No print server answers in this test, so there are no printers, and that is fine.
    QCOMPARE(w.Combo2->count(), 0);
    QCOMPARE(w.Combo2->currentIndex(), -1);
    QCOMPARE(w.Text1->text(), QStringLiteral("192.168.123.100"));
    // The hidden drawing surface shows the window's background where a picture is transparent.
    QCOMPARE(w.picture1().background(), w.palette().color(QPalette::Base));
    QCOMPARE(settingsState(w), QStringLiteral("100"));
    QVERIFY(w.CmdDownload->isEnabled());
    QVERIFY(w.CmdPrintOut->isEnabled());
    QCOMPARE(w.CmdDownload->text(), QStringLiteral("Download Picture"));
    QCOMPARE(w.CmdPrintOut->text(), QStringLiteral("Print Out"));
    QCOMPARE(w.size(), QSize(387, 129));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QCOMPARE(m_dialogs.messages.size(), 0);
    QCOMPARE(m_rec.calls(), QStringList()); // starting opens no connection
}

void tst_FrmCutTest::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");

    QTest::newRow("Label1") << "Label1"
                            << "Port:" << QRect(105, 150, 450, 255);
    QTest::newRow("Combo1") << "Combo1"
                            << "" << QRect(645, 105, 1575, 315);
    QTest::newRow("Label2") << "Label2"
                            << "IP:" << QRect(105, 570, 255, 255);
    QTest::newRow("Text1") << "Text1"
                           << "" << QRect(675, 540, 1575, 285);
    QTest::newRow("Label3") << "Label3"
                            << "Driver:" << QRect(105, 990, 495, 255);
    QTest::newRow("Combo2") << "Combo2"
                            << "" << QRect(735, 945, 2115, 315);
    QTest::newRow("Label4") << "Label4"
                            << "Baundrate:" << QRect(105, 1365, 840, 255);
    QTest::newRow("Combo3") << "Combo3"
                            << "" << QRect(975, 1350, 1095, 315);
    QTest::newRow("CmdDownload") << "CmdDownload"
                                 << "Download Picture" << QRect(3045, 210, 2325, 750);
    QTest::newRow("Combo4") << "Combo4"
                            << "" << QRect(3150, 1170, 645, 315);
    QTest::newRow("CmdPrintOut") << "CmdPrintOut"
                                 << "Print Out" << QRect(3915, 1170, 1635, 600);
    QTest::newRow("Label5") << "Label5"
                            << "No:" << QRect(2835, 1215, 285, 240);
    QTest::newRow("Combo5") << "Combo5"
                            << "" << QRect(2520, 1530, 1275, 315);
}

void tst_FrmCutTest::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);

    auto widget = m_window->findChild<QWidget *>(name);
    QVERIFY(widget);
    QVERIFY(widget->isVisible());
    QCOMPARE(widget->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    if (auto label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), caption);
        // Whatever the desktop's font, the caption is not cut off.
        QVERIFY(label->fontMetrics().horizontalAdvance(caption) <= label->width());
    }
    if (auto button = qobject_cast<QPushButton *>(widget))
        QCOMPARE(button->text(), caption);
}

void tst_FrmCutTest::focusOrder()
{
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QCOMPARE(QApplication::focusWidget(), m_window->Combo1);

    const QList<QWidget *> expected = {m_window->Combo2,
                                       m_window->Combo3,
                                       m_window->CmdDownload,
                                       m_window->Combo4,
                                       m_window->CmdPrintOut,
                                       m_window->Combo5,
                                       m_window->Text1,
                                       m_window->Combo1};
    // The ETHERNET state disables Combo2 and Combo3, which then take no focus; enable all to
    // see the whole order.
    m_window->Combo2->setEnabled(true);
    m_window->Combo3->setEnabled(true);
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), next->objectName());
    }
}

void tst_FrmCutTest::selectingAKindEnablesItsSettings_data()
{
    QTest::addColumn<QStringList>("selections");
    QTest::addColumn<QString>("state");

    QTest::newRow("COM7") << QStringList{"COM7"} << "001";
    QTest::newRow("LPT1") << QStringList{"LPT1"} << "000";
    QTest::newRow("DRIVER") << QStringList{"DRIVER"} << "010";
    QTest::newRow("back to ETHERNET") << QStringList{"DRIVER", "COM1", "ETHERNET"} << "100";
    QTest::newRow("LPT3 after COM9") << QStringList{"COM9", "LPT3"} << "000";
}

void tst_FrmCutTest::selectingAKindEnablesItsSettings()
{
    QFETCH(QStringList, selections);
    QFETCH(QString, state);
    for (const QString &entry : selections)
        m_window->Combo1->setCurrentIndex(m_window->Combo1->findText(entry));
    QCOMPARE(settingsState(*m_window), state);
    QVERIFY(m_window->CmdDownload->isEnabled());
    QVERIFY(m_window->CmdPrintOut->isEnabled());
}

void tst_FrmCutTest::typingAKindEnablesItsSettings_data()
{
    QTest::addColumn<QString>("before"); // selected first
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("statesAfterEachKey");

    QTest::newRow("COM") << "ETHERNET"
                         << "COM" << QStringList{"100", "100", "001"};
    QTest::newRow("LPT9") << "ETHERNET"
                          << "LPT9" << QStringList{"100", "100", "000", "000"};
    QTest::newRow("lower case") << "DRIVER"
                                << "com1" << QStringList{"010", "010", "010", "010"};
    QTest::newRow("other kind") << "COM2"
                                << "USB" << QStringList{"001", "001", "001"};
    QTest::newRow("DRI") << "LPT1"
                         << "DRI" << QStringList{"000", "000", "010"};
    QTest::newRow("ETH") << "COM1"
                         << "ETH" << QStringList{"001", "001", "100"};
}

void tst_FrmCutTest::typingAKindEnablesItsSettings()
{
    QFETCH(QString, before);
    QFETCH(QString, typed);
    QFETCH(QStringList, statesAfterEachKey);

    QComboBox *combo = m_window->Combo1;
    combo->setCurrentIndex(combo->findText(before));
    QLineEdit *edit = combo->lineEdit();
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(combo->currentText(), QString());
    for (int i = 0; i < typed.size(); ++i) {
        QTest::keyClick(edit, typed.at(i).toLatin1());
        QCOMPARE(combo->currentText(), typed.left(i + 1));
        QCOMPARE(settingsState(*m_window), statesAfterEachKey.at(i));
    }
}

void tst_FrmCutTest::printOutReadsTheControls()
{
    m_rec.setOpenResult(3);
    m_window->Text1->setText(QStringLiteral("  127.0.0.1  "));
    m_window->Combo4->setCurrentIndex(12);
    m_window->Combo5->setCurrentIndex(3);
    QVERIFY(clickAndWait(*m_window, m_window->CmdPrintOut));
    const QStringList expected{QStringLiteral(R"(POS_Open("127.0.0.1",0,0,0,0,21))"),
                               QStringLiteral("NVPOS_StartDoc(3)"),
                               QStringLiteral("POS_WriteFile(3,1c700d031d564200,8)"),
                               QStringLiteral("NVPOS_EndDoc(3)"),
                               QStringLiteral("NVPOS_Close(3)")};
    QCOMPARE(m_rec.calls(), expected);
    QCOMPARE(m_dialogs.messages.size(), 0);

    m_rec.reset();
    m_window->Combo1->setCurrentIndex(m_window->Combo1->findText(QStringLiteral("COM4")));
    m_window->Combo3->setCurrentIndex(3);
    QVERIFY(clickAndWait(*m_window, m_window->CmdPrintOut));
    QCOMPARE(m_rec.calls().value(0), QStringLiteral(R"(POS_Open("COM4",115200,8,0,0,1))"));
}

void tst_FrmCutTest::printOutFailureToOpenIsShown()
{
    m_rec.setOpenResult(-1);
    QVERIFY(clickAndWait(*m_window, m_window->CmdPrintOut));
    QCOMPARE(m_dialogs.messages.size(), 1);
    QCOMPARE(m_dialogs.messages[0].text, QStringLiteral("Fail to open port,please check!"));
    QCOMPARE(m_rec.calls().size(), 1);
    QCOMPARE(m_window->commandState().PortHandle, -1);
}

void tst_FrmCutTest::printOutReachesAPrinterOverTcp()
{
    Printer::PosLibrary nvpos(QStringLiteral(NVPOS_LIBRARY));
    RecordingDialogs dialogs;
    FrmCutTest window(nvpos, &dialogs);
    TcpSink printer;
    window.Text1->setText(QStringLiteral("127.0.0.1:%1").arg(printer.port()));
    QVERIFY(clickAndWait(window, window.CmdPrintOut));
    QCOMPARE(printer.waitForClosedConnection().toHex(), QByteArray("1c7001001d564200"));
    QCOMPARE(dialogs.messages.size(), 0);

    // Nothing listens on port 1: the open fails and says so.
    window.Text1->setText(QStringLiteral("127.0.0.1:1"));
    QVERIFY(clickAndWait(window, window.CmdPrintOut));
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].text, QStringLiteral("Fail to open port,please check!"));
}

void tst_FrmCutTest::errorsReachTheApplicationHandlerAndTheWindowGoesOn()
{
    Printer::PosLibrary missing(QStringLiteral("/nonexistent/folder/libnvpos.so"));
    RecordingDialogs dialogs;
    FrmCutTest window(missing, &dialogs);
    window.show();
    QVERIFY(clickAndWait(window, window.CmdPrintOut));
    QCOMPARE(dialogs.messages.size(), 1);
    QCOMPARE(dialogs.messages[0].caption, QGuiApplication::applicationDisplayName());
    QVERIFY2(dialogs.messages[0].text.contains(QLatin1String("/nonexistent/folder")),
             qPrintable(dialogs.messages[0].text));
    QVERIFY(window.isVisible());
    QVERIFY(window.CmdPrintOut->isEnabled());

    // An image number beyond a byte goes the same way, before any connection opens.
    window.Combo4->addItem(QStringLiteral("256"));
    window.Combo4->setCurrentIndex(window.Combo4->count() - 1);
    QVERIFY(clickAndWait(window, window.CmdPrintOut));
    QCOMPARE(dialogs.messages.size(), 2);
    QVERIFY2(dialogs.messages[1].text.contains(QLatin1String("256")),
             qPrintable(dialogs.messages[1].text));
}

QTEST_MAIN(tst_FrmCutTest)
#include "tst_frmcuttest.moc"

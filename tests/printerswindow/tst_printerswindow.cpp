// The printers' window under the offscreen platform, against virtual printers: a logo
// stored by key and test-printed from the keyboard, with what each printer received and what
// each row says; a logo fitted to 58 mm paper in the "Store a logo" dialog.

#include "../nvimage/testpictures.h"

#include <tests/support/printerprocess.h>

#include <controls/preparationcontrols.h>
#include <printer/poslibrary.h>
#include <printerswindow/storelogodialog.h>
#include <printerswindow/window.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using Commands::PrinterListModel;

namespace {

// Answers the window's dialogs as a user would, and keeps its questions and messages.
class AnsweringDialogs final : public PrintersWindow::Dialogs
{
public:
    void showMessage(Commands::MessageIcon,
                     const QString &,
                     const QString &text,
                     const QString &) override
    {
        messages.append(text);
    }
    QStringList getOpenFileNames(const QStringList &) override { return {}; }
    bool confirm(const QString &, const QString &question) override
    {
        questions.append(question);
        return true;
    }
    QString openTargetsFile(const QString &) override { return {}; }
    QString saveTargetsFile(const QString &) override { return {}; }
    std::optional<Printer::Target> addPrinter() override { return std::nullopt; }
    PrintersWindow::AddedPrinters findPrinters(Printer::PosLibrary &,
                                               Commands::PrinterListModel &) override
    {
        return {};
    }
    std::optional<PrintersWindow::TestPrintRequest>
    testPrint(const PrintersWindow::TestPrintRequest &, const QList<QByteArray> &keys) override
    {
        keysOffered = keys;
        return testPrintAnswer;
    }
    std::optional<PrintersWindow::StoreLogoRequest>
    storeLogo(const PrintersWindow::StoreLogoRequest &) override
    {
        return logoAnswer;
    }
    std::optional<QByteArray> graphicToDelete(const QList<QByteArray> &) override
    {
        return std::nullopt;
    }
    std::optional<PrintersWindow::WindowSettings>
    editSettings(const PrintersWindow::WindowSettings &) override
    {
        return std::nullopt;
    }

    std::optional<PrintersWindow::TestPrintRequest> testPrintAnswer;
    std::optional<PrintersWindow::StoreLogoRequest> logoAnswer;
    QList<QByteArray> keysOffered;
    QStringList questions;
    QStringList messages;
};

} // namespace

class tst_PrintersWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void storeALogoAndTestPrintIt();
    void storeALogoFittedToThePaper();

private:
    QString startPrinter(PrinterProcess &printer, const QStringList &options);
    // Presses the keys in the window and waits for the action they start to end.
    static bool pressAndWait(PrintersWindow::Window &window, QKeySequence keys);

    Printer::PosLibrary m_library{QStringLiteral(NVPOS_LIBRARY)};
    QTemporaryDir m_dir;
};

void tst_PrintersWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The window's settings go to a folder of the test's own.
    QCoreApplication::setOrganizationName(QStringLiteral("nvlogo-tests"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath("settings"));
}

QString tst_PrintersWindow::startPrinter(PrinterProcess &printer, const QStringList &options)
{
    printer.start(QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")} + options);
    const auto listening = printer.waitFor(QStringLiteral("listening on (127\\.0\\.0\\.1:\\d+)$"));
    return listening.hasMatch() ? QStringLiteral("ETHERNET ") + listening.captured(1) : QString();
}

bool tst_PrintersWindow::pressAndWait(PrintersWindow::Window &window, QKeySequence keys)
{
    QSignalSpy finished(&window, &PrintersWindow::Window::actionFinished);
    QTest::keySequence(&window, keys);
    return window.isBusy() && finished.wait(60000);
}

void tst_PrintersWindow::storeALogoAndTestPrintIt()
{
    PrinterProcess ready(QStringLiteral(NVLOGO_PRINTER_PATH), m_dir.filePath("ready"));
    PrinterProcess paperOut(QStringLiteral(NVLOGO_PRINTER_PATH), m_dir.filePath("paper-out"));
    const QString first = startPrinter(ready, {});
    const QString second
            = startPrinter(paperOut, {QStringLiteral("--paper"), QStringLiteral("end")});
    QVERIFY2(!first.isEmpty(), qPrintable(ready.transcript()));
    QVERIFY2(!second.isEmpty(), qPrintable(paperOut.transcript()));
    const QString targets = m_dir.filePath("shop.txt");
    TestPictures::writeFile(targets, (first + '\n' + second + '\n').toUtf8());
    const QString picture = TestPictures::savePicture(
            m_dir.filePath("logo.png"), TestPictures::filled(24, 8, Qt::black), "png");

    AnsweringDialogs dialogs;
    PrintersWindow::Window window(m_library, &dialogs);
    QVERIFY(window.openTargets(targets).ok());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    // Store a logo on the first printer, from the keyboard.
    window.table()->selectRow(0);
    PrintersWindow::StoreLogoRequest logo;
    logo.key = "A1";
    logo.picture = picture;
    dialogs.logoAnswer = logo;
    QVERIFY(pressAndWait(window, window.actionStoreLogo->shortcut()));
    QVERIFY2(ready.waitFor(QStringLiteral("NV graphics: defined A1 24x8, 24 bytes")).hasMatch(),
             qPrintable(ready.transcript()));
    PrinterListModel &model = window.model();
    QCOMPARE(model.data(model.index(0, PrinterListModel::ResultColumn)).toString(),
             QStringLiteral("Stored"));
    QCOMPARE(model.entry(0).nvImages, std::optional<int>(0));
    QVERIFY(dialogs.messages.isEmpty());

    // Test-print it at twice the size on both printers: one prints, one is out of paper.
    window.table()->selectAll();
    PrintersWindow::TestPrintRequest print;
    print.kind = PrintersWindow::TestPrintRequest::Kind::Graphic;
    print.key = "A1";
    print.scaleX = 2;
    print.scaleY = 2;
    dialogs.testPrintAnswer = print;
    QVERIFY(pressAndWait(window, window.actionTestPrint->shortcut()));
    QCOMPARE(model.data(model.index(0, PrinterListModel::ResultColumn)).toString(),
             QStringLiteral("Printed"));
    QCOMPARE(model.data(model.index(1, PrinterListModel::ResultColumn)).toString(),
             QStringLiteral("Not ready: paper out"));
    const auto strip = ready.waitFor(QStringLiteral("NV graphics: print A1, scale 2x2"));
    QVERIFY2(strip.hasMatch(), qPrintable(ready.transcript()));
    const auto cut = ready.waitFor(QStringLiteral("-> (strip-0001\\.png)$"));
    QVERIFY2(cut.hasMatch(), qPrintable(ready.transcript()));
    const QImage printed(QDir(ready.out()).filePath(cut.captured(1)));
    int black = 0;
    for (int y = 0; y < printed.height(); ++y) {
        for (int x = 0; x < printed.width(); ++x)
            black += qGray(printed.pixel(x, y)) < 128;
    }
    QCOMPARE(black, 48 * 16);
    // The printer out of paper was asked and sent nothing to print.
    QVERIFY(paperOut.waitFor(QStringLiteral("DLE EOT 4")).hasMatch());
    QVERIFY2(!paperOut.transcript().contains(QLatin1String("NV graphics: print")),
             qPrintable(paperOut.transcript()));
}

void tst_PrintersWindow::storeALogoFittedToThePaper()
{
    PrinterProcess printer(QStringLiteral(NVLOGO_PRINTER_PATH), m_dir.filePath("fitted"));
    const QString target = startPrinter(printer, {});
    QVERIFY2(!target.isEmpty(), qPrintable(printer.transcript()));
    const QString targets = m_dir.filePath("one.txt");
    TestPictures::writeFile(targets, (target + '\n').toUtf8());
    // 120 x 40 with its upper half black: fitted to 58 mm paper, 384 x 128 dots.
    QImage half = TestPictures::filled(120, 40, Qt::white);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 120; ++x)
            half.setPixel(x, y, qRgb(0, 0, 0));
    }
    const QString picture = TestPictures::savePicture(m_dir.filePath("half.png"), half, "png");

    // The dialog as a user fills it in: key, picture, 58 mm paper, "Fit to paper".
    PrintersWindow::StoreLogoDialog dialog(nullptr, {});
    QSignalSpy shown(&dialog, &PrintersWindow::StoreLogoDialog::previewShown);
    dialog.show();
    dialog.keyBox()->setText(QStringLiteral("B2"));
    dialog.pictureBox()->setText(picture);
    Controls::PreparationControls *controls = dialog.preparationControls();
    controls->paperBox()->setCurrentIndex(controls->paperBox()->findData(384));
    controls->fitBox()->setChecked(true);
    // The preview is the graphic as it will be stored.
    QTRY_VERIFY_WITH_TIMEOUT(
            !shown.isEmpty()
                    && dialog.factsLabel()->text().startsWith(QLatin1String("384 x 128 dots")),
            30000);
    QVERIFY2(dialog.factsLabel()->text().endsWith(QLatin1String("6,144 bytes")),
             qPrintable(dialog.factsLabel()->text()));
    QCOMPARE(dialog.previewLabel()->pixmap().width(), 240);
    dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    AnsweringDialogs dialogs;
    dialogs.logoAnswer = dialog.request();
    PrintersWindow::Window window(m_library, &dialogs);
    QVERIFY(window.openTargets(targets).ok());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.table()->selectRow(0);
    QVERIFY(pressAndWait(window, window.actionStoreLogo->shortcut()));
    QVERIFY2(printer.waitFor(QStringLiteral("NV graphics: defined B2 384x128")).hasMatch(),
             qPrintable(printer.transcript()));
    QCOMPARE(
            window.model().data(window.model().index(0, PrinterListModel::ResultColumn)).toString(),
            QStringLiteral("Stored"));

    // The next time the dialog opens, its preparation is off again.
    PrintersWindow::StoreLogoDialog again(nullptr, dialogs.logoAnswer.value());
    QCOMPARE(again.pictureBox()->text(), picture);
    QVERIFY(again.request().preparation.isIdentity());
    QVERIFY(!again.preparationControls()->fitBox()->isChecked());
}

QTEST_MAIN(tst_PrintersWindow)
#include "tst_printerswindow.moc"

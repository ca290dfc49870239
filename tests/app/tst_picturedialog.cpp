// The download's Open dialog with its preview pane, offscreen: each picture format is shown
// as the printer will store it, with its size and the warnings it deserves.

#include <app/picturedialog.h>
#include <tests/nvimage/testpictures.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using App::PictureDialog;

class tst_PictureDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsThePictureAsStored_data();
    void showsThePictureAsStored();
    void countsNumbersAndRefusesTheSelection();

private:
    void checkLargeSelection(PictureDialog &dialog, QPushButton *open);

    QTemporaryDir m_dir;
};

void tst_PictureDialog::showsThePictureAsStored_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("facts");
    QTest::addColumn<QStringList>("warnings");
    // Blue lettering on white: black where blue is dark turns it white.
    QTest::newRow("BMP, blue on white")
            << QByteArray("bmp") << QSize(300, 60) << "304 x 64 dots (38.0 x 8.0 mm)"
            << QStringList{"Colours print wrongly"};
    QTest::newRow("GIF, 800 dots")
            << QByteArray("gif") << QSize(800, 40) << "800 x 40 dots (100.0 x 5.0 mm)"
            << QStringList{"Wider than 80 mm", "Colours print wrongly"};
    QTest::newRow("JPEG, 400 dots") << QByteArray("jpeg") << QSize(400, 40) << "400 x 40 dots"
                                    << QStringList{"Wider than 58 mm"};
    QTest::newRow("PNG, narrow") << QByteArray("png") << QSize(200, 40) << "200 x 40 dots"
                                 << QStringList{"Colours print wrongly"};
}

void tst_PictureDialog::showsThePictureAsStored()
{
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(QString, facts);
    QFETCH(QStringList, warnings);

    // A white picture whose lower half is dark blue lettering; Indexed8 for the GIF encoder.
    QImage picture(size, QImage::Format_Indexed8);
    picture.setColorTable({qRgb(255, 255, 255), qRgb(20, 40, 200)});
    picture.fill(0);
    for (int y = size.height() / 2; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, 1);
    const QString path = TestPictures::savePicture(
            m_dir.filePath(QStringLiteral("logo.") + QString::fromLatin1(format)),
            format == "jpeg" ? picture.convertToFormat(QImage::Format_RGB32) : picture,
            format);

    PictureDialog dialog(nullptr, {QStringLiteral("*.* (*)")}, {QStringLiteral("COM1"), 9600});
    QVERIFY(!dialog.dither()); // off each time the dialog opens
    QSignalSpy shown(&dialog, &PictureDialog::previewShown);
    // The file list fills in on a thread of its own; a file can be selected once it is there.
    auto files = dialog.findChild<QFileSystemModel *>();
    QVERIFY(files);
    dialog.setDirectory(m_dir.path());
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(files->index(path).isValid(), 30000);
    dialog.selectFile(path);
    QVERIFY(shown.wait(30000));
    QCOMPARE(shown.last().at(0).toString(), path);

    QVERIFY2(dialog.factsLabel()->text().startsWith(facts),
             qPrintable(dialog.factsLabel()->text()));
    const QString shownWarnings = dialog.warningsLabel()->text();
    for (const QString &warning : warnings)
        QVERIFY2(shownWarnings.contains(warning), qPrintable(shownWarnings));
    // Narrow enough for 58 mm paper: no paper warning.
    if (size.width() <= 384)
        QVERIFY2(!shownWarnings.contains(QLatin1String("paper")), qPrintable(shownWarnings));
    QVERIFY(!dialog.pictureLabel()->pixmap().isNull());
    // The selection's size from the headers, and its time on the serial line.
    QVERIFY2(dialog.selectionLabel()->text().contains(QLatin1String("at 9600 baud")),
             qPrintable(dialog.selectionLabel()->text()));

    // Dithering by brightness keeps the lettering: the colour warning goes.
    dialog.ditherBox()->setChecked(true);
    QVERIFY(shown.wait(30000));
    QVERIFY2(!dialog.warningsLabel()->text().contains(QLatin1String("Colours print wrongly")),
             qPrintable(dialog.warningsLabel()->text()));
}

void tst_PictureDialog::countsNumbersAndRefusesTheSelection()
{
    QTemporaryDir dir;
    // 8 x 8 dots: 12 bytes each; a 576 x 300 24-bit BMP takes 518 KB on disk.
    const QString small = TestPictures::savePicture(dir.filePath(QStringLiteral("small.bmp")),
                                                    TestPictures::filled(8, 8, Qt::black),
                                                    "bmp");
    const QString other = TestPictures::savePicture(dir.filePath(QStringLiteral("other.bmp")),
                                                    TestPictures::filled(8, 8, Qt::black),
                                                    "bmp");
    TestPictures::savePicture(dir.filePath(QStringLiteral("large.bmp")),
                              TestPictures::randomColours(576, 300, 3),
                              "bmp");
    PictureDialog dialog(nullptr, {QStringLiteral("*.* (*)")}, {QStringLiteral("COM1"), 9600});
    dialog.setDirectory(dir.path());
    dialog.show();
    auto name = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    auto open = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open);

    // The numbers in the order typed, which is the order the download stores them in.
    name->setText(QStringLiteral("\"other.bmp\" \"small.bmp\""));
    QTRY_VERIFY(dialog.selectionLabel()->text().startsWith(
            QLatin1String("Chosen: 2 pictures, 29 bytes to send")));
    QVERIFY2(
            dialog.selectionLabel()->text().contains(QLatin1String("\n1: other.bmp\n2: small.bmp")),
            qPrintable(dialog.selectionLabel()->text()));
    QVERIFY(dialog.storable() && open->isEnabled());

    // Too large on disk: the pane says so before Open is pressed, and Open does nothing.
    PictureDialog again(nullptr, {QStringLiteral("*.* (*)")}, {QStringLiteral("COM1"), 9600});
    again.setDirectory(dir.path());
    again.show();
    again.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("large.bmp"));
    open = again.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Open);
    checkLargeSelection(again, open);
}

void tst_PictureDialog::checkLargeSelection(PictureDialog &dialog, QPushButton *open)
{
    QTRY_VERIFY(dialog.selectionLabel()->text().contains(QLatin1String("Cannot be stored")));
    QVERIFY(!dialog.storable() && !open->isEnabled());
    // Prepared, it is judged by what is stored: 576 x 304 dots, 21,892 bytes.
    dialog.paperBox()->setCurrentIndex(dialog.paperBox()->findData(576));
    dialog.fitBox()->setChecked(true);
    QTRY_VERIFY2(dialog.storable(), qPrintable(dialog.selectionLabel()->text()));
    QVERIFY(open->isEnabled());
    QVERIFY2(dialog.selectionLabel()->text().contains(QLatin1String("21,897 bytes")),
             qPrintable(dialog.selectionLabel()->text()));
    QCOMPARE(dialog.preparation().paperDots, 576);
    QVERIFY(dialog.preparation().fit && !dialog.preparation().isIdentity());
}

QTEST_MAIN(tst_PictureDialog)
#include "tst_picturedialog.moc"

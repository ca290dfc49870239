// The stream a download sends, with its refusals and warnings: prepared pictures are judged by
// what is stored, unprepared ones as they always were.

#include <tests/nvimage/testpictures.h>

#include <commands/downloadcommand.h>
#include <commands/messages.h>

#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

using NvImage::PreviewWarning;

class tst_DownloadStream : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void judgedByWhatIsStored_data();
    void judgedByWhatIsStored();
    void aColourLogoGetsItsWarnings();

private:
    QTemporaryDir m_dir;
};

void tst_DownloadStream::judgedByWhatIsStored_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("fit");
    QTest::addColumn<QString>("refusal"); // empty: the stream is built
    QTest::addColumn<QSize>("stored");
    // 24 bits a pixel: 576 x 300 takes 518 KB on disk, 21,892 bytes of NV memory.
    QTest::newRow("a logo that fits, unprepared")
            << QSize(576, 300) << false << Commands::graphSizeOutOfRangeText() << QSize();
    QTest::newRow("the same logo, fitted")
            << QSize(576, 300) << true << QString() << QSize(576, 304);
    QTest::newRow("a phone photo, unprepared")
            << QSize(4000, 3000) << false << Commands::graphSizeOutOfRangeText() << QSize();
    QTest::newRow("a phone photo, fitted")
            << QSize(4000, 3000) << true << QString() << QSize(576, 432);
}

void tst_DownloadStream::judgedByWhatIsStored()
{
    QFETCH(QSize, size);
    QFETCH(bool, fit);
    QFETCH(QString, refusal);
    QFETCH(QSize, stored);
    const QString path
            = TestPictures::savePicture(m_dir.filePath(QStringLiteral("p%1.bmp").arg(size.width())),
                                        TestPictures::randomColours(size.width(), size.height(), 7),
                                        "bmp");
    Commands::DownloadRequest request{{path}, {}, {}};
    request.options.preparation.fit = fit;
    QByteArray stream;
    const auto refused = Commands::buildDownloadStream(request, stream);
    QCOMPARE(refused ? refused->text : QString(), refusal);
    if (!refused) {
        // ESC @ FS q 1, then the record's xL xH yL yH in units of 8 dots.
        QCOMPARE(quint8(stream.at(5)) + 256 * quint8(stream.at(6)), stored.width() / 8);
        QCOMPARE(quint8(stream.at(7)) + 256 * quint8(stream.at(8)), stored.height() / 8);
        QCOMPARE(stream.size(), 5 + 4 + stored.width() / 8 * stored.height());
    } else {
        QVERIFY2(refused->details.contains(QLatin1String("--fit")), qPrintable(refused->details));
    }
}

void tst_DownloadStream::aColourLogoGetsItsWarnings()
{
    // Dark blue lettering and a yellow disc on white, wider than 80 mm paper (and small
    // enough on disk for an unprepared download).
    QImage logo(700, 100, QImage::Format_RGB32);
    logo.fill(Qt::white);
    QPainter painter(&logo);
    painter.fillRect(20, 20, 450, 60, QColor(20, 40, 140));
    painter.setBrush(QColor(250, 210, 0));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(540, 10, 80, 80);
    painter.end();
    const QString path
            = TestPictures::savePicture(m_dir.filePath(QStringLiteral("logo.png")), logo, "png");
    Commands::DownloadRequest request{{path}, {}, {}};
    QByteArray stream;
    Commands::PictureWarnings warnings;
    const auto refused = Commands::buildDownloadStream(request, stream, &warnings);
    QVERIFY2(!refused, qPrintable(refused ? refused->text + refused->details : QString()));
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings[0].contains(PreviewWarning::WiderThanPaper));
    QVERIFY(warnings[0].contains(PreviewWarning::ColoursMisprinted));
    // Fitted and converted by brightness, nothing is left to warn about.
    warnings.clear();
    request.options.preparation.fit = true;
    request.options.preparation.threshold = 160;
    QVERIFY(!Commands::buildDownloadStream(request, stream, &warnings));
    QCOMPARE(warnings, Commands::PictureWarnings{{}});
}

QTEST_GUILESS_MAIN(tst_DownloadStream)
#include "tst_downloadstream.moc"

// The icons the build draws: the window's .ico and the PNG copies the package installs, and
// the printers' window's PNGs.
#include <QFile>
#include <QImageReader>
#include <QSet>
#include <QTest>

class tst_Icon : public QObject
{
    Q_OBJECT

private slots:
    void icoHoldsEightImages();
    void installedCopiesHaveTheirSize_data();
    void installedCopiesHaveTheirSize();
};

namespace {

const QString IconDir = QStringLiteral(NVLOGO_ICON_DIR);

// Opaque and transparent pixels, and more than one colour: the artwork is there.
void verifyArtwork(const QImage &image, int minimumColours)
{
    int opaque = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            opaque += qAlpha(image.pixel(x, y)) > 127;
            colours.insert(image.pixel(x, y));
        }
    }
    QVERIFY(opaque > image.width() * image.height() / 4);
    QVERIFY(opaque < image.width() * image.height());
    QVERIFY(colours.size() >= minimumColours);
}

} // namespace

void tst_Icon::icoHoldsEightImages()
{
    const QString path = IconDir + QStringLiteral("/nvlogo.ico");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray ico = file.readAll();
    QVERIFY(ico.size() >= 6 + 8 * 16);
    auto le16 = [&](int at) {
        return quint8(ico[at]) | quint8(ico[at + 1]) << 8;
    };
    QCOMPARE(le16(2), 1); // an icon
    QCOMPARE(le16(4), 8);

    // Size and bits per pixel of each image, from the directory.
    QList<QPair<int, int>> directory;
    for (int i = 0; i < 8; ++i)
        directory.append({quint8(ico[6 + 16 * i]), le16(6 + 16 * i + 6)});
    const QList<QPair<int, int>> expected
            = {{48, 32}, {32, 32}, {16, 32}, {48, 8}, {32, 8}, {16, 8}, {48, 4}, {32, 1}};
    QCOMPARE(directory, expected);

    QImageReader reader(path);
    QCOMPARE(reader.imageCount(), 8);
    for (int i = 0; i < 8; ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.size(), QSize(directory[i].first, directory[i].first));
        verifyArtwork(image, directory[i].second == 1 ? 3 : 4);
        if (QTest::currentTestFailed())
            return;
    }
}

void tst_Icon::installedCopiesHaveTheirSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        QTest::addRow("nvlogo %d", size)
                << IconDir + QStringLiteral("/nvlogo-%1.png").arg(size) << size;
        QTest::addRow("nvlogo-printers %d", size)
                << QStringLiteral(NVLOGO_PRINTERS_ICON_DIR "/nvlogo-printers-%1.png").arg(size)
                << size;
    }
}

void tst_Icon::installedCopiesHaveTheirSize()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(size, size));
    verifyArtwork(image, 4);
}

QTEST_GUILESS_MAIN(tst_Icon)
#include "tst_icon.moc"

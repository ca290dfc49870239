#include "testpictures.h"

#include <QRandomGenerator>

#include <QFile>
#include <QTest>

#include <utility>

namespace TestPictures {

namespace {

void appendTable(QByteArray &out, const QList<QRgb> &table, int count, bool inverted)
{
    for (int i = 0; i < count; ++i) {
        QRgb c = i < table.size() ? table.at(i) : 0;
        if (inverted)
            c = ~c;
        out.append(char(qRed(c)));
        out.append(char(qGreen(c)));
        out.append(char(qBlue(c)));
    }
}

// The table size field: count = 2 << field.
char tableField(int count)
{
    int field = 0;
    while ((2 << field) < count)
        ++field;
    return char(field);
}

// Literal codes only, with a clear code often enough that the width stays 9 bits.
QByteArray lzwLiterals(const QImage &indexes, const QList<int> &rows)
{
    QByteArray data;
    quint32 bits = 0;
    int bitCount = 0;
    const auto putCode = [&](int code) {
        bits |= quint32(code) << bitCount;
        bitCount += 9;
        while (bitCount >= 8) {
            data.append(char(bits & 0xff));
            bits >>= 8;
            bitCount -= 8;
        }
    };
    int sinceClear = 0;
    putCode(256);
    for (const int y : rows) {
        const uchar *line = indexes.constScanLine(y);
        for (int x = 0; x < indexes.width(); ++x) {
            if (sinceClear++ == 100) {
                putCode(256);
                sinceClear = 1;
            }
            putCode(line[x]);
        }
    }
    putCode(257);
    if (bitCount > 0)
        data.append(char(bits & 0xff));
    return data;
}

} // namespace

QByteArray encodeGif(const GifLayout &layout)
{
    const QImage &indexes = layout.indexes;
    Q_ASSERT(indexes.format() == QImage::Format_Indexed8);
    QByteArray out("GIF89a");
    const auto put16 = [&out](int v) {
        out.append(char(v & 0xff));
        out.append(char(v >> 8));
    };
    const QSize screen = layout.screen.isEmpty() ? indexes.size() : layout.screen;
    put16(screen.width());
    put16(screen.height());
    out.append(char(layout.globalColours ? 0xF0 | tableField(layout.globalColours) : 0x70));
    out.append("\x00\x00", 2);
    appendTable(out, indexes.colorTable(), layout.globalColours, false);
    out.append(layout.extensions);
    out.append(char(0x2C));
    put16(layout.corner.x());
    put16(layout.corner.y());
    put16(indexes.width());
    put16(indexes.height());
    out.append(char((layout.localColours ? 0x80 | tableField(layout.localColours) : 0)
                    | (layout.interlaced ? 0x40 : 0)));
    appendTable(out, indexes.colorTable(), layout.localColours, true);
    out.append(char(8)); // LZW minimum code size
    QList<int> rows;
    const int height = indexes.height();
    if (layout.interlaced) {
        for (const auto &[first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
            for (int y = first; y < height; y += step)
                rows << y;
    } else {
        for (int y = 0; y < height; ++y)
            rows << y;
    }
    const QByteArray data = lzwLiterals(indexes, rows);
    for (qsizetype i = 0; i < data.size(); i += 255) {
        const qsizetype length = qMin<qsizetype>(255, data.size() - i);
        out.append(char(length));
        out.append(data.mid(i, length));
    }
    out.append('\0');
    out.append(char(0x3B));
    return out;
}

QByteArray encodeGif(const QImage &indexed, int transparentIndex)
{
    GifLayout layout;
    layout.indexes = indexed;
    if (transparentIndex >= 0)
        layout.extensions = QByteArray("\x21\xF9\x04\x01\x00\x00", 6) + char(transparentIndex)
                            + QByteArray(1, '\0');
    return encodeGif(layout);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString savePicture(const QString &path,
                    const QImage &picture,
                    const QByteArray &format,
                    int transparentIndex)
{
    if (format == "gif") {
        writeFile(path, encodeGif(picture, transparentIndex));
        return path;
    }
    QImage saved = picture;
    if (transparentIndex >= 0) { // a PNG palette entry with alpha 0, as a GIF's
        QList<QRgb> table = saved.colorTable();
        table[transparentIndex] &= 0x00ffffffu;
        saved.setColorTable(table);
    }
    if (!saved.save(path, format.constData(), 100))
        qWarning("could not save %s", qPrintable(path));
    return path;
}

QImage randomColours(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    return image;
}

QImage filled(int width, int height, const QColor &colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QList<DecodedPicture> decodeNvStream(const QByteArray &stream, QString *error)
{
    const auto fail = [error](const QString &why) {
        *error = why;
        return QList<DecodedPicture>();
    };
    const auto byte = [&stream](qsizetype i) {
        return int(quint8(stream.at(i)));
    };
    if (stream.size() < 5 || !stream.startsWith(QByteArray("\x1B\x40\x1C\x71", 4)))
        return fail(QStringLiteral("no ESC @ FS q header"));
    const int count = byte(4);
    qsizetype at = 5;
    QList<DecodedPicture> pictures;
    for (int n = 0; n < count; ++n) {
        if (at + 4 > stream.size())
            return fail(QStringLiteral("record %1 cut short").arg(n + 1));
        DecodedPicture picture;
        picture.width = 8 * (byte(at) + 256 * byte(at + 1));
        picture.height = 8 * (byte(at + 2) + 256 * byte(at + 3));
        at += 4;
        // Each column is one run of bits, most significant first, top dot first.
        const qsizetype dots = qsizetype(picture.width) * picture.height;
        if (at + dots / 8 > stream.size())
            return fail(QStringLiteral("dots of record %1 cut short").arg(n + 1));
        picture.black.resize(std::size_t(dots));
        for (qsizetype i = 0; i < dots; ++i)
            picture.black[std::size_t(i)] = (byte(at + i / 8) >> (7 - i % 8)) & 1;
        at += dots / 8;
        pictures.append(picture);
    }
    if (at != stream.size())
        return fail(QStringLiteral("%1 bytes after the last record").arg(stream.size() - at));
    return pictures;
}

} // namespace TestPictures

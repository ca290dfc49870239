// Draws nvlogo's icon and writes it as one .ico file with the eight images that
// Windows-style icon files carry (48/32/16 px at 32-bit and 256 colours, 48 px at
// 16 colours, 32 px at 2 colours), plus PNG copies for desktop environments.
// With --printers it draws the printers' window's icon instead, as PNG copies only.
// The drawing and the colour reduction are deterministic, so every build writes the
// same bytes.

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QVector>

#include <climits>
#include <cstdio>
#include <iterator>

namespace {

struct Entry
{
    int size;
    int bitCount;
};

const Entry Entries[] = {{48, 32}, {32, 32}, {16, 32}, {48, 8}, {32, 8}, {16, 8}, {48, 4}, {32, 1}};

// A receipt printer with a strip of paper coming out of it; the paper carries a
// one-bit logo. Drawn on a 48-unit grid and scaled.
QImage drawArtwork(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, size > 16);
    p.scale(size / 48.0, size / 48.0);

    // Paper.
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(12, 3, 24, 26));

    // The logo on the paper: a dot pattern, as the printer would store it.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    static const char *const Logo[] = {"#.###", "##..#", "#.#.#", "#..##", "###.#"};
    for (int row = 0; row < 5; ++row) {
        for (int col = 0; col < 5; ++col) {
            if (Logo[row][col] == '#')
                p.drawRect(QRectF(15.5 + col * 3.4, 6 + row * 3.4, 3.4, 3.4));
        }
    }

    // Printer body, over the lower end of the paper.
    QPainterPath body;
    body.addRoundedRect(QRectF(4, 22, 40, 22), 4, 4);
    p.setPen(QPen(QColor(0x1c, 0x27, 0x2e), 1.5));
    p.setBrush(QColor(0x37, 0x47, 0x4f));
    p.drawPath(body);

    // Paper slot and front panel.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x16, 0x1a));
    p.drawRect(QRectF(10, 25, 28, 3));
    p.setBrush(QColor(0x78, 0x90, 0x9c));
    p.drawRect(QRectF(9, 33, 22, 6));

    // Power light.
    p.setBrush(QColor(0x4c, 0xaf, 0x50));
    p.drawEllipse(QRectF(35, 33, 5, 5));
    p.end();
    return image;
}

// One printer's body with its paper slot and a light, on the 48-unit grid.
void drawPrinterBody(QPainter &p, const QRectF &body, const QColor &light)
{
    QPainterPath outline;
    outline.addRoundedRect(body, 3.5, 3.5);
    p.setPen(QPen(QColor(0x1c, 0x27, 0x2e), 1.5));
    p.setBrush(QColor(0x37, 0x47, 0x4f));
    p.drawPath(outline);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x16, 0x1a));
    p.drawRect(QRectF(body.left() + 5, body.top() + 3, body.width() - 10, 2.5));
    p.setBrush(light);
    p.drawEllipse(QRectF(body.right() - 8, body.bottom() - 8, 4.5, 4.5));
}

// The printers' window: three printers side by side and stacked, each with its own state
// light, and a strip of paper with the logo on the front one.
QImage drawPrintersArtwork(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, size > 16);
    p.scale(size / 48.0, size / 48.0);

    drawPrinterBody(p, QRectF(2, 6, 22, 14), QColor(0xff, 0xb3, 0x00));
    drawPrinterBody(p, QRectF(24, 6, 22, 14), QColor(0xe5, 0x39, 0x35));

    // Paper out of the front printer, with a dot logo.
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(15, 18, 18, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    static const char *const Logo[] = {"#.#.#", ".###.", "#.#.#"};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 5; ++col) {
            if (Logo[row][col] == '#')
                p.drawRect(QRectF(18 + col * 2.5, 21 + row * 2.5, 2.5, 2.5));
        }
    }
    drawPrinterBody(p, QRectF(8, 28, 32, 18), QColor(0x4c, 0xaf, 0x50));
    p.end();
    return image;
}

QVector<QRgb> palette(int bitCount)
{
    // The sixteen colours every display adapter knew.
    static const QRgb Vga[16] = {0xff000000,
                                 0xff800000,
                                 0xff008000,
                                 0xff808000,
                                 0xff000080,
                                 0xff800080,
                                 0xff008080,
                                 0xffc0c0c0,
                                 0xff808080,
                                 0xffff0000,
                                 0xff00ff00,
                                 0xffffff00,
                                 0xff0000ff,
                                 0xffff00ff,
                                 0xff00ffff,
                                 0xffffffff};
    QVector<QRgb> colours;
    if (bitCount == 1)
        return {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    colours = QVector<QRgb>(std::begin(Vga), std::end(Vga));
    if (bitCount == 4)
        return colours;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                colours.append(qRgb(r * 51, g * 51, b * 51));
    for (int i = 0; colours.size() < 256; ++i)
        colours.append(qRgb(8 + i * 10, 8 + i * 10, 8 + i * 10));
    return colours;
}

int nearest(const QVector<QRgb> &colours, QRgb pixel)
{
    int best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < colours.size(); ++i) {
        const int dr = qRed(colours[i]) - qRed(pixel);
        const int dg = qGreen(colours[i]) - qGreen(pixel);
        const int db = qBlue(colours[i]) - qBlue(pixel);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

void putLe16(QByteArray &out, int value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

void putLe32(QByteArray &out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

int rowBytes(int width, int bitCount)
{
    return ((width * bitCount + 31) / 32) * 4;
}

// One icon image: a bitmap header, the palette, the colour bits and the transparency mask,
// rows bottom-up as device-independent bitmaps store them.
QByteArray iconImage(const QImage &artwork, int bitCount)
{
    const int size = artwork.width();
    const QVector<QRgb> colours = bitCount <= 8 ? palette(bitCount) : QVector<QRgb>();
    const int xorRow = rowBytes(size, bitCount);
    const int andRow = rowBytes(size, 1);

    QByteArray out;
    putLe32(out, 40);
    putLe32(out, quint32(size));
    putLe32(out, quint32(size * 2)); // colour bits and mask together
    putLe16(out, 1);
    putLe16(out, bitCount);
    putLe32(out, 0); // no compression
    putLe32(out, quint32((xorRow + andRow) * size));
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
    for (QRgb c : colours) {
        out.append(char(qBlue(c)));
        out.append(char(qGreen(c)));
        out.append(char(qRed(c)));
        out.append('\0');
    }

    auto transparent = [&](int x, int y) {
        return qAlpha(artwork.pixel(x, y)) < 128;
    };

    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(xorRow, '\0');
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = artwork.pixel(x, y);
            if (bitCount == 32) {
                row[x * 4 + 0] = char(qBlue(pixel));
                row[x * 4 + 1] = char(qGreen(pixel));
                row[x * 4 + 2] = char(qRed(pixel));
                row[x * 4 + 3] = char(qAlpha(pixel));
                continue;
            }
            // Masked-out pixels are black in the colour bits, so that they vanish.
            const int index = transparent(x, y) ? 0 : nearest(colours, pixel);
            const int bitOffset = x * bitCount;
            const int shift = 8 - bitCount - (bitOffset % 8);
            row[bitOffset / 8] = char(row[bitOffset / 8] | (index << shift));
        }
        out.append(row);
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(andRow, '\0');
        for (int x = 0; x < size; ++x) {
            if (transparent(x, y))
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(row);
    }
    return out;
}

QByteArray iconFile()
{
    const int count = int(std::size(Entries));
    QByteArray directory;
    putLe16(directory, 0);
    putLe16(directory, 1); // an icon, not a cursor
    putLe16(directory, count);

    QByteArray images;
    int offset = 6 + 16 * count;
    for (const Entry &entry : Entries) {
        const QByteArray image = iconImage(drawArtwork(entry.size), entry.bitCount);
        directory.append(char(entry.size));
        directory.append(char(entry.size));
        directory.append(char(entry.bitCount <= 4 ? (1 << entry.bitCount) : 0));
        directory.append('\0');
        putLe16(directory, 1);
        putLe16(directory, entry.bitCount);
        putLe32(directory, quint32(image.size()));
        putLe32(directory, quint32(offset));
        offset += image.size();
        images.append(image);
    }
    return directory + images;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr,
                     "iconmaker: cannot write %s: %s\n",
                     qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const bool printers = argc == 3 && QByteArray(argv[1]) == "--printers";
    if (argc != 2 && !printers) {
        std::fprintf(stderr, "usage: %s [--printers] OUTPUT-DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[argc - 1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "iconmaker: cannot create %s\n", argv[argc - 1]);
        return 1;
    }
    if (!printers && !writeFile(dir + QStringLiteral("/nvlogo.ico"), iconFile()))
        return 1;
    const QString name = QLatin1String(printers ? "nvlogo-printers" : "nvlogo");
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString path = dir + QStringLiteral("/%1-%2.png").arg(name).arg(size);
        const QImage artwork = printers ? drawPrintersArtwork(size) : drawArtwork(size);
        if (!artwork.save(path, "PNG")) {
            std::fprintf(stderr, "iconmaker: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}

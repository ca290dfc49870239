// Draws the shop logo of docs/logo.md and writes it, as the printer stores it under each
// preparation, to the folder given: nvlogo_logo_pictures docs/logo
#include <nvimage/picturepreview.h>
#include <nvimage/preparation.h>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <cstdio>

using namespace NvImage;

namespace {

const QRgb Yellow = qRgb(255, 210, 0);
const QRgb Navy = qRgb(20, 30, 90);
const QRgb DarkBlue = qRgb(30, 50, 150);

// Logos often come as palette PNGs: here the four colours and 16 steps between each two, so
// that the smooth edges stay smooth and the colours exact.
QImage withPalette(const QImage &picture)
{
    const QList<QRgb> colours{qRgb(255, 255, 255), Yellow, Navy, DarkBlue};
    QList<QRgb> table;
    for (int i = 0; i < colours.size(); ++i)
        for (int j = i + 1; j < colours.size(); ++j)
            for (int step = 0; step <= 16; ++step) {
                const auto mix = [step](int a, int b) {
                    return (a * (16 - step) + b * step) / 16;
                };
                const QRgb a = colours[i];
                const QRgb b = colours[j];
                table << qRgb(
                        mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
            }
    return picture.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
}

// A coloured logo that the blue rule prints wrongly: dark blue lettering (blue 150: white),
// a yellow disc (blue 0: black), a navy bar, and thin lines that shrinking must keep.
QImage shopLogo(int width)
{
    QImage logo(width, width / 3, QImage::Format_RGB32);
    logo.fill(Qt::white);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(width / 1200.0, width / 1200.0);
    painter.setPen(QPen(QColor(Navy), 2));
    painter.setBrush(QColor(Yellow));
    painter.drawEllipse(QPoint(190, 170), 125, 125);
    painter.drawEllipse(QPoint(190, 170), 105, 105);
    painter.fillRect(40, 330, 1120, 40, QColor(Navy));
    painter.setPen(QColor(DarkBlue));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(190);
    painter.setFont(font);
    painter.drawText(QRect(360, 20, 820, 220), Qt::AlignLeft | Qt::AlignVCenter, "Bakery");
    font.setBold(false);
    font.setPixelSize(34);
    painter.setFont(font);
    painter.drawText(QRect(368, 240, 820, 60),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     "FRESH BREAD EVERY MORNING");
    painter.end();
    return withPalette(logo);
}

Preparation options(int paperDots, bool fit, int threshold, Conversion conversion)
{
    Preparation preparation;
    preparation.paperDots = paperDots;
    preparation.fit = fit;
    preparation.center = fit;
    if (threshold >= 0)
        preparation.threshold = threshold;
    preparation.conversion = conversion;
    return preparation;
}

// The dots as the printer stores them; a part of them zoomed, one square a dot, when asked.
bool save(const QDir &folder,
          const char *name,
          const QImage &picture,
          const Preparation &how,
          const QRect &detail = QRect())
{
    QImage dots = monoImage(preparePicture(picture, how).dots);
    if (!detail.isNull())
        dots = dots.copy(detail).scaled(detail.size() * 2);
    const QString path = folder.filePath(QString::fromLatin1(name));
    const bool saved = dots.save(path, "PNG", 0);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QImage logo = shopLogo(1200);
    const QImage small = shopLogo(240);
    const auto blue = Conversion::BlueRule;
    const auto dither = Conversion::Dither;
    // Quality 0: the smallest PNG.
    bool ok = logo.save(folder.filePath(QStringLiteral("shoplogo.png")), "PNG", 0);
    ok = small.save(folder.filePath(QStringLiteral("shoplogo-small.png")), "PNG", 0) && ok;
    ok = save(folder, "no-options.png", logo, options(576, false, -1, blue)) && ok;
    ok = save(folder, "threshold-160.png", logo, options(576, false, 160, blue)) && ok;
    ok = save(folder, "dither.png", logo, options(576, false, -1, dither)) && ok;
    ok = save(folder, "fit-58mm.png", logo, options(384, true, 160, blue)) && ok;
    ok = save(folder, "fit-80mm.png", logo, options(576, true, 160, blue)) && ok;

    // What was chosen beside what was not: point sampling and smooth enlarging, zoomed.
    const QRect whole(0, 0, 384, 128);
    const QImage sampled = logo.scaledToWidth(384, Qt::FastTransformation);
    ok = save(folder, "shrink-sampled.png", sampled, options(384, false, 160, blue), whole) && ok;
    ok = save(folder, "shrink-averaged.png", logo, options(384, true, 160, blue), whole) && ok;
    const QRect left(0, 0, 288, 192);
    const QImage replicated = small.scaledToWidth(576, Qt::FastTransformation);
    const QImage smooth = small.scaledToWidth(576, Qt::SmoothTransformation);
    const Preparation threshold = options(576, true, 160, blue);
    const Preparation dithered = options(576, true, -1, dither);
    ok = save(folder, "enlarge-replicated.png", replicated, threshold, left) && ok;
    ok = save(folder, "enlarge-smooth.png", small, threshold, left) && ok;
    ok = save(folder, "enlarge-smooth-dither.png", smooth, dithered, left) && ok;
    ok = save(folder, "enlarge-replicated-dither.png", small, dithered, left) && ok;
    return ok ? 0 : 1;
}

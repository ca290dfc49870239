#include "receiptprinter.h"
#include "receiptprinter_p.h"

#include <QStringList>

#include <algorithm>

namespace VirtualPrinter {

using namespace PrinterDetail;

namespace {

// FS p modes 0 to 3: bit 0 doubles the width, bit 1 the height.
int nvImageMode(int mode)
{
    return numberOrDigit(mode, 3);
}

QString modeName(int modeNumber)
{
    static const char *const names[] = {"normal", "double width", "double height", "double"};
    return QLatin1String(names[modeNumber]);
}

} // namespace

void ReceiptPrinter::printNvImage(int number, int mode)
{
    const int modeNumber = nvImageMode(mode);
    if (modeNumber < 0) {
        log(QStringLiteral("FS p: image %1, mode %2 is undefined, nothing printed")
                    .arg(number)
                    .arg(mode));
        return;
    }
    const QString name = modeName(modeNumber);
    if (!m_line.isEmpty()) {
        log(QStringLiteral("FS p: image %1, %2: ignored, text waits in the line buffer (NV "
                           "images print only at the start of a line)")
                    .arg(number)
                    .arg(name));
        return;
    }
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("FS p: image %1, %2: nothing printed, %3").arg(number).arg(name, why));
        return;
    }
    const NvBitImage *image = m_store.image(number);
    if (!image) {
        log(QStringLiteral("FS p: image %1 is not defined (%2 stored), nothing printed")
                    .arg(number)
                    .arg(m_store.count()));
        return;
    }
    const int scaleX = (modeNumber & 1) ? 2 : 1;
    const int scaleY = (modeNumber & 2) ? 2 : 1;
    const int width = image->widthDots() * scaleX;
    const int height = image->heightDots() * scaleY;
    QImage band = makePaperImage(m_settings.paperWidth, height);
    const int columns = std::min(image->widthDots(), (m_settings.paperWidth + scaleX - 1) / scaleX);
    const auto *data = reinterpret_cast<const uchar *>(image->data.constData());
    for (int column = 0; column < columns; ++column) {
        const uchar *bytes = data + qsizetype(column) * image->heightUnits;
        for (int row = 0; row < image->heightDots(); ++row) {
            if (!(bytes[row / 8] & (0x80 >> (row % 8))))
                continue;
            for (int dy = 0; dy < scaleY; ++dy) {
                for (int dx = 0; dx < scaleX; ++dx)
                    setDot(band, column * scaleX + dx, row * scaleY + dy);
            }
        }
    }
    QString line = QStringLiteral("FS p: image %1, %2").arg(number).arg(name);
    if (width > m_settings.paperWidth) {
        line += QStringLiteral(" (clipped to the paper: %1 of %2 dots wide)")
                        .arg(m_settings.paperWidth)
                        .arg(width);
    }
    log(line);
    printBand(band);
}

void ReceiptPrinter::defineNvImages(const QVector<NvBitImage> &images,
                                    int declaredCount,
                                    const QString &problem)
{
    Q_UNUSED(declaredCount)
    const NvStore before = m_store;
    m_store.replaceAll(images);
    QStringList sizes;
    for (const NvBitImage &image : images)
        sizes << QStringLiteral("%1x%2").arg(image.widthDots()).arg(image.heightDots());
    QString line
            = QStringLiteral("FS q: %1 %2 %3")
                      .arg(images.size())
                      .arg(images.size() == 1 ? QStringLiteral("image") : QStringLiteral("images"))
                      .arg(sizes.join(QStringLiteral(", ")));
    if (!problem.isEmpty())
        line += QStringLiteral("; %1").arg(problem);
    QString error;
    if (!makeDurable(before, &error)) {
        // As with a refused first record, the images stored before stay.
        log(line + QStringLiteral("; not stored, %1; stored images kept").arg(error));
        startReset();
        return;
    }
    log(line);

    QStringList written;
    if (!m_settings.exportFolder.isEmpty()) {
        if (m_store.exportPngs(m_settings.exportFolder, &written, &error))
            log(QStringLiteral("export: %1 images -> %2")
                        .arg(written.size())
                        .arg(m_settings.exportFolder));
        else
            log(QStringLiteral("export: %1").arg(error));
    }
    startReset();
}

} // namespace VirtualPrinter

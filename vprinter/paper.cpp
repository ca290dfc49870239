#include "paper.h"

#include "nvbitimage.h"

#include <cstring>

namespace VirtualPrinter {

Paper::Paper(int width)
    : m_width(width)
{}

void Paper::print(const QImage &band)
{
    if (band.isNull() || band.height() == 0)
        return;
    Q_ASSERT(band.width() == m_width && band.format() == QImage::Format_Mono);
    m_bands.append({band, 0});
    m_length += band.height();
    m_hasPrint = true;
}

void Paper::feed(int dots)
{
    if (dots <= 0)
        return;
    if (!m_bands.isEmpty() && m_bands.last().image.isNull())
        m_bands.last().blank += dots;
    else
        m_bands.append({QImage(), dots});
    m_length += dots;
}

QImage Paper::take()
{
    QImage strip = makePaperImage(m_width, m_length);
    int y = 0;
    for (const Band &band : std::as_const(m_bands)) {
        if (band.image.isNull()) {
            y += band.blank;
            continue;
        }
        const auto bytes = size_t(band.image.bytesPerLine());
        for (int row = 0; row < band.image.height(); ++row)
            std::memcpy(strip.scanLine(y + row), band.image.constScanLine(row), bytes);
        y += band.image.height();
    }
    clear();
    return strip;
}

void Paper::clear()
{
    m_bands.clear();
    m_length = 0;
    m_hasPrint = false;
}

} // namespace VirtualPrinter

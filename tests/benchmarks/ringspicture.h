#pragma once

#include <QImage>
#include <QtGlobal>

#include <cmath>

// Rings, a gradient and some grain: a picture that compresses like a real logo or photo, in
// RGB32 as Qt decodes a JPEG. Rings every ringSpacing pixels; grain up to 2^(32-grainShift).
inline QImage ringsPicture(int width, int height, int ringSpacing, int grainShift)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const double r = std::hypot(x - width / 2.0, y - height / 3.0);
            const int ring = (int(r) / ringSpacing) % 2 ? 200 : 40;
            const int grain = int(seed >> grainShift);
            line[x] = qRgb(qBound(0, ring + grain, 255),
                           (x * 255) / width,
                           qBound(0, (ring + (y * 255) / height) / 2 + grain, 255));
        }
    }
    return image;
}

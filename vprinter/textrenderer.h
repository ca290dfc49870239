#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace VirtualPrinter {

// Draws characters as the printer's font A: 12 x 24 dot cells, one bit per dot. With a
// QGuiApplication the glyphs come from a monospaced system font; without one every visible
// character is drawn as a box, so that the printer still runs where no fonts are available.
class TextRenderer
{
public:
    static constexpr int CellWidth = 12;
    static constexpr int CellHeight = 24;

    // The cell for one byte of the printer's code page (PC437), black dots set.
    // Glyphs are drawn once per process and shared by every renderer.
    QImage glyph(uchar byte, bool bold) const;

    static QChar unicodeOf(uchar byte);
    static QString decode(const QByteArray &bytes);

private:
    static QImage render(uchar byte, bool bold);
};

} // namespace VirtualPrinter

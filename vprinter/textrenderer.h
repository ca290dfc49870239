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

    // The cell for one character, black dots set. Glyphs are drawn once per process and shared
    // by every renderer.
    QImage glyph(QChar character, bool bold) const;

    // ESC t n: the character code tables drawn here. Others are kept out (false).
    static bool knowsTable(int table);
    static QString tableName(int table);
    static QChar unicodeOf(uchar byte, int table = 0);
    static QString decode(const QByteArray &bytes, int table = 0);

private:
    static QImage render(QChar character, bool bold);
};

} // namespace VirtualPrinter

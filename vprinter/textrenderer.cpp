#include "textrenderer.h"

#include "nvbitimage.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QHash>
#include <QMutex>
#include <QPainter>

namespace VirtualPrinter {

namespace {

// The upper half of code page 437, the character table printers start with.
const char16_t upperCodePage[] = u"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»"
                                 u"░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀"
                                 u"αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0";
static_assert(sizeof(upperCodePage) / sizeof(char16_t) == 129, "128 characters and the NUL");

// Baseline of the glyphs within the 24-dot cell, leaving room for descenders.
constexpr int Baseline = 19;
constexpr int FontPixelSize = 20;

} // namespace

QChar TextRenderer::unicodeOf(uchar byte)
{
    if (byte < 0x80)
        return QLatin1Char(char(byte));
    return QChar(upperCodePage[byte - 0x80]);
}

QString TextRenderer::decode(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text += unicodeOf(uchar(byte));
    return text;
}

QImage TextRenderer::glyph(uchar byte, bool bold) const
{
    static QMutex mutex;
    static QHash<int, QImage> cache;
    const int key = byte | (bold ? 0x100 : 0);
    QMutexLocker locker(&mutex);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, render(byte, bold));
    return it.value();
}

QImage TextRenderer::render(uchar byte, bool bold)
{
    QImage cell = makePaperImage(CellWidth, CellHeight);
    const QChar character = unicodeOf(byte);
    if (character.isSpace() || byte < 0x20)
        return cell;

    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        for (int x = 2; x < CellWidth - 2; ++x) {
            cell.setPixel(x, 5, 1);
            cell.setPixel(x, Baseline, 1);
        }
        for (int y = 5; y <= Baseline; ++y) {
            cell.setPixel(2, y, 1);
            cell.setPixel(CellWidth - 3, y, 1);
        }
        return cell;
    }

    QImage canvas(CellWidth, CellHeight, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(FontPixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    {
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.setPen(Qt::black);
        const QString text(character);
        const int advance = painter.fontMetrics().horizontalAdvance(text);
        painter.drawText(QPoint((CellWidth - advance) / 2, Baseline), text);
    }
    for (int y = 0; y < CellHeight; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        for (int x = 0; x < CellWidth; ++x) {
            if (qGray(line[x]) < 128)
                cell.setPixel(x, y, 1);
        }
    }
    return cell;
}

} // namespace VirtualPrinter

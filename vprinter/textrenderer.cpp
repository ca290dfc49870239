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

// The upper halves of the character code tables ESC t selects; PC437 is the one printers
// start with. '?' stands for a byte the table leaves undefined.
const char16_t pc437[] = u"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»"
                         u"░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀"
                         u"αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0";
const char16_t pc850[] = u"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜø£Ø×ƒáíóúñÑªº¿®¬½¼¡«»"
                         u"░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐└┴┬├─┼ãÃ╚╔╩╦╠═╬¤ðÐÊËÈıÍÎÏ┘┌█▄¦Ì▀"
                         u"ÓßÔÒõÕµþÞÚÛÙýÝ¯´\u00ad±‗¾¶§÷¸°¨·¹³²■\u00a0";
// PC858 is PC850 with the euro sign at D5.
const char16_t pc858[] = u"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜø£Ø×ƒáíóúñÑªº¿®¬½¼¡«»"
                         u"░▒▓│┤ÁÂÀ©╣║╗╝¢¥┐└┴┬├─┼ãÃ╚╔╩╦╠═╬¤ðÐÊËÈ€ÍÎÏ┘┌█▄¦Ì▀"
                         u"ÓßÔÒõÕµþÞÚÛÙýÝ¯´\u00ad±‗¾¶§÷¸°¨·¹³²■\u00a0";
const char16_t wpc1252[] = u"€?‚ƒ„…†‡ˆ‰Š‹Œ?Ž??‘’“”•–—˜™š›œ?žŸ\u00a0¡¢£¤¥¦§¨©ª«¬\u00ad®¯"
                           u"°±²³´µ¶·¸¹º»¼½¾¿ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖ×ØÙÚÛÜÝÞß"
                           u"àáâãäåæçèéêëìíîïðñòóôõö÷øùúûüýþÿ";
static_assert(sizeof(pc437) / sizeof(char16_t) == 129, "128 characters and the NUL");
static_assert(sizeof(pc850) / sizeof(char16_t) == 129, "128 characters and the NUL");
static_assert(sizeof(pc858) / sizeof(char16_t) == 129, "128 characters and the NUL");
static_assert(sizeof(wpc1252) / sizeof(char16_t) == 129, "128 characters and the NUL");

struct CodeTable
{
    int number; // ESC t n
    const char *name;
    const char16_t *upper;
};
const CodeTable codeTables[] = {
        {0, "PC437", pc437},
        {2, "PC850", pc850},
        {16, "WPC1252", wpc1252},
        {19, "PC858", pc858},
};

const CodeTable *findTable(int number)
{
    for (const CodeTable &table : codeTables) {
        if (table.number == number)
            return &table;
    }
    return nullptr;
}

// Baseline of the glyphs within the 24-dot cell, leaving room for descenders.
constexpr int Baseline = 19;
constexpr int FontPixelSize = 20;

} // namespace

bool TextRenderer::knowsTable(int table)
{
    return findTable(table) != nullptr;
}

QString TextRenderer::tableName(int table)
{
    const CodeTable *found = findTable(table);
    return found ? QLatin1String(found->name) : QStringLiteral("table %1").arg(table);
}

QChar TextRenderer::unicodeOf(uchar byte, int table)
{
    if (byte < 0x80)
        return QLatin1Char(char(byte));
    const CodeTable *found = findTable(table);
    return QChar((found ? found->upper : pc437)[byte - 0x80]);
}

QString TextRenderer::decode(const QByteArray &bytes, int table)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text += unicodeOf(uchar(byte), table);
    return text;
}

QImage TextRenderer::glyph(QChar character, bool bold) const
{
    static QMutex mutex;
    static QHash<uint, QImage> cache;
    const uint key = character.unicode() | (bold ? 0x10000u : 0u);
    QMutexLocker locker(&mutex);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, render(character, bold));
    return it.value();
}

QImage TextRenderer::render(QChar character, bool bold)
{
    QImage cell = makePaperImage(CellWidth, CellHeight);
    if (character.isSpace() || character.unicode() < 0x20)
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

#include "receiptprinter.h"
#include "receiptprinter_p.h"

#ifdef NVLOGO_HAVE_QRENCODE
#include <qrencode.h>
#endif

#include <algorithm>

namespace VirtualPrinter {

using namespace PrinterDetail;

namespace {

// The data as the log shows it: at most this many bytes, the rest counted.
constexpr int ShownData = 64;
constexpr int BoxBorder = 2;
constexpr int BoxPadding = 4;

QString shownData(const QByteArray &data)
{
    QString text;
    for (const char byte : data.left(ShownData)) {
        const auto value = uchar(byte);
        text += value >= 0x20 && value < 0x7F
                        ? QString(QLatin1Char(char(value)))
                        : QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    QString shown = quoted(text);
    if (data.size() > ShownData)
        shown += QStringLiteral("... (%1 bytes)").arg(data.size());
    return shown;
}

QString barCodeName(int system)
{
    static const char *const classic[]
            = {"UPC-A", "UPC-E", "EAN13", "EAN8", "CODE39", "ITF", "CODABAR"};
    static const char *const counted[] = {"UPC-A",
                                          "UPC-E",
                                          "EAN13",
                                          "EAN8",
                                          "CODE39",
                                          "ITF",
                                          "CODABAR",
                                          "CODE93",
                                          "CODE128",
                                          "GS1-128",
                                          "GS1 DataBar Omnidirectional",
                                          "GS1 DataBar Truncated",
                                          "GS1 DataBar Limited",
                                          "GS1 DataBar Expanded",
                                          "CODE128 auto"};
    if (system >= 0 && system <= 6)
        return QLatin1String(classic[system]);
    return QLatin1String(counted[system - 65]);
}

// GS ( k cn: the symbols, by cn - 48.
const char *const symbolNames[] = {"PDF417",
                                   "QR code",
                                   "MaxiCode",
                                   "GS1 DataBar",
                                   "composite symbol",
                                   "Aztec code",
                                   "DataMatrix"};

} // namespace

// A box with its border and, inside, the label's characters as far as they fit: what the
// printer draws for a symbol it does not encode.
QImage ReceiptPrinter::labelledBox(int width, int height, const QString &label) const
{
    QImage box = makePaperImage(width, height);
    for (int x = 0; x < width; ++x) {
        for (int b = 0; b < BoxBorder; ++b) {
            setDot(box, x, b);
            setDot(box, x, height - 1 - b);
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int b = 0; b < BoxBorder; ++b) {
            setDot(box, b, y);
            setDot(box, width - 1 - b, y);
        }
    }
    const int inner = BoxBorder + BoxPadding;
    int x = inner;
    for (const QChar character : label) {
        if (x + TextRenderer::CellWidth > width - inner)
            break;
        copyDots(m_renderer.glyph(character, false), &box, x, inner);
        x += TextRenderer::CellWidth;
    }
    return box;
}

// GS h n (bar code height, 1 to 255 dots) and GS w n (module width, 2 to 6).
QString ReceiptPrinter::setBarCodeSize(const Command &command)
{
    const int n = command.parameter;
    if (command.kind == Command::Kind::BarCodeHeight) {
        if (n < 1)
            return QStringLiteral("undefined bar code height, ignored");
        m_barCodeHeight = n;
        return QStringLiteral("bar code height %1 dots").arg(n);
    }
    if (n < 1 || n > 6)
        return QStringLiteral("undefined module width, ignored");
    m_barCodeModule = n;
    return QStringLiteral("module width %1 dots").arg(n);
}

// GS k m d... (NUL-ended) and GS k m n d...: drawn as a box as high as GS h sets, about as wide
// as the symbol would be, labelled with its kind; the data goes to the log.
void ReceiptPrinter::printBarCode(const Command &command)
{
    const int system = uchar(command.payload.at(0));
    const QByteArray data = command.payload.mid(1);
    const QString name = barCodeName(system);
    const int width
            = std::clamp(int(data.size() + 4) * 11 * m_barCodeModule, 64, m_settings.paperWidth);
    printPicture(labelledBox(width, m_barCodeHeight, name),
                 QStringLiteral("GS k %1: bar code %2 %3, drawn as a box %4x%5")
                         .arg(system)
                         .arg(name, shownData(data))
                         .arg(width)
                         .arg(m_barCodeHeight));
}

// GS ( k cn fn ...: the settings of a symbol, its data (fn 80) and its printing (fn 81).
void ReceiptPrinter::handleSymbol(const Command &command)
{
    const QByteArray &p = command.payload;
    const int symbol = p.size() >= 2 ? uchar(p.at(0)) - 48 : -1;
    const int function = p.size() >= 2 ? uchar(p.at(1)) : -1;
    if (symbol < 0 || symbol > 6) {
        m_log.line(QStringLiteral("GS ( k (%1 parameter bytes, no symbol this printer knows)")
                           .arg(p.size()),
                   ReadableLog::Weight::PassedOver);
        return;
    }
    const QString name = QLatin1String(symbolNames[symbol]);
    if (function == 80 && p.size() >= 3) {
        m_symbolData[symbol] = p.mid(3);
        log(QStringLiteral("GS ( k: %1 data stored, %2").arg(name, shownData(p.mid(3))));
    } else if (function == 81) {
        printSymbol(symbol);
    } else if (symbol == 1 && function == 67 && p.size() == 3 && p.at(2) >= 1 && p.at(2) <= 16) {
        m_qrModule = p.at(2);
        log(QStringLiteral("GS ( k: QR code module %1 dots").arg(m_qrModule));
    } else if (symbol == 1 && function == 69 && p.size() == 3 && p.at(2) >= 48 && p.at(2) <= 51) {
        m_qrLevel = p.at(2) - 48;
        log(QStringLiteral("GS ( k: QR code error correction %1")
                    .arg(QLatin1Char("LMQH"[m_qrLevel])));
    } else {
        m_log.line(QStringLiteral("GS ( k %1 fn %2 (a setting not drawn here)")
                           .arg(name)
                           .arg(function),
                   ReadableLog::Weight::PassedOver);
    }
}

// fn 81: the QR code drawn for real where libqrencode is built in; every other symbol, and a
// QR code without it, as a labelled box.
void ReceiptPrinter::printSymbol(int symbol)
{
    const QString name = QLatin1String(symbolNames[symbol]);
    const QByteArray data = m_symbolData[symbol];
    if (data.isEmpty()) {
        log(QStringLiteral("GS ( k: %1: no data stored, nothing printed").arg(name));
        return;
    }
#ifdef NVLOGO_HAVE_QRENCODE
    if (symbol == 1) {
        static const QRecLevel levels[] = {QR_ECLEVEL_L, QR_ECLEVEL_M, QR_ECLEVEL_Q, QR_ECLEVEL_H};
        QRcode *code = QRcode_encodeData(int(data.size()),
                                         reinterpret_cast<const unsigned char *>(data.constData()),
                                         0,
                                         levels[m_qrLevel]);
        if (code) {
            QImage modules = makePaperImage(code->width, code->width);
            for (int y = 0; y < code->width; ++y) {
                for (int x = 0; x < code->width; ++x) {
                    if (code->data[y * code->width + x] & 1)
                        setDot(modules, x, y);
                }
            }
            const int version = code->version;
            QRcode_free(code);
            const QImage picture
                    = scaledDots(modules, m_qrModule, m_qrModule, m_settings.paperWidth);
            printPicture(picture,
                         QStringLiteral("GS ( k: QR code %1, version %2, level %3, %4x%4 dots")
                                 .arg(shownData(data))
                                 .arg(version)
                                 .arg(QLatin1Char("LMQH"[m_qrLevel]))
                                 .arg(picture.height()));
            return;
        }
    }
#endif
    const int side = std::min(std::max(64, 25 * m_qrModule), m_settings.paperWidth);
    printPicture(labelledBox(side, side, name),
                 QStringLiteral("GS ( k: %1 %2, drawn as a box %3x%3")
                         .arg(name, shownData(data))
                         .arg(side));
}

} // namespace VirtualPrinter

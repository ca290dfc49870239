#include "receiptprinter.h"
#include "receiptprinter_p.h"

#include <QStringList>

#include <algorithm>

namespace VirtualPrinter {

using namespace PrinterDetail;

namespace {

constexpr int KeysPerBlock = 40;
constexpr uchar Ack = 0x06;
constexpr uchar Nak = 0x15;
constexpr uchar Can = 0x18;

bool isKey(const QByteArray &key)
{
    return key.size() == 2 && uchar(key.at(0)) >= 32 && uchar(key.at(0)) <= 126
           && uchar(key.at(1)) >= 32 && uchar(key.at(1)) <= 126;
}

struct GraphicsFunction
{
    int function;
    const char *name;
};
// GS ( L / GS 8 L with m = 48, by fn.
const GraphicsFunction graphicsFunctions[] = {
        {48, "NV graphics capacity"},
        {49, "reference dot density"},
        {50, "print the print buffer's graphics"},
        {51, "NV graphics memory left"},
        {52, "download graphics memory left"},
        {64, "NV graphics key list"},
        {65, "delete all NV graphics"},
        {66, "delete an NV graphic"},
        {67, "define an NV graphic, raster"},
        {68, "define an NV graphic, columns"},
        {69, "print an NV graphic"},
        {80, "download graphics key list"},
        {81, "delete all download graphics"},
        {82, "delete a download graphic"},
        {83, "define a download graphic, raster"},
        {84, "define a download graphic, columns"},
        {85, "print a download graphic"},
        {112, "store raster graphics in the print buffer"},
        {113, "store column graphics in the print buffer"},
};

// The function a GS ( L block asks for, as the log names it.
QString graphicsFunctionName(const QByteArray &p)
{
    if (p.size() < 2)
        return QStringLiteral("no function");
    const int m = uchar(p.at(0));
    const int function = uchar(p.at(1));
    if (m != '0')
        return QStringLiteral("m = %1 fn %2, undefined").arg(m).arg(function);
    for (const GraphicsFunction &entry : graphicsFunctions) {
        if (entry.function == function)
            return QStringLiteral("fn %1, %2").arg(function).arg(QLatin1String(entry.name));
    }
    return QStringLiteral("fn %1, undefined").arg(function);
}

} // namespace

// GS ( L and GS 8 L with m = 48: the NV graphics functions and the print buffer's graphics.
// The others are passed over, by name.
void ReceiptPrinter::handleGraphics(const Command &command)
{
    const QByteArray &p = command.payload;
    const int function = p.size() >= 2 && p.at(0) == '0' ? uchar(p.at(1)) : -1;
    if ((function == 112 || function == 113) && p.size() >= 10)
        return storeBufferGraphic(p);
    if (function == 50 && p.size() == 2)
        return printBufferGraphic();
    if (!handleNvGraphics(function, p)) {
        m_log.line(QStringLiteral("%1 (%2; %3 parameter bytes)")
                           .arg(command.text, graphicsFunctionName(p))
                           .arg(p.size()),
                   ReadableLog::Weight::PassedOver);
    }
}

// False when the block is none of the NV graphics functions kept here.
bool ReceiptPrinter::handleNvGraphics(int function, const QByteArray &p)
{
    const qint64 remaining
            = std::max<qint64>(0, m_settings.graphicsCapacity - m_store.graphicsUsed());
    if (function == 48 && p.size() == 2) {
        log(QStringLiteral("NV graphics: capacity %1 bytes, %2")
                    .arg(m_settings.graphicsCapacity)
                    .arg(replied("\x37\x30" + QByteArray::number(m_settings.graphicsCapacity)
                                 + '\0')));
    } else if (function == 51 && p.size() == 2) {
        log(QStringLiteral("NV graphics: %1 bytes free, %2")
                    .arg(remaining)
                    .arg(replied("\x37\x31" + QByteArray::number(remaining) + '\0')));
    } else if (function == 64 && p == "0@KC") {
        startKeyList();
    } else if (function == 65 && p == "0ACLR") {
        const NvStore before = m_store;
        m_store.removeAllGraphics();
        saveNv(before, QStringLiteral("NV graphics: all deleted"), [](const QString &why) {
            return QStringLiteral("NV graphics: delete all not done, %1; every graphic kept")
                    .arg(why);
        });
    } else if (function == 66 && p.size() == 4) {
        const QByteArray key = p.mid(2);
        const NvStore before = m_store;
        if (!m_store.removeGraphic(key)) {
            log(QStringLiteral("NV graphics: delete %1: not stored").arg(keyText(key)));
        } else {
            saveNv(before,
                   QStringLiteral("NV graphics: deleted %1").arg(keyText(key)),
                   [&key](const QString &why) {
                       return QStringLiteral("NV graphics: delete %1 not done, %2; still stored")
                               .arg(keyText(key), why);
                   });
        }
    } else if (function == 67) {
        defineGraphic(p);
    } else if (function == 69 && p.size() == 6) {
        printGraphic(p.mid(2, 2), uchar(p.at(4)), uchar(p.at(5)));
    } else {
        return false;
    }
    return true;
}

// fn 112: 30 70 a bx by c xL xH yL yH d...: rows, ceil(x / 8) bytes each; fn 113 the same with
// columns, ceil(y / 8) bytes each. Only one colour (a = 48, c = 49) is kept; a new store
// replaces what the print buffer held.
void ReceiptPrinter::storeBufferGraphic(const QByteArray &p)
{
    const bool columns = uchar(p.at(1)) == 113;
    const QString what = QStringLiteral("GS ( L fn %1").arg(columns ? 113 : 112);
    const int scaleX = uchar(p.at(3));
    const int scaleY = uchar(p.at(4));
    const int width = word(p, 6);
    const int height = word(p, 8);
    const qint64 size
            = columns ? qint64(width) * ((height + 7) / 8) : qint64((width + 7) / 8) * height;
    QString problem;
    if (p.at(2) != '0' || p.at(5) != '1')
        problem = QStringLiteral("only one colour (a = 48, c = 49) is kept");
    else if ((scaleX != 1 && scaleX != 2) || (scaleY != 1 && scaleY != 2))
        problem = QStringLiteral("scale %1x%2 is undefined").arg(scaleX).arg(scaleY);
    else if (width < 1 || height < 1)
        problem = QStringLiteral("%1x%2 dots is no picture").arg(width).arg(height);
    else if (p.size() - 10 != size)
        problem = QStringLiteral("%1 data bytes where %2x%3 dots take %4")
                          .arg(p.size() - 10)
                          .arg(width)
                          .arg(height)
                          .arg(size);
    if (!problem.isEmpty()) {
        log(QStringLiteral("%1: refused, %2; the print buffer keeps what it held")
                    .arg(what, problem));
        return;
    }
    m_bufferGraphic = columns ? columnsToImage(p.constData() + 10, width, height)
                              : rowsToImage(p.constData() + 10, (width + 7) / 8, width, height);
    m_bufferScaleX = scaleX;
    m_bufferScaleY = scaleY;
    log(QStringLiteral("%1: %2x%3 dots, scale %4x%5, stored in the print buffer")
                .arg(what)
                .arg(width)
                .arg(height)
                .arg(scaleX)
                .arg(scaleY));
}

// fn 50: prints the graphics in the print buffer, placed by ESC a, and empties it.
void ReceiptPrinter::printBufferGraphic()
{
    if (m_bufferGraphic.isNull()) {
        log(QStringLiteral("GS ( L fn 50: the print buffer holds no graphics, nothing printed"));
        return;
    }
    const QImage picture = m_bufferGraphic;
    m_bufferGraphic = QImage();
    QString what = QStringLiteral("GS ( L fn 50: print buffer graphics %1x%2, scale %3x%4")
                           .arg(picture.width())
                           .arg(picture.height())
                           .arg(m_bufferScaleX)
                           .arg(m_bufferScaleY);
    if (picture.width() * m_bufferScaleX > m_settings.paperWidth)
        what += QStringLiteral(" (clipped to the paper)");
    printPicture(scaledDots(picture, m_bufferScaleX, m_bufferScaleY, m_settings.paperWidth), what);
}

// fn 67: 30 43 30 kc1 kc2 b xL xH yL yH c d1...dk
void ReceiptPrinter::defineGraphic(const QByteArray &p)
{
    const auto refuse = [this](const QString &why) {
        log(QStringLiteral("NV graphics: define refused, %1; nothing stored").arg(why));
    };
    if (p.size() < 11 || p.at(2) != '0') {
        refuse(QStringLiteral("it is not a raster define (%1 parameter bytes)").arg(p.size()));
        return;
    }
    const QByteArray key = p.mid(3, 2);
    NvGraphic graphic;
    graphic.width = word(p, 6);
    graphic.height = word(p, 8);
    if (!isKey(key)) {
        refuse(QStringLiteral("the key %1 has a byte outside 20 to 7e")
                       .arg(QString::fromLatin1(key.toHex(' '))));
    } else if (p.at(5) != 1 || p.at(10) != 0x31) {
        refuse(QStringLiteral("%1: only one colour (b = 1, c = 49) is kept").arg(keyText(key)));
    } else if (graphic.width < 1 || graphic.width > MaxGraphicWidth || graphic.height < 1
               || graphic.height > MaxGraphicHeight) {
        refuse(QStringLiteral("%1: %2x%3 dots is outside 1 to %4 x 1 to %5")
                       .arg(keyText(key))
                       .arg(graphic.width)
                       .arg(graphic.height)
                       .arg(MaxGraphicWidth)
                       .arg(MaxGraphicHeight));
    } else if (p.size() - 11 != graphic.dataSize()) {
        refuse(QStringLiteral("%1: %2 data bytes where %3x%4 dots take %5")
                       .arg(keyText(key))
                       .arg(p.size() - 11)
                       .arg(graphic.width)
                       .arg(graphic.height)
                       .arg(graphic.dataSize()));
    } else {
        const NvGraphic *old = m_store.graphic(key);
        const qint64 free = m_settings.graphicsCapacity - m_store.graphicsUsed()
                            + (old ? old->storedSize() : 0);
        if (graphic.storedSize() > free) {
            refuse(QStringLiteral("%1 %2x%3 needs %4 bytes, %5 free")
                           .arg(keyText(key))
                           .arg(graphic.width)
                           .arg(graphic.height)
                           .arg(graphic.storedSize())
                           .arg(std::max<qint64>(0, free)));
            return;
        }
        graphic.data = p.mid(11);
        const NvStore before = m_store;
        m_store.setGraphic(key, graphic);
        // As the manuals describe: NV graphics and FS q images do not live side by side.
        const bool erased = m_store.count() > 0;
        m_store.replaceAll({});
        saveNv(before,
               QStringLiteral("NV graphics: defined %1 %2x%3, %4 bytes%5")
                       .arg(keyText(key))
                       .arg(graphic.width)
                       .arg(graphic.height)
                       .arg(graphic.dataSize())
                       .arg(erased ? QStringLiteral("; FS q images erased") : QString()),
               [&key](const QString &why) {
                   return QStringLiteral("NV graphics: define refused, %1 cannot be kept (%2); "
                                         "nothing stored")
                           .arg(keyText(key), why);
               });
    }
}

void ReceiptPrinter::printGraphic(const QByteArray &key, int scaleX, int scaleY)
{
    const QString what = QStringLiteral("NV graphics: print %1").arg(keyText(key));
    if ((scaleX != 1 && scaleX != 2) || (scaleY != 1 && scaleY != 2)) {
        log(QStringLiteral("%1: scale %2x%3 is undefined, nothing printed")
                    .arg(what)
                    .arg(scaleX)
                    .arg(scaleY));
        return;
    }
    if (!m_line.isEmpty()) {
        log(what + QStringLiteral(": ignored, text waits in the line buffer"));
        return;
    }
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("%1: nothing printed, %2").arg(what, why));
        return;
    }
    const NvGraphic *graphic = m_store.graphic(key);
    if (!graphic) {
        log(what + QStringLiteral(": not stored, nothing printed"));
        return;
    }
    QImage band = makePaperImage(m_settings.paperWidth, graphic->height * scaleY);
    const int columns = std::min(graphic->width, (m_settings.paperWidth + scaleX - 1) / scaleX);
    for (int y = 0; y < graphic->height; ++y) {
        for (int x = 0; x < columns; ++x) {
            if (!graphic->dot(x, y))
                continue;
            for (int dy = 0; dy < scaleY; ++dy) {
                for (int dx = 0; dx < scaleX; ++dx)
                    setDot(band, x * scaleX + dx, y * scaleY + dy);
            }
        }
    }
    QString line = QStringLiteral("%1, scale %2x%3").arg(what).arg(scaleX).arg(scaleY);
    if (graphic->width * scaleX > m_settings.paperWidth)
        line += QStringLiteral(" (clipped to the paper)");
    log(line);
    printBand(band);
}

// A change of the NV graphics takes effect only once it is in the state file: a printer that
// lists a key must still have it after a restart. Otherwise the change is undone and `refusal`
// with the reason is logged.
void ReceiptPrinter::saveNv(const NvStore &before,
                            const QString &what,
                            const std::function<QString(const QString &why)> &refusal)
{
    QString error;
    if (!makeDurable(before, &error)) {
        log(refusal(error));
        return;
    }
    log(what);
    QStringList written;
    if (!m_settings.exportFolder.isEmpty()
        && !m_store.exportPngs(m_settings.exportFolder, &written, &error))
        log(QStringLiteral("export: %1").arg(error));
}

// fn 64: the keys in blocks of 40, 37 72 41 ... 00 while more follow, 37 72 40 ... 00 last.
void ReceiptPrinter::startKeyList()
{
    m_keyListBlocks.clear();
    const QList<QByteArray> keys = m_store.graphics().keys();
    for (int i = 0; i == 0 || i < keys.size(); i += KeysPerBlock) {
        const bool last = i + KeysPerBlock >= keys.size();
        QByteArray block("\x37\x72");
        block.append(last ? '\x40' : '\x41');
        for (int k = i; k < std::min<int>(keys.size(), i + KeysPerBlock); ++k)
            block.append(keys.at(k));
        block.append('\0');
        m_keyListBlocks << block;
    }
    m_keyListBlock = 0;
    log(QStringLiteral("NV graphics: key list, %1 keys in %2 blocks")
                .arg(keys.size())
                .arg(m_keyListBlocks.size()));
    sendKeyListBlock();
}

void ReceiptPrinter::sendKeyListBlock()
{
    const QByteArray &block = m_keyListBlocks.at(m_keyListBlock);
    const bool more = m_keyListBlock + 1 < m_keyListBlocks.size();
    log(QStringLiteral("NV graphics: key list block %1, %2 keys, %3")
                .arg(m_keyListBlock + 1)
                .arg((block.size() - 4) / 2)
                .arg(reply(block) ? QStringLiteral("sent")
                                  : QStringLiteral("no back channel, not sent")));
    if (!more || !m_settings.replies) {
        m_keyListBlocks.clear();
        return;
    }
    // The host answers ACK, NAK or CAN; the next byte is its answer.
    m_waitingForHandshake = true;
    m_handshakeDeadline = now() + KeyListHandshakeMs;
    m_parser.interrupt();
    if (onTimer)
        onTimer(KeyListHandshakeMs);
}

void ReceiptPrinter::acceptHandshake(uchar byte)
{
    m_waitingForHandshake = false;
    switch (byte) {
    case Ack:
        ++m_keyListBlock;
        sendKeyListBlock();
        break;
    case Nak:
        sendKeyListBlock();
        break;
    case Can:
        m_keyListBlocks.clear();
        log(QStringLiteral("NV graphics: key list cancelled by the host"));
        break;
    default:
        m_keyListBlocks.clear();
        log(QStringLiteral("NV graphics: key list ended, 0x%1 came instead of ACK, NAK or CAN")
                    .arg(byte, 2, 16, QLatin1Char('0')));
        break;
    }
}

void ReceiptPrinter::endHandshakeWait(const QString &why)
{
    m_waitingForHandshake = false;
    m_keyListBlocks.clear();
    if (!why.isEmpty())
        log(QStringLiteral("NV graphics: key list given up, %1").arg(why));
}

} // namespace VirtualPrinter

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

int word(const QByteArray &p, int at)
{
    return uchar(p.at(at)) + 256 * uchar(p.at(at + 1));
}

} // namespace

// GS ( L and GS 8 L with m = 48: the NV graphics functions. The others are passed over.
void ReceiptPrinter::handleGraphics(const Command &command)
{
    const QByteArray &p = command.payload;
    const int function = p.size() >= 2 && p.at(0) == '0' ? uchar(p.at(1)) : -1;
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
        log(QStringLiteral("skipped: %1 %2 (%3 parameter bytes; not an NV graphics function "
                           "this printer keeps)")
                    .arg(command.text, p.isEmpty() ? QString() : codeName(uchar(p.at(0))))
                    .arg(p.size()));
    }
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

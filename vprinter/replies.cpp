#include "receiptprinter.h"
#include "receiptprinter_p.h"

#include <QStringList>

namespace VirtualPrinter {

using namespace PrinterDetail;

namespace {

constexpr uchar StatusFixedBits = 0x12; // DLE EOT reply: the bits set in every reply

// GS I 1 to 3: one byte each, of the form 0xx0xxxx.
constexpr uchar ModelId = 0x20;
constexpr uchar TypeId = 0x02; // an autocutter, no two-byte characters
constexpr uchar VersionId = 0x01;

// GS a n: the items whose changes send a status block.
constexpr int AsbDrawer = 0x01;
constexpr int AsbOnline = 0x02;
constexpr int AsbError = 0x04;
constexpr int AsbPaper = 0x08;

// The error bits of DLE EOT 3 and of the block's second byte.
uchar errorBits(PrinterError error)
{
    switch (error) {
    case PrinterError::None:
        return 0;
    case PrinterError::Mechanical:
        return 0x04;
    case PrinterError::Autocutter:
        return 0x08;
    case PrinterError::Unrecoverable:
        return 0x20;
    case PrinterError::AutoRecoverable:
        return 0x40;
    }
    return 0;
}

// The paper sensors as GS r 1 and the block's third byte give them: near end in bits 0 and 1,
// end in bits 2 and 3. A roll at its end has passed the near-end sensor too.
uchar paperBits(PaperState paper)
{
    return paper == PaperState::End ? 0x0F : paper == PaperState::NearEnd ? 0x03 : 0x00;
}

QString conditionText(const PrinterSettings &settings)
{
    QStringList parts;
    parts << (settings.paper == PaperState::End       ? QStringLiteral("paper end")
              : settings.paper == PaperState::NearEnd ? QStringLiteral("paper near its end")
                                                      : QStringLiteral("paper ok"));
    parts << (settings.coverOpen ? QStringLiteral("cover open") : QStringLiteral("cover closed"));
    parts << (settings.error == PrinterError::None ? QStringLiteral("no error")
                                                   : errorName(settings.error));
    return parts.join(QStringLiteral(", "));
}

} // namespace

bool ReceiptPrinter::reply(const QByteArray &bytes)
{
    m_outside = true;
    if (!m_settings.replies)
        return false;
    if (onReply)
        onReply(bytes);
    return true;
}

// The log's account of a reply.
QString ReceiptPrinter::replied(const QByteArray &bytes)
{
    return reply(bytes) ? QStringLiteral("replied %1").arg(hexBytes(bytes))
                        : QStringLiteral("no back channel, %1 not sent").arg(hexBytes(bytes));
}

QString ReceiptPrinter::answerStatusRequest(int request)
{
    const bool paperEnd = m_settings.paper == PaperState::End;
    const PrinterError error = m_settings.error;
    const bool hasError = error != PrinterError::None;
    int status = StatusFixedBits;
    QStringList meaning;
    switch (request) {
    case 1:
        if (!notPrintingReason().isEmpty()) {
            status |= 0x08;
            meaning << QStringLiteral("offline");
        } else {
            meaning << QStringLiteral("online");
        }
        break;
    case 2:
        if (m_settings.coverOpen) {
            status |= 0x04;
            meaning << QStringLiteral("cover open");
        }
        if (paperEnd) {
            status |= 0x20;
            meaning << QStringLiteral("stopped at paper end");
        }
        if (hasError) {
            status |= 0x40;
            meaning << QStringLiteral("error");
        }
        break;
    case 3:
        status |= errorBits(error);
        if (hasError)
            meaning << errorName(error);
        break;
    case 4:
        // A roll at its end has passed the near-end sensor too.
        if (paperEnd) {
            status |= 0x6C;
            meaning << QStringLiteral("paper end");
        } else if (m_settings.paper == PaperState::NearEnd) {
            status |= 0x0C;
            meaning << QStringLiteral("paper near its end");
        }
        break;
    default:
        return QStringLiteral("undefined status request, no reply");
    }
    if (meaning.isEmpty())
        meaning << QStringLiteral("all clear");
    return QStringLiteral("status request, %1 (%2)")
            .arg(replied(QByteArray(1, char(status))), meaning.join(QStringLiteral(", ")));
}

// GS I n: 1 to 3 (or '1' to '3') one byte each; 65 to 69 a text framed by 5F and NUL.
QString ReceiptPrinter::answerIdRequest(int request)
{
    const QByteArray texts[]
            = {m_settings.firmware, "nvlogo", m_settings.model, "NVP-000001", "ANK"};
    static const char *const names[] = {"firmware", "maker", "model", "serial number", "fonts"};
    const int number = numberOrDigit(request, 3);
    if (number >= 1) {
        static const uchar ids[] = {ModelId, TypeId, VersionId};
        static const char *const idNames[] = {"model ID", "type ID", "version ID"};
        return QStringLiteral("%1, %2").arg(QLatin1String(idNames[number - 1]),
                                            replied(QByteArray(1, char(ids[number - 1]))));
    }
    if (request >= 65 && request <= 69) {
        const QByteArray &text = texts[request - 65];
        return QStringLiteral("%1 \"%2\", %3")
                .arg(QLatin1String(names[request - 65]),
                     QString::fromLatin1(text),
                     replied('\x5F' + text + '\0'));
    }
    return QStringLiteral("undefined ID request, no reply");
}

// The 4 bytes: 0xx1xx00 with the drawer (bit 2), offline (3), cover open (5) and paper fed by
// FEED (6); the errors in the bits of DLE EOT 3; the paper sensors as GS r 1; and a fourth byte
// of fixed zeros.
QByteArray ReceiptPrinter::statusBlock() const
{
    uchar printer = 0x10;
    if (!notPrintingReason().isEmpty())
        printer |= 0x08;
    if (m_settings.coverOpen)
        printer |= 0x20;
    QByteArray block(4, '\0');
    block[0] = char(printer);
    block[1] = char(errorBits(m_settings.error));
    block[2] = char(paperBits(m_settings.paper));
    return block;
}

// GS a n: bit 0 the drawer, 1 on- and offline (the cover with it), 2 errors, 3 the paper
// sensors. Any bit set sends a block at once, and again at every change of what it covers.
QString ReceiptPrinter::setAutoStatusBack(int n)
{
    m_asbOn = n != 0;
    m_asbItems = n & (AsbDrawer | AsbOnline | AsbError | AsbPaper);
    if (!m_asbOn)
        return QStringLiteral("automatic status back off");
    QStringList items;
    if (n & AsbDrawer)
        items << QStringLiteral("drawer");
    if (n & AsbOnline)
        items << QStringLiteral("online");
    if (n & AsbError)
        items << QStringLiteral("error");
    if (n & AsbPaper)
        items << QStringLiteral("paper");
    return QStringLiteral("automatic status back on (%1), %2")
            .arg(items.isEmpty() ? QStringLiteral("no item this printer changes")
                                 : items.join(QStringLiteral(", ")),
                 replied(statusBlock()));
}

void ReceiptPrinter::setCondition(PaperState paper, bool coverOpen, PrinterError error)
{
    const QByteArray before = statusBlock();
    m_settings.paper = paper;
    m_settings.coverOpen = coverOpen;
    m_settings.error = error;
    const QByteArray after = statusBlock();
    const bool covered = ((m_asbItems & AsbOnline) && ((before[0] ^ after[0]) & 0x28))
                         || ((m_asbItems & AsbError) && before[1] != after[1])
                         || ((m_asbItems & AsbPaper) && before[2] != after[2]);
    QString line = QStringLiteral("condition: %1").arg(conditionText(m_settings));
    if (m_asbOn && covered)
        line += QStringLiteral(", automatic status back %1").arg(replied(after));
    log(line);
}

void ReceiptPrinter::connectionOpened()
{
    if (m_settings.asbOnConnect)
        log(QStringLiteral("connection: status block at once, %1").arg(replied(statusBlock())));
}

// GS r n: 1 or 49 the paper sensors, 2 or 50 the drawer (pin 3 low: the drawer modelled here
// is closed). Each reply has the form 0xx0xxxx.
QString ReceiptPrinter::answerTransmitStatus(int n)
{
    const int which = numberOrDigit(n, 2);
    if (which == 1) {
        const uchar bits = paperBits(m_settings.paper);
        return QStringLiteral("paper sensors, %1 (%2)")
                .arg(replied(QByteArray(1, char(bits))),
                     bits == 0      ? QStringLiteral("paper ok")
                     : bits == 0x03 ? QStringLiteral("near end")
                                    : QStringLiteral("paper end"));
    }
    if (which == 2)
        return QStringLiteral("drawer, %1 (pin 3 low)").arg(replied(QByteArray(1, '\0')));
    return QStringLiteral("undefined status, no reply");
}

// GS ( H fn 48 m 48 d1 d2 d3 d4: the process ID comes back once everything before it has been
// printed. Bytes are processed in order, so that is now, unless the printer cannot print.
void ReceiptPrinter::answerResponseRequest(const Command &command)
{
    const QByteArray &p = command.payload;
    if (p.size() != 6 || p.at(0) != '0' || p.at(1) != '0') {
        log(QStringLiteral("skipped: GS ( H %1 (undefined response request)").arg(hexBytes(p)));
        return;
    }
    const QByteArray id = p.mid(2);
    for (const char byte : id) {
        if (uchar(byte) < 0x20 || uchar(byte) > 0x7E) {
            log(QStringLiteral("GS ( H: process ID %1 has a byte outside 20 to 7e, no reply")
                        .arg(hexBytes(id)));
            return;
        }
    }
    const QString shown = quoted(QString::fromLatin1(id));
    if (const QString why = notPrintingReason(); !why.isEmpty()) {
        log(QStringLiteral("GS ( H: process ID %1: nothing before it printed (%2), no reply")
                    .arg(shown, why));
        return;
    }
    log(QStringLiteral("GS ( H: process ID %1, everything before it printed, %2")
                .arg(shown, replied("\x37\x22" + id + '\0')));
}

} // namespace VirtualPrinter

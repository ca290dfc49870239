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

} // namespace

bool ReceiptPrinter::reply(const QByteArray &bytes)
{
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
        status |= error == PrinterError::Mechanical        ? 0x04
                  : error == PrinterError::Autocutter      ? 0x08
                  : error == PrinterError::Unrecoverable   ? 0x20
                  : error == PrinterError::AutoRecoverable ? 0x40
                                                           : 0;
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

#include "graphicscommand.h"

#include <escpos/commands.h>
#include <nvimage/errors.h>
#include <nvimage/pictureloader.h>

#include <QDir>
#include <QLocale>

#include <functional>
#include <optional>

namespace Commands {

namespace {

using std::chrono::milliseconds;

Printer::Failure failure(Printer::FailureKind kind, const QString &reason)
{
    return Printer::Failure{kind, reason};
}

QString seconds(milliseconds time)
{
    return QString::number(double(time.count()) / 1000.0, 'f', 1);
}

// The first reply decode accepts, reading until deadline; other replies (stray status
// bytes, late answers to something else) are passed over. Nothing when none came.
template<typename T>
Printer::Result<std::optional<T>>
awaitReply(PrinterLink &link,
           Clock::time_point deadline,
           const Progress *stop,
           const std::function<std::optional<T>(const EscPos::Reply &)> &decode)
{
    for (;;) {
        auto reply = link.nextReply(deadline, stop);
        if (!reply.ok())
            return reply.failure();
        if (!reply.value())
            return std::optional<T>{};
        if (std::optional<T> decoded = decode(*reply.value()))
            return decoded;
    }
}

Printer::Result<qint64> askNumber(PrinterLink &link,
                                  const QByteArray &request,
                                  std::optional<qint64> (*decode)(const EscPos::Reply &),
                                  const QString &what,
                                  milliseconds timeout,
                                  const Progress *stop)
{
    if (!link.canRead())
        return link.cannotRead();
    const Printer::Result<void> sent = link.send(request);
    if (!sent.ok())
        return sent.failure();
    const auto number = awaitReply<qint64>(link, Clock::now() + timeout, stop, decode);
    if (!number.ok())
        return number.failure();
    if (!number.value()) {
        return failure(Printer::FailureKind::Timeout,
                       QStringLiteral("%1 did not report its %2 within %3 s")
                               .arg(link.target(), what, seconds(timeout)));
    }
    return *number.value();
}

bool isKeyListBlock(const EscPos::Reply &reply)
{
    return reply.kind == EscPos::Reply::Kind::Block && !reply.body.isEmpty()
           && reply.body.at(0) == 0x72;
}

// One key-list block: a decoded block, nothing when none came in time or retries ran out.
// A damaged block is asked for again with NAK.
Printer::Result<std::optional<EscPos::KeyBlock>>
keyBlock(PrinterLink &link, milliseconds timeout, const Progress *stop)
{
    for (int attempt = 0; attempt <= MaxBlockRetries; ++attempt) {
        if (attempt > 0) {
            const Printer::Result<void> nak = link.send(QByteArray(1, EscPos::Nak));
            if (!nak.ok())
                return nak.failure();
        }
        const auto reply = awaitReply<EscPos::Reply>(
                link, Clock::now() + timeout, stop, [](const EscPos::Reply &r) {
                    std::optional<EscPos::Reply> found;
                    if (isKeyListBlock(r))
                        found = r;
                    return found;
                });
        if (!reply.ok())
            return reply.failure();
        if (!reply.value())
            continue;
        if (std::optional<EscPos::KeyBlock> block = EscPos::decodeKeyBlock(*reply.value()))
            return block;
    }
    return std::optional<EscPos::KeyBlock>{};
}

QString bytesText(qint64 bytes)
{
    return QLocale(QLocale::English).toString(bytes);
}

} // namespace

NvImage::DotImage graphicDots(const QString &picture, NvImage::Conversion conversion)
{
    const NvImage::PictureInfo info = NvImage::inspectPicture(picture);
    // Throws before anything is decoded when the size is not a graphic's.
    (void)EscPos::nvGraphicsDataSize(info.size.width(), info.size.height());
    NvImage::PictureSurface surface;
    surface.drawPicture(NvImage::decodePicture(info));
    if (surface.image().isNull())
        throw NvImage::PictureError(picture,
                                    QStringLiteral("The picture \"%1\" could not be converted "
                                                   "to dots: there is not enough memory.")
                                            .arg(QDir::toNativeSeparators(picture)));
    NvImage::applyConversion(surface, conversion);
    return NvImage::rasterise(surface, surface.width(), surface.height());
}

Printer::Result<qint64>
askGraphicsCapacity(PrinterLink &link, milliseconds timeout, const Progress *stop)
{
    return askNumber(link,
                     EscPos::nvGraphicsCapacity(),
                     EscPos::decodeGraphicsCapacity,
                     QStringLiteral("NV graphics capacity"),
                     timeout,
                     stop);
}

Printer::Result<qint64>
askGraphicsRemaining(PrinterLink &link, milliseconds timeout, const Progress *stop)
{
    return askNumber(link,
                     EscPos::nvGraphicsRemaining(),
                     EscPos::decodeGraphicsRemaining,
                     QStringLiteral("free NV graphics memory"),
                     timeout,
                     stop);
}

Printer::Result<QList<QByteArray>>
askGraphicsKeys(PrinterLink &link, milliseconds timeout, const Progress *stop)
{
    if (!link.canRead())
        return link.cannotRead();
    const Printer::Result<void> sent = link.send(EscPos::nvGraphicsKeyList());
    if (!sent.ok())
        return sent.failure();
    QList<QByteArray> keys;
    for (int blocks = 0; blocks < MaxKeyBlocks; ++blocks) {
        if (blocks > 0) {
            const Printer::Result<void> ack = link.send(QByteArray(1, EscPos::Ack));
            if (!ack.ok())
                return ack.failure();
        }
        const auto block = keyBlock(link, timeout, stop);
        if (!block.ok())
            return block.failure();
        if (!block.value()) {
            // Ends a list the printer may still think is going on.
            (void)link.send(QByteArray(1, EscPos::Can));
            return failure(Printer::FailureKind::Timeout,
                           blocks == 0 ? QStringLiteral("%1 did not send its key list within %2 s")
                                                 .arg(link.target(), seconds(timeout))
                                       : QStringLiteral("%1 stopped sending its key list after "
                                                        "%2 blocks")
                                                 .arg(link.target())
                                                 .arg(blocks));
        }
        for (const QByteArray &key : block.value()->keys) {
            if (!keys.contains(key))
                keys.append(key);
        }
        if (!block.value()->more)
            return keys;
    }
    (void)link.send(QByteArray(1, EscPos::Can));
    return failure(Printer::FailureKind::Io,
                   QStringLiteral("%1 sent more than %2 key-list blocks; the list was stopped")
                           .arg(link.target())
                           .arg(MaxKeyBlocks));
}

Printer::Result<DefinedGraphic> defineGraphic(PrinterLink &link,
                                              const QByteArray &key,
                                              const NvImage::DotImage &dots,
                                              milliseconds timeout,
                                              Progress *progress)
{
    // Built first: a key or size the command cannot carry fails before any byte is sent.
    const QByteArray define = EscPos::nvGraphicsDefine(key, dots);
    return defineGraphic(link,
                         key,
                         define,
                         EscPos::nvGraphicsDataSize(dots.width, dots.height),
                         timeout,
                         progress);
}

Printer::Result<DefinedGraphic> defineGraphic(PrinterLink &link,
                                              const QByteArray &key,
                                              const QByteArray &define,
                                              qint64 needed,
                                              milliseconds timeout,
                                              Progress *progress)
{
    DefinedGraphic defined;
    defined.needed = needed;

    if (!link.canRead()) {
        const Printer::Result<void> sent = link.send(define, progress);
        if (!sent.ok())
            return sent.failure();
        defined.reason = link.cannotRead().reason;
        return defined;
    }

    // Whatever the printer said before is no answer to this.
    const Printer::Result<void> drained = link.drain(milliseconds(50), Clock::now() + timeout);
    if (!drained.ok())
        return drained.failure();
    const Printer::Result<qint64> before = askGraphicsRemaining(link, timeout, progress);
    if (!before.ok())
        return before.failure();
    // The printer's figure already allows for the graphics it holds; a new graphic's own
    // control bytes are its business, so only the dot bytes are compared.
    if (defined.needed > before.value()) {
        defined.result = DefineResult::Refused;
        defined.remaining = before.value();
        defined.reason = QStringLiteral("needs %1 bytes, %2 free")
                                 .arg(bytesText(defined.needed), bytesText(before.value()));
        // A graphic under the same key still counts as used in that figure.
        const Printer::Result<QList<QByteArray>> keys = askGraphicsKeys(link, timeout, progress);
        if (keys.ok() && keys.value().contains(key)) {
            defined.reason += QStringLiteral(" (the graphic stored under %1 counts as used; "
                                             "delete it first to replace it)")
                                      .arg(keyText(key));
        }
        return defined;
    }

    const Printer::Result<void> sent = link.send(define, progress);
    if (!sent.ok())
        return sent.failure();

    // The printer is busy writing its memory for a while; its answers come after that.
    const Printer::Result<QList<QByteArray>> keys = askGraphicsKeys(link, timeout, progress);
    if (!keys.ok()) {
        defined.reason = keys.failure().reason;
        return defined;
    }
    if (!keys.value().contains(key)) {
        defined.reason
                = QStringLiteral("%1 does not list the key %2").arg(link.target(), keyText(key));
        return defined;
    }
    defined.result = DefineResult::Stored;
    // Listed is stored; a free figure that does not come is only left unknown.
    const Printer::Result<qint64> after = askGraphicsRemaining(link, timeout, progress);
    if (after.ok())
        defined.remaining = after.value();
    return defined;
}

QByteArray printGraphicBytes(const QByteArray &key, int scaleX, int scaleY)
{
    return EscPos::nvGraphicsPrint(key, scaleX, scaleY) + EscPos::cutPaper();
}

} // namespace Commands

#include "graphicscommand.h"

#include "messages.h"

#include <escpos/commands.h>
#include <nvimage/errors.h>
#include <nvimage/nvimagefile.h>

#include <functional>
#include <optional>

namespace Commands {

namespace {

using std::chrono::milliseconds;

Printer::Failure failure(Printer::FailureKind kind, const QString &reason)
{
    return Printer::Failure{kind, reason};
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
                               .arg(link.display(), what, secondsText(timeout)));
    }
    return *number.value();
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
                    if (EscPos::isKeyBlock(r))
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

} // namespace

EscPos::DotImage graphicDots(const QString &picture,
                             const NvImage::Preparation &preparation,
                             const NvImage::StopCheck &stop,
                             QList<NvImage::PreviewWarning> *warnings)
{
    // A graphic keeps its own size: no padding, and the define's own limits.
    const NvImage::DotFormat format{EscPos::GraphicsMaxWidth, EscPos::GraphicsMaxHeight, false};
    return NvImage::pictureDots(
            picture, preparation, format, stop, warnings, {preparation.paperDots, 0});
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

Printer::Result<GraphicsMemory>
askGraphicsMemory(PrinterLink &link, milliseconds timeout, const Progress *stop)
{
    const Printer::Result<qint64> capacity = askGraphicsCapacity(link, timeout, stop);
    if (!capacity.ok())
        return capacity.failure();
    const Printer::Result<qint64> remaining = askGraphicsRemaining(link, timeout, stop);
    if (!remaining.ok())
        return remaining.failure();
    if (remaining.value() > capacity.value()) {
        return failure(Printer::FailureKind::Io,
                       QStringLiteral("%1 reports %2 bytes free of %3 bytes of NV graphics "
                                      "memory, which cannot be")
                               .arg(link.display(),
                                    bytesText(remaining.value()),
                                    bytesText(capacity.value())));
    }
    return GraphicsMemory{capacity.value(), remaining.value()};
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
                                                 .arg(link.display(), secondsText(timeout))
                                       : QStringLiteral("%1 stopped sending its key list after "
                                                        "%2 blocks")
                                                 .arg(link.display())
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
                           .arg(link.display())
                           .arg(MaxKeyBlocks));
}

GraphicDefine GraphicDefine::of(const QByteArray &key, const EscPos::DotImage &dots)
{
    // Built first: a key or size the command cannot carry fails before any byte is sent.
    GraphicDefine define;
    define.key = key;
    define.command = EscPos::nvGraphicsDefine(key, dots);
    define.needed = EscPos::nvGraphicsDataSize(dots.width, dots.height);
    define.width = dots.width;
    define.height = dots.height;
    return define;
}

namespace {

// The printer's figure already allows for the graphics it holds; a new graphic's own
// control bytes are its business, so only the dot bytes are compared.
Printer::Result<DefinedGraphic> refusedForMemory(PrinterLink &link,
                                                 const GraphicDefine &define,
                                                 qint64 remaining,
                                                 milliseconds timeout,
                                                 Progress *progress)
{
    DefinedGraphic defined{DefineResult::Refused, define.needed, remaining, {}};
    defined.reason = QStringLiteral("needs %1 bytes, %2 free")
                             .arg(bytesText(define.needed), bytesText(remaining));
    // A graphic under the same key still counts as used in that figure.
    const Printer::Result<QList<QByteArray>> keys = askGraphicsKeys(link, timeout, progress);
    if (keys.ok() && keys.value().contains(define.key)) {
        defined.reason += QStringLiteral(" (the graphic stored under %1 counts as used; "
                                         "delete it first to replace it)")
                                  .arg(keyText(define.key));
    }
    return defined;
}

// After the define: the printer lists the key, or it is not confirmed.
Printer::Result<DefinedGraphic> checkStored(PrinterLink &link,
                                            const GraphicDefine &define,
                                            milliseconds timeout,
                                            Progress *progress)
{
    DefinedGraphic defined{DefineResult::Unconfirmed, define.needed, -1, {}};
    // The printer is busy writing its memory for a while; its answers come after that.
    const Printer::Result<QList<QByteArray>> keys = askGraphicsKeys(link, timeout, progress);
    if (!keys.ok() && keys.failure().kind == Printer::FailureKind::Cancelled)
        return keys.failure();
    if (!keys.ok()) {
        defined.reason = keys.failure().reason;
        return defined;
    }
    if (!keys.value().contains(define.key)) {
        defined.reason = QStringLiteral("%1 does not list the key %2")
                                 .arg(link.display(), keyText(define.key));
        return defined;
    }
    defined.result = DefineResult::Stored;
    // Listed is stored; a free figure that does not come is only left unknown.
    const Printer::Result<qint64> after = askGraphicsRemaining(link, timeout, progress);
    if (after.ok())
        defined.remaining = after.value();
    return defined;
}

} // namespace

Printer::Result<DefinedGraphic> defineGraphic(PrinterLink &link,
                                              const GraphicDefine &define,
                                              milliseconds timeout,
                                              Progress *progress)
{
    if (!link.canRead()) {
        const Printer::Result<void> sent = link.send(define.command, progress);
        if (!sent.ok())
            return sent.failure();
        return DefinedGraphic{
                DefineResult::Unconfirmed, define.needed, -1, link.cannotRead().reason};
    }
    const Printer::Result<void> drained = link.dropStaleBytes(Clock::now() + timeout);
    if (!drained.ok())
        return drained.failure();
    const Printer::Result<GraphicsMemory> before = askGraphicsMemory(link, timeout, progress);
    if (!before.ok())
        return before.failure();
    if (define.needed > before.value().remaining)
        return refusedForMemory(link, define, before.value().remaining, timeout, progress);
    const Printer::Result<void> sent = link.send(define.command, progress);
    if (!sent.ok())
        return sent.failure();
    return checkStored(link, define, timeout, progress);
}

Printer::Result<DeletedGraphic>
deleteGraphic(PrinterLink &link, const QByteArray &key, milliseconds timeout, Progress *progress)
{
    const QByteArray command
            = key.isEmpty() ? EscPos::nvGraphicsDeleteAll() : EscPos::nvGraphicsDelete(key);
    const Printer::Result<void> sent = link.send(command, progress);
    if (!sent.ok())
        return sent.failure();
    if (!link.canRead())
        return DeletedGraphic{false, link.cannotRead().reason};
    // The printer does not answer a delete; its key list tells whether it happened.
    const auto keys = askGraphicsKeys(link, timeout, progress);
    if (!keys.ok() && keys.failure().kind == Printer::FailureKind::Cancelled)
        return keys.failure();
    if (!keys.ok())
        return DeletedGraphic{false, keys.failure().reason};
    if (key.isEmpty() && !keys.value().isEmpty()) {
        return DeletedGraphic{false,
                              QStringLiteral("%1 still lists %2 keys")
                                      .arg(link.display())
                                      .arg(keys.value().size())};
    }
    if (!key.isEmpty() && keys.value().contains(key))
        return DeletedGraphic{
                false, QStringLiteral("%1 still lists %2").arg(link.display(), keyText(key))};
    return DeletedGraphic{true, {}};
}

QByteArray printGraphicBytes(const QByteArray &key, int scaleX, int scaleY)
{
    return EscPos::nvGraphicsPrint(key, scaleX, scaleY) + EscPos::cutPaper();
}

} // namespace Commands

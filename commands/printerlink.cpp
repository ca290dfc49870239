#include "printerlink.h"

#include <printer/nvpos/nvpos.h>
#include <printer/portconnection.h>
#include <printer/poslibrary.h>

#include <QScopeGuard>
#include <QThread>

#include <algorithm>

namespace Commands {

namespace {

// How long one read waits at most, so that a stop request is seen soon.
constexpr std::chrono::milliseconds ReadSlice{100};
// What the window waits after every open.
constexpr unsigned long SettleMs = 100;
// A printer that sent nothing for this long has nothing more to say before a question; bytes
// it sends on connect arrive well within it, on a network as on a serial line.
constexpr std::chrono::milliseconds QuietBeforeAsking{20};

struct Watch
{
    Progress *progress;
    qint64 moved = 0;
};

// Called by the printer library on the writing thread.
std::int32_t onBytesMoved(std::int64_t moved, std::int64_t total, void *context)
{
    auto watch = static_cast<Watch *>(context);
    watch->moved = moved;
    watch->progress->bytesMoved(moved, total);
    return watch->progress->stopRequested() ? 1 : 0;
}

} // namespace

PrinterLink::PrinterLink(Printer::PosLibrary &library, Printer::Target target, Settle settle)
    : m_library(library)
    , m_target(std::move(target))
    , m_settle(settle)
{}

PrinterLink::~PrinterLink()
{
    if (!isOpen())
        return;
    try {
        // A failure here has nobody left to tell.
        (void)close();
    } catch (...) {
        // An error is already on its way out; this one would only hide it.
    }
}

Printer::Failure PrinterLink::lastFailure() const
{
    Printer::Failure reason = m_library.lastFailure();
    if (reason.reason.isEmpty())
        reason.reason = QStringLiteral("The printer library gave no reason (result %1).")
                                .arg(m_lastResult);
    return reason;
}

Printer::Result<void> PrinterLink::checked(std::int32_t result)
{
    m_lastResult = result;
    if (result < 0)
        return lastFailure();
    return {};
}

Printer::Result<void> PrinterLink::open()
{
    if (isOpen())
        return {};
    m_handle = Printer::openTarget(m_library, m_target);
    m_lastResult = m_handle;
    if (m_settle == Settle::AfterOpen)
        QThread::msleep(SettleMs);
    if (m_handle < 0)
        return lastFailure();
    m_open = true;
    m_reader.clear();
    const std::int32_t capabilities = m_handle > 0 ? m_library.NVPOS_Capabilities(m_handle) : 0;
    m_canRead = capabilities > 0 && (capabilities & NVPOS_CAN_READ);
    m_noBackChannel.clear();
    if (!m_canRead && m_handle > 0) {
        // The library's own words say best why this connection cannot hear the printer.
        char probe = 0;
        if (m_library.NVPOS_Read(m_handle, &probe, 1, 0) < 0)
            m_noBackChannel = m_library.lastFailure().reason;
    }
    return {};
}

Printer::Failure PrinterLink::cannotRead() const
{
    const QString why = !m_noBackChannel.isEmpty()
                                ? m_noBackChannel
                                : QStringLiteral("the connection has no back channel");
    return Printer::Failure{Printer::FailureKind::Unsupported,
                            QStringLiteral("%1 cannot hear the printer: %2").arg(display(), why)};
}

Printer::Result<void> PrinterLink::startDocument()
{
    return checked(m_library.NVPOS_StartDoc(m_handle));
}

Printer::Result<void> PrinterLink::endDocument()
{
    return checked(m_library.NVPOS_EndDoc(m_handle));
}

Printer::Result<void> PrinterLink::send(const QByteArray &bytes, Progress *progress)
{
    Watch watch{progress};
    const bool watched = progress && m_library.setProgressCallback(onBytesMoved, &watch);
    {
        const auto unwatch = qScopeGuard([&] {
            if (watched)
                m_library.setProgressCallback(nullptr, nullptr);
        });
        m_lastResult = m_library.POS_WriteFile(
                m_handle, bytes.constData(), static_cast<std::int32_t>(bytes.size()));
    }
    m_moved = m_lastResult == bytes.size() ? bytes.size() : watch.moved;
    if (m_lastResult != bytes.size())
        return lastFailure();
    return {};
}

Printer::Result<std::optional<EscPos::Reply>> PrinterLink::nextReply(Clock::time_point deadline,
                                                                     const Progress *stop)
{
    if (!canRead())
        return cannotRead();
    char buffer[512];
    for (;;) {
        if (std::optional<EscPos::Reply> reply = m_reader.take())
            return reply;
        if (stop && stop->stopRequested())
            return Printer::Failure{Printer::FailureKind::Cancelled, QStringLiteral("Stopped")};
        const auto now = Clock::now();
        if (now >= deadline)
            return std::optional<EscPos::Reply>{};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const auto wait = std::clamp(left, std::chrono::milliseconds(1), ReadSlice);
        const std::int32_t read = m_library.NVPOS_Read(
                m_handle, buffer, sizeof buffer, static_cast<std::int32_t>(wait.count()));
        if (read < 0)
            return lastFailure();
        m_reader.feed(buffer, read);
    }
}

Printer::Result<void> PrinterLink::drain(std::chrono::milliseconds quiet,
                                         Clock::time_point deadline)
{
    if (!canRead())
        return cannotRead();
    char buffer[512];
    auto quietUntil = Clock::now() + quiet;
    while (Clock::now() < std::min(quietUntil, deadline)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::min(quietUntil, deadline) - Clock::now());
        const std::int32_t read = m_library.NVPOS_Read(
                m_handle,
                buffer,
                sizeof buffer,
                static_cast<std::int32_t>(std::max<qint64>(1, left.count())));
        if (read < 0)
            return lastFailure();
        if (read > 0)
            quietUntil = Clock::now() + quiet;
    }
    m_reader.clear();
    return {};
}

Printer::Result<void> PrinterLink::dropStaleBytes(Clock::time_point deadline)
{
    return drain(QuietBeforeAsking, deadline);
}

Printer::Result<void> PrinterLink::close()
{
    if (!isOpen())
        return {};
    const std::int32_t handle = m_handle;
    m_open = false;
    m_canRead = false;
    return checked(Printer::ClosePort(m_library, handle));
}

} // namespace Commands

#include "printerlink.h"

#include "settings.h"

#include <printer/nvpos/nvpos.h>
#include <printer/poslibrary.h>

#include <QCoreApplication>
#include <QScopeGuard>

#include <algorithm>
#include <exception>

namespace Commands {

namespace {

// How long one read waits at most, so that a stop request is seen soon.
constexpr std::chrono::milliseconds ReadSlice{100};

struct Watch
{
    Progress *progress;
};

std::int32_t onBytesMoved(std::int64_t moved, std::int64_t total, void *context)
{
    auto watch = static_cast<Watch *>(context);
    watch->progress->bytesMoved(moved, total);
    return watch->progress->stopRequested() ? 1 : 0;
}

Printer::Failure failure(Printer::FailureKind kind, const QString &reason)
{
    return Printer::Failure{kind, reason};
}

} // namespace

PrinterLink::PrinterLink(Printer::PosLibrary &library, Printer::PortSettings port)
    : m_library(library)
    , m_port(std::move(port))
{}

PrinterLink::~PrinterLink()
{
    if (isOpen()) {
        // A failure here has nobody left to tell.
        (void)close();
    }
}

QString PrinterLink::target() const
{
    return describeTarget(m_port);
}

Printer::Failure PrinterLink::lastFailure() const
{
    Printer::Failure reason = m_library.lastFailure();
    if (reason.reason.isEmpty())
        reason.reason = QStringLiteral("The printer library gave no reason.");
    return reason;
}

Printer::Result<void> PrinterLink::open()
{
    if (isOpen())
        return {};
    std::int32_t handle = -1;
    try {
        handle = Printer::OpenPort(m_library, m_port);
    } catch (const std::exception &error) {
        return failure(Printer::FailureKind::Io, QString::fromUtf8(error.what()));
    }
    if (handle == 0)
        return failure(Printer::FailureKind::NotFound,
                       QStringLiteral("\"%1\" names no kind of port").arg(m_port.portText));
    if (handle < 0)
        return lastFailure();
    m_handle = handle;
    const std::int32_t capabilities = m_library.NVPOS_Capabilities(handle);
    m_canRead = capabilities > 0 && (capabilities & NVPOS_CAN_READ);
    m_noBackChannel.clear();
    if (!m_canRead) {
        // The library's own words say best why this connection cannot hear the printer.
        char probe = 0;
        if (m_library.NVPOS_Read(handle, &probe, 1, 0) < 0)
            m_noBackChannel = m_library.lastFailure().reason;
    }
    m_reader.clear();
    return {};
}

Printer::Failure PrinterLink::cannotRead() const
{
    if (!m_noBackChannel.isEmpty()) {
        return failure(
                Printer::FailureKind::Unsupported,
                QStringLiteral("%1 cannot hear the printer: %2").arg(target(), m_noBackChannel));
    }
    switch (Printer::portKindOf(m_port.portText)) {
    case Printer::PortKind::Driver:
        return failure(Printer::FailureKind::Unsupported,
                       QStringLiteral("%1 cannot hear the printer: a print queue passes no "
                                      "answers back")
                               .arg(target()));
    default:
        return failure(Printer::FailureKind::Unsupported,
                       QStringLiteral("%1 cannot hear the printer: the connection has no back "
                                      "channel")
                               .arg(target()));
    }
}

Printer::Result<void> PrinterLink::send(const QByteArray &bytes, Progress *progress)
{
    if (!isOpen())
        return failure(Printer::FailureKind::Io, QStringLiteral("The connection is not open"));
    Watch watch{progress};
    const bool watched = progress && m_library.setProgressCallback(onBytesMoved, &watch);
    const auto unwatch = qScopeGuard([&] {
        if (watched)
            m_library.setProgressCallback(nullptr, nullptr);
    });
    const std::int32_t written = m_library.POS_WriteFile(
            m_handle, bytes.constData(), static_cast<std::int32_t>(bytes.size()));
    if (written != bytes.size())
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
            return failure(Printer::FailureKind::Cancelled, QStringLiteral("Stopped"));
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

Printer::Result<void> PrinterLink::close()
{
    if (!isOpen())
        return {};
    const std::int32_t handle = m_handle;
    m_handle = 0;
    m_canRead = false;
    if (m_library.NVPOS_Close(handle) < 0)
        return lastFailure();
    return {};
}

} // namespace Commands

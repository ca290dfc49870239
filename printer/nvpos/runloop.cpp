#include "runloop.h"

#include <algorithm>
#include <cerrno>

namespace Printer::NvPos {

namespace {

// How much one call hands the system at most.
constexpr std::size_t WriteChunk = 64 * 1024;

// How often delivery is looked at where the system has no event for it: acknowledgements,
// bytes leaving a serial line, a device that claims to be writable but takes nothing.
constexpr Milliseconds LookAgainInterval{10};

// How much one turn of the loop reads at most, so that a printer that talks without pause
// cannot keep a write from going on.
constexpr std::size_t HearChunk = 4096;
constexpr int HearTurns = 16;

} // namespace

// The state of one write while the loop runs it.
struct StreamConnection::WriteRun
{
    WriteRun(const char *bytes, std::size_t total, WriteProgress &watched)
        : data(bytes)
        , count(total)
        , progress(watched)
    {}

    const char *data;
    std::size_t count;
    WriteProgress &progress;
    StallWatch stall;
    std::optional<Clock::time_point> lineBound;
    std::int64_t sentBefore = 0;    // sent on the connection before this write
    std::size_t queued = 0;         // handed to the system
    std::int64_t delivered = 0;     // delivered, as the medium counts it
    bool deliveredKnown = true;     // false: delivered is only the last count the system gave
    bool claimedWritable = false;   // the last wait said there was room for more
    bool writableAfterLast = false; // ... once everything was queued: the last transfer is done
    bool pause = false;             // the next wait must not wait for room
};

StreamConnection::StreamConnection(std::unique_ptr<NativeChannel> channel, Setup setup)
    : m_channel(std::move(channel))
    , m_setup(std::move(setup))
{
    if (m_setup.medium == Medium::Socket)
        m_ackedAtConnect = m_channel->delivery().ackedTotal;
}

Status StreamConnection::write(const char *data, std::int32_t count, WriteProgress &progress)
{
    if (!m_channel->isOpen())
        return dropped();
    const std::int64_t startSize = m_setup.medium == Medium::File ? m_channel->size() : -1;
    WriteRun writeRun(data, static_cast<std::size_t>(count), progress);
    writeRun.lineBound = lineTimeBound(writeRun.count);
    writeRun.sentBefore = m_sentTotal;
    const Status status = run(writeRun);
    if (!status.ok())
        afterFailedWrite(status, startSize);
    return status;
}

Status StreamConnection::read(char *buffer, std::int32_t size, Milliseconds timeout)
{
    if (!m_setup.canRead)
        return fail(NVPOS_ERR_UNSUPPORTED, m_setup.noReadReason);
    if (!m_channel->isOpen() && m_received.empty())
        return dropped();
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        // What was kept is served first: hearing more now could push it out.
        if (m_channel->isOpen() && m_received.empty())
            hear();
        if (!m_received.empty())
            return static_cast<Result>(m_received.take(buffer, static_cast<std::size_t>(size)));
        if (m_peerClosed)
            return fail(NVPOS_ERR_IO, NVPOS_KIND_IO, m_setup.name + " closed the connection");
        if (m_readError != 0) {
            return fail(NVPOS_ERR_IO,
                        kindOfError(m_readError),
                        "Reading from " + m_setup.name + " failed: " + errorText(m_readError));
        }
        if (Clock::now() >= deadline)
            return NVPOS_OK;
        const int ready = m_channel->wait(false, true, deadline);
        if (ready < 0)
            return waitFailed(-ready);
    }
}

Status StreamConnection::close()
{
    if (m_channel->isOpen() && m_setup.medium == Medium::Socket) {
        // Unread bytes from the printer would make the close reset the connection, which
        // may drop data still on its way; read them first, then send our end-of-stream.
        hear();
        m_channel->endOutput();
    }
    if (const int error = m_channel->close())
        return fail(NVPOS_ERR_IO, "Closing " + m_setup.name + " failed: " + errorText(error));
    return NVPOS_OK;
}

// Queue what the system takes, hear the printer, look at delivery, decide, wait: until the
// write is delivered, fails, times out or is stopped.
Status StreamConnection::run(WriteRun &run)
{
    for (;;) {
        if (const int error = queueTurn(run)) {
            // What was delivered before the failure still counts: a reset takes back no
            // acknowledgement, and this turn may have queued more.
            lookAtDelivery(run);
            return writeFailed(error, run);
        }
        if (m_setup.canRead)
            hear();
        const DeliveryState state = lookAtDelivery(run);
        if (std::optional<Status> end = verdict(run, state))
            return std::move(*end);
        const Status waited = waitTurn(run);
        if (!waited.ok())
            return waited;
    }
}

// Hands the system as much of the rest as it takes. Returns the error that broke the
// connection, or 0.
int StreamConnection::queueTurn(WriteRun &run)
{
    if (run.queued >= run.count)
        return 0;
    const std::size_t before = run.queued;
    while (run.queued < run.count) {
        std::size_t taken = 0;
        const std::size_t chunk = std::min(run.count - run.queued, WriteChunk);
        if (const int error = m_channel->queue(run.data + run.queued, chunk, taken))
            return error;
        if (taken == 0)
            break;
        run.queued += taken;
        m_sentTotal += static_cast<std::int64_t>(taken);
    }
    if (run.queued > before) {
        run.stall.moved();
        run.writableAfterLast = false;
    } else if (run.claimedWritable) {
        // A driver without poll support claims room it does not have.
        run.pause = true;
    }
    run.claimedWritable = false;
    return 0;
}

// Moves run.delivered on to what the medium counts as delivered now.
DeliveryState StreamConnection::lookAtDelivery(WriteRun &run)
{
    DeliveryState state;
    std::int64_t now = static_cast<std::int64_t>(run.queued);
    if (m_setup.medium == Medium::Socket) {
        state = m_channel->delivery();
        now = acknowledged(state, run.queued, run.sentBefore);
        run.deliveredKnown = state.open || (m_ackedAtConnect >= 0 && state.ackedTotal >= 0);
    } else if (m_setup.medium == Medium::Serial) {
        now = std::max<std::int64_t>(now - m_channel->delivery().pending, 0);
    }
    if (now > run.delivered) {
        run.delivered = now;
        run.stall.moved();
    }
    return state;
}

// How the write ended, or nothing while it goes on.
std::optional<Status> StreamConnection::verdict(WriteRun &run, const DeliveryState &state)
{
    const auto total = static_cast<std::int64_t>(run.count);
    const bool awaitsLastTransfer = m_setup.medium == Medium::Device;
    // Acknowledged is delivered, even when the printer reset the connection afterwards.
    if (run.delivered >= total && (!awaitsLastTransfer || run.writableAfterLast))
        return finishWrite(run.count);
    if (m_setup.medium == Medium::Socket && (!state.open || state.error != 0))
        return writeFailed(state.error ? state.error : m_readError, run);
    if (!run.progress.update(run.delivered))
        return run.progress.stop();
    if (run.lineBound && Clock::now() >= *run.lineBound) {
        return fail(NVPOS_ERR_TIMEOUT,
                    "Writing " + std::to_string(run.count) + " bytes to " + m_setup.name + " at "
                            + std::to_string(m_setup.baudRate) + " baud took too long; "
                            + movedText(run) + " left the port");
    }
    if (run.stall.expired())
        return tookNoData(run);
    return std::nullopt;
}

// Waits for room, for the printer or for the next look, at most until the caller's progress
// function is due or a deadline.
Status StreamConnection::waitTurn(WriteRun &run)
{
    const bool awaitsLastTransfer = m_setup.medium == Medium::Device;
    Clock::time_point until = run.stall.sliceEnd(run.progress);
    if (run.lineBound)
        until = std::min(until, *run.lineBound);
    const bool wantWritable = (run.queued < run.count || awaitsLastTransfer) && !run.pause;
    if (run.pause || m_setup.medium == Medium::Socket || m_setup.medium == Medium::Serial)
        until = std::min(until, Clock::now() + LookAgainInterval);
    run.pause = false;
    const int ready = m_channel->wait(wantWritable, hearing(), until);
    if (ready < 0)
        return waitFailed(-ready);
    if (ready & NativeChannel::Writable) {
        run.claimedWritable = run.queued < run.count;
        run.writableAfterLast = run.queued >= run.count;
    } else if (ready != 0 && !(ready & NativeChannel::Readable)) {
        // A hang-up or an error with nothing to do about it here: the next write or read
        // reports it; meanwhile the loop must not spin.
        run.pause = true;
    }
    return NVPOS_OK;
}

// Takes in what the printer sent, without waiting, into the receive buffer.
void StreamConnection::hear()
{
    char chunk[HearChunk];
    for (int turn = 0; turn < HearTurns && hearing(); ++turn) {
        const Heard heard = m_channel->hear(chunk, sizeof chunk);
        if (heard.count > 0) {
            m_received.append(chunk, heard.count);
            continue;
        }
        // A socket's peer closed its sending side (it may still take our data); a line or a
        // device just has nothing more now.
        if (heard.ended && m_setup.medium == Medium::Socket)
            m_peerClosed = true;
        else if (heard.error != 0)
            m_readError = heard.error; // kept for the reason
        return;
    }
}

// Two line times leave room for the pauses of the printer's flow control; the no-progress
// time on top covers a short buffer and the start of the transfer.
std::optional<Clock::time_point> StreamConnection::lineTimeBound(std::size_t count) const
{
    if (m_setup.medium != Medium::Serial || m_setup.baudRate <= 0)
        return std::nullopt;
    const long long lineMs
            = static_cast<long long>(count) * m_setup.bitsPerCharacter * 1000 / m_setup.baudRate;
    return Clock::now() + Milliseconds(2 * lineMs) + noProgressTimeout();
}

// How many of this write's sent bytes the printer acknowledged. The system's count of
// acknowledged bytes survives a reset, unlike the send queue, which the system empties
// then; it is the one to go by where the system has it. It counts from the connect, and a
// failed earlier write may still have bytes on their way: only what was acknowledged
// beyond everything sent before this write (sentBefore) belongs to it. 0 when the system
// cannot tell.
std::int64_t StreamConnection::acknowledged(const DeliveryState &state,
                                            std::size_t sent,
                                            std::int64_t sentBefore) const
{
    std::int64_t acked = 0;
    if (m_ackedAtConnect >= 0 && state.ackedTotal >= 0)
        acked = state.ackedTotal - m_ackedAtConnect - sentBefore;
    else if (state.open)
        acked = static_cast<std::int64_t>(sent) - state.pending;
    return std::clamp<std::int64_t>(acked, 0, static_cast<std::int64_t>(sent));
}

Status StreamConnection::finishWrite(std::size_t count)
{
    if (m_setup.medium == Medium::File) {
        if (const int error = m_channel->sync()) {
            return fail(NVPOS_ERR_IO,
                        kindOfError(error),
                        "Cannot save " + m_setup.name + ": " + errorText(error));
        }
    }
    return static_cast<Result>(count);
}

// The printer gets no more of a write that failed or was stopped, and a file does not keep
// half a write, so that what it holds is always whole writes.
void StreamConnection::afterFailedWrite(const Status &status, std::int64_t startSize)
{
    switch (m_setup.medium) {
    case Medium::Socket:
        // A stopped write leaves data in the send queue that would still reach the printer.
        if (status.result() == NVPOS_ERR_CANCELLED)
            m_channel->abort();
        break;
    case Medium::Serial:
        m_channel->dropOutput();
        break;
    case Medium::File:
        if (startSize >= 0) {
            if (const int error = m_channel->cutBack(startSize)) {
                qCWarning(lcNvPos,
                          "Cannot cut %s back: %s",
                          m_setup.name.c_str(),
                          errorText(error).c_str());
            }
        }
        break;
    case Medium::Device:
    case Medium::Fifo:
        break;
    }
}

Status StreamConnection::dropped() const
{
    return fail(NVPOS_ERR_IO,
                "The connection to " + m_setup.name + " was dropped by a stopped write");
}

Status StreamConnection::waitFailed(int error) const
{
    return fail(NVPOS_ERR_IO, "Waiting for " + m_setup.name + " failed: " + errorText(error));
}

// "<n> of <total> bytes"; "at least ..." where the system could no longer tell how many.
std::string StreamConnection::movedText(const WriteRun &run) const
{
    return (run.deliveredKnown ? "" : "at least ")
           + byteCount(run.delivered, static_cast<std::int64_t>(run.count));
}

Status StreamConnection::tookNoData(const WriteRun &run) const
{
    const std::string waited = " took no data for " + std::to_string(run.stall.patience().count())
                               + " ms; " + movedText(run);
    switch (m_setup.medium) {
    case Medium::Socket:
        return fail(NVPOS_ERR_TIMEOUT, "The printer" + waited + " were acknowledged");
    case Medium::Serial:
        return fail(NVPOS_ERR_TIMEOUT,
                    "The printer on " + m_setup.name + waited + " left the port");
    default:
        return fail(NVPOS_ERR_TIMEOUT, m_setup.name + waited + " were taken");
    }
}

Status StreamConnection::writeFailed(int error, const WriteRun &run) const
{
    const std::string moved = movedText(run);
    switch (m_setup.medium) {
    case Medium::Socket:
        if (error == 0 || error == ECONNRESET || error == EPIPE) {
            return fail(NVPOS_ERR_IO,
                        m_setup.name + " closed the connection after " + moved
                                + " were acknowledged");
        }
        return fail(NVPOS_ERR_IO,
                    kindOfError(error),
                    "Sending to " + m_setup.name + " failed after " + moved
                            + " were acknowledged: " + errorText(error));
    case Medium::Serial:
        return fail(NVPOS_ERR_IO,
                    kindOfError(error),
                    "Writing to " + m_setup.name + " failed after " + moved
                            + " left the port: " + errorText(error));
    default:
        return fail(NVPOS_ERR_IO,
                    kindOfError(error),
                    "Writing to " + m_setup.name + " failed after " + moved
                            + " were taken: " + errorText(error));
    }
}

} // namespace Printer::NvPos

#pragma once

#include "userinterface.h"

#include <escpos/replies.h>
#include <printer/portconnection.h>
#include <printer/result.h>

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

namespace Printer {
class PosLibrary;
}

namespace Commands {

using Clock = std::chrono::steady_clock;

// One conversation with one printer: a connection of its own (closed by handle, so that
// several links may be open at once, one per thread), the bytes sent to it and the replies
// read back through an ESC/POS reply reader.
class PrinterLink
{
public:
    PrinterLink(Printer::PosLibrary &library, Printer::PortSettings port);
    ~PrinterLink();

    PrinterLink(const PrinterLink &) = delete;
    PrinterLink &operator=(const PrinterLink &) = delete;

    // The printer as the user knows it: its address, port or queue.
    QString target() const;

    Printer::Result<void> open();
    bool isOpen() const { return m_handle > 0; }
    // Whether replies can come back on this connection; false until it is open.
    bool canRead() const { return m_canRead; }
    // Why it cannot hear the printer, for a connection that cannot read.
    Printer::Failure cannotRead() const;

    // One write of all the bytes; progress, when given, sees them move and may stop it.
    Printer::Result<void> send(const QByteArray &bytes, Progress *progress = nullptr);

    // The next complete reply, reading until deadline: nothing when none came in time.
    // stop, when given, is asked between reads and ends the wait early with Cancelled.
    Printer::Result<std::optional<EscPos::Reply>> nextReply(Clock::time_point deadline,
                                                            const Progress *stop = nullptr);
    // Drops whatever the printer sent before now: waits until it has been quiet for quiet,
    // but no longer than until deadline.
    Printer::Result<void> drain(std::chrono::milliseconds quiet, Clock::time_point deadline);

    EscPos::ReplyReader &reader() { return m_reader; }

    // Closes the connection (a document still open is finished); harmless when closed.
    Printer::Result<void> close();

private:
    Printer::Failure lastFailure() const;

    Printer::PosLibrary &m_library;
    Printer::PortSettings m_port;
    std::int32_t m_handle = 0;
    bool m_canRead = false;
    QString m_noBackChannel; // the library's reason, when it cannot read
    EscPos::ReplyReader m_reader;
};

} // namespace Commands

#pragma once

#include "userinterface.h"

#include <escpos/replies.h>
#include <printer/result.h>
#include <printer/target.h>

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

// One connection to one printer, the only way the commands talk to one: the bytes sent to it
// and the replies read back through an ESC/POS reply reader. Every call names the connection
// by its handle, so that several links may be open at once, one per thread. A call of the
// printer library that throws (a library that cannot be loaded) throws from here as well; a
// job's runner turns that into a failure.
class PrinterLink
{
public:
    // Whether opening waits for the printer: the window's commands wait 100 ms after every
    // open, as printers need a moment before they take data; the command line does not.
    enum class Settle { No, AfterOpen };

    PrinterLink(Printer::PosLibrary &library, Printer::Target target, Settle settle = Settle::No);
    ~PrinterLink();

    PrinterLink(const PrinterLink &) = delete;
    PrinterLink &operator=(const PrinterLink &) = delete;

    const Printer::Target &target() const { return m_target; }
    // The printer as the user knows it, for messages.
    QString display() const { return m_target.display(); }

    // An Unknown target opens nothing and is kept as open on handle 0, as the window's
    // commands go on with that handle.
    Printer::Result<void> open();
    bool isOpen() const { return m_open; }
    std::int32_t handle() const { return m_handle; }
    // Whether replies can come back on this connection; false until it is open.
    bool canRead() const { return m_canRead; }
    // Why it cannot hear the printer, for a connection that cannot read.
    Printer::Failure cannotRead() const;
    // Whether the bytes go to a print queue, which wants them framed as one document.
    bool framesDocuments() const { return m_target.kind() == Printer::PortKind::Driver; }

    // The document frame of a print queue: the job holds what is sent in between, and the
    // server has it only once it accepted the end.
    Printer::Result<void> startDocument();
    Printer::Result<void> endDocument();

    // One write of all the bytes; progress, when given, sees them move and may stop it.
    Printer::Result<void> send(const QByteArray &bytes, Progress *progress = nullptr);
    // The bytes of the last send that reached the printer, as far as the library reported.
    qint64 lastMoved() const { return m_moved; }

    // The next complete reply, reading until deadline: nothing when none came in time.
    // stop, when given, is asked between reads and ends the wait early with Cancelled.
    Printer::Result<std::optional<EscPos::Reply>> nextReply(Clock::time_point deadline,
                                                            const Progress *stop = nullptr);
    // Drops whatever the printer sent before now: waits until it has been quiet for quiet,
    // but no longer than until deadline.
    Printer::Result<void> drain(std::chrono::milliseconds quiet, Clock::time_point deadline);
    // Before a question: what the printer sent before it (a status it sends on connect, an
    // answer to an earlier question) is no answer to it. A drain until 20 ms of quiet.
    Printer::Result<void> dropStaleBytes(Clock::time_point deadline);

    EscPos::ReplyReader &reader() { return m_reader; }

    // Closes the connection (a document still open is finished); harmless when closed.
    Printer::Result<void> close();

    // The library's answer to the last open, document, write or close call, as the window
    // keeps it.
    std::int32_t lastResult() const { return m_lastResult; }

private:
    Printer::Failure lastFailure() const;
    Printer::Result<void> checked(std::int32_t result);

    Printer::PosLibrary &m_library;
    Printer::Target m_target;
    Settle m_settle;
    std::int32_t m_handle = 0;
    bool m_open = false;
    bool m_canRead = false;
    std::int32_t m_lastResult = 0;
    qint64 m_moved = 0;
    QString m_noBackChannel; // the library's reason, when it cannot read
    EscPos::ReplyReader m_reader;
};

} // namespace Commands

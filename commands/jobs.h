#pragma once

// The work for one printer, the same whether one printer or many are served: each job is a
// conversation of its own, and its outcome is a row that says what became of that printer.

#include "askprinter.h"
#include "graphicscommand.h"
#include "printerlink.h"
#include "userinterface.h"

#include <printer/failure.h>
#include <printer/target.h>

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace Printer {
class PosLibrary;
}

namespace Commands {

// What became of one printer.
struct JobRow
{
    // NotReady: the printer answered, or took the bytes, but is not ready (status, a wait
    // until ready) or did not confirm what was sent (a confirmed print-out, a define, a delete).
    enum class State { Waiting, Done, NotReady, Failed, Stopped };

    Printer::Target target;
    State state = State::Waiting;
    qint64 bytes = 0; // that reached the printer
    double seconds = 0;
    QString reason; // why it is not Done, or what was said
    Printer::FailureKind failure = Printer::FailureKind::None; // behind a Failed row
    std::optional<Outcome> delivery;       // a delivery's outcome as the user reads it
    std::optional<PrinterReport> report;   // a status job's answer
    std::optional<DefinedGraphic> defined; // a define job's answer
    std::optional<std::chrono::milliseconds> readyAfter; // a wait until ready that ended well

    bool succeeded() const { return state == State::Done; }
};

// One printer's work on a link that is not open yet; it fills the row's state, bytes and
// reason, and closes the link when it is done with it.
using Job = std::function<void(PrinterLink &link, Progress &progress, JobRow &row)>;

// An FS q stream delivered in one write; with waitReady above 0 the printer is then waited
// for until it reports online again after its reset.
Job downloadJob(QByteArray stream, std::chrono::milliseconds waitReady);
// Print-out bytes (FS p and the cut, or a graphic's print) delivered as a document; with
// confirm the printer is asked first and must report the print-out done within timeout.
Job printJob(QByteArray bytes, bool confirm, std::chrono::milliseconds timeout);
// An NV graphic stored and checked in the key list.
Job defineJob(GraphicDefine define, std::chrono::milliseconds timeout);
// One NV graphic deleted (every one for an empty key), checked in the key list.
Job deleteJob(QByteArray key, std::chrono::milliseconds timeout);
// The printer's status, model and firmware.
Job statusJob(std::chrono::milliseconds timeout);

// Runs the job for one printer on the calling thread, timed; an error that escapes it (a
// printer library that cannot be loaded) becomes a Failed row, and a job ended by a stop a
// Stopped one.
JobRow runJob(Printer::PosLibrary &library,
              const Printer::Target &target,
              const Job &job,
              Progress &progress);

} // namespace Commands

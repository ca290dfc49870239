#pragma once

// Sending one buffer to one printer on a link: open, the document frame a print queue needs, one
// write, close; and what the user is told about it. The window's two commands, the command line
// and every printer of a many-printer run deliver through here.

#include "userinterface.h"

#include <printer/failure.h>
#include <printer/portkind.h>

#include <QByteArray>
#include <QString>

namespace Commands {

class PrinterLink;
struct CommandState;

struct Delivery
{
    // A download frames its write as a document only for a print queue; a print-out always.
    enum class Framing { PrintQueueOnly, Always };

    Framing framing = Framing::PrintQueueOnly;
    Outcome onSuccess;      // what the user is told when every byte went through
    QString stoppedDetails; // what a stop during the write leaves behind, for the user
};

// Opens the link, frames, sends the bytes in one write, ends the frame and closes, keeping the
// library's answers in state as the window does. A stop asked for before the first byte sends
// nothing. The outcome: onSuccess, or what failed with its reason. Errors of the library (one
// that cannot be loaded) propagate, after the link was closed if it had opened.
Outcome deliver(PrinterLink &link,
                const QByteArray &bytes,
                const Delivery &how,
                CommandState &state,
                Progress *progress = nullptr);

// The outcomes the commands share.
Outcome failedToOpen(const Printer::Failure &failure, Printer::PortKind port);
Outcome failedToSend(const Printer::Failure &failure, Printer::PortKind port);
Outcome stoppedBeforeSending();
Outcome stoppedWhileSending(qint64 moved, qint64 total, const QString &details);
Outcome refused(const QString &text, const QString &details = QString());
Outcome unexpected(const QString &details);

// The failure's reason, and on the next line what the user can do about it, if anything.
QString reasonWithHint(const Printer::Failure &failure, Printer::PortKind port);

inline void setStage(Progress *progress, Progress::Stage stage)
{
    if (progress)
        progress->stageChanged(stage);
}

inline bool stopRequested(const Progress *progress)
{
    return progress && progress->stopRequested();
}

} // namespace Commands

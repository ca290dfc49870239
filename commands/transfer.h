#pragma once

// What the two commands share around their one write: the library's progress and stop,
// the reason of a failure, and the outcomes that follow from them.

#include "userinterface.h"

#include <cstdint>

namespace Printer {
class PosLibrary;
}

namespace Commands {

struct CommandState;

// The printer library's results for a write that the progress callback stopped, and for one
// that failed on its way.
constexpr std::int32_t WriteStopped = -6;
constexpr std::int32_t WriteFailed = -5;

struct Transfer
{
    std::int32_t result = 0; // the library's answer: the byte count, or negative
    qint64 total = 0;
    qint64 moved = 0; // as far as the library reported
    QString reason;   // why it failed, as the library tells it

    bool ok() const { return result >= 0; }
    bool stopped() const { return result == WriteStopped; }

    // onSuccess when it went through; otherwise what went wrong.
    Outcome outcome(const Outcome &onSuccess, const QString &stoppedDetails = QString()) const;
};

// POS_WriteFile of the whole buffer with the library's progress passed on and a stop
// request passed back. The write's result is stored in state.CallResult.
Transfer writeWatched(Printer::PosLibrary &library,
                      CommandState &state,
                      const QByteArray &buffer,
                      Progress *progress);

// POS_EndDoc after the write, its answer stored in endResult. A print queue has the job only
// once the server accepted its end: a write that went through fails when the end fails.
Transfer endDocument(Printer::PosLibrary &library, Transfer write, std::int32_t &endResult);

Outcome failedToOpen(Printer::PosLibrary &library);
Outcome stoppedBeforeSending();
Outcome unexpected(const QString &details);

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

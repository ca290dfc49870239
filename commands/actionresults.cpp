#include "actionresults.h"

#include "messages.h"

#include <QStringList>

namespace Commands {

namespace {

// A failure by its kind; the reason says the rest.
QString failedLine(const JobRow &row)
{
    switch (row.failure) {
    case Printer::FailureKind::NotFound:
        return QStringLiteral("Failed: not found");
    case Printer::FailureKind::Permission:
        return QStringLiteral("Failed: no permission");
    case Printer::FailureKind::Busy:
        return QStringLiteral("Failed: busy");
    case Printer::FailureKind::Timeout:
        return QStringLiteral("Failed: no answer");
    case Printer::FailureKind::Refused:
        return QStringLiteral("Failed: connection refused");
    case Printer::FailureKind::Cancelled:
        return QStringLiteral("Stopped");
    case Printer::FailureKind::Unsupported:
        return QStringLiteral("Failed: cannot hear the printer");
    case Printer::FailureKind::Invalid:
        return QStringLiteral("Failed: cannot be used");
    case Printer::FailureKind::None:
    case Printer::FailureKind::Io:
        break;
    }
    // A delivery's failure comes with the message the window's commands show for it.
    if (row.delivery && row.delivery->text == failToOpenPortText())
        return QStringLiteral("Failed: cannot open the port");
    if (row.delivery && row.delivery->text == failToSendText())
        return QStringLiteral("Failed: not delivered");
    return QStringLiteral("Failed");
}

// The words after "is not ready: " in a confirmed print-out's reason ("paper out, cover
// open"); the printer's display name before them may hold colons of its own. "offline" goes
// when another reason is there: printers go offline for each of them.
QString notReadyWords(const QString &reason)
{
    const QLatin1String marker("is not ready: ");
    const qsizetype at = reason.lastIndexOf(marker);
    if (at < 0)
        return {};
    QStringList words = reason.mid(at + marker.size()).split(QStringLiteral(", "));
    if (words.size() > 1)
        words.removeAll(QStringLiteral("offline"));
    return words.join(QStringLiteral(", "));
}

QString testPrintLine(const JobRow &row)
{
    if (row.state == JobRow::State::Done)
        return row.delivery ? QStringLiteral("Sent (this connection cannot confirm)")
                            : QStringLiteral("Printed");
    const QString words = notReadyWords(row.reason);
    if (!words.isEmpty())
        return QStringLiteral("Not ready: %1").arg(words);
    return QStringLiteral("Sent, not confirmed");
}

QString storeLine(const JobRow &row)
{
    if (row.state == JobRow::State::Done)
        return QStringLiteral("Stored");
    if (row.defined && row.defined->result == DefineResult::Refused)
        return QStringLiteral("Refused: too little memory");
    return QStringLiteral("Sent, not confirmed");
}

QString downloadLine(const JobRow &row)
{
    if (row.state == JobRow::State::Done) {
        return row.readyAfter
                       ? QStringLiteral("Ready again after %1 s").arg(secondsText(*row.readyAfter))
                       : QStringLiteral("Delivered");
    }
    return QStringLiteral("Delivered, not back yet");
}

} // namespace

QString resultLine(PrinterAction action, const JobRow &row)
{
    switch (row.state) {
    case JobRow::State::Waiting:
        return QStringLiteral("Waiting");
    case JobRow::State::Stopped:
        return QStringLiteral("Stopped");
    case JobRow::State::Failed:
        if (action == PrinterAction::StoreGraphic && row.defined
            && row.defined->result == DefineResult::Refused)
            return storeLine(row);
        return failedLine(row);
    case JobRow::State::Done:
    case JobRow::State::NotReady:
        break;
    }
    switch (action) {
    case PrinterAction::TestPrint:
        return testPrintLine(row);
    case PrinterAction::StoreGraphic:
        return storeLine(row);
    case PrinterAction::DeleteGraphics:
        return row.state == JobRow::State::Done ? QStringLiteral("Deleted")
                                                : QStringLiteral("Sent, not confirmed");
    case PrinterAction::DownloadImages:
        return downloadLine(row);
    }
    return {};
}

QString sendingLine(PrinterAction action, qint64 moved, qint64 total)
{
    if (moved < total)
        return QStringLiteral("Sending: %1 of %2 bytes").arg(bytesText(moved), bytesText(total));
    switch (action) {
    case PrinterAction::TestPrint:
        return QStringLiteral("Waiting for the printer to confirm…");
    case PrinterAction::StoreGraphic:
    case PrinterAction::DeleteGraphics:
        return QStringLiteral("Checking the key list…");
    case PrinterAction::DownloadImages:
        return QStringLiteral("Delivered; the printer resets…");
    }
    return {};
}

} // namespace Commands

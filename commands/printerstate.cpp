#include "printerstate.h"

namespace Commands {

PrinterState stateOf(const EscPos::PrinterStatus &status)
{
    if (status.error != EscPos::PrinterError::None)
        return PrinterState::Error;
    if (status.coverOpen)
        return PrinterState::CoverOpen;
    if (status.paper == EscPos::Paper::End)
        return PrinterState::PaperOut;
    if (!status.online)
        return PrinterState::Offline;
    if (status.paper == EscPos::Paper::NearEnd)
        return PrinterState::PaperNearEnd;
    return PrinterState::Ready;
}

PrinterState stateOf(const JobRow &statusRow)
{
    if (statusRow.report)
        return stateOf(statusRow.report->status);
    if (statusRow.failure == Printer::FailureKind::Unsupported)
        return PrinterState::CannotHear;
    return PrinterState::NotAnswering;
}

QString stateName(PrinterState state, const EscPos::PrinterStatus &status)
{
    switch (state) {
    case PrinterState::Unknown:
        return QStringLiteral("Asking…");
    case PrinterState::Ready:
        return QStringLiteral("Ready");
    case PrinterState::PaperNearEnd:
        return QStringLiteral("Paper near its end");
    case PrinterState::PaperOut:
        return QStringLiteral("Paper out");
    case PrinterState::CoverOpen:
        return QStringLiteral("Cover open");
    case PrinterState::Offline:
        return QStringLiteral("Offline");
    case PrinterState::Error:
        return QStringLiteral("Error (%1)").arg(EscPos::errorName(status.error));
    case PrinterState::NotAnswering:
        return QStringLiteral("Not answering");
    case PrinterState::CannotHear:
        return QStringLiteral("Cannot hear (no back channel)");
    }
    return {};
}

QString statusWords(const PrinterReport &report)
{
    const EscPos::PrinterStatus &s = report.status;
    const QString why = notReadyReason(s);
    QString paper;
    switch (s.paper) {
    case EscPos::Paper::Ok:
        paper = QStringLiteral("ok");
        break;
    case EscPos::Paper::NearEnd:
        paper = QStringLiteral("near its end");
        break;
    case EscPos::Paper::End:
        paper = QStringLiteral("out");
        break;
    }
    return QStringLiteral("%1\nOnline: %2, paper: %3, cover: %4, error: %5.")
            .arg(why.isEmpty() ? QStringLiteral("Online and ready.")
                               : QStringLiteral("Not ready: %1.").arg(why),
                 QLatin1String(s.online ? "yes" : "no"),
                 paper,
                 QLatin1String(s.coverOpen ? "open" : "closed"),
                 s.error == EscPos::PrinterError::None ? QStringLiteral("none")
                                                       : EscPos::errorName(s.error));
}

} // namespace Commands

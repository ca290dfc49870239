#include "consoledialogs.h"

#include "terminal.h"

#include <commands/filenames.h>
#include <commands/settings.h>

namespace Cli {

ConsoleDialogs::ConsoleDialogs(std::FILE *out)
    : m_out(out)
{}

void ConsoleDialogs::showMessage(Commands::MessageIcon icon,
                                 const QString &caption,
                                 const QString &text,
                                 const QString &details)
{
    Q_UNUSED(caption)
    const bool failure = icon != Commands::MessageIcon::Information;
    std::fprintf(m_out,
                 "nvlogo-cli: %s%s\n",
                 failure ? "error: " : "",
                 qPrintable(Commands::displayNames(text)));
    if (!details.isEmpty())
        std::fprintf(m_out, "nvlogo-cli: %s\n", qPrintable(Commands::displayNames(details)));
    std::fflush(m_out);
}

QStringList ConsoleDialogs::getOpenFileNames(const QStringList &nameFilters)
{
    Q_UNUSED(nameFilters)
    return {};
}

ConsoleProgress::ConsoleProgress(QString target, int baudRate, std::FILE *out, bool showLines)
    : m_target(std::move(target))
    , m_baudRate(baudRate)
    , m_out(out)
    , m_showLines(showLines)
{}

void ConsoleProgress::stageChanged(Stage stage)
{
    if (stage == Stage::Sending) {
        m_sending.start();
        m_reported = false;
    } else if (stage == Stage::Closing && m_lineOpen) {
        // A message may follow; it gets a line of its own.
        std::fputs("\n", m_out);
        m_lineOpen = false;
    }
}

void ConsoleProgress::bytesMoved(qint64 moved, qint64 total)
{
    if (!m_showLines || (m_reported && moved == m_lastMoved))
        return;
    m_lastMoved = moved;
    const bool last = moved >= total && total > 0;
    if (m_reported && !last && m_sinceReport.elapsed() < IntervalMs)
        return;
    report(moved, total, last);
}

bool ConsoleProgress::stopRequested() const
{
    return terminationRequested();
}

void ConsoleProgress::report(qint64 moved, qint64 total, bool last)
{
    m_reported = true;
    m_sinceReport.start();
    QString line = QStringLiteral("Sending to %1: %2 of %3 bytes reached the printer, %4 s")
                           .arg(m_target)
                           .arg(moved)
                           .arg(total)
                           .arg(m_sending.isValid() ? m_sending.elapsed() / 1000 : 0);
    if (m_baudRate > 0 && !last) {
        const qint64 left = Commands::serialLineSeconds(total - moved, m_baudRate);
        line += QStringLiteral(", about %1 s left").arg(left);
    }
    // On a terminal the line is redrawn in place; in a log each report is a line of its own.
    const bool terminal = isTerminal(m_out);
    const bool endLine = !terminal || last;
    std::fprintf(m_out, terminal ? "\r%s\033[K%s" : "%s%s", qPrintable(line), endLine ? "\n" : "");
    m_lineOpen = !endLine;
    std::fflush(m_out);
}

} // namespace Cli

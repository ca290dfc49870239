#include "summary.h"

#include "terminal.h"

#include <QLoggingCategory>

#include <mutex>

namespace Cli {

namespace {

// How often the summary is redrawn on a terminal, and at most how often it is written
// anywhere else.
constexpr int TerminalRedrawMs = 100;
constexpr int LogIntervalMs = 1000;

// Messages logged from the workers' threads would land in the middle of the summary line on
// a terminal: while a summary is drawn, each is written above it.
std::mutex g_drawing;
Summary *g_drawn = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void onLogMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const std::lock_guard<std::mutex> lock(g_drawing);
    if (g_drawn)
        g_drawn->clearLine();
    if (g_previousHandler)
        g_previousHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    if (g_drawn)
        g_drawn->redraw();
}

} // namespace

QString byteText(qint64 bytes)
{
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1000 * 1000)
        return QStringLiteral("%1 KB").arg(qRound64(double(bytes) / 1000));
    if (bytes < 1000LL * 1000 * 1000)
        return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(bytes) / 1e9, 0, 'f', 1);
}

QString summaryLine(int done, int failed, int count, qint64 moved, qint64 total)
{
    QString line = QStringLiteral("%1 of %2 done, %3 failed").arg(done).arg(count).arg(failed);
    if (total > 0)
        line += QStringLiteral(", %1 of %2").arg(byteText(moved), byteText(total));
    return line;
}

Summary::Summary(std::FILE *out, int count, qint64 total)
    : m_out(out)
    , m_count(count)
    , m_total(total)
    , m_terminal(isTerminal(out))
{
    m_since.start();
    if (!m_terminal)
        return;
    const std::lock_guard<std::mutex> lock(g_drawing);
    g_drawn = this;
    g_previousHandler = qInstallMessageHandler(onLogMessage);
}

Summary::~Summary()
{
    if (!m_terminal)
        return;
    qInstallMessageHandler(g_previousHandler);
    const std::lock_guard<std::mutex> lock(g_drawing);
    g_drawn = nullptr;
}

int Summary::intervalMs() const
{
    return m_terminal ? TerminalRedrawMs : LogIntervalMs;
}

void Summary::show(int done, int failed, qint64 moved, bool last)
{
    const QString line = summaryLine(done, failed, m_count, moved, m_total);
    if (!last && (line == m_shown || (!m_terminal && m_since.elapsed() < LogIntervalMs)))
        return;
    if (!m_terminal && last && line == m_shown)
        return;
    m_since.start();
    const std::lock_guard<std::mutex> lock(g_drawing);
    m_shown = line;
    m_lineOpen = m_terminal && !last;
    if (m_terminal)
        std::fprintf(m_out, "\r%s\033[K%s", qPrintable(line), last ? "\n" : "");
    else
        std::fprintf(m_out, "%s\n", qPrintable(line));
    std::fflush(m_out);
}

void Summary::clearLine()
{
    if (m_lineOpen)
        std::fputs("\r\033[K", m_out);
}

void Summary::redraw()
{
    if (m_lineOpen)
        std::fprintf(m_out, "\r%s\033[K", qPrintable(m_shown));
    std::fflush(m_out);
}

} // namespace Cli

#include "consoledialogs.h"

#include <QThread>

#include <unistd.h>

namespace Cli {

ConsoleDialogs::ConsoleDialogs(QStringList pictures, std::FILE *out)
    : m_pictures(std::move(pictures))
    , m_out(out)
{}

void ConsoleDialogs::showMessage(App::MessageIcon icon,
                                 const QString &caption,
                                 const QString &text,
                                 const QString &details)
{
    Q_UNUSED(caption)
    const bool failure = icon != App::MessageIcon::Information;
    m_failed = m_failed || failure;
    std::fprintf(m_out, "nvlogo-cli: %s%s\n", failure ? "error: " : "", qPrintable(text));
    if (!details.isEmpty())
        std::fprintf(m_out, "nvlogo-cli: %s\n", qPrintable(details));
    std::fflush(m_out);
}

QStringList ConsoleDialogs::getOpenFileNames(const QStringList &nameFilters)
{
    Q_UNUSED(nameFilters)
    return m_pictures;
}

ConsoleProgress::ConsoleProgress(QString target, int baudRate, std::FILE *out)
    : m_target(std::move(target))
    , m_baudRate(baudRate)
    , m_out(out)
{}

ConsoleProgress::~ConsoleProgress()
{
    sendingFinished();
}

void ConsoleProgress::sendingStarted(qint64 byteCount)
{
    m_byteCount = byteCount;
    m_timer.start();
    m_sending = true;
    report(false);
    // The write blocks this thread, so the line is kept up to date from another one.
    m_ticker.reset(QThread::create([this] {
        while (m_sending.load()) {
            for (int waited = 0; waited < IntervalMs && m_sending.load(); waited += 50)
                QThread::msleep(50);
            if (m_sending.load())
                report(false);
        }
    }));
    m_ticker->start();
}

void ConsoleProgress::sendingFinished()
{
    if (!m_ticker)
        return;
    m_sending = false;
    m_ticker->wait();
    m_ticker.reset();
    report(true);
}

void ConsoleProgress::report(bool last)
{
    const qint64 seconds = m_timer.elapsed() / 1000;
    QString line = QStringLiteral("Sending %1 bytes to %2: %3 s")
                           .arg(m_byteCount)
                           .arg(m_target)
                           .arg(seconds);
    if (m_baudRate > 0) {
        // Ten bits on the line for each byte: start, eight data bits, stop.
        const qint64 estimate = (m_byteCount * 10 + m_baudRate - 1) / m_baudRate;
        line += QStringLiteral(" of about %1 s").arg(estimate);
    }
    if (last)
        line += QStringLiteral(", done");
    // On a terminal the line is redrawn in place; in a log each report is a line of its own.
    const bool terminal = isatty(fileno(m_out));
    std::fprintf(
            m_out, terminal ? "\r%s%s" : "%s%s", qPrintable(line), terminal && !last ? "" : "\n");
    std::fflush(m_out);
}

} // namespace Cli

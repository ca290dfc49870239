#pragma once

#include <commands/userinterface.h>

#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

namespace Cli {

// The window's messages, printed to standard error, the details under the message. The
// command line names its pictures itself: the file dialog chooses none.
class ConsoleDialogs final : public Commands::Dialogs
{
public:
    explicit ConsoleDialogs(std::FILE *out = stderr);

    void showMessage(Commands::MessageIcon icon,
                     const QString &caption,
                     const QString &text,
                     const QString &details = QString()) override;
    QStringList getOpenFileNames(const QStringList &nameFilters) override;

private:
    std::FILE *m_out;
};

// A command has no window to change; it shows a progress line on standard error with the
// bytes that reached the printer, as the printer library reports them. A stop is asked for
// by a termination signal (see terminal.h).
class ConsoleProgress final : public Commands::Progress
{
public:
    // baudRate: the serial line's speed, to estimate how long the write takes; 0 if unknown.
    // Without showLines it only passes a stop on, for a write too short to watch.
    ConsoleProgress(QString target, int baudRate, std::FILE *out = stderr, bool showLines = true);

    void stageChanged(Stage stage) override;
    void bytesMoved(qint64 moved, qint64 total) override;
    bool stopRequested() const override;

    // Time between progress lines; the first and the last come at once.
    static constexpr int IntervalMs = 1000;

private:
    void report(qint64 moved, qint64 total, bool last);

    QString m_target;
    int m_baudRate;
    std::FILE *m_out;
    QElapsedTimer m_sending;
    QElapsedTimer m_sinceReport;
    bool m_showLines;
    bool m_reported = false;
    qint64 m_lastMoved = -1;
    bool m_lineOpen = false;
};

} // namespace Cli

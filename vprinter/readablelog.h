#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace VirtualPrinter {

// The printer's log as a person reads it. Each command has at most one line; a run of commands
// that were passed over, or of bytes that are no command at all, becomes one line; and a stream
// that reads as noise (most of what comes is stray bytes) is summarised, a line per many
// commands, until it reads clean again. Lines that say what the printer did to the outside (a
// strip written, a reply sent, the NV memory changed) are always logged, in order.
class ReadableLog
{
public:
    enum class Weight {
        Command,   // a command's own line
        Outside,   // always logged: a strip, a reply, a change of the NV memory
        PassedOver // a command the printer knows and passes over
    };

    std::function<void(const QString &line)> out;

    void line(const QString &text, Weight weight = Weight::Command);
    // Bytes the printer cannot read as a command.
    void stray(const QString &what);
    // Writes the run being grouped; in noise, only once the summary is due.
    void flush();
    // The end of the data: writes everything held back, the summary too.
    void finish();

    // In noise: a summary line after this many commands.
    static constexpr int SummaryEvery = 4096;

private:
    void group(const QString &what, bool stray);
    void writeGroup();
    void writeSummary();
    void observe(bool stray);
    void write(const QString &text);

    // The run being grouped.
    QStringList m_groupShown;
    int m_groupSize = 0;

    // The last commands, one bit each (stray or not), to tell noise from a stream.
    quint64 m_recent = 0;
    int m_seen = 0;
    int m_cleanInARow = 0;
    bool m_noise = false;
    int m_heldStray = 0;
    int m_heldPassedOver = 0;
    int m_heldOther = 0;
};

} // namespace VirtualPrinter

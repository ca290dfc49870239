#pragma once

// When to ask each printer of a list about its state: every interval while it answers, less
// and less often while it does not, one question at a time, and never while something else
// talks to it. Plain bookkeeping: the caller says what time it is and does the asking.

#include "printerlink.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace Commands {

struct PollTiming
{
    std::chrono::milliseconds interval{5000};
    // The longest wait between questions to a printer that does not answer.
    std::chrono::milliseconds longest{60000};
};

class PollSchedule
{
public:
    explicit PollSchedule(PollTiming timing = {});

    const PollTiming &timing() const { return m_timing; }
    // Takes effect from each printer's next question on.
    void setTiming(const PollTiming &timing);

    // A printer to ask from now on; a printer that cannot be asked (a print queue) is listed
    // but never due.
    void add(const QString &key, Clock::time_point now, bool askable = true);
    void remove(const QString &key);
    void clear();
    bool contains(const QString &key) const { return m_printers.contains(key); }

    // The printers due now, marked as being asked; not those being asked or held.
    QStringList takeDue(Clock::time_point now);
    // The question to the printer ended: the next one is an interval away when it answered,
    // and doubles with each question in a row that it did not (up to timing().longest).
    void asked(const QString &key, bool answered, Clock::time_point now);
    // The question could not be put (another conversation had the printer): the next comes an
    // interval later, and the printer's silence in a row stays as it was.
    void notAsked(const QString &key, Clock::time_point now);
    // The wait before the next question after silent questions in a row.
    std::chrono::milliseconds delayAfter(int silent) const;

    // Something else talks to the printer (a job): no question until it is released, and
    // then one at once, as the job may have changed its state. Holds nest.
    void hold(const QString &key);
    void release(const QString &key, Clock::time_point now);
    // Asks the printer at the next chance, whatever its wait.
    void askSoon(const QString &key, Clock::time_point now);

    bool isAsking(const QString &key) const;
    bool isHeld(const QString &key) const;
    int silentInRow(const QString &key) const;
    // When the printer is due next; nothing while it is asked, held, or never asked.
    std::optional<Clock::time_point> dueAt(const QString &key) const;
    // The earliest time any printer is due; nothing when none is.
    std::optional<Clock::time_point> nextDue() const;

private:
    struct Entry
    {
        Clock::time_point due;
        bool askable = true;
        bool asking = false;
        int holds = 0;
        int silent = 0; // questions in a row without an answer
    };

    PollTiming m_timing;
    QHash<QString, Entry> m_printers;
};

} // namespace Commands

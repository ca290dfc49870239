#include "pollschedule.h"

#include <algorithm>

namespace Commands {

using std::chrono::milliseconds;

PollSchedule::PollSchedule(PollTiming timing)
{
    setTiming(timing);
}

void PollSchedule::setTiming(const PollTiming &timing)
{
    m_timing.interval = std::max(timing.interval, milliseconds(1));
    m_timing.longest = std::max(timing.longest, m_timing.interval);
}

void PollSchedule::add(const QString &key, Clock::time_point now, bool askable)
{
    Entry entry;
    entry.due = now;
    entry.askable = askable;
    m_printers.insert(key, entry);
}

void PollSchedule::remove(const QString &key)
{
    m_printers.remove(key);
}

void PollSchedule::clear()
{
    m_printers.clear();
}

QStringList PollSchedule::takeDue(Clock::time_point now)
{
    QStringList due;
    for (auto it = m_printers.begin(); it != m_printers.end(); ++it) {
        Entry &entry = it.value();
        if (entry.askable && !entry.asking && entry.holds == 0 && entry.due <= now) {
            entry.asking = true;
            due.append(it.key());
        }
    }
    return due;
}

milliseconds PollSchedule::delayAfter(int silent) const
{
    milliseconds delay = m_timing.interval;
    for (int i = 0; i < silent && delay < m_timing.longest; ++i)
        delay *= 2;
    return std::min(delay, m_timing.longest);
}

void PollSchedule::asked(const QString &key, bool answered, Clock::time_point now)
{
    const auto it = m_printers.find(key);
    if (it == m_printers.end())
        return;
    it->asking = false;
    it->silent = answered ? 0 : it->silent + 1;
    it->due = now + delayAfter(it->silent);
}

void PollSchedule::notAsked(const QString &key, Clock::time_point now)
{
    const auto it = m_printers.find(key);
    if (it == m_printers.end())
        return;
    it->asking = false;
    it->due = now + m_timing.interval;
}

void PollSchedule::hold(const QString &key)
{
    const auto it = m_printers.find(key);
    if (it != m_printers.end())
        ++it->holds;
}

void PollSchedule::release(const QString &key, Clock::time_point now)
{
    const auto it = m_printers.find(key);
    if (it == m_printers.end() || it->holds == 0)
        return;
    if (--it->holds == 0)
        it->due = now;
}

void PollSchedule::askSoon(const QString &key, Clock::time_point now)
{
    const auto it = m_printers.find(key);
    if (it != m_printers.end())
        it->due = std::min(it->due, now);
}

bool PollSchedule::isAsking(const QString &key) const
{
    return m_printers.value(key).asking;
}

bool PollSchedule::isHeld(const QString &key) const
{
    return m_printers.value(key).holds > 0;
}

int PollSchedule::silentInRow(const QString &key) const
{
    return m_printers.value(key).silent;
}

std::optional<Clock::time_point> PollSchedule::dueAt(const QString &key) const
{
    const auto it = m_printers.constFind(key);
    if (it == m_printers.constEnd() || !it->askable || it->asking || it->holds > 0)
        return std::nullopt;
    return it->due;
}

std::optional<Clock::time_point> PollSchedule::nextDue() const
{
    std::optional<Clock::time_point> earliest;
    for (auto it = m_printers.constBegin(); it != m_printers.constEnd(); ++it) {
        const auto due = dueAt(it.key());
        if (due && (!earliest || *due < *earliest))
            earliest = due;
    }
    return earliest;
}

} // namespace Commands

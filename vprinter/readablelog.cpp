#include "readablelog.h"

#include <bitset>

namespace VirtualPrinter {

namespace {

// Noise: at least half of the last 64 commands were stray bytes. Clean again: 32 commands in a
// row that were not.
constexpr int Window = 64;
constexpr int NoiseFrom = Window / 2;
constexpr int CleanAfter = 32;
// A grouped line names this many of its commands.
constexpr int GroupShown = 4;

} // namespace

void ReadableLog::write(const QString &text)
{
    if (out)
        out(text);
}

void ReadableLog::observe(bool stray)
{
    m_recent = (m_recent << 1) | (stray ? 1 : 0);
    m_seen = std::min(m_seen + 1, Window);
    m_cleanInARow = stray ? 0 : m_cleanInARow + 1;
    if (!m_noise && m_seen == Window && int(std::bitset<Window>(m_recent).count()) >= NoiseFrom) {
        writeGroup();
        m_noise = true;
    } else if (m_noise && m_cleanInARow >= CleanAfter) {
        writeSummary();
        m_noise = false;
    }
}

void ReadableLog::line(const QString &text, Weight weight)
{
    if (weight == Weight::PassedOver) {
        group(text, false);
        return;
    }
    observe(false);
    if (weight == Weight::Outside) {
        writeGroup();
        writeSummary();
        write(text);
        return;
    }
    if (m_noise) {
        if (++m_heldOther + m_heldStray + m_heldPassedOver >= SummaryEvery)
            writeSummary();
        return;
    }
    writeGroup();
    write(text);
}

void ReadableLog::stray(const QString &what)
{
    group(what, true);
}

void ReadableLog::group(const QString &what, bool stray)
{
    observe(stray);
    if (m_noise) {
        ++(stray ? m_heldStray : m_heldPassedOver);
        if (m_heldOther + m_heldStray + m_heldPassedOver >= SummaryEvery)
            writeSummary();
        return;
    }
    if (m_groupSize < GroupShown)
        m_groupShown << what;
    ++m_groupSize;
}

void ReadableLog::writeGroup()
{
    if (m_groupSize == 0)
        return;
    QString text = QStringLiteral("skipped: ") + m_groupShown.join(QStringLiteral("; "));
    if (m_groupSize > m_groupShown.size())
        text += QStringLiteral("; and %1 more").arg(m_groupSize - m_groupShown.size());
    m_groupShown.clear();
    m_groupSize = 0;
    write(text);
}

void ReadableLog::writeSummary()
{
    const int held = m_heldStray + m_heldPassedOver + m_heldOther;
    if (held == 0)
        return;
    write(QStringLiteral("noise: %1 commands not logged one by one: %2 stray bytes or unknown "
                         "commands, %3 passed over, %4 printed or set")
                  .arg(held)
                  .arg(m_heldStray)
                  .arg(m_heldPassedOver)
                  .arg(m_heldOther));
    m_heldStray = m_heldPassedOver = m_heldOther = 0;
}

void ReadableLog::flush()
{
    writeGroup();
}

void ReadableLog::finish()
{
    writeGroup();
    writeSummary();
}

} // namespace VirtualPrinter

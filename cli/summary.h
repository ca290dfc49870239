#pragma once

// The one line that sums up a many-printer run on standard error while it works.

#include <QString>

#include <QElapsedTimer>

#include <cstdio>

namespace Cli {

// "3 of 8 done, 1 failed, 412 KB of 1.2 MB"; no bytes part when total is 0.
QString summaryLine(int done, int failed, int count, qint64 moved, qint64 total);
// 512 bytes, 412 KB, 1.2 MB, 3.4 GB (powers of 1000).
QString byteText(qint64 bytes);

// On a terminal the line is redrawn in place, and what the program logs meanwhile goes above
// it; elsewhere it is a line of its own at most once a second.
class Summary
{
public:
    Summary(std::FILE *out, int count, qint64 total);
    ~Summary();

    Summary(const Summary &) = delete;
    Summary &operator=(const Summary &) = delete;

    // How often the run should call show().
    int intervalMs() const;
    void show(int done, int failed, qint64 moved, bool last);

    // Around a message logged meanwhile: the line is cleared, and drawn again below it.
    void clearLine();
    void redraw();

private:
    std::FILE *m_out;
    int m_count;
    qint64 m_total;
    bool m_terminal;
    QElapsedTimer m_since;
    QString m_shown;
    bool m_lineOpen = false;
};

} // namespace Cli

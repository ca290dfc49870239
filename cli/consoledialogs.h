#pragma once

#include <dialogs.h>
#include <downloadcommand.h>

#include <QElapsedTimer>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <memory>

class QThread;

namespace Cli {

// The window's messages, printed to standard error; the file dialog answers with the
// pictures named on the command line.
class ConsoleDialogs final : public App::Dialogs
{
public:
    explicit ConsoleDialogs(QStringList pictures, std::FILE *out = stderr);

    void showMessage(App::MessageIcon icon,
                     const QString &caption,
                     const QString &text,
                     const QString &details = QString()) override;
    QStringList getOpenFileNames(const QStringList &nameFilters) override;

    // Whether any message reported a failure (everything but information).
    bool failed() const { return m_failed; }

private:
    QStringList m_pictures;
    std::FILE *m_out;
    bool m_failed = false;
};

// A download has no window to change; it shows a progress line on standard error while
// the stream goes out.
class ConsoleProgress final : public App::DownloadHost
{
public:
    // baudRate: the serial line's speed, to estimate how long the write takes; 0 if unknown.
    ConsoleProgress(QString target, int baudRate, std::FILE *out = stderr);
    ~ConsoleProgress() override;

    void setCommandsEnabled(bool) override {}
    void setImageNumbers(int) override {}
    void sendingStarted(qint64 byteCount) override;
    void sendingFinished() override;

    // Seconds between progress lines; the first line comes at once.
    static constexpr int IntervalMs = 1000;

private:
    void report(bool last);

    QString m_target;
    int m_baudRate;
    std::FILE *m_out;
    qint64 m_byteCount = 0;
    QElapsedTimer m_timer;
    std::unique_ptr<QThread> m_ticker;
    std::atomic<bool> m_sending{false};
};

} // namespace Cli

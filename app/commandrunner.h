#pragma once

#include <commands/userinterface.h>

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace App {

// Runs one command's slow work (pictures, open, write, close) on a thread of its own, so
// that the window keeps repainting and answering. Its signals arrive on the window's thread.
class CommandRunner : public QObject
{
    Q_OBJECT

public:
    using Work = std::function<Commands::Outcome(Commands::Progress &)>;

    explicit CommandRunner(QObject *parent = nullptr);
    ~CommandRunner() override;

    // Starts work unless a command runs already; false then.
    bool start(Work work);
    bool isRunning() const { return m_thread != nullptr; }

    // Asks the work to stop at its next step, or the printer library to stop the write.
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }

    Commands::Progress::Stage stage() const { return m_stage; }

Q_SIGNALS:
    void stageChanged(Commands::Progress::Stage stage);
    void bytesMoved(qint64 moved, qint64 total);
    // The work ended; the window is free to start another.
    void finished(const Commands::Outcome &outcome);

private:
    class Reporter;

    void workEnded();

    QThread *m_thread = nullptr;
    std::unique_ptr<Reporter> m_reporter;
    Commands::Outcome m_outcome;
    std::atomic<bool> m_stop{false};
    Commands::Progress::Stage m_stage = Commands::Progress::Stage::Preparing;
};

} // namespace App

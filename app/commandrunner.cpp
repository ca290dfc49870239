#include "commandrunner.h"

#include <QGuiApplication>
#include <QMetaObject>
#include <QThread>

namespace App {

namespace {

// Progress reports are passed to the window at most this often; the library reports every
// time bytes move.
constexpr qint64 ReportIntervalMs = 50;

} // namespace

// Lives on the worker thread's side: forwards what the command reports to the window's
// thread, thinned out, and answers whether to stop.
class CommandRunner::Reporter final : public Commands::Progress
{
public:
    explicit Reporter(CommandRunner &runner)
        : m_runner(runner)
    {
        m_sinceReport.start();
    }

    void stageChanged(Stage stage) override
    {
        QMetaObject::invokeMethod(&m_runner, [runner = &m_runner, stage] {
            runner->m_stage = stage;
            Q_EMIT runner->stageChanged(stage);
        });
    }

    void bytesMoved(qint64 moved, qint64 total) override
    {
        if (moved != 0 && moved != total && m_sinceReport.elapsed() < ReportIntervalMs)
            return;
        m_sinceReport.restart();
        QMetaObject::invokeMethod(&m_runner, [runner = &m_runner, moved, total] {
            Q_EMIT runner->bytesMoved(moved, total);
        });
    }

    bool stopRequested() const override { return m_runner.m_stop; }

private:
    CommandRunner &m_runner;
    QElapsedTimer m_sinceReport;
};

CommandRunner::CommandRunner(QObject *parent)
    : QObject(parent)
{}

CommandRunner::~CommandRunner()
{
    // The window is going away: stop the work and wait for it without telling anyone.
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool CommandRunner::start(Work work)
{
    if (m_thread)
        return false;
    m_stop = false;
    m_stage = Commands::Progress::Stage::Preparing;
    m_reporter = std::make_unique<Reporter>(*this);
    // An error that no command handles is shown as the program's own, under its title.
    const QString title = QGuiApplication::applicationDisplayName();
    m_thread = QThread::create([this, title, work = std::move(work)] {
        // Nothing may escape a thread; the work reports its failures as outcomes already.
        try {
            m_outcome = work(*m_reporter);
        } catch (const std::exception &error) {
            m_outcome = {Commands::Outcome::Kind::Failed,
                         Commands::MessageIcon::Critical,
                         title,
                         QString::fromUtf8(error.what()),
                         {}};
        } catch (...) {
            m_outcome = {Commands::Outcome::Kind::Failed,
                         Commands::MessageIcon::Critical,
                         title,
                         QStringLiteral("An unknown error occurred."),
                         {}};
        }
    });
    connect(m_thread, &QThread::finished, this, &CommandRunner::workEnded, Qt::QueuedConnection);
    m_thread->start();
    return true;
}

void CommandRunner::workEnded()
{
    // The reports the work queued before it ended come first.
    QThread *thread = m_thread;
    m_thread = nullptr;
    thread->deleteLater();
    const Commands::Outcome outcome = m_outcome;
    Q_EMIT finished(outcome);
}

} // namespace App

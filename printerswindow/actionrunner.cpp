#include "actionrunner.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QThread>

namespace PrintersWindow {

namespace {

using Commands::JobRow;

// Rows are told how their bytes move at most this often.
constexpr qint64 ReportIntervalMs = 200;

// One printer's progress: the pool's own, and what its row shows.
class RowProgress final : public Commands::Progress
{
public:
    RowProgress(Commands::Progress &pool, std::function<void(qint64, qint64)> report)
        : m_pool(pool)
        , m_report(std::move(report))
    {}

    void stageChanged(Stage stage) override { m_pool.stageChanged(stage); }
    void bytesMoved(qint64 moved, qint64 total) override
    {
        m_pool.bytesMoved(moved, total);
        if (m_reported.isValid() && moved != total && m_reported.elapsed() < ReportIntervalMs)
            return;
        m_reported.start();
        m_report(moved, total);
    }
    bool stopRequested() const override { return m_pool.stopRequested(); }

private:
    Commands::Progress &m_pool;
    std::function<void(qint64, qint64)> m_report;
    QElapsedTimer m_reported;
};

} // namespace

ActionRunner::ActionRunner(Printer::PosLibrary &library,
                           std::shared_ptr<Commands::PrinterLocks> locks,
                           QObject *parent)
    : QObject(parent)
    , m_library(library)
    , m_locks(std::move(locks))
{}

ActionRunner::~ActionRunner()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool ActionRunner::start(const QList<Printer::Target> &targets,
                         Commands::PrinterAction action,
                         Prepare prepare,
                         std::chrono::milliseconds lockBound)
{
    if (m_thread)
        return false;
    m_stop = false;
    m_action = action;
    m_thread = QThread::create([this, targets, prepare = std::move(prepare), lockBound] {
        run(targets, prepare, lockBound);
    });
    connect(m_thread, &QThread::finished, this, &ActionRunner::workEnded, Qt::QueuedConnection);
    m_thread->start();
    return true;
}

void ActionRunner::post(std::function<void()> signal)
{
    QMetaObject::invokeMethod(this, std::move(signal), Qt::QueuedConnection);
}

Commands::Job ActionRunner::reporting(Commands::Job job)
{
    const Commands::PrinterAction action = m_action;
    return [this, action, job = std::move(job)](
                   Commands::PrinterLink &link, Commands::Progress &progress, JobRow &row) {
        const QString key = link.target().key();
        post([this, key] { Q_EMIT rowActivity(key, tr("Talking to the printer…")); });
        RowProgress mine(progress, [this, key, action](qint64 moved, qint64 total) {
            const QString text = Commands::sendingLine(action, moved, total);
            post([this, key, text] { Q_EMIT rowActivity(key, text); });
        });
        job(link, mine, row);
    };
}

void ActionRunner::run(const QList<Printer::Target> &targets,
                       const Prepare &prepare,
                       std::chrono::milliseconds lockBound)
{
    // Nothing may escape a thread: a preparation that throws is a refusal.
    Prepared prepared;
    try {
        prepared = prepare([this] { return m_stop.load(); });
    } catch (const std::exception &error) {
        prepared.refusal = Commands::Outcome{Commands::Outcome::Kind::Refused,
                                             Commands::MessageIcon::Critical,
                                             {},
                                             QString::fromUtf8(error.what()),
                                             {}};
    } catch (...) {
        prepared.refusal = Commands::Outcome{Commands::Outcome::Kind::Refused,
                                             Commands::MessageIcon::Critical,
                                             {},
                                             QStringLiteral("An unknown error occurred."),
                                             {}};
    }
    // A stop during the picture work is no refusal of the pictures.
    if (m_stop && (prepared.refusal || !prepared.job)) {
        prepared.refusal = Commands::Outcome{Commands::Outcome::Kind::Stopped,
                                             Commands::MessageIcon::Information,
                                             {},
                                             tr("Stopped before anything was sent."),
                                             {}};
    }
    if (prepared.refusal || !prepared.job) {
        const Commands::Outcome refusal = prepared.refusal.value_or(Commands::Outcome());
        post([this, refusal] { Q_EMIT refused(refusal); });
        return;
    }
    Commands::PoolRun run;
    run.stopRequested = [this] {
        return m_stop.load();
    };
    run.progress = [this](const Commands::PoolProgress &now) {
        post([this, now] { Q_EMIT progressed(now); });
    };
    run.finished = [this](int, const JobRow &row) {
        post([this, row] { Q_EMIT rowFinished(row); });
    };
    run.interval = std::chrono::milliseconds(250);
    (void)Commands::runPool(m_library,
                            targets,
                            Commands::exclusiveJob(m_locks, reporting(prepared.job), lockBound),
                            run);
}

void ActionRunner::workEnded()
{
    // What the work posted before it ended comes first.
    QThread *thread = m_thread;
    m_thread = nullptr;
    thread->deleteLater();
    Q_EMIT finished();
}

} // namespace PrintersWindow

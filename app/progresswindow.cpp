#include "progresswindow.h"

#include <commands/settings.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace App {

ProgressWindow::ProgressWindow(QWidget *parent)
    : QDialog(parent)
    , m_status(new QLabel(this))
    , m_time(new QLabel(this))
    , m_bar(new QProgressBar(this))
    , m_stop(new QPushButton(tr("Stop"), this))
    , m_showTimer(new QTimer(this))
    , m_clock(new QTimer(this))
{
    setObjectName(QStringLiteral("ProgressWindow"));
    setWindowModality(Qt::WindowModal);
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    setMinimumWidth(440);
    m_status->setObjectName(QStringLiteral("status"));
    // A long printer name wraps instead of being cut off.
    m_status->setWordWrap(true);
    m_time->setObjectName(QStringLiteral("time"));
    m_bar->setObjectName(QStringLiteral("bar"));
    m_stop->setObjectName(QStringLiteral("stop"));
    m_stop->setAutoDefault(false);

    auto buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_stop);
    auto layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_bar);
    layout->addWidget(m_time);
    layout->addLayout(buttons);

    m_showTimer->setSingleShot(true);
    m_showTimer->setInterval(ShowAfterMs);
    connect(m_showTimer, &QTimer::timeout, this, &ProgressWindow::showIfStillRunning);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &ProgressWindow::updateTime);
    connect(m_stop, &QPushButton::clicked, this, &ProgressWindow::stopClicked);
}

void ProgressWindow::begin(const QString &title, const QString &target, int baudRate)
{
    setWindowTitle(title);
    m_target = target;
    m_baudRate = baudRate;
    m_moved = 0;
    m_total = 0;
    m_running = true;
    m_stop->setEnabled(true);
    m_elapsed.start();
    setStage(Commands::Progress::Stage::Preparing);
    m_showTimer->start();
    m_clock->start();
}

void ProgressWindow::end()
{
    m_running = false;
    m_showTimer->stop();
    m_clock->stop();
    hide();
}

void ProgressWindow::setStage(Commands::Progress::Stage stage)
{
    using Stage = Commands::Progress::Stage;
    switch (stage) {
    case Stage::Preparing:
        m_status->setText(tr("Preparing the pictures..."));
        m_bar->setRange(0, 0);
        break;
    case Stage::Opening:
        m_status->setText(tr("Opening the connection to %1...").arg(m_target));
        m_bar->setRange(0, 0);
        break;
    case Stage::Sending:
        setBytesMoved(m_moved, m_total);
        break;
    case Stage::Closing:
        m_status->setText(tr("Closing the connection to %1...").arg(m_target));
        break;
    }
    updateTime();
}

void ProgressWindow::setBytesMoved(qint64 moved, qint64 total)
{
    m_moved = moved;
    m_total = total;
    const QLocale locale;
    m_status->setText(tr("Sending to %1: %2 of %3 bytes reached the printer")
                              .arg(m_target, locale.toString(moved), locale.toString(total)));
    // Per mille, so that any size fits the bar's range.
    m_bar->setRange(0, 1000);
    m_bar->setValue(total > 0 ? int(moved * 1000 / total) : 0);
    updateTime();
}

void ProgressWindow::setStopping()
{
    m_stop->setEnabled(false);
    m_status->setText(tr("Stopping..."));
}

void ProgressWindow::reject()
{
    // Esc asks to stop like the button; the window goes only when the command has ended.
    if (m_running && m_stop->isEnabled())
        Q_EMIT stopClicked();
}

void ProgressWindow::showIfStillRunning()
{
    if (m_running)
        show();
}

void ProgressWindow::updateTime()
{
    QString text = tr("Elapsed %1").arg(Commands::clockText(m_elapsed.elapsed() / 1000));
    if (m_baudRate > 0 && m_total > 0) {
        const qint64 left = Commands::serialLineSeconds(m_total - m_moved, m_baudRate);
        text += tr(", about %1 left at %2 baud").arg(Commands::clockText(left)).arg(m_baudRate);
    }
    m_time->setText(text);
}

} // namespace App

#pragma once

#include <commands/userinterface.h>

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace App {

// Shows what a command is doing while it takes a while: the stage, the bytes that reached
// the printer of all, the time so far and, on a serial line, the time left. Modal to the
// window; its Stop button and Esc only ask the window to stop, they never close it.
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    explicit ProgressWindow(QWidget *parent);

    // A command begins: target names the printer; baudRate > 0 estimates the time left.
    void begin(const QString &title, const QString &target, int baudRate);
    // The command ended: hide and forget.
    void end();

    void setStage(Commands::Progress::Stage stage);
    void setBytesMoved(qint64 moved, qint64 total);
    // The stop was asked for; the command winds down.
    void setStopping();

    // How long a command runs before the window shows itself.
    static constexpr int ShowAfterMs = 500;

    QLabel *status() const { return m_status; }
    QPushButton *stopButton() const { return m_stop; }

Q_SIGNALS:
    void stopClicked();

protected:
    void reject() override;

private:
    void showIfStillRunning();
    void updateTime();

    QLabel *m_status;
    QLabel *m_time;
    QProgressBar *m_bar;
    QPushButton *m_stop;
    QTimer *m_showTimer;
    QTimer *m_clock;
    QElapsedTimer m_elapsed;
    QString m_target;
    int m_baudRate = 0;
    qint64 m_moved = 0;
    qint64 m_total = 0;
    bool m_running = false;
};

} // namespace App

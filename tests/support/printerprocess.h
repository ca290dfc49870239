#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// A run of the virtual printer nvlogo-printer, with its own strip and state folders, and its
// output read line by line.
class PrinterProcess
{
public:
    static constexpr int WaitTimeoutMs = 20000;

    PrinterProcess(const QString &program, const QString &folder)
        : m_folder(folder)
    {
        m_process.setProgram(program);
    }
    ~PrinterProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(WaitTimeoutMs);
        }
    }

    QString out() const { return QDir(m_folder).filePath(QStringLiteral("out")); }
    QString state() const { return QDir(m_folder).filePath(QStringLiteral("state")); }

    void start(const QStringList &arguments)
    {
        m_process.setArguments(
                arguments
                + QStringList{QStringLiteral("--out"), out(), QStringLiteral("--state"), state()});
        m_process.start();
    }

    // Waits until the given number of lines of standard output match; returns the match of the
    // last of them (no match on timeout).
    QRegularExpressionMatch
    waitFor(const QString &pattern, int occurrence = 1, int timeoutMs = WaitTimeoutMs)
    {
        const QRegularExpression expression(pattern);
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            readLines();
            int found = 0;
            for (const QString &line : std::as_const(m_lines)) {
                const QRegularExpressionMatch match = expression.match(line);
                if (match.hasMatch() && ++found == occurrence)
                    return match;
            }
            if (timer.elapsed() > timeoutMs)
                return {};
            if (!m_process.waitForReadyRead(100) && m_process.state() == QProcess::NotRunning
                && m_process.bytesAvailable() == 0) {
                readLines();
                timeoutMs = 0; // nothing more will come
            }
        }
    }

    // Writes to the printer's standard input (its --control-stdin lines).
    bool write(const QByteArray &bytes)
    {
        m_process.write(bytes);
        return m_process.waitForBytesWritten(WaitTimeoutMs);
    }

    bool stop()
    {
        m_process.terminate();
        const bool finished = m_process.waitForFinished(WaitTimeoutMs);
        readLines();
        return finished && m_process.exitStatus() == QProcess::NormalExit
               && m_process.exitCode() == 0;
    }

    QString transcript()
    {
        readLines();
        m_errors += m_process.readAllStandardError();
        return m_lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + QString::fromUtf8(m_errors);
    }

private:
    void readLines()
    {
        m_buffer += m_process.readAllStandardOutput();
        for (int end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
            m_lines << QString::fromUtf8(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
        }
    }

    QString m_folder;
    QProcess m_process;
    QByteArray m_buffer;
    QByteArray m_errors;
    QStringList m_lines;
};

#include "fleet.h"

#include "asking.h"
#include "commands.h"
#include "consoledialogs.h"

#include <commands/printerlink.h>
#include <commands/settings.h>
#include <printer/failure.h>

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Cli {

namespace {

// A targets file is a list of printers, not a data set: a bound keeps a wrong file (a disk
// image, /dev/zero) from being read whole.
constexpr qint64 MaxTargetsFileBytes = 1024 * 1024;

// How often the summary is redrawn on a terminal, and at most how often it is written
// anywhere else.
constexpr int TerminalRedrawMs = 100;
constexpr int LogIntervalMs = 1000;

const QString TargetForms = QStringLiteral("use ETHERNET host[:port], COMn [baud], COM:/path "
                                           "[baud], LPTn, LPT:/path or DRIVER queue");

bool numberedPort(const QString &name, const QString &prefix)
{
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,2}$"));
    return name.startsWith(prefix) && digits.match(name.mid(prefix.size())).hasMatch();
}

bool pathPort(const QString &name, const QString &prefix)
{
    return name.startsWith(prefix + QLatin1String(":/"));
}

// host, host:port, [v6] or [v6]:port, or a bare IPv6 address; the port 1 to 65535.
bool hostAndPort(const QString &text)
{
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 2)
            return false;
        const QString rest = text.mid(close + 1);
        if (rest.isEmpty())
            return true;
        if (!rest.startsWith(QLatin1Char(':')))
            return false;
        port = rest.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) {
        if (text.startsWith(QLatin1Char(':')))
            return false;
        port = text.section(QLatin1Char(':'), 1);
    } else {
        return !text.isEmpty();
    }
    bool ok = false;
    const int number = port.toInt(&ok);
    return ok && number >= 1 && number <= 65535 && !port.startsWith(QLatin1Char('+'));
}

// Whether two targets reach the same printer: two connections to one printer would mix
// their bytes.
QString identity(const Printer::PortSettings &port)
{
    QString where = Commands::describeTarget(port);
    // A printer's address without a port is its raw port 9100.
    if (Printer::portKindOf(port.portText) == Printer::PortKind::Ethernet
        && (where.endsWith(QLatin1Char(']')) || !where.contains(QLatin1Char(':'))))
        where += QStringLiteral(":9100");
    return QStringLiteral("%1|%2").arg(port.portText.left(3), where);
}

// The file's bytes, read without waiting on a FIFO or a device nobody writes to.
bool readTargetsFile(const QString &fileName, QByteArray &text, QString &error)
{
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("cannot read the targets file %1: %2")
                        .arg(fileName, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = QStringLiteral("the targets file %1 is not a regular file").arg(fileName);
        return false;
    }
    if (info.st_size > MaxTargetsFileBytes) {
        ::close(fd);
        error = QStringLiteral("the targets file %1 is larger than %2 bytes")
                        .arg(fileName)
                        .arg(MaxTargetsFileBytes);
        return false;
    }
    text.resize(qsizetype(info.st_size));
    qsizetype have = 0;
    while (have < text.size()) {
        const ssize_t got = ::read(fd, text.data() + have, size_t(text.size() - have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += got;
    }
    ::close(fd);
    text.truncate(have);
    return true;
}

QString resultText(const FleetRow &row)
{
    const bool asked = !row.status.isEmpty();
    switch (row.result) {
    case FleetRow::Result::Ok:
        return asked ? QStringLiteral("ready") : QStringLiteral("ok");
    case FleetRow::Result::NotReady:
        return QStringLiteral("not ready");
    case FleetRow::Result::Failed:
        return QStringLiteral("failed");
    case FleetRow::Result::Stopped:
        return QStringLiteral("stopped");
    case FleetRow::Result::Waiting:
        break;
    }
    return QStringLiteral("not run");
}

// The summary line on standard error: on a terminal redrawn in place, in a log a line of its
// own at most once a second.
class Summary
{
public:
    Summary(std::FILE *out, int count, qint64 total)
        : m_out(out)
        , m_count(count)
        , m_total(total)
        , m_terminal(isatty(fileno(out)))
    {
        m_since.start();
    }

    int waitMs() const { return m_terminal ? TerminalRedrawMs : LogIntervalMs; }

    void show(int done, int failed, qint64 moved, bool last)
    {
        const QString line = summaryLine(done, failed, m_count, moved, m_total);
        if (!last && (line == m_shown || (!m_terminal && m_since.elapsed() < LogIntervalMs)))
            return;
        if (!m_terminal && last && line == m_shown)
            return;
        m_since.start();
        const std::lock_guard<std::mutex> lock(drawing());
        m_shown = line;
        m_lineOpen = m_terminal && !last;
        if (m_terminal)
            std::fprintf(m_out, "\r%s\033[K%s", qPrintable(line), last ? "\n" : "");
        else
            std::fprintf(m_out, "%s\n", qPrintable(line));
        std::fflush(m_out);
    }

    bool terminal() const { return m_terminal; }

    // Around a log line from a worker, with drawing() held: the line is cleared, and drawn
    // again below the message.
    void clearLine()
    {
        if (m_lineOpen)
            std::fputs("\r\033[K", m_out);
    }
    void redraw()
    {
        if (m_lineOpen)
            std::fprintf(m_out, "\r%s\033[K", qPrintable(m_shown));
        std::fflush(m_out);
    }

    static std::mutex &drawing()
    {
        static std::mutex instance;
        return instance;
    }

private:
    std::FILE *m_out;
    int m_count;
    qint64 m_total;
    bool m_terminal;
    QElapsedTimer m_since;
    QString m_shown;
    bool m_lineOpen = false;
};

// The printer library logs each failure's reason from the worker's thread; on a terminal the
// message would land in the middle of the summary line.
Summary *g_drawn = nullptr;
QtMessageHandler g_previousHandler = nullptr;

void onLogMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const std::lock_guard<std::mutex> lock(Summary::drawing());
    if (g_drawn)
        g_drawn->clearLine();
    if (g_previousHandler)
        g_previousHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    if (g_drawn)
        g_drawn->redraw();
}

class LogBesideSummary
{
public:
    explicit LogBesideSummary(Summary &summary)
        : m_active(summary.terminal())
    {
        if (!m_active)
            return;
        const std::lock_guard<std::mutex> lock(Summary::drawing());
        g_drawn = &summary;
        g_previousHandler = qInstallMessageHandler(onLogMessage);
    }
    ~LogBesideSummary()
    {
        if (!m_active)
            return;
        qInstallMessageHandler(g_previousHandler);
        const std::lock_guard<std::mutex> lock(Summary::drawing());
        g_drawn = nullptr;
    }

    LogBesideSummary(const LogBesideSummary &) = delete;
    LogBesideSummary &operator=(const LogBesideSummary &) = delete;

private:
    bool m_active;
};

} // namespace

void addFleetOptions(QCommandLineParser &parser, bool withJson)
{
    parser.addOption({QStringLiteral("targets"),
                      QStringLiteral("Send to every printer the file lists, one a line: "
                                     "ETHERNET host[:port], COMn [baud], COM:/path [baud], "
                                     "LPTn, LPT:/path or DRIVER queue; # starts a comment "
                                     "line. --ip may be given more than once as well."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("jobs"),
                      QStringLiteral("With several printers: how many to talk to at once "
                                     "(default %1, at most %2).")
                              .arg(DefaultJobs)
                              .arg(MaxJobs),
                      QStringLiteral("n"),
                      QString::number(DefaultJobs)});
    if (withJson) {
        parser.addOption({QStringLiteral("json"),
                          QStringLiteral("Print the result as JSON: one object for one printer, "
                                         "an array for several.")});
    }
}

bool parseTargetLine(const QString &line,
                     const QString &defaultBaud,
                     Printer::PortSettings &target,
                     QString &why)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    const QStringList words = line.trimmed().split(space, Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        why = QStringLiteral("no printer");
        return false;
    }
    // The kind may be written in any case; a device path keeps its own.
    const QString first = words.constFirst();
    const QString kind = first.left(3).toUpper() + first.mid(3);
    const QString upper = first.toUpper();
    target = Printer::PortSettings{};
    target.baudText = defaultBaud;
    auto extra = [&](qsizetype allowed) {
        if (words.size() <= allowed)
            return false;
        why = QStringLiteral("'%1' after the printer is not understood").arg(words.at(allowed));
        return true;
    };

    if (upper == QLatin1String("ETHERNET")) {
        if (words.size() < 2) {
            why = QStringLiteral("ETHERNET needs host or host:port");
            return false;
        }
        if (extra(2))
            return false;
        if (!hostAndPort(words.at(1))) {
            why = QStringLiteral("'%1' is not host or host:port (port 1 to 65535)")
                          .arg(words.at(1));
            return false;
        }
        target.portText = QStringLiteral("ETHERNET");
        target.ipText = words.at(1);
        return true;
    }
    if (upper == QLatin1String("DRIVER")) {
        if (words.size() < 2) {
            why = QStringLiteral("DRIVER needs the printer queue's name");
            return false;
        }
        if (extra(2))
            return false;
        target.portText = QStringLiteral("DRIVER");
        target.printerName = words.at(1);
        return true;
    }
    if (numberedPort(upper, QStringLiteral("COM")) || pathPort(kind, QStringLiteral("COM"))) {
        if (extra(2))
            return false;
        if (words.size() == 2) {
            if (!baudRates().contains(words.at(1))) {
                why = QStringLiteral("the baud rate must be one of %1, not '%2'")
                              .arg(baudRates().join(QStringLiteral(", ")), words.at(1));
                return false;
            }
            target.baudText = words.at(1);
        }
        target.portText = numberedPort(upper, QStringLiteral("COM")) ? upper : kind;
        return true;
    }
    if (numberedPort(upper, QStringLiteral("LPT")) || pathPort(kind, QStringLiteral("LPT"))) {
        if (extra(1))
            return false;
        target.portText = numberedPort(upper, QStringLiteral("LPT")) ? upper : kind;
        return true;
    }
    why = QStringLiteral("unknown printer '%1': %2").arg(first, TargetForms);
    return false;
}

bool parseTargets(const QByteArray &text,
                  const QString &fileName,
                  const QString &defaultBaud,
                  QList<Printer::PortSettings> &targets,
                  QString &error)
{
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        Printer::PortSettings target;
        QString why;
        if (!parseTargetLine(line, defaultBaud, target, why)) {
            error = QStringLiteral("%1:%2: %3").arg(fileName).arg(i + 1).arg(why);
            return false;
        }
        targets.append(target);
    }
    return true;
}

bool fleetTargets(const QCommandLineParser &parser,
                  QList<Printer::PortSettings> &targets,
                  const Context &c,
                  int &status)
{
    targets.clear();
    const QStringList ips = parser.values(QStringLiteral("ip"));
    const bool fromFile = parser.isSet(QStringLiteral("targets"));
    if (!fromFile && ips.size() <= 1)
        return true;
    const QString portText = parser.value(QStringLiteral("port"));
    if (parser.isSet(QStringLiteral("port"))
        && Printer::portKindOf(portText) != Printer::PortKind::Ethernet) {
        status = usage(c,
                       QStringLiteral("--port names one printer; with --targets or several "
                                      "--ip, name each printer in the targets file."));
        return false;
    }
    if (parser.isSet(QStringLiteral("printer"))) {
        status = usage(c,
                       QStringLiteral("--printer names one queue; with --targets or several "
                                      "--ip, write DRIVER queue lines in the targets file."));
        return false;
    }
    const QString baud = parser.value(QStringLiteral("baud"));
    if (!baudRates().contains(baud)) {
        status = usage(c,
                       QStringLiteral("--baud must be one of %1.")
                               .arg(baudRates().join(QStringLiteral(", "))));
        return false;
    }
    if (parser.isSet(QStringLiteral("ip"))) {
        for (const QString &ip : ips) {
            Printer::PortSettings target;
            QString why;
            if (!parseTargetLine(QStringLiteral("ETHERNET ") + ip, baud, target, why)) {
                status = usage(c, QStringLiteral("--ip %1: %2").arg(ip, why));
                return false;
            }
            targets.append(target);
        }
    }
    if (fromFile) {
        const QString fileName = parser.value(QStringLiteral("targets"));
        QByteArray text;
        QString error;
        if (!readTargetsFile(fileName, text, error)
            || !parseTargets(text, fileName, baud, targets, error)) {
            status = usage(c, error);
            return false;
        }
    }
    if (targets.isEmpty()) {
        status = usage(c, QStringLiteral("the targets file names no printer."));
        return false;
    }
    QSet<QString> seen;
    for (const Printer::PortSettings &target : std::as_const(targets)) {
        if (seen.contains(identity(target))) {
            status = usage(c,
                           QStringLiteral("%1 is named twice; each printer gets one connection.")
                                   .arg(Commands::describeTarget(target)));
            return false;
        }
        seen.insert(identity(target));
    }
    return true;
}

bool jobsOption(const QCommandLineParser &parser, int &jobs, const Context &c, int &status)
{
    bool ok = false;
    jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
    if (!ok || jobs < 1 || jobs > MaxJobs) {
        status = usage(c,
                       QStringLiteral("--jobs must be a whole number from 1 to %1.").arg(MaxJobs));
        return false;
    }
    return true;
}

void FleetProgress::bytesMoved(qint64 moved, qint64 total)
{
    Q_UNUSED(total)
    m_moved.store(moved);
}

bool FleetProgress::stopRequested() const
{
    return terminationRequested();
}

std::vector<FleetRow> runFleet(const QList<Printer::PortSettings> &targets,
                               const FleetRun &run,
                               const FleetJob &job,
                               const Context &c)
{
    const int count = int(targets.size());
    std::vector<FleetRow> rows(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        rows[size_t(i)].target = Commands::describeTarget(targets.at(i));
    const auto progress = std::make_unique<FleetProgress[]>(size_t(count));

    std::mutex mutex;
    std::condition_variable changed;
    int next = 0;
    int done = 0;
    int failed = 0;

    auto work = [&] {
        for (;;) {
            int i = 0;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (next >= count)
                    return;
                i = next++;
            }
            FleetRow row;
            row.target = rows[size_t(i)].target;
            if (terminationRequested()) {
                row.result = FleetRow::Result::Stopped;
                row.reason = QStringLiteral("Stopped before it started");
            } else {
                QElapsedTimer timer;
                timer.start();
                try {
                    Commands::PrinterLink link(library(), targets.at(i));
                    job(link, progress[size_t(i)], row);
                } catch (const std::exception &error) {
                    row.result = FleetRow::Result::Failed;
                    row.reason = QString::fromUtf8(error.what());
                } catch (...) {
                    row.result = FleetRow::Result::Failed;
                    row.reason = QStringLiteral("Unexpected error");
                }
                row.seconds = double(timer.nsecsElapsed()) / 1e9;
                if (row.result == FleetRow::Result::Waiting) {
                    row.result = FleetRow::Result::Failed;
                    row.reason = QStringLiteral("Nothing was done");
                }
            }
            if (run.asksStatus && row.status.isEmpty()) {
                row.status = statusJson(
                        row.target, Printer::Failure{Printer::FailureKind::Cancelled, row.reason});
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                rows[size_t(i)] = std::move(row);
                ++done;
                if (rows[size_t(i)].result != FleetRow::Result::Ok)
                    ++failed;
            }
            changed.notify_one();
        }
    };

    Summary summary(c.err, count, run.bytesEach * count);
    auto moved = [&] {
        qint64 sum = 0;
        for (int i = 0; i < count; ++i)
            sum += progress[size_t(i)].moved();
        return sum;
    };
    const LogBesideSummary logBeside(summary);
    std::vector<std::thread> workers;
    const int threads = std::min(run.jobs, count);
    workers.reserve(size_t(threads));
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(work);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (done < count) {
            const int nowDone = done;
            const int nowFailed = failed;
            lock.unlock();
            summary.show(nowDone, nowFailed, moved(), false);
            lock.lock();
            changed.wait_for(lock, std::chrono::milliseconds(summary.waitMs()), [&] {
                return done == count || done != nowDone;
            });
        }
    }
    for (std::thread &worker : workers)
        worker.join();
    summary.show(done, failed, moved(), true);
    return rows;
}

QString byteText(qint64 bytes)
{
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1000 * 1000)
        return QStringLiteral("%1 KB").arg(qRound64(double(bytes) / 1000));
    if (bytes < 1000LL * 1000 * 1000)
        return QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(double(bytes) / 1e9, 0, 'f', 1);
}

QString summaryLine(int done, int failed, int count, qint64 moved, qint64 total)
{
    QString line = QStringLiteral("%1 of %2 done, %3 failed").arg(done).arg(count).arg(failed);
    if (total > 0)
        line += QStringLiteral(", %1 of %2").arg(byteText(moved), byteText(total));
    return line;
}

QString fleetTable(const std::vector<FleetRow> &rows)
{
    const QStringList head = {QStringLiteral("TARGET"),
                              QStringLiteral("RESULT"),
                              QStringLiteral("BYTES"),
                              QStringLiteral("TIME"),
                              QStringLiteral("REASON")};
    QList<QStringList> cells = {head};
    for (const FleetRow &row : rows) {
        cells.append({row.target,
                      resultText(row),
                      row.status.isEmpty() ? QString::number(row.bytes) : QStringLiteral("-"),
                      QStringLiteral("%1 s").arg(row.seconds, 0, 'f', 1),
                      QString(row.reason).replace(QLatin1Char('\n'), QLatin1Char(' '))});
    }
    QList<qsizetype> widths(head.size(), 0);
    for (const QStringList &line : std::as_const(cells)) {
        for (qsizetype i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], line.at(i).size());
    }
    QString table;
    for (const QStringList &line : std::as_const(cells)) {
        QString text;
        for (qsizetype i = 0; i < line.size(); ++i) {
            // Numbers line up on the right, words on the left; the reason runs on.
            const bool number = i == 2 || i == 3;
            if (i + 1 == line.size())
                text += line.at(i);
            else if (number)
                text += line.at(i).rightJustified(widths[i]) + QStringLiteral("  ");
            else
                text += line.at(i).leftJustified(widths[i]) + QStringLiteral("  ");
        }
        table += QStringView(text).trimmed().toString() + QLatin1Char('\n');
    }
    return table;
}

QJsonObject fleetJson(const FleetRow &row)
{
    if (!row.status.isEmpty())
        return row.status;
    QJsonObject object;
    object[QStringLiteral("target")] = row.target;
    object[QStringLiteral("ok")] = row.result == FleetRow::Result::Ok;
    object[QStringLiteral("bytes")] = row.bytes;
    object[QStringLiteral("seconds")] = double(qRound64(row.seconds * 1000)) / 1000;
    object[QStringLiteral("reason")] = row.result == FleetRow::Result::Ok
                                               ? QJsonValue(QJsonValue::Null)
                                               : QJsonValue(row.reason);
    return object;
}

int finishFleet(const std::vector<FleetRow> &rows, bool json, const Context &c)
{
    if (json) {
        QJsonDocument document;
        if (rows.size() == 1) {
            document.setObject(fleetJson(rows.front()));
        } else {
            QJsonArray array;
            for (const FleetRow &row : rows)
                array.append(fleetJson(row));
            document.setArray(array);
        }
        print(c.out, QString::fromUtf8(document.toJson(QJsonDocument::Indented)));
    } else {
        print(c.out, fleetTable(rows));
    }
    bool failed = false;
    bool notReady = false;
    for (const FleetRow &row : rows) {
        failed = failed || row.result == FleetRow::Result::Failed
                 || row.result == FleetRow::Result::Stopped
                 || row.result == FleetRow::Result::Waiting;
        notReady = notReady || row.result == FleetRow::Result::NotReady;
    }
    return failed ? Failure : notReady ? NotConfirmed : Success;
}

} // namespace Cli

#include "pseudoterminal.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace VirtualPrinter {

namespace {
// While no program has the slave open the master reports a hang-up at every poll, so it is
// looked at on a timer instead of by the notifier.
constexpr int HangUpPollMs = 100;
constexpr int ReadChunk = 65536;
} // namespace

struct PseudoTerminal::Private
{
    int master = -1;
    QString slaveName;
    QSocketNotifier *notifier = nullptr;
    QTimer *hangUpTimer = nullptr;
};

PseudoTerminal::PseudoTerminal(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{}

PseudoTerminal::~PseudoTerminal()
{
    delete d->notifier;
    if (d->master >= 0)
        ::close(d->master);
}

bool PseudoTerminal::open(QString *error)
{
    auto fail = [&](const char *step) {
        if (error) {
            *error = QStringLiteral("cannot create a pseudo-terminal (%1): %2")
                             .arg(QLatin1String(step),
                                  QString::fromLocal8Bit(std::strerror(errno)));
        }
        if (d->master >= 0)
            ::close(d->master);
        d->master = -1;
        return false;
    };
    d->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (d->master < 0)
        return fail("posix_openpt");
    if (::grantpt(d->master) != 0)
        return fail("grantpt");
    if (::unlockpt(d->master) != 0)
        return fail("unlockpt");
    const char *name = ::ptsname(d->master);
    if (!name)
        return fail("ptsname");
    d->slaveName = QString::fromLocal8Bit(name);

    // Settings made on the master apply to the slave: raw bytes, no echo, no translation.
    termios settings{};
    if (::tcgetattr(d->master, &settings) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&settings);
    if (::tcsetattr(d->master, TCSANOW, &settings) != 0)
        return fail("tcsetattr");

    d->notifier = new QSocketNotifier(d->master, QSocketNotifier::Read, this);
    d->hangUpTimer = new QTimer(this);
    d->hangUpTimer->setInterval(HangUpPollMs);

    connect(d->notifier, &QSocketNotifier::activated, this, &PseudoTerminal::readSlaveBytes);
    connect(d->hangUpTimer, &QTimer::timeout, this, &PseudoTerminal::lookForSlave);
    return true;
}

void PseudoTerminal::readSlaveBytes()
{
    QByteArray buffer(ReadChunk, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(d->master, buffer.data(), size_t(buffer.size()));
        if (n > 0) {
            emit received(buffer.left(qsizetype(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // EIO (or end of file): the slave was closed and everything it wrote was read.
        d->notifier->setEnabled(false);
        d->hangUpTimer->start();
        emit hungUp();
        return;
    }
}

void PseudoTerminal::lookForSlave()
{
    pollfd probe{d->master, POLLIN, 0};
    // Reopened, or opened, written to and closed again between two looks.
    if (::poll(&probe, 1, 0) >= 0 && (!(probe.revents & POLLHUP) || (probe.revents & POLLIN))) {
        d->hangUpTimer->stop();
        d->notifier->setEnabled(true);
    }
}

QString PseudoTerminal::slaveName() const
{
    return d->slaveName;
}

void PseudoTerminal::write(const QByteArray &bytes)
{
    if (d->master < 0 || d->hangUpTimer->isActive())
        return;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(d->master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the slave side is not reading: the reply is lost, as on a line
        done += n;
    }
}

} // namespace VirtualPrinter

#include "target.h"

#include "portconnection.h"
#include "smallfile.h"

#include <printer/nvpos/platformnames.h>
#include <printer/nvpos/portnames.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <limits>

namespace Printer {

namespace {

const QString TargetForms = QStringLiteral("use ETHERNET host[:port], COMn [baud], COM:/path "
                                           "[baud], LPTn, LPT:/path or DRIVER queue");

Failure invalid(const QString &why)
{
    return Failure{FailureKind::Invalid, why};
}

QString trimSpaces(const QString &text)
{
    // Only spaces are trimmed, as a user pastes them; tabs and other white space are kept for
    // the library to refuse.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

std::int32_t baudRateOf(const QString &baudText)
{
    bool ok = false;
    const qlonglong value = baudText.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<std::int32_t>::min()
        || value > std::numeric_limits<std::int32_t>::max()) {
        throw ConversionError(
                QCoreApplication::translate("Printer", "The baud rate \"%1\" is not a number.")
                        .arg(baudText)
                        .toStdString());
    }
    return static_cast<std::int32_t>(value);
}

// COMn or LPTn with n from 1 to 999, in any case.
bool isNumberedPort(const QString &upper, const QString &prefix)
{
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,2}$"));
    return upper.startsWith(prefix) && digits.match(upper.mid(prefix.size())).hasMatch();
}

// KIND:rest with the kind in any case; rest keeps its own.
bool hasKindPrefix(const QString &word, const QString &kind)
{
    return word.size() > kind.size() + 1 && word.at(kind.size()) == QLatin1Char(':')
           && word.left(kind.size()).compare(kind, Qt::CaseInsensitive) == 0;
}

bool hostAndPort(const QString &text)
{
    return NvPos::parseHostPort(text.toStdString()).has_value();
}

// The words of a target: "KIND:value" counts as "KIND value" for ETHERNET and DRIVER.
QStringList wordsOf(const QString &text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    QStringList words = text.trimmed().split(space, Qt::SkipEmptyParts);
    if (words.isEmpty())
        return words;
    for (const char *kind : {"ETHERNET", "DRIVER"}) {
        const QString name = QLatin1String(kind);
        if (hasKindPrefix(words.constFirst(), name)) {
            const QString value = words.constFirst().mid(name.size() + 1);
            words.replace(0, name);
            words.insert(1, value);
        }
    }
    return words;
}

QString extraWord(const QStringList &words, qsizetype allowed)
{
    if (words.size() <= allowed)
        return {};
    return QStringLiteral("'%1' after the printer is not understood").arg(words.at(allowed));
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            return true;
    }
    return false;
}

// The device a port name opens, cleaned, made absolute and with its links followed where it
// exists: the same file reached by two spellings has one path.
QString devicePath(const QByteArray &name, NvPos::DeviceKind kind)
{
    const auto device = NvPos::deviceOf(name.toStdString(), kind);
    if (!device)
        return QString::fromLocal8Bit(name);
    const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(
            QFile::decodeName(QByteArray::fromStdString(*device))));
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

QString addressKey(const QByteArray &name)
{
    const auto parsed = NvPos::parseHostPort(name.toStdString());
    if (!parsed)
        return QString::fromUtf8(name).toLower();
    // Host names are compared without regard to case, as the name service does.
    QString host = QString::fromStdString(
                           NvPos::Native::canonicalAddress(parsed->host).value_or(parsed->host))
                           .toLower();
    if (host.contains(QLatin1Char(':')))
        host = QStringLiteral("[%1]").arg(host);
    return QStringLiteral("%1:%2").arg(host).arg(parsed->port);
}

} // namespace

PortKind portKindOf(const QString &portText)
{
    const QString prefix = portText.left(3);
    if (prefix == QLatin1String("ETH"))
        return PortKind::Ethernet;
    if (prefix == QLatin1String("COM"))
        return PortKind::Serial;
    if (prefix == QLatin1String("LPT"))
        return PortKind::Parallel;
    if (prefix == QLatin1String("DRI"))
        return PortKind::Driver;
    return PortKind::Unknown;
}

std::uint16_t rawPrintingPort()
{
    return NvPos::DefaultRawPort;
}

const QStringList &baudRates()
{
    static const QStringList rates = {QStringLiteral("9600"),
                                      QStringLiteral("19200"),
                                      QStringLiteral("38400"),
                                      QStringLiteral("115200")};
    return rates;
}

Target Target::fromWindowSettings(const PortSettings &settings)
{
    const QByteArray port
            = settings.portBytes.isEmpty() ? settings.portText.toLocal8Bit() : settings.portBytes;
    switch (portKindOf(settings.portText)) {
    case PortKind::Ethernet:
        return Target(PortKind::Ethernet, trimSpaces(settings.ipText).toLocal8Bit(), 0);
    case PortKind::Serial:
        return Target(PortKind::Serial, port, baudRateOf(settings.baudText));
    case PortKind::Parallel:
        return Target(PortKind::Parallel, port, 0);
    case PortKind::Driver:
        return Target(PortKind::Driver, settings.printerName.toLocal8Bit(), 0);
    case PortKind::Unknown:
        break;
    }
    return Target(PortKind::Unknown, port, 0);
}

Result<Target>
Target::parse(const QString &text, std::int32_t defaultBaud, const QByteArray &typedName)
{
    if (hasControlCharacter(text))
        return invalid(QStringLiteral("a printer's name holds no control characters"));
    const QStringList words = wordsOf(text);
    if (words.isEmpty())
        return invalid(QStringLiteral("no printer"));
    const QString first = words.constFirst();
    const QString upper = first.toUpper();
    if (upper == QLatin1String("ETHERNET")) {
        if (words.size() < 2)
            return invalid(QStringLiteral("ETHERNET needs host or host:port"));
        if (const QString extra = extraWord(words, 2); !extra.isEmpty())
            return invalid(extra);
        if (!hostAndPort(words.at(1))) {
            return invalid(QStringLiteral("'%1' is not host or host:port (port 1 to 65535)")
                                   .arg(words.at(1)));
        }
        return Target(PortKind::Ethernet, words.at(1).toUtf8(), 0);
    }
    if (upper == QLatin1String("DRIVER")) {
        if (words.size() < 2)
            return invalid(QStringLiteral("DRIVER needs the printer queue's name"));
        if (const QString extra = extraWord(words, 2); !extra.isEmpty())
            return invalid(extra);
        return Target(PortKind::Driver, words.at(1).toUtf8(), 0);
    }
    const bool serial = isNumberedPort(upper, QStringLiteral("COM"))
                        || hasKindPrefix(first, QStringLiteral("COM"));
    const bool parallel = isNumberedPort(upper, QStringLiteral("LPT"))
                          || hasKindPrefix(first, QStringLiteral("LPT"));
    if (!serial && !parallel)
        return invalid(QStringLiteral("unknown printer '%1': %2").arg(first, TargetForms));
    if (const QString extra = extraWord(words, serial ? 2 : 1); !extra.isEmpty())
        return invalid(extra);
    // A numbered port is written in capitals; a path keeps its own case and bytes.
    const bool numbered = !first.contains(QLatin1Char(':'));
    QByteArray name = numbered ? upper.toLatin1()
                               : first.left(3).toUpper().toLatin1() + first.mid(3).toLocal8Bit();
    if (!numbered && !typedName.isEmpty() && words.size() == 1)
        name = typedName;
    if (parallel)
        return Target(PortKind::Parallel, name, 0);
    std::int32_t baud = defaultBaud;
    if (words.size() == 2) {
        if (!baudRates().contains(words.at(1))) {
            return invalid(QStringLiteral("the baud rate must be one of %1, not '%2'")
                                   .arg(baudRates().join(QStringLiteral(", ")), words.at(1)));
        }
        baud = words.at(1).toInt();
    }
    return Target(PortKind::Serial, name, baud);
}

QString Target::display() const
{
    if (m_kind == PortKind::Driver)
        return QStringLiteral("queue \"%1\"").arg(QString::fromUtf8(m_name));
    return QString::fromLocal8Bit(m_name);
}

QString Target::key() const
{
    switch (m_kind) {
    case PortKind::Ethernet:
        return QStringLiteral("tcp:") + addressKey(m_name);
    case PortKind::Serial:
        return QStringLiteral("device:") + devicePath(m_name, NvPos::DeviceKind::Serial);
    case PortKind::Parallel:
        return QStringLiteral("device:") + devicePath(m_name, NvPos::DeviceKind::Parallel);
    case PortKind::Driver:
        // The print server names its queues without regard to case.
        return QStringLiteral("queue:") + QString::fromUtf8(m_name).toLower();
    case PortKind::Unknown:
        break;
    }
    return QStringLiteral("unknown:") + QString::fromLocal8Bit(m_name);
}

QString Target::line() const
{
    switch (m_kind) {
    case PortKind::Ethernet:
        return QStringLiteral("ETHERNET ") + QString::fromUtf8(m_name);
    case PortKind::Serial:
        return QStringLiteral("%1 %2").arg(QString::fromLocal8Bit(m_name)).arg(m_baud);
    case PortKind::Parallel:
        return QString::fromLocal8Bit(m_name);
    case PortKind::Driver:
        return QStringLiteral("DRIVER ") + QString::fromUtf8(m_name);
    case PortKind::Unknown:
        break;
    }
    return QString::fromLocal8Bit(m_name);
}

QStringList Target::options() const
{
    switch (m_kind) {
    case PortKind::Ethernet:
        return {QStringLiteral("--ip"), QString::fromUtf8(m_name)};
    case PortKind::Serial:
        return {QStringLiteral("--port"),
                QString::fromLocal8Bit(m_name),
                QStringLiteral("--baud"),
                QString::number(m_baud)};
    case PortKind::Parallel:
        return {QStringLiteral("--port"), QString::fromLocal8Bit(m_name)};
    case PortKind::Driver:
        return {QStringLiteral("--port"),
                QStringLiteral("DRIVER"),
                QStringLiteral("--printer"),
                QString::fromUtf8(m_name)};
    case PortKind::Unknown:
        break;
    }
    return {QStringLiteral("--port"), QString::fromLocal8Bit(m_name)};
}

Result<QList<Target>>
parseTargets(const QByteArray &text, const QString &fileName, std::int32_t defaultBaud)
{
    QList<Target> targets;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const Result<Target> target = Target::parse(line, defaultBaud);
        if (!target.ok())
            return invalid(QStringLiteral("%1:%2: %3")
                                   .arg(fileName)
                                   .arg(i + 1)
                                   .arg(target.failure().reason));
        targets.append(target.value());
    }
    return targets;
}

Result<QList<Target>> readTargetsFile(const QString &fileName, std::int32_t defaultBaud)
{
    constexpr qint64 MaxTargetsFileBytes = 1024 * 1024;
    const Result<QByteArray> text = readSmallFile(fileName, MaxTargetsFileBytes);
    if (!text.ok())
        return text.failure();
    return parseTargets(text.value(), fileName, defaultBaud);
}

QByteArray targetsText(const QList<Target> &targets)
{
    QByteArray text;
    for (const Target &target : targets)
        text += target.line().toUtf8() + '\n';
    return text;
}

const Target *findTwice(const QList<Target> &targets)
{
    QSet<QString> seen;
    for (const Target &target : targets) {
        const QString key = target.key();
        if (seen.contains(key))
            return &target;
        seen.insert(key);
    }
    return nullptr;
}

} // namespace Printer

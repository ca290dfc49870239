#pragma once

#include "portkind.h"
#include "result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>

namespace Printer {

// The TCP port that a printer's raw printing listens on when an address names none.
std::uint16_t rawPrintingPort();

// The serial speeds the window lists and the command line takes, and the one it starts with.
const QStringList &baudRates();
constexpr std::int32_t DefaultBaud = 19200;

// A control text that does not convert to the number the command needs.
class ConversionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct PortSettings;

// One printer as the program reaches it: the kind of connection and what the printer library
// opens (an address, a port name or a print queue), with a serial line's speed.
class Target
{
public:
    Target() = default;

    PortKind kind() const { return m_kind; }
    // What the library's open takes: the address (host or host:port), the port name (COMn,
    // LPTn, COM:/path, LPT:/path) or the queue, as bytes.
    const QByteArray &name() const { return m_name; }
    // The serial line's speed; 0 for the other kinds.
    std::int32_t baud() const { return m_baud; }

    // The printer of the window's settings, by the window's rules: the kind from the port
    // text's first three letters; the address with its spaces trimmed, the port text itself,
    // or the chosen queue. Any other text gives an Unknown target. Throws ConversionError for
    // a serial port's baud text that is not a number.
    static Target fromWindowSettings(const PortSettings &settings);

    // A printer named in a targets file or on the command line, one grammar for both:
    //   ETHERNET host[:port]  (or ETHERNET:host[:port]; [v6] or [v6]:port, or a bare v6)
    //   COMn [baud], COM:/path [baud]
    //   LPTn, LPT:/path
    //   DRIVER queue  (or DRIVER:queue)
    // The kind in any case; a path and a queue keep their own. A serial port without a baud
    // rate gets defaultBaud. typedName, when given, is the name as bytes, for a path that is
    // not valid text.
    static Result<Target> parse(const QString &text,
                                std::int32_t defaultBaud = DefaultBaud,
                                const QByteArray &typedName = {});

    // The printer as the user knows it: its address, its port as typed, or queue "name".
    QString display() const;
    // One spelling for one printer: two targets with the same key reach the same printer
    // (the same address and port, the same device, the same queue).
    QString key() const;
    // A line that parse() reads back as this target.
    QString line() const;
    // The command line's options that name it, e.g. {"--ip", "10.0.0.5:9100"}.
    QStringList options() const;

    friend bool operator==(const Target &a, const Target &b)
    {
        return a.m_kind == b.m_kind && a.m_name == b.m_name && a.m_baud == b.m_baud;
    }
    friend bool operator!=(const Target &a, const Target &b) { return !(a == b); }

private:
    Target(PortKind kind, QByteArray name, std::int32_t baud)
        : m_kind(kind)
        , m_name(std::move(name))
        , m_baud(baud)
    {}

    PortKind m_kind = PortKind::Unknown;
    QByteArray m_name;
    std::int32_t m_baud = 0;
};

// Every printer of a targets file's text: one a line; blank lines and lines starting with #
// are skipped. A wrong line fails the whole text, its reason naming fileName:line.
Result<QList<Target>> parseTargets(const QByteArray &text,
                                   const QString &fileName,
                                   std::int32_t defaultBaud = DefaultBaud);

// A targets file: its text read (a regular file of at most 1 MiB; a printer list, not a data
// set) and parsed.
Result<QList<Target>> readTargetsFile(const QString &fileName,
                                      std::int32_t defaultBaud = DefaultBaud);

// The targets as a file's text that parseTargets reads back.
QByteArray targetsText(const QList<Target> &targets);

// The first target whose key an earlier one has already, or nullptr: two connections to one
// printer would mix their bytes.
const Target *findTwice(const QList<Target> &targets);

} // namespace Printer

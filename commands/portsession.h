#pragma once

#include <QtGlobal>

namespace Printer {
class PosLibrary;
struct PortSettings;
} // namespace Printer

namespace Commands {

struct CommandState;

// One printer connection for the length of one command. Opening stores the handle in
// PortHandle; a connection that opened is closed on every way out, also when an error
// is raised after the open.
class PortSession
{
public:
    PortSession(Printer::PosLibrary &library,
                const Printer::PortSettings &port,
                CommandState &state);
    ~PortSession();

    PortSession(const PortSession &) = delete;
    PortSession &operator=(const PortSession &) = delete;

    // False when the library reported that no connection was opened (-1).
    bool isOpen() const { return m_open; }

    // Closes now and returns the library's result.
    qint32 close();

private:
    Printer::PosLibrary &m_library;
    bool m_open = false;
};

} // namespace Commands

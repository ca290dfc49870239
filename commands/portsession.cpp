#include "portsession.h"

#include "commandstate.h"

#include <printer/portconnection.h>

namespace Commands {

PortSession::PortSession(Printer::PosLibrary &library,
                         const Printer::PortSettings &port,
                         CommandState &state)
    : m_library(library)
{
    state.PortHandle = Printer::OpenPort(library, port);
    m_open = state.PortHandle != -1;
}

PortSession::~PortSession()
{
    if (!m_open)
        return;
    try {
        Printer::ClosePort(m_library);
    } catch (...) {
        // An error is already on its way out; this one would only hide it.
    }
}

qint32 PortSession::close()
{
    m_open = false;
    return Printer::ClosePort(m_library);
}

} // namespace Commands

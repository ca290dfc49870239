#pragma once

#include <QtGlobal>

namespace Commands {

// What the window's commands leave behind between clicks. Only PortHandle is read
// again (by the same command, at once); the others record the library's last answers.
struct CommandState
{
    qint32 PortHandle = 0;
    qint16 DocStatus = 0; // -1 when the last document start or end reported non-zero
    qint32 CallResult = 0;
    qint16 ImageWidth = 0;  // dots of the last picture downloaded, a multiple of 8
    qint16 ImageHeight = 0; // likewise
};

} // namespace Commands

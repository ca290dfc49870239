#pragma once

#include <QString>

namespace Commands {

// The texts the printer commands show, as users and their manuals know them.
inline QString failToOpenPortText()
{
    return QStringLiteral("Fail to open port,please check!");
}

inline QString failToSendText()
{
    return QStringLiteral("Fail to send to printer,please check!");
}

inline QString graphSizeOutOfRangeText()
{
    return QStringLiteral("Graph size out of range!");
}

inline QString waitUntilResetText()
{
    return QStringLiteral("Wait until printer reset.");
}

inline QString unexpectedErrorText()
{
    return QStringLiteral("Unexpect error!");
}

inline QString errorCaption()
{
    return QStringLiteral("error");
}

inline QString infoCaption()
{
    return QStringLiteral("info");
}

} // namespace Commands

#pragma once

#include <QLocale>
#include <QString>

#include <chrono>

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

// A time as seconds with one decimal, "2.5".
inline QString secondsText(std::chrono::milliseconds time)
{
    return QString::number(double(time.count()) / 1000.0, 'f', 1);
}

// A count of bytes with thousands grouped, "21,892".
inline QString bytesText(qint64 bytes)
{
    return QLocale(QLocale::English).toString(bytes);
}

} // namespace Commands

#pragma once

#include <printer/poslibrary.h>

#include <QLibrary>
#include <QStringList>

#include <cstdint>

// The recording stand-in printer library, loaded the way the program loads the real one,
// plus access to what it recorded.
class RecordingLibrary
{
public:
    explicit RecordingLibrary(const QString &fileName)
        : library(fileName)
        , m_control(fileName)
    {
        reset();
    }

    Printer::PosLibrary library;

    void reset() { call<void (*)()>("REC_Reset")(); }
    void setOpenResult(std::int32_t r) { call<void (*)(std::int32_t)>("REC_SetOpenResult")(r); }
    void setWriteResult(std::int32_t r) { call<void (*)(std::int32_t)>("REC_SetWriteResult")(r); }
    void setDocResult(std::int32_t r) { call<void (*)(std::int32_t)>("REC_SetDocResult")(r); }

    // One entry per call, e.g. POS_Open("COM3",115200,8,0,0,1).
    QStringList calls()
    {
        const QString log = QString::fromUtf8(call<const char *(*)()>("REC_Log")());
        return log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    template<typename Fn>
    Fn call(const char *symbol)
    {
        auto fn = reinterpret_cast<Fn>(m_control.resolve(symbol));
        if (!fn)
            qFatal("recording library: %s: %s", symbol, qPrintable(m_control.errorString()));
        return fn;
    }

    QLibrary m_control;
};

#pragma once

#include <QByteArray>
#include <QLibrary>
#include <QString>

#include <cstdint>
#include <stdexcept>

namespace Printer {

// Raised when the printer library or one of its entry points cannot be loaded.
class PrinterLibraryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The printer library, loaded by file name on first use. Each entry point is looked
// up by name the first time it is called and kept from then on.
class PosLibrary
{
public:
    explicit PosLibrary(const QString &fileName);
    ~PosLibrary();

    PosLibrary(const PosLibrary &) = delete;
    PosLibrary &operator=(const PosLibrary &) = delete;

    QString fileName() const { return m_library.fileName(); }

    // The library's own file, next to the program in the build tree and in the
    // installed tree alike.
    static QString defaultFileName();

    std::int32_t POS_Open(const QByteArray &name,
                          std::int32_t baudRate,
                          std::int32_t dataBits,
                          std::int32_t parity,
                          std::int32_t stopBits,
                          std::int32_t openMode);
    std::int32_t POS_StartDoc();
    std::int32_t POS_WriteFile(std::int32_t handle, const char *data, std::int32_t count);
    std::int32_t POS_EndDoc();
    std::int32_t POS_Close();

    // The two optional entry points; a library without them works all the same, so neither
    // throws.
    using ProgressFn = std::int32_t (*)(std::int64_t moved, std::int64_t total, void *context);
    // Why the last call made on this thread failed; empty when it did not, or when the library
    // cannot tell.
    QString lastErrorText();
    // Sets, for this thread, the function that POS_WriteFile calls with the bytes that moved
    // so far; it returns non-zero to stop the write. A null callback removes it. False when the
    // library has no progress reports.
    bool setProgressCallback(ProgressFn callback, void *context);

private:
    using OpenFn = std::int32_t (*)(
            const char *, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t);
    using DocFn = std::int32_t (*)();
    using WriteFn = std::int32_t (*)(std::int32_t, const char *, std::int32_t);

    using LastErrorFn = std::int32_t (*)(char *, std::int32_t);
    using SetProgressFn = void (*)(ProgressFn, void *);

    template<typename Fn>
    Fn resolve(Fn &slot, const char *symbol);
    // nullptr when the library cannot be loaded or lacks the entry point.
    template<typename Fn>
    Fn resolveOptional(Fn &slot, bool &looked, const char *symbol);

    QLibrary m_library;
    OpenFn m_open = nullptr;
    DocFn m_startDoc = nullptr;
    WriteFn m_writeFile = nullptr;
    DocFn m_endDoc = nullptr;
    DocFn m_close = nullptr;
    LastErrorFn m_lastError = nullptr;
    SetProgressFn m_setProgress = nullptr;
    bool m_lookedForLastError = false;
    bool m_lookedForSetProgress = false;
};

} // namespace Printer

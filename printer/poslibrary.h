#pragma once

#include "failure.h"

#include <printer/nvpos/nvpos.h>

#include <QByteArray>
#include <QLibrary>
#include <QString>

#include <cstdint>
#include <mutex>
#include <stdexcept>

namespace Printer {

// Raised when the printer library or one of its entry points cannot be loaded.
class PrinterLibraryError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The printer library, loaded by file name on first use, when every entry point is looked up
// once and kept from then on. Safe to use from several threads at once. The five POS_ calls
// throw PrinterLibraryError when the library cannot be loaded or lacks them; the NVPOS_ ones
// are optional and never throw: an older library without them works all the same.
// The NVPOS_ constants come with <printer/nvpos/nvpos.h>.
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

    // Up to size bytes the printer sent, waiting at most timeoutMs; 0 when nothing came in
    // time, or a negative NVPOS_ERR_ value. A library without reads returns
    // NVPOS_ERR_UNSUPPORTED, and lastFailure() then says that the library cannot read.
    std::int32_t
    NVPOS_Read(std::int32_t handle, char *buffer, std::int32_t size, std::int32_t timeoutMs);
    // NVPOS_CAN_READ and NVPOS_FRAMES_DOCUMENTS of the connection; 0 from a library without the
    // call (it cannot read, and whether it frames documents is unknowable).
    std::int32_t NVPOS_Capabilities(std::int32_t handle);
    // The handle-taking forms; a library without them gets the calls on the connection opened
    // last (POS_StartDoc, POS_EndDoc, POS_Close), which may throw as those do.
    std::int32_t NVPOS_StartDoc(std::int32_t handle);
    std::int32_t NVPOS_EndDoc(std::int32_t handle);
    std::int32_t NVPOS_Close(std::int32_t handle);
    // (major << 16) | minor of the loaded library; 0 when it does not say (or cannot be loaded).
    std::int32_t NVPOS_Version();

    // The last failure of a call on this thread: its kind (Io when the library cannot tell) and
    // lastErrorText().
    Failure lastFailure();

private:
    using OpenFn = std::int32_t (*)(
            const char *, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t);
    using DocFn = std::int32_t (*)();
    using WriteFn = std::int32_t (*)(std::int32_t, const char *, std::int32_t);

    using LastErrorFn = std::int32_t (*)(char *, std::int32_t);
    using SetProgressFn = void (*)(ProgressFn, void *);
    using ReadFn = std::int32_t (*)(std::int32_t, char *, std::int32_t, std::int32_t);
    using HandleFn = std::int32_t (*)(std::int32_t);
    using CountFn = std::int32_t (*)();

    // Loads the library and looks up every entry point, once.
    void load();
    // The entry point, or PrinterLibraryError when it cannot be had.
    template<typename Fn>
    Fn required(Fn slot, const char *symbol);

    QLibrary m_library;
    std::once_flag m_loaded;
    QString m_loadError; // empty once the library is loaded
    OpenFn m_open = nullptr;
    DocFn m_startDoc = nullptr;
    WriteFn m_writeFile = nullptr;
    DocFn m_endDoc = nullptr;
    DocFn m_close = nullptr;
    LastErrorFn m_lastError = nullptr;
    SetProgressFn m_setProgress = nullptr;
    CountFn m_lastErrorKind = nullptr;
    ReadFn m_read = nullptr;
    HandleFn m_capabilities = nullptr;
    HandleFn m_startDocOf = nullptr;
    HandleFn m_endDocOf = nullptr;
    HandleFn m_closeOf = nullptr;
    CountFn m_version = nullptr;
};

} // namespace Printer

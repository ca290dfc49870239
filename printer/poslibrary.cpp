#include "poslibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <optional>
#include <type_traits>

namespace Printer {

namespace {

// A reason is a sentence; a library that claims more is not believed.
constexpr qsizetype MaxReasonLength = 64 * 1024;

// A failure this side of the library made up (a call the library does not have), which
// stands for the thread's last failure until its next call.
thread_local std::optional<Failure> t_ownFailure;

FailureKind kindOf(std::int32_t kind)
{
    switch (kind) {
    case NVPOS_KIND_NONE:
        return FailureKind::None;
    case NVPOS_KIND_NOT_FOUND:
        return FailureKind::NotFound;
    case NVPOS_KIND_PERMISSION:
        return FailureKind::Permission;
    case NVPOS_KIND_BUSY:
        return FailureKind::Busy;
    case NVPOS_KIND_TIMEOUT:
        return FailureKind::Timeout;
    case NVPOS_KIND_REFUSED:
        return FailureKind::Refused;
    case NVPOS_KIND_CANCELLED:
        return FailureKind::Cancelled;
    case NVPOS_KIND_UNSUPPORTED:
        return FailureKind::Unsupported;
    default:
        return FailureKind::Io;
    }
}

} // namespace

PosLibrary::PosLibrary(const QString &fileName)
    : m_library(fileName)
{}

// The library stays loaded until the process ends: unloading while a
// connection might still be open would leave its descriptors dangling.
PosLibrary::~PosLibrary() = default;

QString PosLibrary::defaultFileName()
{
    const QString dir = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                        + QStringLiteral(NVLOGO_LIBDIR_FROM_BINDIR);
    return QDir::cleanPath(dir + QLatin1Char('/') + QStringLiteral(NVPOS_LIBRARY_FILE_NAME));
}

void PosLibrary::load()
{
    std::call_once(m_loaded, [this] {
        if (!m_library.isLoaded() && !m_library.load()) {
            m_loadError = m_library.errorString();
            if (m_loadError.isEmpty())
                m_loadError = QStringLiteral("unknown error");
            return;
        }
        const auto look = [this](auto &slot, const char *symbol) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
                    m_library.resolve(symbol));
        };
        look(m_open, "POS_Open");
        look(m_startDoc, "POS_StartDoc");
        look(m_writeFile, "POS_WriteFile");
        look(m_endDoc, "POS_EndDoc");
        look(m_close, "POS_Close");
        look(m_lastError, "NVPOS_LastError");
        look(m_setProgress, "NVPOS_SetProgressCallback");
        look(m_lastErrorKind, "NVPOS_LastErrorKind");
        look(m_read, "NVPOS_Read");
        look(m_capabilities, "NVPOS_Capabilities");
        look(m_startDocOf, "NVPOS_StartDoc");
        look(m_endDocOf, "NVPOS_EndDoc");
        look(m_closeOf, "NVPOS_Close");
        look(m_version, "NVPOS_Version");
    });
}

template<typename Fn>
Fn PosLibrary::required(Fn slot, const char *symbol)
{
    if (!m_loadError.isEmpty()) {
        throw PrinterLibraryError(QCoreApplication::translate(
                                          "Printer", "The printer library could not be loaded: %1")
                                          .arg(m_loadError)
                                          .toStdString());
    }
    if (!slot) {
        throw PrinterLibraryError(
                QCoreApplication::translate("Printer",
                                            "The printer library %1 has no entry point %2.")
                        .arg(QDir::toNativeSeparators(m_library.fileName()), QLatin1String(symbol))
                        .toStdString());
    }
    return slot;
}

std::int32_t PosLibrary::POS_Open(const QByteArray &name,
                                  std::int32_t baudRate,
                                  std::int32_t dataBits,
                                  std::int32_t parity,
                                  std::int32_t stopBits,
                                  std::int32_t openMode)
{
    load();
    t_ownFailure.reset();
    // The callee gets its own NUL-terminated copy, valid for this call only.
    const QByteArray copy(name.constData(), name.size());
    return required(m_open,
                    "POS_Open")(copy.constData(), baudRate, dataBits, parity, stopBits, openMode);
}

std::int32_t PosLibrary::POS_StartDoc()
{
    load();
    t_ownFailure.reset();
    return required(m_startDoc, "POS_StartDoc")();
}

std::int32_t PosLibrary::POS_WriteFile(std::int32_t handle, const char *data, std::int32_t count)
{
    load();
    t_ownFailure.reset();
    return required(m_writeFile, "POS_WriteFile")(handle, data, count);
}

std::int32_t PosLibrary::POS_EndDoc()
{
    load();
    t_ownFailure.reset();
    return required(m_endDoc, "POS_EndDoc")();
}

std::int32_t PosLibrary::POS_Close()
{
    load();
    t_ownFailure.reset();
    return required(m_close, "POS_Close")();
}

QString PosLibrary::lastErrorText()
{
    load();
    if (t_ownFailure)
        return t_ownFailure->reason;
    if (!m_lastError)
        return {};
    // Asked twice: once for the length, once for the text; the reason is the calling
    // thread's own, so it cannot change in between.
    const std::int32_t length = m_lastError(nullptr, 0);
    if (length <= 0)
        return {};
    QByteArray text(qMin<qsizetype>(length, MaxReasonLength) + 1, '\0');
    m_lastError(text.data(), static_cast<std::int32_t>(text.size()));
    text.truncate(static_cast<qsizetype>(qstrlen(text.constData())));
    return QString::fromUtf8(text);
}

bool PosLibrary::setProgressCallback(ProgressFn callback, void *context)
{
    load();
    if (!m_setProgress)
        return false;
    m_setProgress(callback, context);
    return true;
}

std::int32_t
PosLibrary::NVPOS_Read(std::int32_t handle, char *buffer, std::int32_t size, std::int32_t timeoutMs)
{
    load();
    t_ownFailure.reset();
    if (!m_read) {
        t_ownFailure
                = Failure{FailureKind::Unsupported,
                          QCoreApplication::translate(
                                  "Printer", "The printer library %1 cannot read from printers.")
                                  .arg(QDir::toNativeSeparators(m_library.fileName()))};
        return NVPOS_ERR_UNSUPPORTED;
    }
    return m_read(handle, buffer, size, timeoutMs);
}

std::int32_t PosLibrary::NVPOS_Capabilities(std::int32_t handle)
{
    load();
    t_ownFailure.reset();
    return m_capabilities ? m_capabilities(handle) : 0;
}

std::int32_t PosLibrary::NVPOS_StartDoc(std::int32_t handle)
{
    load();
    t_ownFailure.reset();
    return m_startDocOf ? m_startDocOf(handle) : POS_StartDoc();
}

std::int32_t PosLibrary::NVPOS_EndDoc(std::int32_t handle)
{
    load();
    t_ownFailure.reset();
    return m_endDocOf ? m_endDocOf(handle) : POS_EndDoc();
}

std::int32_t PosLibrary::NVPOS_Close(std::int32_t handle)
{
    load();
    t_ownFailure.reset();
    return m_closeOf ? m_closeOf(handle) : POS_Close();
}

std::int32_t PosLibrary::NVPOS_Version()
{
    load();
    return m_version ? m_version() : 0;
}

Failure PosLibrary::lastFailure()
{
    load();
    if (t_ownFailure)
        return *t_ownFailure;
    Failure failure;
    failure.reason = lastErrorText();
    if (m_lastErrorKind)
        failure.kind = kindOf(m_lastErrorKind());
    return failure;
}

} // namespace Printer

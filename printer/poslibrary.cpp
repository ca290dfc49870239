#include "poslibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Printer {

namespace {

// A reason is a sentence; a library that claims more is not believed.
constexpr qsizetype MaxReasonLength = 64 * 1024;

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
    return QDir::cleanPath(dir + QStringLiteral("/libnvpos.so"));
}

template<typename Fn>
Fn PosLibrary::resolve(Fn &slot, const char *symbol)
{
    if (slot)
        return slot;
    if (!m_library.isLoaded() && !m_library.load()) {
        throw PrinterLibraryError(QCoreApplication::translate(
                                          "Printer", "The printer library could not be loaded: %1")
                                          .arg(m_library.errorString())
                                          .toStdString());
    }
    slot = reinterpret_cast<Fn>(m_library.resolve(symbol));
    if (!slot) {
        throw PrinterLibraryError(
                QCoreApplication::translate("Printer",
                                            "The printer library %1 has no entry point %2.")
                        .arg(QDir::toNativeSeparators(m_library.fileName()), QLatin1String(symbol))
                        .toStdString());
    }
    return slot;
}

template<typename Fn>
Fn PosLibrary::resolveOptional(Fn &slot, bool &looked, const char *symbol)
{
    if (!looked) {
        looked = true;
        if (m_library.isLoaded() || m_library.load())
            slot = reinterpret_cast<Fn>(m_library.resolve(symbol));
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
    // The callee gets its own NUL-terminated copy, valid for this call only.
    const QByteArray copy(name.constData(), name.size());
    return resolve(m_open,
                   "POS_Open")(copy.constData(), baudRate, dataBits, parity, stopBits, openMode);
}

std::int32_t PosLibrary::POS_StartDoc()
{
    return resolve(m_startDoc, "POS_StartDoc")();
}

std::int32_t PosLibrary::POS_WriteFile(std::int32_t handle, const char *data, std::int32_t count)
{
    return resolve(m_writeFile, "POS_WriteFile")(handle, data, count);
}

std::int32_t PosLibrary::POS_EndDoc()
{
    return resolve(m_endDoc, "POS_EndDoc")();
}

std::int32_t PosLibrary::POS_Close()
{
    return resolve(m_close, "POS_Close")();
}

QString PosLibrary::lastErrorText()
{
    const LastErrorFn lastError
            = resolveOptional(m_lastError, m_lookedForLastError, "NVPOS_LastError");
    if (!lastError)
        return {};
    // Asked twice: once for the length, once for the text; the reason is the calling
    // thread's own, so it cannot change in between.
    const std::int32_t length = lastError(nullptr, 0);
    if (length <= 0)
        return {};
    QByteArray text(qMin<qsizetype>(length, MaxReasonLength) + 1, '\0');
    lastError(text.data(), static_cast<std::int32_t>(text.size()));
    text.truncate(static_cast<qsizetype>(qstrlen(text.constData())));
    return QString::fromUtf8(text);
}

bool PosLibrary::setProgressCallback(ProgressFn callback, void *context)
{
    const SetProgressFn setProgress
            = resolveOptional(m_setProgress, m_lookedForSetProgress, "NVPOS_SetProgressCallback");
    if (!setProgress)
        return false;
    setProgress(callback, context);
    return true;
}

} // namespace Printer

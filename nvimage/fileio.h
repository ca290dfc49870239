#pragma once

#include "stopcheck.h"

#include <QByteArray>
#include <QString>

namespace NvImage {

// The library's file access, behind one header with one file per platform
// (fileio_<platform>.cpp), chosen by the build. Only regular files are ever opened for
// reading: opening a FIFO or a device may block for ever.

// What the file system says about a path, found without opening it.
struct FileStatus
{
    enum Kind { Regular, Folder, Other, Unreachable };
    Kind kind = Unreachable;
    int error = 0;   // the system's error number when Unreachable
    qint64 size = 0; // bytes, for a regular file

    // The system's reason for error, such as "Permission denied".
    QString reason() const;
    // Unreachable because nothing has that name, or a part of the path is no folder.
    bool missing() const;
};

FileStatus fileStatus(const QString &path);

// Whether path is a regular file that can be opened for reading. Never throws.
bool canOpenRegularFile(const QString &path) noexcept;

// A regular file's content at one moment.
struct FileContent
{
    enum Outcome {
        Read,       // bytes holds the whole file
        NotOpened,  // status says why: a folder, not a regular file, or out of reach
        TooLarge,   // size: the bytes found on disk, or read so far, beyond the limit
        ReadFailed, // reason: the system's
        Changed,    // the file changed while it was read
        Stopped,    // the stop check asked to stop
    };
    Outcome outcome = NotOpened;
    FileStatus status;
    qint64 size = 0;
    QString reason;
    QByteArray bytes;
};

// Reads the regular file at path whole, when it holds at most maxBytes. The file is read
// once; its size and times before and after, and a second read, show that no write changed
// it meanwhile. stop is asked between pieces of a few megabytes.
FileContent readRegularFile(const QString &path, qint64 maxBytes, const StopCheck &stop = {});

// A file with no name, in a folder: nobody else can open it, and the system frees it when it
// is closed or the process ends, however it ends (killed too), so nothing is ever left
// behind. Written front to back, then read back whole.
class AnonymousFile
{
public:
    AnonymousFile() = default;
    ~AnonymousFile();
    AnonymousFile(const AnonymousFile &) = delete;
    AnonymousFile &operator=(const AnonymousFile &) = delete;

    // Makes a new, empty file in folder (closing one held before); false with reason().
    bool create(const QString &folder);
    bool isOpen() const { return m_handle >= 0; }
    // Appends size bytes, unbuffered, so that a full disk is reported with the system's
    // reason; false with reason().
    bool write(const char *data, qint64 size);
    // Everything written, from the start; false with reason().
    bool readAll(QByteArray *bytes);
    // Frees the file; harmless when none is held.
    void close();
    // The system's reason for the last failure, such as "No space left on device".
    QString reason() const { return m_reason; }

private:
    int m_handle = -1;
    QString m_reason;
};

} // namespace NvImage

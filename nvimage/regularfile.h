#pragma once

#include <QString>

namespace NvImage {

// What the file system says about a path, found without opening it. Opening a FIFO or a
// device for reading may block for ever, so only regular files are ever opened.
struct FileStatus
{
    enum Kind { Regular, Folder, Other, Unreachable };
    Kind kind = Unreachable;
    int error = 0;   // errno when Unreachable: ENOENT, EACCES, ...
    qint64 size = 0; // bytes, for a regular file

    // The system's reason for error, such as "Permission denied".
    QString reason() const;
    bool missing() const;
};

FileStatus fileStatus(const QString &path);

// Opens path read-only when it is a regular file, without ever waiting on a FIFO or a
// device that was put in its place. The descriptor, or -1 with status telling why.
int openRegularFile(const QString &path, FileStatus *status);

} // namespace NvImage

#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace Cli {

// The folder that preview writes its pictures to as 1.png, 2.png, ... Each picture goes to a
// new file of its own in the folder, which is then renamed to its name: a link or a FIFO that
// someone planted under the name is replaced, never followed or opened, and a picture is there
// whole or not at all.
class PreviewFolder
{
public:
    PreviewFolder() = default;
    ~PreviewFolder();
    PreviewFolder(const PreviewFolder &) = delete;
    PreviewFolder &operator=(const PreviewFolder &) = delete;

    // Opens the folder, making it (and the folders above) when missing, and removes the
    // numbered pictures ([0-9]+.png, files or links) of an earlier run, so that none is left
    // that this run does not write. Other entries are left alone; a folder, FIFO or device
    // under a numbered name refuses the folder before anything is removed. A link as the
    // folder itself is followed only when the user owns it. Returns an empty text, or why the
    // folder cannot be used.
    QString open(const QByteArray &folder);

    // Writes image as a PNG file under name. Returns an empty text, or why it failed.
    QString write(const QString &name, const QImage &image);

private:
    int m_fd = -1;
};

} // namespace Cli

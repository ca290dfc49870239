#pragma once

#include <QString>

#include <stdexcept>

namespace NvImage {

// Every failure of this library. what() is plain English in UTF-8, ready for a message box.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString &message)
        : std::runtime_error(message.toStdString())
    {}

    QString message() const { return QString::fromUtf8(what()); }
};

// A whole-number result outside -32768..32767 where the printer format works in 16 bits.
class OverflowError : public Error
{
public:
    using Error::Error;
};

// A picture file that cannot be used: missing, unreadable, not a BMP/JPEG/GIF picture,
// incomplete, or too large to decode.
class PictureError : public Error
{
public:
    PictureError(const QString &fileName, const QString &message)
        : Error(message)
        , m_fileName(fileName)
    {}

    QString fileName() const { return m_fileName; }

private:
    QString m_fileName;
};

// A picture larger than one NV bit image may be (FS q voids such a definition).
class PictureTooLargeError : public PictureError
{
public:
    using PictureError::PictureError;
};

// None, or more pictures than the count byte of FS q can hold.
class PictureCountError : public Error
{
public:
    using Error::Error;
};

// The pictures' definition needs more NV memory than the printer has. A printer with too
// little memory ignores FS q and prints the rest of the stream as text.
class NvCapacityError : public Error
{
public:
    NvCapacityError(qint64 dataSize, qint64 capacity)
        : Error(QStringLiteral("The pictures need %1 bytes of the printer's NV memory, but it "
                               "holds only %2 bytes.")
                        .arg(dataSize)
                        .arg(capacity))
        , m_dataSize(dataSize)
        , m_capacity(capacity)
    {}

    qint64 dataSize() const { return m_dataSize; }
    qint64 capacity() const { return m_capacity; }

private:
    qint64 m_dataSize;
    qint64 m_capacity;
};

// The work was stopped because its caller asked (a StopCheck answered true): not a failure of
// any picture or file. What was half done is undone as on any failure.
class StoppedError : public Error
{
public:
    StoppedError()
        : Error(QStringLiteral("Stopped before the pictures were ready."))
    {}
};

// The scratch file cannot be created, written or read back.
class ScratchFileError : public Error
{
public:
    using Error::Error;
};

} // namespace NvImage

#pragma once

// Conversations about NV graphics, the graphics a printer stores by two-character key: how
// much memory is left, which keys it holds, storing one graphic and checking that it is
// there, deleting and printing.

#include "printerlink.h"

#include <escpos/dotimage.h>
#include <nvimage/picturewarnings.h>
#include <nvimage/preparation.h>
#include <nvimage/stopcheck.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>

namespace Commands {

// The picture as a graphic stores it: prepared, its own width and height in dots, no
// padding; what it deserves a warning for (against the preparation's paper) in warnings,
// when given. Throws NvImage::Error (a picture that cannot be used, or a stop).
EscPos::DotImage graphicDots(const QString &picture,
                             const NvImage::Preparation &preparation,
                             const NvImage::StopCheck &stop = NvImage::StopCheck(),
                             QList<NvImage::PreviewWarning> *warnings = nullptr);

// The key list walks at most this many blocks (every printable key fits into fewer), and
// asks for one block again at most this many times.
constexpr int MaxKeyBlocks = 256;
constexpr int MaxBlockRetries = 2;

// Each waits at most timeout for the answer. They fail (kind Unsupported) on a connection
// that cannot hear the printer, (kind Timeout) when no answer came and (kind Io) when the
// answer is not the one asked for.
Printer::Result<qint64> askGraphicsCapacity(PrinterLink &link,
                                            std::chrono::milliseconds timeout,
                                            const Progress *stop = nullptr);
Printer::Result<qint64> askGraphicsRemaining(PrinterLink &link,
                                             std::chrono::milliseconds timeout,
                                             const Progress *stop = nullptr);

// The NV graphics memory: the total and what is free of it.
struct GraphicsMemory
{
    qint64 capacity = 0;
    qint64 remaining = 0;
};
// Both figures; a printer that reports more free memory than it has gave no valid answer
// (kind Io).
Printer::Result<GraphicsMemory> askGraphicsMemory(PrinterLink &link,
                                                  std::chrono::milliseconds timeout,
                                                  const Progress *stop = nullptr);
// All the keys, block by block: ACK for the next block, NAK to have a damaged or missing one
// sent again, CAN to end a list that does not end.
Printer::Result<QList<QByteArray>> askGraphicsKeys(PrinterLink &link,
                                                   std::chrono::milliseconds timeout,
                                                   const Progress *stop = nullptr);

enum class DefineResult {
    Stored,     // the printer lists the key afterwards
    Refused,    // it has too little memory left: nothing was sent
    Unconfirmed // sent, but the printer did not list the key, or could not be asked
};

struct DefinedGraphic
{
    DefineResult result = DefineResult::Unconfirmed;
    qint64 needed = 0;     // the define's dot bytes
    qint64 remaining = -1; // free bytes before a refusal, after a stored graphic; -1: unknown
    QString reason;        // why it is not Stored; a refusal says when the key is stored already
};

// A define command, built once for every printer it goes to, and its dot bytes.
struct GraphicDefine
{
    QByteArray key;
    QByteArray command; // EscPos::nvGraphicsDefine
    qint64 needed = 0;  // EscPos::nvGraphicsDataSize
    int width = 0;      // in dots
    int height = 0;

    // Throws EscPos::LimitError for a key or size a graphic cannot have.
    static GraphicDefine of(const QByteArray &key, const EscPos::DotImage &dots);
};

// Asks the memory, refuses a graphic whose dot bytes exceed what is free before sending any
// of it, sends the define in one write and asks the key list (and the free memory again) to
// see it stored. On a connection that cannot hear the printer it sends without asking and
// reports Unconfirmed. Fails when the printer does not answer the first question (nothing
// sent) or the connection breaks.
Printer::Result<DefinedGraphic> defineGraphic(PrinterLink &link,
                                              const GraphicDefine &define,
                                              std::chrono::milliseconds timeout,
                                              Progress *progress = nullptr);

// What a delete left: whether the key list confirms it, and why not.
struct DeletedGraphic
{
    bool confirmed = false;
    QString reason; // why it is not confirmed
};

// Deletes the graphic of key, or every graphic when key is empty, and asks the key list to
// see it gone (the printer does not answer a delete). Fails when the connection breaks.
Printer::Result<DeletedGraphic> deleteGraphic(PrinterLink &link,
                                              const QByteArray &key,
                                              std::chrono::milliseconds timeout,
                                              Progress *progress = nullptr);

// fn 69 at the scale, then the cut GS V 66 0, as a print-out of an NV image ends.
QByteArray printGraphicBytes(const QByteArray &key, int scaleX, int scaleY);

// The key as the user reads it; the bytes are printable ASCII.
inline QString keyText(const QByteArray &key)
{
    return QString::fromLatin1(key);
}

} // namespace Commands

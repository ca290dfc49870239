#pragma once

#include "userinterface.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>

namespace Printer {
class PosLibrary;
struct PortSettings;
} // namespace Printer

namespace Commands {

class PrinterLink;
struct CommandState;

// A number that does not fit where it has to go.
class ByteOverflowError : public std::overflow_error
{
public:
    using std::overflow_error::overflow_error;
};

// The number at the start of a text (leading blanks skipped), 0 when there is none.
double leadingNumber(const QString &text);

// Rounds to the nearest integer, halves to even; outside 0..255 is a ByteOverflowError.
quint8 toByte(double value, const QString &what);

// FS p n m (print NV image n in mode m), then GS V 66 0 (feed to the cutter, partial cut).
// The mode is the position of the size list's selection; any other position prints normal.
QByteArray printOutBytes(const QString &imageNumberText, int modeIndex);

// Sends print-out bytes on the link: opens it, sends them in one write inside a document and
// closes. The outcome has a message when the connection does not open or the write fails; a
// print-out that went through says nothing. Errors of the library (one that cannot be loaded)
// propagate, after the connection was closed if it had opened.
Outcome printOut(PrinterLink &link,
                 const QByteArray &bytes,
                 CommandState &state,
                 Progress *progress = nullptr);

// The window's print-out: builds the bytes (an image number beyond a byte throws before
// anything opens), then printOut on the window's connection, which waits after it opens.
Outcome PrintOut(Printer::PosLibrary &library,
                 const Printer::PortSettings &port,
                 const QString &imageNumberText,
                 int modeIndex,
                 CommandState &state,
                 Progress *progress = nullptr);

} // namespace Commands

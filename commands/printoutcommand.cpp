#include "printoutcommand.h"

#include "commandstate.h"
#include "delivery.h"
#include "printerlink.h"

#include <escpos/commands.h>
#include <printer/portconnection.h>

#include <QCoreApplication>

#include <cmath>
#include <locale>
#include <sstream>

namespace Commands {

namespace {

constexpr int ModeCount = 4; // normal, double width, double height, double

// The white space that reading a number skips before its first digit:
// spaces, tabs and line breaks.
bool isSkippedBeforeNumber(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
           || c == QLatin1Char('\r');
}

} // namespace

double leadingNumber(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isSkippedBeforeNumber(text.at(i)))
        ++i;

    QByteArray number;
    auto digits = [&] {
        qsizetype count = 0;
        while (i < n && text.at(i).isDigit() && text.at(i).unicode() < 128) {
            number.append(char(text.at(i).unicode()));
            ++i;
            ++count;
        }
        return count;
    };

    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        number.append(char(text.at(i++).unicode()));
    qsizetype mantissaDigits = digits();
    if (i < n && text.at(i) == QLatin1Char('.')) {
        number.append('.');
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0)
        return 0.0;

    // An exponent counts only when digits follow it.
    if (i < n && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        const qsizetype mark = i;
        const qsizetype kept = number.size();
        number.append('e');
        ++i;
        if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
            number.append(char(text.at(i++).unicode()));
        if (digits() == 0) {
            number.truncate(kept);
            i = mark;
        }
    }
    // Parsed in the C locale, whatever the user's locale says about decimal points. A
    // number too large for a double reads as the largest double, which fits nowhere.
    std::istringstream in(number.toStdString());
    in.imbue(std::locale::classic());
    double value = 0.0;
    in >> value;
    return value;
}

quint8 toByte(double value, const QString &what)
{
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    const double rounded = std::isfinite(value) ? std::nearbyint(value) : value;
    if (!(rounded >= 0.0 && rounded <= 255.0)) {
        throw ByteOverflowError(
                QCoreApplication::translate("App", "Overflow: %1 does not fit in 0 to 255.")
                        .arg(what)
                        .toStdString());
    }
    return static_cast<quint8>(rounded);
}

QByteArray printOutBytes(const QString &imageNumberText, int modeIndex)
{
    const quint8 image = toByte(
            leadingNumber(imageNumberText),
            QCoreApplication::translate("App", "the image number \"%1\"").arg(imageNumberText));
    const quint8 mode = modeIndex >= 0 && modeIndex < ModeCount ? quint8(modeIndex) : 0;
    return EscPos::printNvBitImage(image, mode) + EscPos::cutPaper();
}

Outcome
printOut(PrinterLink &link, const QByteArray &bytes, CommandState &state, Progress *progress)
{
    const Outcome printed{Outcome::Kind::Delivered, MessageIcon::None, {}, {}, {}};
    return deliver(link, bytes, {Delivery::Framing::Always, printed, {}}, state, progress);
}

Outcome PrintOut(Printer::PosLibrary &library,
                 const Printer::PortSettings &port,
                 const QString &imageNumberText,
                 int modeIndex,
                 CommandState &state,
                 Progress *progress)
{
    // Complete before the connection opens, so a bad number leaves nothing open.
    const QByteArray bytes = printOutBytes(imageNumberText, modeIndex);
    PrinterLink link(
            library, Printer::Target::fromWindowSettings(port), PrinterLink::Settle::AfterOpen);
    return printOut(link, bytes, state, progress);
}

} // namespace Commands

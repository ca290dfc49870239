#include "terminationsignals.h"

namespace VirtualPrinter::NvlogoPrinter {

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{}

bool TerminationSignals::install()
{
    return true; // the system ends the program on Ctrl+C by itself
}

} // namespace VirtualPrinter::NvlogoPrinter

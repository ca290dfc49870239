#include "pseudoterminal.h"

namespace VirtualPrinter {

struct PseudoTerminal::Private
{};

PseudoTerminal::PseudoTerminal(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{}

PseudoTerminal::~PseudoTerminal() = default;

bool PseudoTerminal::open(QString *error)
{
    if (error)
        *error = QStringLiteral("this system has no pseudo-terminals; use --listen or --input");
    return false;
}

QString PseudoTerminal::slaveName() const
{
    return QString();
}

void PseudoTerminal::write(const QByteArray &) {}

} // namespace VirtualPrinter

#pragma once

#include <QObject>

namespace VirtualPrinter::NvlogoPrinter {

// Turns SIGINT and SIGTERM into a Qt signal, so that the printer can finish what it holds
// (a strip not yet cut) before it exits.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    bool install();

signals:
    void terminationRequested();
};

} // namespace VirtualPrinter::NvlogoPrinter

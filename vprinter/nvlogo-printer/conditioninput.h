#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QStringList>

class QSocketNotifier;

namespace VirtualPrinter {
class ReceiptPrinter;
}

namespace VirtualPrinter::NvlogoPrinter {

// The words for the printer's condition, as the options and standard input take them, each
// list in the order of its value: PaperState, the cover (closed, open) and PrinterError.
const QStringList &paperWords();
const QStringList &coverWords();
const QStringList &errorWords();

// Lines on standard input change the printer's condition while it runs, as the sensors would:
// "paper ok|near-end|end", "cover open|closed", "error none|mechanical|autocutter|
// unrecoverable|auto-recoverable". With automatic status back on, the printer sends its block.
class ConditionInput : public QObject
{
    Q_OBJECT

public:
    explicit ConditionInput(ReceiptPrinter *printer, QObject *parent = nullptr);

    // False when standard input cannot be watched; the printer then runs without it.
    bool start();

    static constexpr int MaxLine = 256;

signals:
    void message(const QString &line);

private:
    void readByte();
    void takeLine(const QByteArray &line);

    ReceiptPrinter *m_printer;
    QFile m_input;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_line;
};

} // namespace VirtualPrinter::NvlogoPrinter

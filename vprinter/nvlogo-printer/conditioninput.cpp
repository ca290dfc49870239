#include "conditioninput.h"

#include <vprinter/receiptprinter.h>

#include <QSocketNotifier>
#include <QStringList>

namespace VirtualPrinter::NvlogoPrinter {

ConditionInput::ConditionInput(ReceiptPrinter *printer, QObject *parent)
    : QObject(parent)
    , m_printer(printer)
{}

bool ConditionInput::start()
{
    // By its descriptor (0), not through stdio: a FILE would read ahead into its own buffer,
    // where the notifier cannot see the bytes waiting.
    if (!m_input.open(0, QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    m_notifier = new QSocketNotifier(m_input.handle(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ConditionInput::readByte);
    return true;
}

// One byte per notice: the notice says a byte is there, so the read never waits.
void ConditionInput::readByte()
{
    char byte = 0;
    if (m_input.read(&byte, 1) != 1) {
        // The end of standard input (or an error): nothing more will come.
        m_notifier->setEnabled(false);
        if (!m_line.isEmpty())
            takeLine(m_line);
        m_line.clear();
        return;
    }
    if (byte != '\n') {
        if (m_line.size() < MaxLine)
            m_line.append(byte);
        return;
    }
    takeLine(m_line);
    m_line.clear();
}

const QStringList &paperWords()
{
    static const QStringList words{
            QStringLiteral("ok"), QStringLiteral("near-end"), QStringLiteral("end")};
    return words;
}

const QStringList &coverWords()
{
    static const QStringList words{QStringLiteral("closed"), QStringLiteral("open")};
    return words;
}

const QStringList &errorWords()
{
    static const QStringList words{QStringLiteral("none"),
                                   QStringLiteral("mechanical"),
                                   QStringLiteral("autocutter"),
                                   QStringLiteral("unrecoverable"),
                                   QStringLiteral("auto-recoverable")};
    return words;
}

void ConditionInput::takeLine(const QByteArray &line)
{
    const QStringList words = QString::fromUtf8(line).simplified().split(QLatin1Char(' '));
    if (words.size() == 1 && words.first().isEmpty())
        return;
    const QStringList &papers = paperWords();
    const QStringList &covers = coverWords();
    const QStringList &errors = errorWords();
    const PrinterSettings &now = m_printer->settings();
    const int value = words.size() != 2                         ? -1
                      : words.first() == QLatin1String("paper") ? int(papers.indexOf(words.last()))
                      : words.first() == QLatin1String("cover") ? int(covers.indexOf(words.last()))
                      : words.first() == QLatin1String("error") ? int(errors.indexOf(words.last()))
                                                                : -1;
    if (value < 0) {
        emit message(QStringLiteral("standard input: \"%1\" is not a condition (paper "
                                    "ok|near-end|end, cover open|closed, error %2)")
                             .arg(QString::fromUtf8(line).left(80), errors.join(QLatin1Char('|'))));
        return;
    }
    const QString &what = words.first();
    m_printer->setCondition(what == QLatin1String("paper") ? PaperState(value) : now.paper,
                            what == QLatin1String("cover") ? value == 1 : now.coverOpen,
                            what == QLatin1String("error") ? PrinterError(value) : now.error);
}

} // namespace VirtualPrinter::NvlogoPrinter

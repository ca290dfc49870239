#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace VirtualPrinter {

// A pseudo-terminal that stands in for a printer's serial port. Programs open its slave side
// (slaveName()) as they would a serial port; the bytes they write arrive here unchanged (raw
// mode, no echo, no translation). The master side stays open, so that the slave can be opened
// and closed again and again.
class PseudoTerminal : public QObject
{
    Q_OBJECT

public:
    explicit PseudoTerminal(QObject *parent = nullptr);
    ~PseudoTerminal() override;

    bool open(QString *error);
    QString slaveName() const;
    // Sends bytes to the program on the slave side; dropped when none has it open.
    void write(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);
    // The last program that had the slave side open closed it.
    void hungUp();

private:
    void readSlaveBytes();
    // While the slave is closed: whether a program has opened it again.
    void lookForSlave();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace VirtualPrinter

// The scan and its questions in process: printers on loopback addresses that say different
// models, one address that only accepts, one that answers as no printer, and one that refuses.

#include <tests/support/scriptedpeer.h>

#include <commands/findprinters.h>
#include <printer/poslibrary.h>

#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Commands::FoundPrinter;

namespace {

PeerOptions at(const char *address, quint16 port)
{
    PeerOptions options;
    options.address = address;
    options.port = port;
    return options;
}

// Only the scan: the machine's own devices, queues and announcements are not this test's.
Commands::FindRequest scanOnly(const QString &range)
{
    Commands::FindRequest request;
    request.sources.usb = false;
    request.sources.serial = false;
    request.sources.queues = false;
    request.sources.dnsSd = false;
    request.scan = Printer::parseScanRanges({range}).value();
    request.timeout = 2s;
    return request;
}

const FoundPrinter *foundAt(const Commands::FindResult &result, const QString &ip)
{
    for (const FoundPrinter &printer : result.printers) {
        if (printer.info.target.line() == QStringLiteral("ETHERNET ") + ip)
            return &printer;
    }
    return nullptr;
}

} // namespace

class tst_FindPrinters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aScanAsksEveryAddressThatAccepts();
    void aHostNameIsLookedUpFirst();
    void aStopEndsTheScan();

private:
    Printer::PosLibrary m_library{QStringLiteral(NVPOS_LIBRARY)};
};

void tst_FindPrinters::aScanAsksEveryAddressThatAccepts()
{
    // One port on several loopback addresses; 127.0.0.6 listens on nothing.
    ScriptedPeer first(Scripts::identity("VP-80", "1.07"), at("127.0.0.2", 0));
    const quint16 port = first.port();
    ScriptedPeer second(Scripts::identity("VP-58", "2.00", '\x72'), at("127.0.0.3", port));
    ScriptedPeer third(Scripts::identity("VP-80 II", "3.1"), at("127.0.0.4", port));
    ScriptedPeer silent(Scripts::echo(QByteArray()), at("127.0.0.5", port));
    // Another service: what it says holds no status byte.
    ScriptedPeer chatty(Scripts::echo("HELLO\r\n"), at("127.0.0.7", port));
    Commands::FindRequest request = scanOnly(QStringLiteral("127.0.0.2-7:%1").arg(port));
    QList<Printer::ScanProgress> seen;
    request.scanProgress = [&](const Printer::ScanProgress &now) {
        seen.append(now);
    };

    const Commands::FindResult result = Commands::findPrinters(m_library, request);

    QCOMPARE(result.printers.size(), 5);
    const struct
    {
        const ScriptedPeer &peer;
        const char *model;
        const char *firmware;
        Commands::JobRow::State state;
    } printers[] = {{first, "VP-80", "1.07", Commands::JobRow::State::Done},
                    {second, "VP-58", "2.00", Commands::JobRow::State::NotReady},
                    {third, "VP-80 II", "3.1", Commands::JobRow::State::Done}};
    for (const auto &expected : printers) {
        const FoundPrinter *printer = foundAt(result, expected.peer.ip());
        QVERIFY2(printer, qPrintable(expected.peer.ip()));
        QCOMPARE(printer->info.source, Printer::FoundBy::Scan);
        QCOMPARE(printer->info.model, QLatin1String(expected.model));
        QCOMPARE(printer->info.firmware, QLatin1String(expected.firmware));
        QVERIFY(printer->isPrinter());
        QVERIFY(printer->asked && printer->asked->report);
        QCOMPARE(printer->asked->state, expected.state);
    }
    QCOMPARE(foundAt(result, second.ip())->asked->reason, QStringLiteral("paper out"));

    const FoundPrinter *quiet = foundAt(result, silent.ip());
    QVERIFY(quiet);
    QCOMPARE(quiet->info.note, QStringLiteral("takes raw printing, does not answer"));
    QVERIFY(quiet->isPrinter());
    QVERIFY(quiet->info.model.isEmpty());

    const FoundPrinter *other = foundAt(result, chatty.ip());
    QVERIFY(other);
    QVERIFY(!other->isPrinter());
    QVERIFY2(other->info.note.startsWith(QLatin1String("accepts connections, but does not answer "
                                                       "as an ESC/POS printer")),
             qPrintable(other->info.note));

    QVERIFY(!foundAt(result, QStringLiteral("127.0.0.6:%1").arg(port)));
    QVERIFY2(result.remarks.contains(QStringLiteral("scanned 6 addresses: 5 accepted, 1 refused")),
             qPrintable(result.remarks.join(QLatin1Char('\n'))));
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.constLast().done, 6);
    QCOMPARE(seen.constLast().accepted, 5);
}

void tst_FindPrinters::aHostNameIsLookedUpFirst()
{
    // localhost comes from the hosts file; which of its addresses is tried first is the
    // resolver's choice, and only 127.0.0.1 listens.
    ScriptedPeer printer(Scripts::identity("VP-80", "1.07"), at("127.0.0.1", 0));
    const QString host = QStringLiteral("localhost:%1").arg(printer.port());
    const Commands::FindResult result = Commands::findPrinters(m_library, scanOnly(host));
    const FoundPrinter *found = foundAt(result, host);
    QVERIFY2(found, qPrintable(result.remarks.join(QLatin1Char('\n'))));
    QCOMPARE(found->info.model, QStringLiteral("VP-80"));
    QVERIFY(found->asked && found->asked->report);
}

void tst_FindPrinters::aStopEndsTheScan()
{
    ScriptedPeer printer(Scripts::identity("VP-80", "1.07"), at("127.0.0.2", 0));
    Commands::FindRequest request
            = scanOnly(QStringLiteral("127.0.0.2-200:%1").arg(printer.port()));
    request.stopRequested = [] {
        return true;
    };
    const Commands::FindResult result = Commands::findPrinters(m_library, request);
    QVERIFY(result.printers.isEmpty());
    QCOMPARE(printer.connections(), 0);
    QVERIFY2(result.remarks.contains(QStringLiteral("the scan was stopped before it ended")),
             qPrintable(result.remarks.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(tst_FindPrinters)
#include "tst_findprinters.moc"

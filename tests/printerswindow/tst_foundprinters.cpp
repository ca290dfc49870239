// "Find printers" in process: printers on loopback addresses found by a typed scan range,
// listed and checked as the window shows them, and added to the list once.

#include <tests/support/scriptedpeer.h>

#include <commands/printerlistmodel.h>
#include <printer/poslibrary.h>
#include <printerswindow/finddialog.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using PrintersWindow::FoundPrintersModel;

namespace {

PeerOptions at(const char *address, quint16 port)
{
    PeerOptions options;
    options.address = address;
    options.port = port;
    return options;
}

QString cell(const FoundPrintersModel &model, int row, int column)
{
    return model.data(model.index(row, column)).toString();
}

bool checked(const FoundPrintersModel &model, int row)
{
    return model.data(model.index(row, FoundPrintersModel::TargetColumn), Qt::CheckStateRole)
                   .toInt()
           == Qt::Checked;
}

} // namespace

class tst_FoundPrinters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsChecksAndAddsOnce();
    void aRangeTheParserRefusesStartsNothing();

private:
    Printer::PosLibrary m_library{QStringLiteral(NVPOS_LIBRARY)};
};

void tst_FoundPrinters::listsChecksAndAddsOnce()
{
    ScriptedPeer first(Scripts::identity("VP-80", "1.07"), at("127.0.0.2", 0));
    const quint16 port = first.port();
    ScriptedPeer paperOut(Scripts::identity("VP-58", "2.00", '\x72'), at("127.0.0.3", port));
    // Another service: it accepts, but what it says holds no status byte.
    ScriptedPeer chatty(Scripts::echo("HELLO\r\n"), at("127.0.0.4", port));

    FoundPrintersModel model(m_library);
    Commands::FindRequest request;
    // The machine's own devices, queues and announcements are not this test's.
    request.sources.usb = false;
    request.sources.serial = false;
    request.sources.queues = false;
    request.sources.dnsSd = false;
    request.scan = Printer::parseScanRanges({QStringLiteral("127.0.0.2-4:%1").arg(port)}).value();
    request.timeout = std::chrono::seconds(2);
    QSignalSpy finished(&model, &FoundPrintersModel::finished);
    QSignalSpy progressed(&model, &FoundPrintersModel::progressed);
    QVERIFY(model.find(request));
    QVERIFY(!model.find(request)); // one search at a time
    QVERIFY(finished.wait(60000));
    QVERIFY(!model.isFinding());
    QVERIFY(!progressed.isEmpty());
    QCOMPARE(progressed.last().at(0).toInt(), 3);

    QCOMPARE(model.rowCount(), 3);
    const struct
    {
        const ScriptedPeer &peer;
        const char *model;
        const char *state;
        bool checked;
    } rows[] = {{first, "VP-80", "Ready", true},
                {paperOut, "VP-58", "Not ready: paper out", true},
                {chatty, "", "", false}};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(cell(model, row, FoundPrintersModel::TargetColumn), rows[row].peer.ip());
        QCOMPARE(cell(model, row, FoundPrintersModel::SourceColumn), QStringLiteral("Scan"));
        QCOMPARE(cell(model, row, FoundPrintersModel::ModelColumn), QLatin1String(rows[row].model));
        QCOMPARE(cell(model, row, FoundPrintersModel::StateColumn), QLatin1String(rows[row].state));
        QCOMPARE(checked(model, row), rows[row].checked);
    }
    QVERIFY(cell(model, 2, FoundPrintersModel::NoteColumn)
                    .startsWith(QLatin1String("accepts connections, but does not answer")));

    // The printer out of paper is in the list already: only the first is added.
    Commands::PrinterListModel list(m_library);
    QVERIFY(list.addTarget(model.found().at(1).info.target).ok());
    PrintersWindow::AddedPrinters added = model.addChecked(list);
    QCOMPARE(added.added, QList<Printer::Target>{model.found().at(0).info.target});
    QCOMPARE(added.notAdded.size(), 1);
    QVERIFY2(added.notAdded.constFirst().contains(QLatin1String("in the list already")),
             qPrintable(added.notAdded.constFirst()));
    QCOMPARE(list.rowCount(), 2);
    QCOMPARE(list.entry(1).target, model.found().at(0).info.target);
    // Again: nothing twice.
    added = model.addChecked(list);
    QVERIFY(added.added.isEmpty());
    QCOMPARE(list.rowCount(), 2);

    // Checked by hand, the other service is added too; unchecked, the rest are not.
    QVERIFY(model.setData(model.index(2, 0), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    added = model.addChecked(list);
    QCOMPARE(added.added, QList<Printer::Target>{model.found().at(2).info.target});
    QCOMPARE(list.rowCount(), 3);
}

void tst_FoundPrinters::aRangeTheParserRefusesStartsNothing()
{
    Commands::PrinterListModel list(m_library);
    PrintersWindow::FindPrintersDialog dialog(nullptr, m_library, list);
    dialog.scanBox()->setText(QStringLiteral("127.0.0.2 10.0.0.0/8"));
    dialog.findChild<QPushButton *>(QStringLiteral("find"))->click();
    QVERIFY(!dialog.model().isFinding());
    const QString problem = dialog.findChild<QLabel *>(QStringLiteral("problem"))->text();
    const auto refused = Printer::parseScanRanges({QStringLiteral("10.0.0.0/8")});
    QVERIFY(!refused.ok());
    QVERIFY2(problem.contains(refused.failure().reason), qPrintable(problem));
}

QTEST_MAIN(tst_FoundPrinters)
#include "tst_foundprinters.moc"

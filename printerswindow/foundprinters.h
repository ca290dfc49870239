#pragma once

// The printers "Find printers" found, as a list to check: the local sources as
// nvlogo-cli find reads them, and the addresses the user typed, asked on a thread of the
// model's own.

#include <commands/findprinters.h>

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;

namespace Commands {
class PrinterListModel;
}

namespace PrintersWindow {

// What "Add" did: the printers added, and why the others were not.
struct AddedPrinters
{
    QList<Printer::Target> added;
    QStringList notAdded; // one sentence each
};

class FoundPrintersModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { TargetColumn, SourceColumn, ModelColumn, StateColumn, NoteColumn };
    static constexpr int ColumnCount = 5;

    explicit FoundPrintersModel(Printer::PosLibrary &library, QObject *parent = nullptr);
    // Stops a search under way and waits for it to end.
    ~FoundPrintersModel() override;

    // Empties the list and starts a search; false while one runs. The request's progress and
    // stop are the model's own.
    bool find(Commands::FindRequest request);
    bool isFinding() const { return m_thread != nullptr; }
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }

    const QList<Commands::FoundPrinter> &found() const { return m_found; }
    // The sources that could not be read, the names that did not resolve, the scan's count.
    const QStringList &remarks() const { return m_remarks; }
    bool anyChecked() const;
    // The checked printers, in the list's order; one the list holds already is not added.
    AddedPrinters addChecked(Commands::PrinterListModel &list) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant
    headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // The scan of the typed addresses, now and then.
    void progressed(int done, int total, int accepted);
    // The search ended, stopped or not; the list holds what it found.
    void finished();

private:
    void searchEnded();
    QVariant display(const Commands::FoundPrinter &printer, int column) const;

    Printer::PosLibrary &m_library;
    QThread *m_thread = nullptr;
    std::atomic<bool> m_stop{false};
    std::shared_ptr<Commands::FindResult> m_result;
    QList<Commands::FoundPrinter> m_found;
    QList<bool> m_checked;
    QStringList m_remarks;
};

} // namespace PrintersWindow

#pragma once

// The list of printers behind a window: each printer's state as the poller last heard it,
// how long ago it answered, and what became of the last action on it. Plain model data
// without widgets: the window draws the colours and icons from StateRole.

#include "actionresults.h"
#include "printerdetails.h"
#include "printerstate.h"
#include "statuspoller.h"

#include <printer/result.h>
#include <printer/target.h>

#include <QAbstractTableModel>
#include <QList>

#include <chrono>
#include <memory>
#include <optional>

namespace Commands {

// One printer of the list.
struct PrinterEntry
{
    Printer::Target target;
    QString key;
    PrinterState state = PrinterState::Unknown;
    std::optional<PrinterReport> report; // the last answer, kept while it does not answer
    QString model;                       // from the last answer that named them
    QString firmware;
    QString stateReason; // why it does not answer or cannot hear, in full
    std::optional<Clock::time_point> lastAnswer;
    bool busy = false;     // an action talks to it
    QString result;        // the running or last action, in a few words
    QString resultDetails; // the whole story of it
    std::optional<GraphicsHoldings> holdings;
    QString holdingsReason; // why there are none
    bool detailsAsked = false;
    // NV bit images from the last download made from this program; 0 after an NV graphic
    // was stored (printers erase them then); nothing when unknown.
    std::optional<int> nvImages;
};

class PrinterListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { PrinterColumn, ModelColumn, StateColumn, AnsweredColumn, ResultColumn };
    static constexpr int ColumnCount = 5;
    // The PrinterState of the row, as an int, in every column.
    static constexpr int StateRole = Qt::UserRole + 1;

    explicit PrinterListModel(Printer::PosLibrary &library, QObject *parent = nullptr);
    ~PrinterListModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant
    headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The list. A list that names one printer twice is refused and changes nothing.
    QList<Printer::Target> targets() const;
    Printer::Result<void> setTargets(const QList<Printer::Target> &targets);
    Printer::Result<void> addTarget(const Printer::Target &target);
    void removePrinters(QList<int> rows);
    // A targets file read, or written whole or not at all, in the command line's format.
    Printer::Result<void> load(const QString &fileName);
    Printer::Result<void> save(const QString &fileName);
    // Whether the list changed since it was loaded or saved.
    bool isModified() const { return m_modified; }

    const PrinterEntry &entry(int row) const { return m_entries.at(row); }
    int rowOf(const QString &key) const;

    StatusPoller &poller() { return *m_poller; }

    // An action talks to the printers of the rows: no status question meanwhile.
    void jobStarted(const QList<int> &rows, const QString &activity);
    void jobActivity(const QString &key, const QString &activity);
    // The printer's job ended: its row says how, and the printer is asked again at once.
    void jobEnded(PrinterAction action, const JobRow &row);
    // The rows of a job that ended before their printers' jobs began.
    void jobAbandoned(const QList<int> &rows, const QString &why);

    // Asks the printer's status and NV graphics now (not a print queue's).
    void askDetails(int row, std::chrono::milliseconds timeout);
    void setNvImages(const QString &key, std::optional<int> count);

    // The "last answered" column follows the clock.
    void refreshAges();
    // "now", "3 s ago", "4 min ago", "2 h ago".
    static QString agoText(std::chrono::seconds age);

Q_SIGNALS:
    // The status, holdings or last action of the row changed.
    void entryChanged(int row);

private:
    QVariant display(const PrinterEntry &entry, int column) const;
    QVariant toolTip(const PrinterEntry &entry, int column) const;
    void entryAdded(const Printer::Target &target);
    void changed(int row);
    void statusAnswered(const QString &key, const JobRow &row);
    void detailsAnswered(const QString &key, const PrinterDetails &details);

    std::shared_ptr<PrinterLocks> m_locks;
    StatusPoller *m_poller = nullptr;
    QList<PrinterEntry> m_entries;
    bool m_modified = false;
};

} // namespace Commands

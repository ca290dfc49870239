#include "printerlistmodel.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace Commands {

using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

QString noAnswerYet(const PrinterEntry &entry)
{
    return entry.state == PrinterState::CannotHear ? QStringLiteral("—") : QStringLiteral("never");
}

// Why a print queue is never asked.
QString queueCannotHear(const Printer::Target &target)
{
    return QStringLiteral("%1 is a print queue: it carries nothing back from the printer.")
            .arg(target.display());
}

} // namespace

PrinterListModel::PrinterListModel(Printer::PosLibrary &library, QObject *parent)
    : QAbstractTableModel(parent)
    , m_locks(std::make_shared<PrinterLocks>())
    , m_poller(new StatusPoller(library, m_locks, this))
{
    connect(m_poller, &StatusPoller::answered, this, &PrinterListModel::statusAnswered);
    connect(m_poller, &StatusPoller::detailsAnswered, this, &PrinterListModel::detailsAnswered);
}

PrinterListModel::~PrinterListModel() = default;

int PrinterListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int PrinterListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PrinterListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const PrinterEntry &e = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return display(e, index.column());
    case Qt::ToolTipRole:
        return toolTip(e, index.column());
    case StateRole:
        return int(e.state);
    default:
        return {};
    }
}

QVariant PrinterListModel::display(const PrinterEntry &e, int column) const
{
    switch (column) {
    case PrinterColumn:
        return e.target.display();
    case ModelColumn:
        return e.model;
    case StateColumn:
        return stateName(e.state, e.report ? e.report->status : EscPos::PrinterStatus());
    case AnsweredColumn:
        if (!e.lastAnswer)
            return noAnswerYet(e);
        return agoText(std::chrono::duration_cast<seconds>(Clock::now() - *e.lastAnswer));
    case ResultColumn:
        return e.result;
    default:
        return {};
    }
}

QVariant PrinterListModel::toolTip(const PrinterEntry &e, int column) const
{
    switch (column) {
    case StateColumn:
        if (!e.stateReason.isEmpty())
            return e.stateReason;
        return e.report ? statusWords(*e.report) : QVariant();
    case ResultColumn:
        return e.resultDetails.isEmpty() ? QVariant() : QVariant(e.resultDetails);
    case PrinterColumn:
        return e.target.line();
    default:
        return {};
    }
}

QVariant PrinterListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case PrinterColumn:
        return QStringLiteral("Printer");
    case ModelColumn:
        return QStringLiteral("Model");
    case StateColumn:
        return QStringLiteral("State");
    case AnsweredColumn:
        return QStringLiteral("Last answer");
    case ResultColumn:
        return QStringLiteral("Last action");
    default:
        return {};
    }
}

QList<Printer::Target> PrinterListModel::targets() const
{
    QList<Printer::Target> list;
    for (const PrinterEntry &e : m_entries)
        list.append(e.target);
    return list;
}

void PrinterListModel::entryAdded(const Printer::Target &target)
{
    PrinterEntry entry;
    entry.target = target;
    entry.key = target.key();
    if (target.kind() == Printer::PortKind::Driver) {
        entry.state = PrinterState::CannotHear;
        entry.stateReason = queueCannotHear(target);
    }
    m_entries.append(entry);
    m_poller->add(target);
}

Printer::Result<void> PrinterListModel::setTargets(const QList<Printer::Target> &targets)
{
    if (const Printer::Target *twice = Printer::findTwice(targets))
        return Printer::Failure{Printer::FailureKind::Invalid,
                                QStringLiteral("The list names %1 twice.").arg(twice->display())};
    beginResetModel();
    m_poller->clear();
    m_entries.clear();
    for (const Printer::Target &target : targets)
        entryAdded(target);
    endResetModel();
    m_modified = true;
    return {};
}

Printer::Result<void> PrinterListModel::addTarget(const Printer::Target &target)
{
    if (target.kind() == Printer::PortKind::Unknown)
        return Printer::Failure{Printer::FailureKind::Invalid,
                                QStringLiteral("That is no printer connection.")};
    if (rowOf(target.key()) >= 0)
        return Printer::Failure{Printer::FailureKind::Invalid,
                                QStringLiteral("%1 is in the list already.").arg(target.display())};
    const int row = int(m_entries.size());
    beginInsertRows(QModelIndex(), row, row);
    entryAdded(target);
    endInsertRows();
    m_modified = true;
    return {};
}

void PrinterListModel::removePrinters(QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (const int row : rows) {
        if (row < 0 || row >= m_entries.size())
            continue;
        beginRemoveRows(QModelIndex(), row, row);
        m_poller->remove(m_entries.at(row).key);
        m_entries.removeAt(row);
        endRemoveRows();
        m_modified = true;
    }
}

Printer::Result<void> PrinterListModel::load(const QString &fileName)
{
    const Printer::Result<QList<Printer::Target>> read = Printer::readTargetsFile(fileName);
    if (!read.ok())
        return read.failure();
    if (const Printer::Result<void> set = setTargets(read.value()); !set.ok())
        return Printer::Failure{set.failure().kind,
                                QStringLiteral("%1: %2").arg(fileName, set.failure().reason)};
    m_modified = false;
    return {};
}

Printer::Result<void> PrinterListModel::save(const QString &fileName)
{
    QSaveFile file(fileName);
    const QByteArray text = Printer::targetsText(targets());
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return Printer::Failure{
                Printer::FailureKind::Io,
                QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString())};
    m_modified = false;
    return {};
}

int PrinterListModel::rowOf(const QString &key) const
{
    for (int row = 0; row < m_entries.size(); ++row) {
        if (m_entries.at(row).key == key)
            return row;
    }
    return -1;
}

void PrinterListModel::changed(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
    Q_EMIT entryChanged(row);
}

void PrinterListModel::statusAnswered(const QString &key, const JobRow &row)
{
    const int r = rowOf(key);
    if (r < 0)
        return;
    PrinterEntry &e = m_entries[r];
    e.state = stateOf(row);
    if (row.report) {
        e.report = row.report;
        e.lastAnswer = Clock::now();
        e.model = row.report->model.value_or(e.model);
        e.firmware = row.report->firmware.value_or(e.firmware);
        e.stateReason.clear();
    } else {
        e.stateReason = row.reason;
    }
    changed(r);
}

void PrinterListModel::jobStarted(const QList<int> &rows, const QString &activity)
{
    for (const int row : rows) {
        PrinterEntry &e = m_entries[row];
        e.busy = true;
        e.result = activity;
        e.resultDetails.clear();
        m_poller->hold(e.key);
        changed(row);
    }
}

void PrinterListModel::jobActivity(const QString &key, const QString &activity)
{
    const int row = rowOf(key);
    if (row < 0 || !m_entries.at(row).busy)
        return;
    m_entries[row].result = activity;
    Q_EMIT dataChanged(index(row, ResultColumn), index(row, ResultColumn));
}

void PrinterListModel::jobEnded(PrinterAction action, const JobRow &row)
{
    const int r = rowOf(row.target.key());
    if (r < 0 || !m_entries.at(r).busy)
        return;
    PrinterEntry &e = m_entries[r];
    e.busy = false;
    e.result = resultLine(action, row);
    e.resultDetails = row.reason.isEmpty() ? e.result : row.reason;
    // Printers erase their NV bit images when an NV graphic is defined.
    if (action == PrinterAction::StoreGraphic && row.succeeded())
        e.nvImages = 0;
    m_poller->release(e.key);
    changed(r);
}

void PrinterListModel::jobAbandoned(const QList<int> &rows, const QString &why)
{
    for (const int row : rows) {
        PrinterEntry &e = m_entries[row];
        if (!e.busy)
            continue;
        e.busy = false;
        e.result = QStringLiteral("Nothing sent");
        e.resultDetails = why;
        m_poller->release(e.key);
        changed(row);
    }
}

void PrinterListModel::askDetails(int row, milliseconds timeout)
{
    PrinterEntry &e = m_entries[row];
    if (e.target.kind() == Printer::PortKind::Driver) {
        e.holdingsReason = queueCannotHear(e.target);
        return changed(row);
    }
    e.detailsAsked = true;
    m_poller->askDetails(e.key, timeout);
    changed(row);
}

void PrinterListModel::detailsAnswered(const QString &key, const PrinterDetails &details)
{
    const int r = rowOf(key);
    if (r < 0)
        return;
    PrinterEntry &e = m_entries[r];
    e.detailsAsked = false;
    e.holdings = details.holdings;
    e.holdingsReason = details.holdings ? QString() : details.holdingsReason;
    changed(r);
}

void PrinterListModel::setNvImages(const QString &key, std::optional<int> count)
{
    const int row = rowOf(key);
    if (row < 0)
        return;
    m_entries[row].nvImages = count;
    changed(row);
}

void PrinterListModel::refreshAges()
{
    if (!m_entries.isEmpty())
        Q_EMIT dataChanged(index(0, AnsweredColumn), index(rowCount() - 1, AnsweredColumn));
}

QString PrinterListModel::agoText(seconds age)
{
    const auto s = std::max<seconds::rep>(age.count(), 0);
    if (s < 1)
        return QStringLiteral("now");
    if (s < 120)
        return QStringLiteral("%1 s ago").arg(s);
    if (s < 2 * 3600)
        return QStringLiteral("%1 min ago").arg(s / 60);
    return QStringLiteral("%1 h ago").arg(s / 3600);
}

} // namespace Commands

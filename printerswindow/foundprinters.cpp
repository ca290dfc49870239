#include "foundprinters.h"

#include <commands/printerlistmodel.h>

#include <QMetaObject>
#include <QThread>

namespace PrintersWindow {

namespace {

QString sourceText(Printer::FoundBy source)
{
    switch (source) {
    case Printer::FoundBy::UsbDevice:
        return FoundPrintersModel::tr("USB");
    case Printer::FoundBy::SerialPort:
        return FoundPrintersModel::tr("Serial port");
    case Printer::FoundBy::PrintQueue:
        return FoundPrintersModel::tr("Print queue");
    case Printer::FoundBy::DnsSd:
        return FoundPrintersModel::tr("Announced (DNS-SD)");
    case Printer::FoundBy::Scan:
        break;
    }
    return FoundPrintersModel::tr("Scan");
}

// Only a scanned address is asked; what it said, as the command line's find says it.
QString stateText(const Commands::FoundPrinter &printer)
{
    if (!printer.asked || !printer.asked->report)
        return {};
    if (printer.asked->succeeded())
        return FoundPrintersModel::tr("Ready");
    return FoundPrintersModel::tr("Not ready: %1").arg(printer.asked->reason);
}

QString noteText(const Commands::FoundPrinter &printer)
{
    QStringList notes;
    if (!printer.info.note.isEmpty())
        notes << printer.info.note;
    if (!printer.info.sameAs.isEmpty())
        notes << FoundPrintersModel::tr("the same printer as %1").arg(printer.info.sameAs);
    return notes.join(QStringLiteral("; "));
}

} // namespace

FoundPrintersModel::FoundPrintersModel(Printer::PosLibrary &library, QObject *parent)
    : QAbstractTableModel(parent)
    , m_library(library)
{}

FoundPrintersModel::~FoundPrintersModel()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool FoundPrintersModel::find(Commands::FindRequest request)
{
    if (m_thread)
        return false;
    beginResetModel();
    m_found.clear();
    m_checked.clear();
    m_remarks.clear();
    endResetModel();
    m_stop = false;
    request.stopRequested = [this] {
        return m_stop.load();
    };
    request.scanProgress = [this](const Printer::ScanProgress &now) {
        QMetaObject::invokeMethod(
                this,
                [this, now] { Q_EMIT progressed(now.done, now.total, now.accepted); },
                Qt::QueuedConnection);
    };
    auto result = std::make_shared<Commands::FindResult>();
    m_result = result;
    m_thread = QThread::create([this, request, result] {
        // Nothing may escape a thread: what cannot be read is a remark.
        try {
            *result = Commands::findPrinters(m_library, request);
        } catch (const std::exception &error) {
            result->remarks << QString::fromUtf8(error.what());
        } catch (...) {
            result->remarks << tr("The search failed.");
        }
    });
    connect(m_thread,
            &QThread::finished,
            this,
            &FoundPrintersModel::searchEnded,
            Qt::QueuedConnection);
    m_thread->start();
    return true;
}

void FoundPrintersModel::searchEnded()
{
    QThread *thread = m_thread;
    m_thread = nullptr;
    thread->deleteLater();
    beginResetModel();
    m_found = m_result->printers;
    m_remarks = m_result->remarks;
    m_result.reset();
    for (const Commands::FoundPrinter &printer : std::as_const(m_found))
        m_checked.append(printer.isPrinter() && printer.info.sameAs.isEmpty());
    endResetModel();
    Q_EMIT finished();
}

bool FoundPrintersModel::anyChecked() const
{
    return m_checked.contains(true);
}

AddedPrinters FoundPrintersModel::addChecked(Commands::PrinterListModel &list) const
{
    AddedPrinters added;
    for (qsizetype row = 0; row < m_found.size(); ++row) {
        if (!m_checked.at(row))
            continue;
        const Printer::Target &target = m_found.at(row).info.target;
        const Printer::Result<void> done = list.addTarget(target);
        if (done.ok())
            added.added.append(target);
        else
            added.notAdded.append(done.failure().reason);
    }
    return added;
}

int FoundPrintersModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_found.size());
}

int FoundPrintersModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FoundPrintersModel::display(const Commands::FoundPrinter &printer, int column) const
{
    switch (column) {
    case TargetColumn:
        return printer.info.target.display();
    case SourceColumn:
        return sourceText(printer.info.source);
    case ModelColumn:
        return printer.info.model;
    case StateColumn:
        return stateText(printer);
    case NoteColumn:
        return noteText(printer);
    }
    return {};
}

QVariant FoundPrintersModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_found.size())
        return {};
    const Commands::FoundPrinter &printer = m_found.at(index.row());
    if (role == Qt::DisplayRole)
        return display(printer, index.column());
    if (role == Qt::CheckStateRole && index.column() == TargetColumn)
        return m_checked.at(index.row()) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::ToolTipRole) {
        if (index.column() == TargetColumn) {
            return printer.info.origin.isEmpty()
                           ? printer.info.target.line()
                           : tr("%1\nfound at %2")
                                     .arg(printer.info.target.line(), printer.info.origin);
        }
        return display(printer, index.column());
    }
    return {};
}

bool FoundPrintersModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_found.size() || index.column() != TargetColumn
        || role != Qt::CheckStateRole)
        return false;
    m_checked[index.row()] = value.toInt() == Qt::Checked;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags FoundPrintersModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == TargetColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant FoundPrintersModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TargetColumn:
        return tr("Printer");
    case SourceColumn:
        return tr("Found by");
    case ModelColumn:
        return tr("Model");
    case StateColumn:
        return tr("State");
    case NoteColumn:
        return tr("Note");
    }
    return {};
}

} // namespace PrintersWindow

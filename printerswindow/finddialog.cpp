#include "finddialog.h"

#include <commands/printerlistmodel.h>

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QVBoxLayout>

namespace PrintersWindow {

FindPrintersDialog::FindPrintersDialog(QWidget *parent,
                                       Printer::PosLibrary &library,
                                       Commands::PrinterListModel &list)
    : QDialog(parent)
    , m_list(list)
    , m_model(new FoundPrintersModel(library, this))
{
    setWindowTitle(tr("Find printers"));
    auto column = new QVBoxLayout(this);
    auto intro = new QLabel(tr("Lists the USB printers, the serial ports, the print server's "
                               "queues and the printers that announce themselves on the "
                               "network. Network addresses are tried only when typed here."),
                            this);
    intro->setWordWrap(true);
    column->addWidget(intro);
    column->addLayout(buildScanRow());
    auto progressRow = new QHBoxLayout;
    m_progress = new QProgressBar(this);
    m_stop = new QPushButton(tr("S&top"), this);
    m_stop->setAutoDefault(false);
    progressRow->addWidget(m_progress, 1);
    progressRow->addWidget(m_stop);
    column->addLayout(progressRow);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    column->addWidget(m_status);
    column->addWidget(buildTable(), 1);
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #b71c1c"));
    column->addWidget(m_problem);
    auto buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_add = buttons->addButton(tr("&Add"), QDialogButtonBox::AcceptRole);
    m_add->setAutoDefault(false);
    column->addWidget(buttons);
    m_progress->hide();
    m_stop->hide();
    resize(860, 440);

    connect(m_find, &QPushButton::clicked, this, &FindPrintersDialog::startFinding);
    connect(m_stop, &QPushButton::clicked, this, &FindPrintersDialog::stopFinding);
    connect(buttons, &QDialogButtonBox::accepted, this, &FindPrintersDialog::addChecked);
    connect(buttons, &QDialogButtonBox::rejected, this, &FindPrintersDialog::reject);
    connect(m_model, &FoundPrintersModel::progressed, this, &FindPrintersDialog::showProgress);
    connect(m_model, &FoundPrintersModel::finished, this, &FindPrintersDialog::findingEnded);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &FindPrintersDialog::updateButtons);
    updateButtons();
}

// The addresses to scan, typed, and the button that starts the search.
QHBoxLayout *FindPrintersDialog::buildScanRow()
{
    auto scanRow = new QHBoxLayout;
    auto scanLabel = new QLabel(tr("&Scan:"), this);
    m_scan = new QLineEdit(this);
    m_scan->setObjectName(QStringLiteral("scan"));
    m_scan->setPlaceholderText(tr("optional: 192.168.1.0/24  10.0.0.5-40  host:9100"));
    m_scan->setToolTip(tr("Network addresses to try, separated by spaces: a network "
                          "(192.168.1.0/24), a range (10.0.0.5-10.0.0.40 or 10.0.0.5-40), a "
                          "host name or an IPv6 address, each with :port where a port may "
                          "follow (9100 when none is given). At most %1 addresses.")
                               .arg(Printer::MaxScanAddresses));
    scanLabel->setBuddy(m_scan);
    m_find = new QPushButton(tr("&Find"), this);
    m_find->setObjectName(QStringLiteral("find"));
    m_find->setDefault(true);
    scanRow->addWidget(scanLabel);
    scanRow->addWidget(m_scan, 1);
    scanRow->addWidget(m_find);
    return scanRow;
}

QTableView *FindPrintersDialog::buildTable()
{
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("found"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // One line a printer; the tooltips say all of it.
    m_table->setWordWrap(false);
    const QList<int> widths = {190, 100, 120, 180};
    for (int c = 0; c < widths.size(); ++c)
        m_table->setColumnWidth(c, widths.at(c));
    return m_table;
}

void FindPrintersDialog::startFinding()
{
    if (m_model->isFinding())
        return;
    // Nothing is scanned that the user did not type; a range the parser refuses starts nothing.
    const QStringList texts = m_scan->text().split(QRegularExpression(QStringLiteral("[\\s,;]+")),
                                                   Qt::SkipEmptyParts);
    const auto ranges = Printer::parseScanRanges(texts);
    if (!ranges.ok()) {
        m_problem->setText(tr("Scan: %1.").arg(ranges.failure().reason));
        return;
    }
    m_problem->clear();
    Commands::FindRequest request;
    request.scan = ranges.value();
    m_model->find(request);
    m_progress->setRange(0, 0);
    m_progress->show();
    m_stop->show();
    m_stop->setEnabled(true);
    m_status->setText(texts.isEmpty() ? tr("Looking for printers…")
                                      : tr("Looking for printers, and scanning…"));
    updateButtons();
}

void FindPrintersDialog::showProgress(int done, int total, int accepted)
{
    if (m_model->stopRequested())
        return;
    m_progress->setRange(0, total);
    m_progress->setValue(done);
    m_status->setText(done < total ? tr("Scanning: %1 of %2 addresses, %3 accepted")
                                             .arg(done)
                                             .arg(total)
                                             .arg(accepted)
                                   : tr("Scanned %1 addresses, %2 accepted; asking them…")
                                             .arg(total)
                                             .arg(accepted));
}

void FindPrintersDialog::stopFinding()
{
    if (!m_model->isFinding())
        return;
    m_model->requestStop();
    m_stop->setEnabled(false);
    m_status->setText(tr("Stopping…"));
}

void FindPrintersDialog::findingEnded()
{
    m_progress->hide();
    m_stop->hide();
    QStringList lines;
    lines << (m_model->found().size() == 1 ? tr("1 found.")
                                           : tr("%1 found.").arg(m_model->found().size()));
    if (m_model->stopRequested())
        lines.last() += tr(" Stopped: the list is not complete.");
    lines << m_model->remarks();
    m_status->setText(lines.join(QLatin1Char('\n')));
    updateButtons();
    if (m_closeWhenDone)
        QDialog::reject();
}

void FindPrintersDialog::addChecked()
{
    if (m_model->isFinding())
        return;
    m_added = m_model->addChecked(m_list);
    if (!m_added.added.isEmpty()) {
        accept();
        return;
    }
    m_problem->setText(
            m_added.notAdded.isEmpty()
                    ? tr("Check the printers to add.")
                    : tr("Nothing added: %1").arg(m_added.notAdded.join(QLatin1Char(' '))));
}

void FindPrintersDialog::updateButtons()
{
    const bool finding = m_model->isFinding();
    m_find->setEnabled(!finding);
    m_scan->setEnabled(!finding);
    m_add->setEnabled(!finding && m_model->anyChecked());
}

void FindPrintersDialog::reject()
{
    // The search ends within its timeouts once stopped; the dialog closes then.
    if (m_model->isFinding()) {
        m_closeWhenDone = true;
        stopFinding();
        return;
    }
    QDialog::reject();
}

} // namespace PrintersWindow

#pragma once

#include "foundprinters.h"

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace PrintersWindow {

// "Find printers": the local sources as nvlogo-cli find reads them, and the network addresses
// the user types (the forms of find --scan), each asked for its state. The printers found
// are listed with check boxes, the certain ones checked; "Add" adds the checked ones to the
// list and closes the dialog. The search runs off the dialog's thread, with its progress and
// Stop; closing the dialog stops it first.
class FindPrintersDialog : public QDialog
{
    Q_OBJECT

public:
    FindPrintersDialog(QWidget *parent,
                       Printer::PosLibrary &library,
                       Commands::PrinterListModel &list);

    // What "Add" added; nothing when the dialog was closed without it.
    const AddedPrinters &added() const { return m_added; }
    void reject() override;

    QLineEdit *scanBox() const { return m_scan; }
    FoundPrintersModel &model() { return *m_model; }

private:
    QHBoxLayout *buildScanRow();
    QTableView *buildTable();
    void startFinding();
    void showProgress(int done, int total, int accepted);
    void findingEnded();
    void stopFinding();
    void addChecked();
    void updateButtons();

    Commands::PrinterListModel &m_list;
    FoundPrintersModel *m_model;
    QLineEdit *m_scan;
    QPushButton *m_find;
    QProgressBar *m_progress;
    QPushButton *m_stop;
    QLabel *m_status;
    QTableView *m_table;
    QLabel *m_problem;
    QPushButton *m_add;
    AddedPrinters m_added;
    bool m_closeWhenDone = false;
};

} // namespace PrintersWindow

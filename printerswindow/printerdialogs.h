#pragma once

// The window's own dialogs: a printer to add, a test print, a graphic to delete and the
// settings (a logo to store: storelogodialog.h; printers to find: finddialog.h).

#include "dialogs.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace PrintersWindow {

// A printer by the main window's settings: the port (its kind), the address of a network
// printer, the queue of a print server, the speed of a serial line. OK keeps the dialog open
// and says why while they name no printer that a targets file can hold.
class AddPrinterDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddPrinterDialog(QWidget *parent);

    Printer::Target target() const { return m_target; }
    void accept() override;

    QComboBox *portBox() const { return m_port; }
    QLineEdit *addressBox() const { return m_address; }
    QComboBox *queueBox() const { return m_queue; }
    QComboBox *baudBox() const { return m_baud; }

private:
    void applyKind();
    void listQueues();

    QComboBox *m_port;
    QLineEdit *m_address;
    QComboBox *m_queue;
    QComboBox *m_baud;
    QLabel *m_problem;
    Printer::Target m_target;
};

class TestPrintDialog : public QDialog
{
    Q_OBJECT

public:
    TestPrintDialog(QWidget *parent, const TestPrintRequest &last, const QList<QByteArray> &keys);

    TestPrintRequest request() const;
    void accept() override;

private:
    void applyKind();

    QRadioButton *m_image;
    QSpinBox *m_number;
    QComboBox *m_mode;
    QRadioButton *m_graphic;
    QComboBox *m_key;
    QComboBox *m_scale;
    QLabel *m_problem;
};

class DeleteGraphicDialog : public QDialog
{
    Q_OBJECT

public:
    DeleteGraphicDialog(QWidget *parent, const QList<QByteArray> &keys);

    // The key, or an empty one for every graphic.
    QByteArray key() const;
    void accept() override;

private:
    QComboBox *m_key;
    QCheckBox *m_all;
    QLabel *m_problem;
};

class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    SettingsDialog(QWidget *parent, const WindowSettings &current);

    WindowSettings settings() const;

private:
    QSpinBox *m_poll;
    QSpinBox *m_waitReady;
};

// A key as typed: two characters, each from space to '~'; empty when it is not one.
QByteArray graphicsKeyOf(const QString &text);

// Adds to the form the line that says why OK did not close the dialog, and OK and Cancel;
// returns the line.
QLabel *finishForm(QDialog *dialog, QFormLayout *form);

} // namespace PrintersWindow

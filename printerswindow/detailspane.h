#pragma once

// One printer's details beside the list: its status in words, model and firmware, the NV
// graphics it holds with its memory, the NV bit images of the last download made here, and
// the whole story of the last action.

#include <QWidget>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace Commands {
struct PrinterEntry;
}

namespace PrintersWindow {

class DetailsPane : public QWidget
{
    Q_OBJECT

public:
    explicit DetailsPane(QWidget *parent = nullptr);

    // Shows the entry, or that no printer is chosen.
    void showEntry(const Commands::PrinterEntry *entry);

    QLabel *statusLabel() const { return m_status; }
    QListWidget *keysList() const { return m_keys; }
    QLabel *memoryLabel() const { return m_memory; }
    QLabel *nvImagesLabel() const { return m_nvImages; }
    QPlainTextEdit *lastActionView() const { return m_lastAction; }

Q_SIGNALS:
    void askAgainClicked();

private:
    void showGraphics(const Commands::PrinterEntry &entry);

    QLabel *m_title;
    QLabel *m_status;
    QLabel *m_model;
    QLabel *m_firmware;
    QListWidget *m_keys;
    QLabel *m_memory;
    QLabel *m_nvImages;
    QPlainTextEdit *m_lastAction;
    QPushButton *m_askAgain;
};

} // namespace PrintersWindow

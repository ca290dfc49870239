#pragma once

#include "actionrunner.h"
#include "dialogs.h"

#include <commands/printerlistmodel.h>

#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <memory>

class QAction;
class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTableView;

namespace Printer {
class PosLibrary;
}

namespace PrintersWindow {

class DetailsPane;
class StateDecoration;

// The printers' window: the list of printers with their states, one printer's details beside
// it, and the actions on the chosen printers. Printers are asked on worker threads only; an
// action runs through the pool on a thread of its own, one action at a time.
class Window : public QMainWindow
{
    Q_OBJECT

public:
    // How long a printer may take for each answer to an action (the command line's default).
    static constexpr std::chrono::milliseconds ActionTimeout{10000};

    // Without dialogs of its own the window shows real boxes.
    explicit Window(Printer::PosLibrary &library,
                    Dialogs *dialogs = nullptr,
                    QWidget *parent = nullptr);
    ~Window() override;

    // The printers of a targets file; on a failure the list is left as it was.
    Printer::Result<void> openTargets(const QString &fileName);
    // The targets file of the last session, if it still reads; false otherwise.
    bool openLastTargets();
    // How long a printer may take to answer a status question.
    void setStatusTimeout(std::chrono::milliseconds timeout);
    // Starts asking the printers; the window shows first.
    void startPolling();

    Commands::PrinterListModel &model() { return *m_model; }
    QTableView *table() const { return m_table; }
    DetailsPane *details() const { return m_details; }
    bool isBusy() const { return m_runner.isRunning(); }
    QString targetsFile() const { return m_targetsFile; }
    WindowSettings windowSettings() const { return m_settings; }

    QAction *actionOpen = nullptr;
    QAction *actionSave = nullptr;
    QAction *actionSaveAs = nullptr;
    QAction *actionQuit = nullptr;
    QAction *actionFind = nullptr;
    QAction *actionAdd = nullptr;
    QAction *actionRemove = nullptr;
    QAction *actionAskNow = nullptr;
    QAction *actionSettings = nullptr;
    QAction *actionTestPrint = nullptr;
    QAction *actionStoreLogo = nullptr;
    QAction *actionDeleteGraphics = nullptr;
    QAction *actionDownload = nullptr;
    QAction *actionStop = nullptr;

Q_SIGNALS:
    // An action ended on every printer it was started on.
    void actionFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // window.cpp: the window, the list and its file, the settings.
    void createActions();
    void createMenus();
    void createCentre();
    void createStatusBar();
    void restoreSettings();
    void saveSettings() const;
    void applyPollSettings();
    void updateTitle();
    void updateActions();
    QList<int> chosenRows() const;
    int currentRow() const;
    void currentChanged();
    void entryChanged(int row);
    void askCurrentDetails();
    void openFile();
    bool save();
    bool saveAs();
    void addPrinter();
    void findPrinters();
    void removePrinters();
    void askNow();
    void editSettings();

    // windowactions.cpp: the actions on the chosen printers.
    bool choosePrinters(QList<int> &rows);
    void runAction(Commands::PrinterAction action,
                   const QList<int> &rows,
                   ActionRunner::Prepare prepare);
    void testPrint();
    void storeLogo();
    void deleteGraphics();
    void downloadImages();
    void stopAction();
    void actionProgressed(const Commands::PoolProgress &progress);
    void actionRowFinished(const Commands::JobRow &row);
    void actionRefused(const Commands::Outcome &outcome);
    void actionEnded();
    void rememberNvImages(const QString &key, int count);
    QList<QByteArray> knownKeys() const;

    Printer::PosLibrary &m_library;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs *m_dialogs = nullptr;
    Commands::PrinterListModel *m_model = nullptr;
    StateDecoration *m_decorated = nullptr;
    QTableView *m_table = nullptr;
    DetailsPane *m_details = nullptr;
    QSplitter *m_splitter = nullptr;
    QLabel *m_progressText = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QPushButton *m_stopButton = nullptr;
    ActionRunner m_runner;
    QTimer m_ages;
    QTimer m_detailsSoon;
    WindowSettings m_settings;
    std::chrono::milliseconds m_statusTimeout{5000};
    QString m_targetsFile;
    QVariantMap m_nvImages; // printer key -> NV bit images of the last download made here
    TestPrintRequest m_lastTestPrint;
    StoreLogoRequest m_lastLogo;
    QList<int> m_actionRows;
    int m_downloadCount = 0;
    bool m_closeWhenDone = false;
};

} // namespace PrintersWindow

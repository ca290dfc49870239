#pragma once

#include "commandrunner.h"

#include <commands/commandstate.h>
#include <nvimage/picturesurface.h>
#include <printer/portconnection.h>

#include <QWidget>

#include <memory>

class QCloseEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Printer {
class PosLibrary;
}

namespace App {

class Dialogs;
class ProgressWindow;

// The program's one window: the connection settings, the two commands and the
// off-screen drawing surface the download rasterises on. The commands' slow work runs on a
// thread of their own while the window shows their progress.
class FrmCutTest : public QWidget
{
    Q_OBJECT

public:
    // Without dialogs of its own the window shows real modal boxes and file dialogs.
    explicit FrmCutTest(Printer::PosLibrary &library,
                        Dialogs *dialogs = nullptr,
                        QWidget *parent = nullptr);
    ~FrmCutTest() override;

    // The window's settings as plain values, read once when a command starts.
    Printer::PortSettings portSettings() const;

    const Commands::CommandState &commandState() const { return m_state; }

    // Whether a command is running; its outcome is shown when it ends.
    bool isBusy() const { return m_runner.isRunning(); }
    ProgressWindow *progressWindow() const { return m_progress; }

    // The program was asked to end (a termination signal): a running command is stopped and
    // waited for, without questions or messages, then the program quits.
    void endForSignal();

    // The hidden drawing surface that pictures are rasterised on; never shown.
    const NvImage::PictureSurface &picture1() const { return Picture1; }

    // Positions and sizes are laid out in twips, 15 to a pixel at 96 dots per inch.
    static constexpr int TwipsPerPixel = 15;

    QLabel *Label1 = nullptr;
    QComboBox *Combo1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label3 = nullptr;
    QComboBox *Combo2 = nullptr;
    QLabel *Label4 = nullptr;
    QComboBox *Combo3 = nullptr;
    QPushButton *CmdDownload = nullptr;
    QComboBox *Combo4 = nullptr;
    QPushButton *CmdPrintOut = nullptr;
    QLabel *Label5 = nullptr;
    QComboBox *Combo5 = nullptr;

Q_SIGNALS:
    // A command ended and its outcome was shown.
    void commandFinished();
    // The printer queue list has been filled in.
    void printersListed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void fitFontToLayout();
    void Form_Load();
    void applyConnectionKind();

    void Combo1_Click();
    void Combo1_Change();
    void CmdDownload_Click();
    void CmdPrintOut_Click();

    void setCommandsEnabled(bool enabled);
    void setImageNumbers(int count);
    void listPrinters();

    void
    startCommand(const QString &title, const Printer::PortSettings &port, CommandRunner::Work work);
    void stopClicked();
    void stopCommand();
    bool confirm(const QString &caption, const QString &question);
    void commandEnded(const Commands::Outcome &outcome);
    void showOutcome();

    Printer::PosLibrary &m_library;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs *m_dialogs = nullptr;
    Commands::CommandState m_state;
    // The running command's copy; the window's own is updated when the command ends.
    Commands::CommandState m_runState;
    NvImage::PictureSurface Picture1;
    CommandRunner m_runner;
    ProgressWindow *m_progress = nullptr;
    Commands::Outcome m_outcome;
    bool m_asking = false;       // a question is up; an outcome waits for its answer
    bool m_outcomeWaits = false; // the command ended while a question was up
    bool m_closeWhenDone = false;
    bool m_quitWhenDone = false;
};

} // namespace App

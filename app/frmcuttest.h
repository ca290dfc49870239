#pragma once

#include "commandstate.h"
#include "downloadcommand.h"

#include <picturesurface.h>
#include <portconnection.h>

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Printer {
class PosLibrary;
}

namespace App {

class Dialogs;

// The program's one window: the connection settings, the two commands and the
// off-screen drawing surface the download rasterises on.
class FrmCutTest : public QWidget, private DownloadHost
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

    const CommandState &commandState() const { return m_state; }

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

private:
    void createControls();
    void fitFontToLayout();
    void Form_Load();
    void applyConnectionKind();

    void Combo1_Click();
    void Combo1_Change();
    void CmdDownload_Click();
    void CmdPrintOut_Click();

    void setCommandsEnabled(bool enabled) override;
    void setImageNumbers(int count) override;

    Printer::PosLibrary &m_library;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs *m_dialogs = nullptr;
    CommandState m_state;
    NvImage::PictureSurface Picture1;
};

} // namespace App

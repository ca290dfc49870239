#pragma once

// Everything the printers' window asks of the user goes through Dialogs, so that the tests
// answer in its place; QtDialogs shows the real boxes.

#include "foundprinters.h"

#include <commands/userinterface.h>
#include <nvimage/preparation.h>
#include <printer/target.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QWidget;

namespace PrintersWindow {

using Commands::MessageIcon;

// What "Test print" prints: a stored NV image in a size, or an NV graphic by key at a scale.
struct TestPrintRequest
{
    enum class Kind { NvImage, Graphic };
    Kind kind = Kind::NvImage;
    int image = 1; // 1 to 255
    int mode = 0;  // normal, double width, double height, double: the size list's position
    QByteArray key;
    int scaleX = 1; // 1 or 2 each
    int scaleY = 1;
};

// What "Store a logo" stores: the picture as the dialog's preparation controls prepare it
// (the identity, the picture as it is by the blue rule, while none is set).
struct StoreLogoRequest
{
    QByteArray key;
    QString picture;
    NvImage::Preparation preparation;
};

// The window's settings that the user changes.
struct WindowSettings
{
    int pollSeconds = 5;       // how often each printer is asked about its state
    int waitReadySeconds = 20; // how long a download waits for each printer to come back
};

class Dialogs : public Commands::Dialogs
{
public:
    // A question with Yes and No; true for Yes.
    virtual bool confirm(const QString &caption, const QString &question) = 0;
    // A targets file to open or to save as; empty when cancelled.
    virtual QString openTargetsFile(const QString &start) = 0;
    virtual QString saveTargetsFile(const QString &start) = 0;
    // A printer by the main window's settings: kind, address, queue and speed.
    virtual std::optional<Printer::Target> addPrinter() = 0;
    // "Find printers": what it found and the user checked, added to list.
    virtual AddedPrinters findPrinters(Printer::PosLibrary &library,
                                       Commands::PrinterListModel &list)
            = 0;
    // keys: the NV graphics the chosen printer holds, as far as known.
    virtual std::optional<TestPrintRequest> testPrint(const TestPrintRequest &last,
                                                      const QList<QByteArray> &keys)
            = 0;
    virtual std::optional<StoreLogoRequest> storeLogo(const StoreLogoRequest &last) = 0;
    // The key to delete, or an empty key for every graphic.
    virtual std::optional<QByteArray> graphicToDelete(const QList<QByteArray> &keys) = 0;
    virtual std::optional<WindowSettings> editSettings(const WindowSettings &current) = 0;
};

class QtDialogs final : public Dialogs
{
public:
    explicit QtDialogs(QWidget *parent);

    void showMessage(MessageIcon icon,
                     const QString &caption,
                     const QString &text,
                     const QString &details) override;
    QStringList getOpenFileNames(const QStringList &nameFilters) override;
    bool confirm(const QString &caption, const QString &question) override;
    QString openTargetsFile(const QString &start) override;
    QString saveTargetsFile(const QString &start) override;
    std::optional<Printer::Target> addPrinter() override;
    AddedPrinters findPrinters(Printer::PosLibrary &library,
                               Commands::PrinterListModel &list) override;
    std::optional<TestPrintRequest> testPrint(const TestPrintRequest &last,
                                              const QList<QByteArray> &keys) override;
    std::optional<StoreLogoRequest> storeLogo(const StoreLogoRequest &last) override;
    std::optional<QByteArray> graphicToDelete(const QList<QByteArray> &keys) override;
    std::optional<WindowSettings> editSettings(const WindowSettings &current) override;

private:
    QWidget *m_parent;
};

} // namespace PrintersWindow

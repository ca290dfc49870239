#include "dialogs.h"

#include "finddialog.h"
#include "printerdialogs.h"
#include "storelogodialog.h"

#include <QFileDialog>
#include <controls/messagebox.h>

namespace PrintersWindow {

namespace {

const QString TargetsFilter = QStringLiteral("Targets files (*.txt *.targets);;All files (*)");

} // namespace

QtDialogs::QtDialogs(QWidget *parent)
    : m_parent(parent)
{}

void QtDialogs::showMessage(MessageIcon icon,
                            const QString &caption,
                            const QString &text,
                            const QString &details)
{
    Controls::showMessageBox(m_parent, icon, caption, text, details);
}

QStringList QtDialogs::getOpenFileNames(const QStringList &nameFilters)
{
    return QFileDialog::getOpenFileNames(m_parent,
                                         QObject::tr("Pictures to store as NV images 1, 2, ..."),
                                         QString(),
                                         nameFilters.join(QStringLiteral(";;")));
}

bool QtDialogs::confirm(const QString &caption, const QString &question)
{
    return Controls::askYesNo(m_parent, caption, question);
}

QString QtDialogs::openTargetsFile(const QString &start)
{
    return QFileDialog::getOpenFileName(
            m_parent, QObject::tr("Open a targets file"), start, TargetsFilter);
}

QString QtDialogs::saveTargetsFile(const QString &start)
{
    return QFileDialog::getSaveFileName(
            m_parent, QObject::tr("Save the printers as a targets file"), start, TargetsFilter);
}

std::optional<Printer::Target> QtDialogs::addPrinter()
{
    AddPrinterDialog dialog(m_parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.target();
}

AddedPrinters QtDialogs::findPrinters(Printer::PosLibrary &library,
                                      Commands::PrinterListModel &list)
{
    FindPrintersDialog dialog(m_parent, library, list);
    dialog.exec();
    return dialog.added();
}

std::optional<TestPrintRequest> QtDialogs::testPrint(const TestPrintRequest &last,
                                                     const QList<QByteArray> &keys)
{
    TestPrintDialog dialog(m_parent, last, keys);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.request();
}

std::optional<StoreLogoRequest> QtDialogs::storeLogo(const StoreLogoRequest &last)
{
    StoreLogoDialog dialog(m_parent, last);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.request();
}

std::optional<QByteArray> QtDialogs::graphicToDelete(const QList<QByteArray> &keys)
{
    DeleteGraphicDialog dialog(m_parent, keys);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.key();
}

std::optional<WindowSettings> QtDialogs::editSettings(const WindowSettings &current)
{
    SettingsDialog dialog(m_parent, current);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.settings();
}

} // namespace PrintersWindow

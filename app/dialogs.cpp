#include "dialogs.h"

#include <controls/messagebox.h>

#include <QGuiApplication>

#include <exception>

namespace App {

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
    // The window has one Open dialog, the download's.
    return choosePictures(nameFilters, PreviewContext()).paths;
}

PictureChoice QtDialogs::choosePictures(const QStringList &nameFilters,
                                        const PreviewContext &context)
{
    PictureDialog dialog(m_parent, nameFilters, context);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return {dialog.selectedFiles(), dialog.preparation()};
}

bool QtDialogs::confirm(const QString &caption, const QString &question)
{
    return Controls::askYesNo(m_parent, caption, question);
}

void reportUnhandledError(Dialogs &dialogs, const std::exception &error)
{
    dialogs.showMessage(MessageIcon::Critical,
                        QGuiApplication::applicationDisplayName(),
                        QString::fromUtf8(error.what()));
}

} // namespace App

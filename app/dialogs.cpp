#include "dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

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
    QMessageBox box(m_parent);
    switch (icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setWindowTitle(caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption);
    box.setText(text);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QStringList QtDialogs::getOpenFileNames(const QStringList &nameFilters)
{
    QFileDialog dialog(m_parent);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Each filter shows its description alone, not the patterns behind it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(nameFilters);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

PictureChoice QtDialogs::choosePictures(const QStringList &nameFilters,
                                        const PreviewContext &context)
{
    PictureDialog dialog(m_parent, nameFilters, context);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return {dialog.selectedFiles(), dialog.dither()};
}

bool QtDialogs::confirm(const QString &caption, const QString &question)
{
    QMessageBox box(QMessageBox::Question,
                    caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption,
                    question,
                    QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void reportUnhandledError(Dialogs &dialogs, const std::exception &error)
{
    dialogs.showMessage(MessageIcon::Critical,
                        QGuiApplication::applicationDisplayName(),
                        QString::fromUtf8(error.what()));
}

} // namespace App

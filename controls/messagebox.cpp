#include "messagebox.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace Controls {

namespace {

QMessageBox::Icon iconOf(Commands::MessageIcon icon)
{
    switch (icon) {
    case Commands::MessageIcon::None:
        return QMessageBox::NoIcon;
    case Commands::MessageIcon::Information:
        return QMessageBox::Information;
    case Commands::MessageIcon::Warning:
        return QMessageBox::Warning;
    case Commands::MessageIcon::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QString titleOf(const QString &caption)
{
    return caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption;
}

} // namespace

void showMessageBox(QWidget *parent,
                    Commands::MessageIcon icon,
                    const QString &caption,
                    const QString &text,
                    const QString &details)
{
    QMessageBox box(parent);
    box.setIcon(iconOf(icon));
    box.setWindowTitle(titleOf(caption));
    box.setText(text);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool askYesNo(QWidget *parent, const QString &caption, const QString &question)
{
    QMessageBox box(QMessageBox::Question,
                    titleOf(caption),
                    question,
                    QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace Controls

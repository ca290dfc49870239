#pragma once

#include <commands/userinterface.h>

#include <QString>

class QWidget;

namespace Controls {

// A command's message as a modal box with an OK button and the details behind "Show
// Details...". An empty caption shows the application's title.
void showMessageBox(QWidget *parent,
                    Commands::MessageIcon icon,
                    const QString &caption,
                    const QString &text,
                    const QString &details = QString());

// A modal question with Yes and No, No the default so that Enter never confirms by
// accident; true for Yes. An empty caption shows the application's title.
bool askYesNo(QWidget *parent, const QString &caption, const QString &question);

} // namespace Controls

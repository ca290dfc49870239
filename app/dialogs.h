#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>

class QWidget;

namespace App {

enum class MessageIcon { None, Information, Warning, Critical };

// Everything a command asks of the user goes through here, so that tests and the
// command-line tool can stand in for the modal boxes and the file dialog.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A modal box with an OK button. An empty caption shows the application's title.
    virtual void showMessage(MessageIcon icon,
                             const QString &caption,
                             const QString &text,
                             const QString &details = QString())
            = 0;

    // The Open dialog with several files allowed; the chosen paths in the dialog's order,
    // or an empty list when the user cancelled.
    virtual QStringList getOpenFileNames(const QStringList &nameFilters) = 0;
};

// The real modal boxes and file dialog, parented to a window.
class QtDialogs final : public Dialogs
{
public:
    explicit QtDialogs(QWidget *parent);

    void showMessage(MessageIcon icon,
                     const QString &caption,
                     const QString &text,
                     const QString &details) override;
    QStringList getOpenFileNames(const QStringList &nameFilters) override;

private:
    QWidget *m_parent;
};

// The one place where an error that no command handles reaches the user: its description
// in a modal box captioned with the application's title. The program goes on.
void reportUnhandledError(Dialogs &dialogs, const std::exception &error);

// Runs a handler's work so that no error escapes into the event loop.
template<typename Work>
void runGuarded(Dialogs &dialogs, Work &&work)
{
    try {
        work();
    } catch (const std::exception &error) {
        reportUnhandledError(dialogs, error);
    } catch (...) {
        reportUnhandledError(dialogs, std::runtime_error("An unknown error occurred."));
    }
}

} // namespace App

#pragma once

#include <QString>
#include <QStringList>

namespace Commands {

enum class MessageIcon { None, Information, Warning, Critical };

// How a command ended, and what the user is told about it.
struct Outcome
{
    enum class Kind {
        NothingDone, // cancelled in the file dialog, or a print-out with nothing to say
        Delivered,   // the printer got every byte
        Refused,     // bad input; nothing was sent
        Failed,      // the connection or the transfer failed
        Stopped,     // the user stopped it
    };

    Kind kind = Kind::NothingDone;
    MessageIcon icon = MessageIcon::None;
    QString caption; // empty: the application's title
    QString text;    // empty: no message
    QString details;

    bool succeeded() const { return kind == Kind::NothingDone || kind == Kind::Delivered; }
};

// Everything a command asks of the user goes through here, so that the window, the
// command-line tool and tests each answer in their own way.
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

    // Shows an outcome's message, if it has one.
    void show(const Outcome &outcome)
    {
        if (!outcome.text.isEmpty())
            showMessage(outcome.icon, outcome.caption, outcome.text, outcome.details);
    }
};

// What a command reports while it works. The calls come from the thread that runs the
// command, which need not be the one that shows them.
class Progress
{
public:
    enum class Stage { Preparing, Opening, Sending, Closing };

    virtual ~Progress() = default;

    virtual void stageChanged(Stage stage) { Q_UNUSED(stage) }

    // moved: the bytes that actually reached the printer, as far as the connection can
    // tell; reported by the printer library while its write runs. A library that cannot
    // report leaves moved at 0 until the write returns.
    virtual void bytesMoved(qint64 moved, qint64 total)
    {
        Q_UNUSED(moved)
        Q_UNUSED(total)
    }

    // Asked between steps and while bytes move: true stops the command.
    virtual bool stopRequested() const { return false; }
};

} // namespace Commands

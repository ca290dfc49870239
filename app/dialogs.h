#pragma once

#include "picturedialog.h"

#include <commands/userinterface.h>

#include <QString>
#include <nvimage/preparation.h>

#include <QStringList>

#include <stdexcept>

class QWidget;

namespace App {

using Commands::MessageIcon;

// The window's dialogs: the commands' messages and file dialog, and the questions the
// window asks itself, so that tests can stand in for all of them.
// The pictures chosen for a download, and how they become dots.
struct PictureChoice
{
    QStringList paths; // empty: cancelled, else in the order they become NV images 1, 2, ...
    NvImage::Preparation preparation; // the identity unless the user chose otherwise
};

class Dialogs : public Commands::Dialogs
{
public:
    // The download's Open dialog. The window's own shows a preview of the highlighted
    // picture and offers dithering; without one, the plain file dialog and no dithering.
    virtual PictureChoice choosePictures(const QStringList &nameFilters,
                                         const PreviewContext &context)
    {
        Q_UNUSED(context)
        return {getOpenFileNames(nameFilters), {}};
    }

    // A modal question with Yes and No buttons; true for Yes.
    virtual bool confirm(const QString &caption, const QString &question) = 0;
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
    PictureChoice choosePictures(const QStringList &nameFilters,
                                 const PreviewContext &context) override;
    bool confirm(const QString &caption, const QString &question) override;

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

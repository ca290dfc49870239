#pragma once

#include <app/dialogs.h>

#include <QList>
#include <QStringList>

#include <functional>

// Stands in for the modal boxes and the file dialog: remembers every message and answers
// the file dialog from a queue (an empty answer is a cancel), and questions with a hook.
class RecordingDialogs final : public App::Dialogs
{
public:
    struct Message
    {
        App::MessageIcon icon;
        QString caption;
        QString text;
        QString details;
        bool probed = false; // what probe() answered while the box was up
    };

    void showMessage(App::MessageIcon icon,
                     const QString &caption,
                     const QString &text,
                     const QString &details) override
    {
        messages.append({icon, caption, text, details, probe && probe()});
    }

    QStringList getOpenFileNames(const QStringList &nameFilters) override
    {
        lastNameFilters = nameFilters;
        ++fileDialogCount;
        return answers.isEmpty() ? QStringList() : answers.takeFirst();
    }

    App::PictureChoice choosePictures(const QStringList &nameFilters,
                                      const App::PreviewContext &context) override
    {
        lastPreviewContext = context;
        return {getOpenFileNames(nameFilters), preparation};
    }

    bool confirm(const QString &caption, const QString &question) override
    {
        questions.append(question);
        return answerQuestion ? answerQuestion(caption, question) : true;
    }

    // Asked while each box is shown, to see the state the user sees behind it.
    std::function<bool()> probe;
    QList<Message> messages;
    QList<QStringList> answers;
    QStringList lastNameFilters;
    QStringList questions;
    NvImage::Preparation
            preparation; // what the download dialog answers for how pictures become dots
    App::PreviewContext lastPreviewContext;
    // Answers each question; Yes when unset. May spin the event loop, as a real box does.
    std::function<bool(const QString &caption, const QString &question)> answerQuestion;
    int fileDialogCount = 0;
};

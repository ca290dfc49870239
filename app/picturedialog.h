#pragma once

#include <QColor>
#include <QFileDialog>
#include <QString>

class QCheckBox;
class QLabel;

namespace App {

// What the preview needs to know of the window: where the stream would go.
struct PreviewContext
{
    QString target;   // the printer as the user knows it
    int baudRate = 0; // a serial line's speed, else 0
    QColor background = Qt::white;
};

// The Open dialog of "Download Picture" with a pane beside the file list: the highlighted
// picture as the printer will store it, drawn back from the bytes the download would send,
// its size, warnings, and what the whole selection amounts to. The picture work runs off the
// dialog's thread, newest request first, so typing in the dialog never waits for it.
class PictureDialog : public QFileDialog
{
    Q_OBJECT

public:
    PictureDialog(QWidget *parent, const QStringList &nameFilters, const PreviewContext &context);
    ~PictureDialog() override;

    // "Dither (photos)": off each time the dialog opens.
    bool dither() const;

    QLabel *pictureLabel() const { return m_picture; }
    QLabel *factsLabel() const { return m_facts; }
    QLabel *warningsLabel() const { return m_warnings; }
    QLabel *selectionLabel() const { return m_selection; }
    QCheckBox *ditherBox() const { return m_dither; }

Q_SIGNALS:
    // The pane shows the preview of path (or why it cannot).
    void previewShown(const QString &path);

private:
    class Job;

    void buildPane();
    void highlight(const QString &path);
    void startNext();
    void showSelection();

    PreviewContext m_context;
    QLabel *m_picture;
    QLabel *m_facts;
    QLabel *m_warnings;
    QCheckBox *m_dither;
    QLabel *m_selection;
    QString m_highlighted;
    bool m_running = false;
    bool m_pending = false;
};

} // namespace App

#pragma once

#include <controls/preparationcontrols.h>
#include <nvimage/preparation.h>

#include <QColor>
#include <QFileDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

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
// its size, warnings, how it is prepared (paper, fit, centre, by brightness, dither) and what
// the whole selection amounts to: the pictures with the NV image number each becomes, the
// bytes to send, and why the selection cannot be stored when it cannot (Open does nothing
// then). The picture work runs off the dialog's thread, newest request first, so typing in
// the dialog never waits for it.
class PictureDialog : public QFileDialog
{
    Q_OBJECT

public:
    PictureDialog(QWidget *parent, const QStringList &nameFilters, const PreviewContext &context);
    ~PictureDialog() override;

    // "Dither (photos)": off each time the dialog opens, as every preparation control is.
    bool dither() const;
    // How the chosen pictures become dots: the identity while no control is set.
    NvImage::Preparation preparation() const;
    // Whether the selection can be stored as it is prepared.
    bool storable() const { return m_storable; }

    void accept() override;

    QLabel *pictureLabel() const { return m_picture; }
    QLabel *factsLabel() const { return m_facts; }
    QLabel *warningsLabel() const { return m_warnings; }
    QLabel *selectionLabel() const { return m_selection; }
    QCheckBox *ditherBox() const { return m_controls->ditherBox(); }
    QComboBox *paperBox() const { return m_controls->paperBox(); }
    QCheckBox *fitBox() const { return m_controls->fitBox(); }
    QCheckBox *centreBox() const { return m_controls->centreBox(); }
    QCheckBox *brightnessBox() const { return m_controls->brightnessBox(); }
    QSpinBox *levelBox() const { return m_controls->levelBox(); }

Q_SIGNALS:
    // The pane shows the preview of path (or why it cannot).
    void previewShown(const QString &path);

private:
    class Job;

    void buildPane();
    void preparationChanged();
    void highlight(const QString &path);
    void startNext();
    void showSelection();
    void updateOpenButton();

    PreviewContext m_context;
    QLabel *m_picture;
    QLabel *m_facts;
    QLabel *m_warnings;
    Controls::PreparationControls *m_controls;
    QLabel *m_selection;
    bool m_storable = false;
    QString m_highlighted;
    bool m_running = false;
    bool m_pending = false;
};

} // namespace App

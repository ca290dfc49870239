#pragma once

#include "dialogs.h"

#include <QDialog>

#include <atomic>
#include <memory>

class QLabel;
class QLineEdit;

namespace Controls {
class PreparationControls;
}

namespace PrintersWindow {

struct GraphicPreview;

// A picture stored as an NV graphic under a key: the picture, how it is prepared (the paper,
// fit, centre, by brightness, dither; all off each time the dialog opens) and beside them
// the picture exactly as the graphic will be stored, its size and its warnings. The preview
// is made off the dialog's thread, newest request first.
class StoreLogoDialog : public QDialog
{
    Q_OBJECT

public:
    // last gives the key and the picture; the preparation starts off all the same.
    StoreLogoDialog(QWidget *parent, const StoreLogoRequest &last);
    ~StoreLogoDialog() override;

    StoreLogoRequest request() const;
    void accept() override;

    QLineEdit *keyBox() const { return m_key; }
    QLineEdit *pictureBox() const { return m_picture; }
    Controls::PreparationControls *preparationControls() const { return m_controls; }
    QLabel *previewLabel() const { return m_preview; }
    QLabel *factsLabel() const { return m_facts; }
    QLabel *warningsLabel() const { return m_warnings; }

Q_SIGNALS:
    // The preview shows the picture as now chosen and prepared, or why it cannot be stored.
    void previewShown();

private:
    QWidget *buildPane();
    void choosePicture();
    void previewChanged();
    void startPreview();
    void showPreview(const GraphicPreview &preview);

    QLineEdit *m_key;
    QLineEdit *m_picture;
    Controls::PreparationControls *m_controls;
    QLabel *m_problem;
    QLabel *m_preview;
    QLabel *m_facts;
    QLabel *m_warnings;
    // The preview under way is told to stop when a newer one is asked for, or the dialog goes.
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_running = false;
    bool m_pending = false;
    bool m_shown = false;  // the preview shows the picture as now chosen and prepared
    QString m_cannotStore; // why not, when it shows that
};

} // namespace PrintersWindow

#include "storelogodialog.h"

#include "printerdialogs.h"

#include <commands/downloadcommand.h>
#include <commands/graphicscommand.h>
#include <controls/preparationcontrols.h>
#include <escpos/commands.h>
#include <nvimage/picturepreview.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace PrintersWindow {

namespace {

constexpr int PaneWidth = 260;
constexpr int PaperSize = 240;

} // namespace

// The picture as "Store a logo" will send it: the dots of the same function, drawn.
struct GraphicPreview
{
    QImage shown; // the dots, at most PaperSize square
    QSize size;   // in dots
    qint64 bytes = 0;
    QStringList warnings;
    QString error; // why the picture cannot be stored
};

namespace {

GraphicPreview previewGraphic(const QString &path,
                              const NvImage::Preparation &preparation,
                              const NvImage::StopCheck &stop)
{
    GraphicPreview preview;
    // Nothing may escape the thread: a picture that cannot be used says why.
    try {
        QList<NvImage::PreviewWarning> kinds;
        const EscPos::DotImage dots = Commands::graphicDots(path, preparation, stop, &kinds);
        preview.size = QSize(dots.width, dots.height);
        preview.bytes = EscPos::nvGraphicsDataSize(dots.width, dots.height);
        const QImage image = NvImage::monoImage(dots);
        preview.shown = image.width() > PaperSize || image.height() > PaperSize ? image.scaled(
                                PaperSize, PaperSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                                                                : image;
        // Judged as the graphic's define judges it: against the preparation's paper.
        const NvImage::WarningRules rules{preparation.paperDots, 0};
        for (const NvImage::PreviewWarning kind : std::as_const(kinds))
            preview.warnings.append(NvImage::previewWarningText(kind, rules));
    } catch (const std::exception &error) {
        preview.error = QString::fromUtf8(error.what());
    } catch (...) {
        preview.error = StoreLogoDialog::tr("The picture cannot be read.");
    }
    return preview;
}

} // namespace

StoreLogoDialog::StoreLogoDialog(QWidget *parent, const StoreLogoRequest &last)
    : QDialog(parent)
    , m_cancel(std::make_shared<std::atomic<bool>>(false))
{
    setWindowTitle(tr("Store a logo"));
    auto outer = new QVBoxLayout(this);
    auto columns = new QHBoxLayout;
    outer->addLayout(columns);
    auto form = new QFormLayout;
    columns->addLayout(form, 1);
    m_key = new QLineEdit(QString::fromLatin1(last.key), this);
    m_key->setObjectName(QStringLiteral("key"));
    m_key->setMaxLength(2);
    m_picture = new QLineEdit(last.picture, this);
    m_picture->setObjectName(QStringLiteral("picture"));
    m_picture->setMinimumWidth(220);
    auto choose = new QPushButton(tr("C&hoose…"), this);
    auto pictureRow = new QHBoxLayout;
    pictureRow->addWidget(m_picture);
    pictureRow->addWidget(choose);
    auto pictureLabel = new QLabel(tr("P&icture:"), this);
    pictureLabel->setBuddy(m_picture);
    form->addRow(tr("&Key:"), m_key);
    form->addRow(pictureLabel, pictureRow);
    m_controls = new Controls::PreparationControls(this);
    form->addRow(m_controls);
    auto warning = new QLabel(tr("Warning: printers erase their NV bit images (the ones "
                                 "\"Download NV images\" stores) when an NV graphic is defined. "
                                 "Keep to one of the two kinds on a printer."),
                              this);
    warning->setWordWrap(true);
    form->addRow(warning);
    columns->addWidget(buildPane());
    // The reason OK did not close the dialog, and the buttons, under both columns.
    auto bottom = new QFormLayout;
    outer->addLayout(bottom);
    m_problem = finishForm(this, bottom);
    connect(choose, &QPushButton::clicked, this, &StoreLogoDialog::choosePicture);
    connect(m_picture, &QLineEdit::textChanged, this, &StoreLogoDialog::previewChanged);
    connect(m_controls,
            &Controls::PreparationControls::changed,
            this,
            &StoreLogoDialog::previewChanged);
    previewChanged();
}

StoreLogoDialog::~StoreLogoDialog()
{
    // A preview under way ends soon and shows nothing.
    *m_cancel = true;
}

// Beside the form: the graphic as it will be stored, on paper-white whatever the desktop's
// colours, its size and its warnings.
QWidget *StoreLogoDialog::buildPane()
{
    auto pane = new QWidget(this);
    auto column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    m_preview = new QLabel(pane);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setFixedSize(PaperSize, PaperSize);
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setFrameShape(QFrame::StyledPanel);
    m_preview->setWordWrap(true);
    m_preview->setAutoFillBackground(true);
    QPalette paper = m_preview->palette();
    paper.setColor(QPalette::Window, Qt::white);
    paper.setColor(QPalette::WindowText, Qt::darkGray);
    m_preview->setPalette(paper);
    m_facts = new QLabel(pane);
    m_facts->setObjectName(QStringLiteral("facts"));
    m_warnings = new QLabel(pane);
    m_warnings->setObjectName(QStringLiteral("warnings"));
    QPalette warning = m_warnings->palette();
    warning.setColor(QPalette::WindowText, QColor(0xa0, 0x30, 0x00));
    m_warnings->setPalette(warning);
    for (QLabel *text : {m_facts, m_warnings}) {
        text->setWordWrap(true);
        text->setFixedWidth(PaneWidth);
        text->setTextFormat(Qt::PlainText);
    }
    m_warnings->setMinimumHeight(3 * fontMetrics().lineSpacing());
    column->addWidget(new QLabel(tr("As the printer will store it:"), pane));
    column->addWidget(m_preview);
    column->addWidget(m_facts);
    column->addWidget(m_warnings);
    column->addStretch();
    return pane;
}

void StoreLogoDialog::choosePicture()
{
    const QString chosen = QFileDialog::getOpenFileName(
            this,
            tr("A picture to store"),
            m_picture->text(),
            Commands::downloadNameFilters().join(QStringLiteral(";;")));
    if (!chosen.isEmpty())
        m_picture->setText(chosen);
}

void StoreLogoDialog::previewChanged()
{
    m_shown = false;
    m_cannotStore.clear();
    // What is under way is for a picture or a preparation that is no longer chosen.
    *m_cancel = true;
    const QString path = m_picture->text();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        m_pending = false;
        m_preview->setPixmap(QPixmap());
        m_preview->setText(path.isEmpty() ? tr("Choose a picture to see it as the printer will "
                                               "store it.")
                                          : tr("There is no such file."));
        m_facts->clear();
        m_warnings->clear();
        return;
    }
    m_facts->setText(tr("Reading %1…").arg(QFileInfo(path).fileName()));
    m_pending = true;
    startPreview();
}

void StoreLogoDialog::startPreview()
{
    // One preview at a time; the newest request replaces any older one that waits.
    if (m_running || !m_pending)
        return;
    m_pending = false;
    m_running = true;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    const QString path = m_picture->text();
    const NvImage::Preparation preparation = m_controls->preparation();
    const std::shared_ptr<std::atomic<bool>> cancel = m_cancel;
    auto result = std::make_shared<GraphicPreview>();
    QThread *job = QThread::create([path, preparation, cancel, result] {
        *result = previewGraphic(path, preparation, [cancel] { return cancel->load(); });
    });
    connect(job, &QThread::finished, job, &QObject::deleteLater);
    connect(job, &QThread::finished, this, [this, cancel, result] {
        m_running = false;
        if (!*cancel)
            showPreview(*result);
        startPreview();
    });
    job->start();
}

void StoreLogoDialog::showPreview(const GraphicPreview &preview)
{
    m_shown = true;
    m_cannotStore = preview.error;
    if (!preview.error.isEmpty()) {
        m_preview->setPixmap(QPixmap());
        m_preview->setText(tr("Cannot be stored:\n%1").arg(preview.error));
        m_facts->setText(QFileInfo(m_picture->text()).fileName());
        m_warnings->clear();
    } else {
        m_preview->setPixmap(QPixmap::fromImage(preview.shown));
        const QLocale locale;
        m_facts->setText(tr("%1 x %2 dots (%3 x %4 mm), %5 bytes")
                                 .arg(preview.size.width())
                                 .arg(preview.size.height())
                                 .arg(locale.toString(preview.size.width() / 8.0, 'f', 1),
                                      locale.toString(preview.size.height() / 8.0, 'f', 1),
                                      locale.toString(preview.bytes)));
        m_warnings->setText(preview.warnings.join(QLatin1Char('\n')));
    }
    Q_EMIT previewShown();
}

StoreLogoRequest StoreLogoDialog::request() const
{
    StoreLogoRequest request;
    request.key = graphicsKeyOf(m_key->text());
    request.picture = m_picture->text();
    request.preparation = m_controls->preparation();
    return request;
}

void StoreLogoDialog::accept()
{
    if (request().key.isEmpty())
        m_problem->setText(tr("A key is two characters, each from space to '~'."));
    else if (m_picture->text().isEmpty())
        m_problem->setText(tr("Choose a picture."));
    else if (m_shown && !m_cannotStore.isEmpty())
        m_problem->setText(tr("This picture cannot be stored: %1").arg(m_cannotStore));
    else
        QDialog::accept();
}

} // namespace PrintersWindow

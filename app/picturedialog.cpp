#include "picturedialog.h"

#include <nvimage/nvimagefile.h>
#include <nvimage/picturepreview.h>

#include <commands/settings.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

namespace App {

namespace {

constexpr int PaneWidth = 260;
constexpr int PaperSize = 240;

struct PreviewResult
{
    NvImage::PicturePreview preview;
    QString error;
};

} // namespace

PictureDialog::PictureDialog(QWidget *parent,
                             const QStringList &nameFilters,
                             const PreviewContext &context)
    : QFileDialog(parent)
    , m_context(context)
    , m_picture(new QLabel)
    , m_facts(new QLabel)
    , m_warnings(new QLabel)
    , m_controls(new Controls::PreparationControls)
    , m_selection(new QLabel)
{
    setObjectName(QStringLiteral("PictureDialog"));
    // The pane lives in the dialog's own layout, which a platform dialog does not have.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    // Each filter shows its description alone, not the patterns behind it.
    setOption(QFileDialog::HideNameFilterDetails);
    setNameFilters(nameFilters);

    buildPane();

    connect(this, &QFileDialog::currentChanged, this, &PictureDialog::highlight);
    connect(m_controls,
            &Controls::PreparationControls::changed,
            this,
            &PictureDialog::preparationChanged);
    // The selection has no signal of its own; the file name box shows every change of it,
    // by a click, the keyboard or typing.
    if (auto fileName = findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        connect(fileName, &QLineEdit::textChanged, this, &PictureDialog::showSelection);
    highlight(QString());
    showSelection();
}

PictureDialog::~PictureDialog() = default;

// The pane beside the file list: the picture on paper, its facts and warnings, the
// conversion and the selection's totals.
void PictureDialog::buildPane()
{
    m_picture->setObjectName(QStringLiteral("preview"));
    m_picture->setFixedSize(PaperSize, PaperSize);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setFrameShape(QFrame::StyledPanel);
    m_picture->setWordWrap(true);
    // Paper-white whatever the desktop's colours: this is what comes out of the printer.
    m_picture->setAutoFillBackground(true);
    QPalette paper = m_picture->palette();
    paper.setColor(QPalette::Window, Qt::white);
    paper.setColor(QPalette::WindowText, Qt::darkGray);
    m_picture->setPalette(paper);
    m_facts->setObjectName(QStringLiteral("facts"));
    m_warnings->setObjectName(QStringLiteral("warnings"));
    m_selection->setObjectName(QStringLiteral("selection"));
    for (QLabel *text : {m_facts, m_warnings, m_selection}) {
        text->setWordWrap(true);
        text->setFixedWidth(PaneWidth);
        text->setTextFormat(Qt::PlainText);
    }
    QPalette warning = m_warnings->palette();
    warning.setColor(QPalette::WindowText, QColor(0xa0, 0x30, 0x00));
    m_warnings->setPalette(warning);

    auto pane = new QWidget(this);
    pane->setObjectName(QStringLiteral("previewPane"));
    auto column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(new QLabel(tr("As the printer will store it:"), pane));
    column->addWidget(m_picture);
    column->addWidget(m_facts);
    column->addWidget(m_warnings);
    column->addWidget(m_controls);
    column->addWidget(m_selection);
    column->addStretch();
    if (auto grid = qobject_cast<QGridLayout *>(layout()))
        grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
    // Room for the file list beside the pane, and for the pane's longest texts.
    const int line = fontMetrics().lineSpacing();
    m_facts->setMinimumHeight(2 * line);
    m_warnings->setMinimumHeight(6 * line);
    m_selection->setMinimumHeight(6 * line);
    setMinimumHeight(pane->sizeHint().height() + 2 * line);
    resize(qMax(width(), 900), minimumHeight());
}

bool PictureDialog::dither() const
{
    return m_controls->dither();
}

NvImage::Preparation PictureDialog::preparation() const
{
    return m_controls->preparation();
}

void PictureDialog::preparationChanged()
{
    highlight(m_highlighted);
    showSelection();
}

void PictureDialog::accept()
{
    // The pane says why; the download would refuse the same selection.
    if (!m_storable)
        return;
    QFileDialog::accept();
}

void PictureDialog::updateOpenButton()
{
    if (auto buttons = findChild<QDialogButtonBox *>()) {
        if (QPushButton *open = buttons->button(QDialogButtonBox::Open))
            open->setEnabled(m_storable);
    }
}

void PictureDialog::highlight(const QString &path)
{
    m_highlighted = path;
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        m_picture->setPixmap(QPixmap());
        m_picture->setText(tr("Highlight a picture to see it as the printer will store it."));
        m_facts->clear();
        m_warnings->clear();
        return;
    }
    m_facts->setText(tr("Reading %1...").arg(QFileInfo(path).fileName()));
    m_pending = true;
    startNext();
}

void PictureDialog::startNext()
{
    // One picture at a time; a highlight that came meanwhile replaces any older request.
    if (m_running || !m_pending)
        return;
    m_pending = false;
    m_running = true;
    const QString path = m_highlighted;
    const NvImage::Preparation preparation = this->preparation();
    const QColor background = m_context.background;
    // The warnings judge by the paper chosen, and by the memory the download would check.
    NvImage::WarningRules rules{std::nullopt, Commands::nvCapacitySetting()};
    rules.paperDots = m_controls->paperDots();
    auto result = std::make_shared<PreviewResult>();
    QThread *job = QThread::create([path, preparation, background, rules, result] {
        try {
            // The loader refuses a file by its size on disk before it reads any of it.
            result->preview = NvImage::previewPicture(path, preparation, background, rules);
        } catch (const std::exception &error) {
            result->error = QString::fromUtf8(error.what());
        } catch (...) {
            result->error = QStringLiteral("The picture cannot be read.");
        }
    });
    connect(job, &QThread::finished, job, &QObject::deleteLater);
    connect(job, &QThread::finished, this, [this, path, result] {
        m_running = false;
        if (!m_pending && path == m_highlighted) {
            if (!result->error.isEmpty()) {
                m_picture->setPixmap(QPixmap());
                m_picture->setText(tr("Cannot be stored:\n%1").arg(result->error));
                m_facts->setText(QFileInfo(path).fileName());
                m_warnings->clear();
            } else {
                const NvImage::PicturePreview &preview = result->preview;
                const QImage shown
                        = preview.dots.width() > PaperSize || preview.dots.height() > PaperSize
                                  ? preview.dots.scaled(PaperSize,
                                                        PaperSize,
                                                        Qt::KeepAspectRatio,
                                                        Qt::SmoothTransformation)
                                  : preview.dots;
                m_picture->setPixmap(QPixmap::fromImage(shown));
                const QLocale locale;
                m_facts->setText(tr("%1 x %2 dots (%3 x %4 mm), %5 bytes")
                                         .arg(preview.sizeDots.width())
                                         .arg(preview.sizeDots.height())
                                         .arg(locale.toString(preview.sizeMm.width(), 'f', 1),
                                              locale.toString(preview.sizeMm.height(), 'f', 1),
                                              locale.toString(preview.recordBytes)));
                m_warnings->setText(preview.warnings.join(QLatin1Char('\n')));
            }
            Q_EMIT previewShown(path);
        }
        startNext();
    });
    job->start();
}

namespace {

// What a selection amounts to, from the pictures' headers alone, which is quick enough to do
// while the user types.
struct SelectionTotals
{
    qint64 streamBytes = NvImage::NvStreamHeaderSize;
    qint64 definition = 0;
    qint64 onDisk = 0;
    QStringList reasons; // why it cannot be stored
};

SelectionTotals totalsOf(const QStringList &pictures, const NvImage::Preparation &preparation)
{
    SelectionTotals totals;
    for (const QString &file : pictures) {
        totals.onDisk += QFileInfo(file).size();
        try {
            const qint64 record = NvImage::nvRecordSize(file, preparation).value_or(0);
            totals.definition += record;
            totals.streamBytes += record;
        } catch (const std::exception &error) {
            totals.reasons.append(QString::fromUtf8(error.what()));
        }
    }
    const QLocale locale;
    // Unprepared pictures keep the printer tool's rule on their size on disk.
    if (preparation.isIdentity() && totals.onDisk >= NvImage::TotalFileSizeLimit) {
        totals.reasons.append(
                PictureDialog::tr("The files take %1 bytes on disk; the limit is below %2. "
                                  "Fit to paper judges by what is stored instead.")
                        .arg(locale.toString(totals.onDisk),
                             locale.toString(NvImage::TotalFileSizeLimit)));
    }
    if (pictures.size() > NvImage::MaxPictures) {
        totals.reasons.append(PictureDialog::tr("At most %1 pictures can be stored at once.")
                                      .arg(NvImage::MaxPictures));
    }
    const qint64 capacity = Commands::nvCapacitySetting();
    if (totals.definition > capacity) {
        totals.reasons.append(
                PictureDialog::tr("They need %1 bytes of NV memory; the printer "
                                  "holds %2.")
                        .arg(locale.toString(totals.definition), locale.toString(capacity)));
    }
    return totals;
}

} // namespace

void PictureDialog::showSelection()
{
    QStringList pictures;
    for (const QString &file : selectedFiles()) {
        if (QFileInfo(file).isFile())
            pictures.append(file);
    }
    m_storable = false;
    if (pictures.isEmpty()) {
        m_selection->setText(tr("No picture chosen."));
        updateOpenButton();
        return;
    }
    // A file chosen by typing its name, or by the keyboard, is shown like a highlighted one.
    if (!pictures.contains(m_highlighted))
        highlight(pictures.constLast());
    const SelectionTotals totals = totalsOf(pictures, preparation());
    const QLocale locale;
    QString text = tr("Chosen: %1, %2 bytes to send")
                           .arg(pictures.size() == 1 ? tr("1 picture")
                                                     : tr("%1 pictures").arg(pictures.size()),
                                locale.toString(totals.streamBytes));
    if (m_context.baudRate > 0) {
        const qint64 seconds = Commands::serialLineSeconds(totals.streamBytes, m_context.baudRate);
        text += tr(", about %1 at %2 baud")
                        .arg(Commands::clockText(seconds))
                        .arg(m_context.baudRate);
    } else if (!m_context.target.isEmpty()) {
        text += tr(" to %1").arg(m_context.target);
    }
    text += QLatin1Char('.');
    // The order they are stored in: the download sends selectedFiles() as they come.
    for (qsizetype i = 0; i < pictures.size() && i < NvImage::MaxPictures; ++i)
        text += QStringLiteral("\n%1: %2").arg(i + 1).arg(QFileInfo(pictures.at(i)).fileName());
    if (!totals.reasons.isEmpty())
        text += tr("\nCannot be stored: %1").arg(totals.reasons.join(QLatin1Char(' ')));
    m_storable = totals.reasons.isEmpty();
    m_selection->setText(text);
    updateOpenButton();
}

} // namespace App

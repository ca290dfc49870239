#include "picturedialog.h"

#include <nvimage/nvimagefile.h>
#include <nvimage/picturepreview.h>

#include <commands/settings.h>

#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
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
    , m_dither(new QCheckBox(tr("Dither (photos)")))
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
    connect(m_dither, &QCheckBox::toggled, this, [this] {
        highlight(m_highlighted);
        showSelection();
    });
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
    m_dither->setObjectName(QStringLiteral("dither"));
    m_dither->setToolTip(tr("Convert by brightness with error diffusion instead of printing "
                            "black where blue is dark. For photos and coloured logos."));
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
    column->addWidget(m_dither);
    column->addWidget(m_selection);
    column->addStretch();
    if (auto grid = qobject_cast<QGridLayout *>(layout()))
        grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
    // Room for the file list beside the pane, and for the pane's longest texts.
    const int line = fontMetrics().lineSpacing();
    m_facts->setMinimumHeight(2 * line);
    m_warnings->setMinimumHeight(6 * line);
    m_selection->setMinimumHeight(4 * line);
    setMinimumHeight(pane->sizeHint().height() + 2 * line);
    resize(qMax(width(), 900), minimumHeight());
}

bool PictureDialog::dither() const
{
    return m_dither->isChecked();
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
    const NvImage::Conversion conversion
            = m_dither->isChecked() ? NvImage::Conversion::Dither : NvImage::Conversion::BlueRule;
    const QColor background = m_context.background;
    // The warning judges by the memory the window's download would check.
    const qint64 capacity = Commands::nvCapacitySetting();
    auto result = std::make_shared<PreviewResult>();
    QThread *job = QThread::create([path, conversion, background, capacity, result] {
        try {
            // The loader refuses a file by its size on disk before it reads any of it.
            result->preview = NvImage::previewPicture(path, conversion, background, capacity);
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

void PictureDialog::showSelection()
{
    QStringList pictures;
    for (const QString &file : selectedFiles()) {
        if (QFileInfo(file).isFile())
            pictures.append(file);
    }
    if (pictures.isEmpty()) {
        m_selection->setText(tr("No picture chosen."));
        return;
    }
    // A file chosen by typing its name, or by the keyboard, is shown like a highlighted one.
    if (!pictures.contains(m_highlighted))
        highlight(pictures.constLast());
    // From the headers alone, which is quick enough to do while the user types.
    qint64 streamBytes = NvImage::NvStreamHeaderSize;
    qint64 onDisk = 0;
    QStringList unreadable;
    for (const QString &file : pictures) {
        onDisk += QFileInfo(file).size();
        try {
            streamBytes += NvImage::nvRecordSize(file);
        } catch (const std::exception &) {
            unreadable.append(QFileInfo(file).fileName());
        }
    }
    const QLocale locale;
    QString text = (pictures.size() == 1 ? tr("Chosen: 1 picture, %1 bytes to send")
                                         : tr("Chosen: %2 pictures, %1 bytes to send")
                                                   .arg(QStringLiteral("%1"))
                                                   .arg(pictures.size()))
                           .arg(locale.toString(streamBytes));
    if (m_context.baudRate > 0) {
        const qint64 seconds = Commands::serialLineSeconds(streamBytes, m_context.baudRate);
        text += tr(", about %1 at %2 baud")
                        .arg(Commands::clockText(seconds))
                        .arg(m_context.baudRate);
    } else if (!m_context.target.isEmpty()) {
        text += tr(" to %1").arg(m_context.target);
    }
    text += QLatin1Char('.');
    if (!unreadable.isEmpty())
        text += tr("\nCannot be read: %1.").arg(unreadable.join(QStringLiteral(", ")));
    if (onDisk >= NvImage::TotalFileSizeLimit) {
        text += tr("\nToo large: the files take %1 bytes on disk; the limit is below %2.")
                        .arg(locale.toString(onDisk), locale.toString(NvImage::TotalFileSizeLimit));
    }
    if (pictures.size() > NvImage::MaxPictures)
        text += tr("\nAt most %1 pictures can be stored at once.").arg(NvImage::MaxPictures);
    m_selection->setText(text);
}

} // namespace App

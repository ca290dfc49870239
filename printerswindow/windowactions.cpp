// The actions on the chosen printers: each runs through the pool on the runner's thread, and
// each printer's row says what became of it.

#include "window.h"

#include "detailspane.h"

#include <commands/downloadcommand.h>
#include <commands/graphicscommand.h>
#include <commands/printoutcommand.h>
#include <commands/settings.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTableView>

namespace PrintersWindow {

using Commands::JobRow;
using Commands::PrinterAction;
using std::chrono::milliseconds;

namespace {

// "2 printers", or the one printer's name.
QString printersText(const Commands::PrinterListModel &model, const QList<int> &rows)
{
    if (rows.size() == 1)
        return model.entry(rows.constFirst()).target.display();
    return QObject::tr("%1 printers").arg(rows.size());
}

ActionRunner::Prepared refusal(const QString &text, const QString &details)
{
    return {Commands::Outcome{Commands::Outcome::Kind::Refused,
                              Commands::MessageIcon::Critical,
                              {},
                              text,
                              details},
            {}};
}

} // namespace

bool Window::choosePrinters(QList<int> &rows)
{
    if (m_runner.isRunning())
        return false;
    rows = chosenRows();
    return !rows.isEmpty();
}

QList<QByteArray> Window::knownKeys() const
{
    const int row = currentRow();
    if (row < 0 || !m_model->entry(row).holdings)
        return {};
    return m_model->entry(row).holdings->keys;
}

void Window::runAction(PrinterAction action, const QList<int> &rows, ActionRunner::Prepare prepare)
{
    QList<Printer::Target> targets;
    for (const int row : rows)
        targets.append(m_model->entry(row).target);
    m_actionRows = rows;
    m_model->jobStarted(rows, tr("Waiting…"));
    m_progressBar->setRange(0, int(rows.size()));
    m_progressBar->setValue(0);
    m_progressBar->show();
    m_stopButton->show();
    m_progressText->setText(tr("%1 of %2 done").arg(0).arg(rows.size()));
    // A status question under way ends within its timeout; a job waits that long for it.
    m_runner.start(targets, action, std::move(prepare), 2 * m_statusTimeout + milliseconds(5000));
    updateActions();
}

void Window::testPrint()
{
    QList<int> rows;
    if (!choosePrinters(rows))
        return;
    const std::optional<TestPrintRequest> request
            = m_dialogs->testPrint(m_lastTestPrint, knownKeys());
    if (!request)
        return;
    m_lastTestPrint = *request;
    const QByteArray bytes
            = request->kind == TestPrintRequest::Kind::NvImage
                      ? Commands::printOutBytes(QString::number(request->image), request->mode)
                      : Commands::printGraphicBytes(request->key, request->scaleX, request->scaleY);
    // A printer that cannot hear is sent the print-out without asking; the rest confirm it.
    QSet<QString> cannotHear;
    for (const int row : rows) {
        if (m_model->entry(row).state == Commands::PrinterState::CannotHear)
            cannotHear.insert(m_model->entry(row).key);
    }
    const Commands::Job confirmed = Commands::printJob(bytes, true, ActionTimeout);
    const Commands::Job sent = Commands::printJob(bytes, false, ActionTimeout);
    const Commands::Job job = [cannotHear, confirmed, sent](Commands::PrinterLink &link,
                                                            Commands::Progress &progress,
                                                            JobRow &row) {
        const bool hears = !cannotHear.contains(link.target().key())
                           && link.target().kind() != Printer::PortKind::Driver;
        (hears ? confirmed : sent)(link, progress, row);
    };
    runAction(PrinterAction::TestPrint, rows, [job](const NvImage::StopCheck &) {
        return ActionRunner::Prepared{{}, job};
    });
}

void Window::storeLogo()
{
    QList<int> rows;
    if (!choosePrinters(rows))
        return;
    const std::optional<StoreLogoRequest> request = m_dialogs->storeLogo(m_lastLogo);
    if (!request)
        return;
    m_lastLogo = *request;
    int holding = 0;
    for (const int row : rows)
        holding += m_model->entry(row).nvImages.value_or(0) > 0;
    if (holding > 0
        && !m_dialogs->confirm(tr("Store a logo"),
                               tr("%1 of the chosen printers hold NV bit images from a download "
                                  "made here. Printers erase them when an NV graphic is defined."
                                  "\n\nStore the logo all the same?")
                                       .arg(holding)))
        return;
    const StoreLogoRequest logo = *request;
    runAction(
            PrinterAction::StoreGraphic,
            rows,
            [logo](const NvImage::StopCheck &stop) -> ActionRunner::Prepared {
                try {
                    const EscPos::DotImage dots
                            = Commands::graphicDots(logo.picture, logo.preparation, stop);
                    return {{},
                            Commands::defineJob(Commands::GraphicDefine::of(logo.key, dots),
                                                ActionTimeout)};
                } catch (const std::exception &error) {
                    return refusal(
                            tr("The picture cannot be stored as an NV graphic; nothing was sent."),
                            QStringLiteral("%1: %2").arg(logo.picture,
                                                         QString::fromUtf8(error.what())));
                }
            });
}

void Window::deleteGraphics()
{
    QList<int> rows;
    if (!choosePrinters(rows))
        return;
    const std::optional<QByteArray> key = m_dialogs->graphicToDelete(knownKeys());
    if (!key)
        return;
    const QString question
            = key->isEmpty()
                      ? tr("Delete every NV graphic from %1?").arg(printersText(*m_model, rows))
                      : tr("Delete the NV graphic %1 from %2?")
                                .arg(Commands::keyText(*key), printersText(*m_model, rows));
    if (!m_dialogs->confirm(tr("Delete graphics"), question))
        return;
    const Commands::Job job = Commands::deleteJob(*key, ActionTimeout);
    runAction(PrinterAction::DeleteGraphics, rows, [job](const NvImage::StopCheck &) {
        return ActionRunner::Prepared{{}, job};
    });
}

void Window::downloadImages()
{
    QList<int> rows;
    if (!choosePrinters(rows))
        return;
    const QStringList pictures = m_dialogs->getOpenFileNames(Commands::downloadNameFilters());
    if (pictures.isEmpty())
        return;
    const QString question
            = tr("Store %1 as NV images 1 to %2 in %3?\n\nFS q replaces every NV image the "
                 "printers hold, and printers wear their memory with each definition. They "
                 "reset afterwards; each row shows its printer coming back (up to %4 s).")
                      .arg(pictures.size() == 1 ? tr("1 picture")
                                                : tr("%1 pictures").arg(pictures.size()))
                      .arg(pictures.size())
                      .arg(printersText(*m_model, rows))
                      .arg(m_settings.waitReadySeconds);
    if (!m_dialogs->confirm(tr("Download NV images"), question))
        return;
    m_downloadCount = int(pictures.size());
    const milliseconds waitReady = std::chrono::seconds(m_settings.waitReadySeconds);
    Commands::DownloadRequest request;
    request.pictures = pictures;
    request.options.nvCapacity = Commands::nvCapacitySetting();
    runAction(PrinterAction::DownloadImages,
              rows,
              [request, waitReady](const NvImage::StopCheck &stop) -> ActionRunner::Prepared {
                  // The same checks and refusals as the command line's download, on the runner's
                  // thread.
                  Commands::DownloadRequest stoppable = request;
                  stoppable.stop = stop;
                  QByteArray stream;
                  if (const auto refused = Commands::buildDownloadStream(stoppable, stream))
                      return {refused, {}};
                  return {{}, Commands::downloadJob(stream, waitReady)};
              });
}

void Window::stopAction()
{
    if (!m_runner.isRunning() || m_runner.stopRequested())
        return;
    if (m_runner.action() == PrinterAction::DownloadImages
        && !m_dialogs->confirm(tr("Stop"),
                               tr("A printer that is receiving the images when it stops keeps a "
                                  "partial definition, and must be switched off and on before "
                                  "the next download.\n\nStop?")))
        return;
    m_runner.requestStop();
    m_progressText->setText(tr("Stopping…"));
}

void Window::actionProgressed(const Commands::PoolProgress &progress)
{
    m_progressBar->setValue(progress.done);
    QString text = tr("%1 of %2 done").arg(progress.done).arg(progress.count);
    if (progress.failed > 0)
        text += tr(", %1 not done").arg(progress.failed);
    if (m_runner.stopRequested())
        text += tr("; stopping…");
    m_progressText->setText(text);
}

void Window::actionRowFinished(const JobRow &row)
{
    const PrinterAction action = m_runner.action();
    m_model->jobEnded(action, row);
    const QString key = row.target.key();
    if (action == PrinterAction::DownloadImages && row.succeeded())
        rememberNvImages(key, m_downloadCount);
    else if (action == PrinterAction::StoreGraphic && row.succeeded())
        rememberNvImages(key, 0);
    // The pane shows what the printer holds after each change.
    if (currentRow() >= 0 && m_model->entry(currentRow()).key == key)
        m_detailsSoon.start();
}

void Window::rememberNvImages(const QString &key, int count)
{
    m_nvImages.insert(key, count);
    m_model->setNvImages(key, count);
}

void Window::actionRefused(const Commands::Outcome &outcome)
{
    m_model->jobAbandoned(m_actionRows,
                          outcome.details.isEmpty()
                                  ? outcome.text
                                  : outcome.text + QLatin1Char('\n') + outcome.details);
    m_dialogs->show(outcome);
}

void Window::actionEnded()
{
    m_progressBar->hide();
    m_stopButton->hide();
    m_actionRows.clear();
    updateActions();
    saveSettings();
    Q_EMIT actionFinished();
    if (m_closeWhenDone)
        close();
}

} // namespace PrintersWindow

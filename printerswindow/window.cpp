#include "window.h"

#include "detailspane.h"
#include "stateicons.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>

namespace PrintersWindow {

using Commands::PrinterListModel;
using std::chrono::milliseconds;

namespace {

QAction *
action(QObject *parent, const char *name, const QString &text, const QKeySequence &shortcut)
{
    auto a = new QAction(text, parent);
    a->setObjectName(QLatin1String(name));
    a->setShortcut(shortcut);
    return a;
}

} // namespace

Window::Window(Printer::PosLibrary &library, Dialogs *dialogs, QWidget *parent)
    : QMainWindow(parent)
    , m_library(library)
    , m_model(new PrinterListModel(library, this))
    , m_runner(library, m_model->poller().locks())
{
    if (!dialogs) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        dialogs = m_ownDialogs.get();
    }
    m_dialogs = dialogs;
    setObjectName(QStringLiteral("FrmPrinters"));
    QIcon icon;
    for (const int size : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/nvlogo-printers/nvlogo-printers-%1.png").arg(size));
    setWindowIcon(icon);
    createActions();
    createMenus();
    createCentre();
    createStatusBar();
    restoreSettings();
    applyPollSettings();
    updateTitle();
    updateActions();

    connect(&m_runner, &ActionRunner::rowActivity, m_model, &PrinterListModel::jobActivity);
    connect(&m_runner, &ActionRunner::rowFinished, this, &Window::actionRowFinished);
    connect(&m_runner, &ActionRunner::progressed, this, &Window::actionProgressed);
    connect(&m_runner, &ActionRunner::refused, this, &Window::actionRefused);
    connect(&m_runner, &ActionRunner::finished, this, &Window::actionEnded);
    connect(m_model, &PrinterListModel::entryChanged, this, &Window::entryChanged);
    m_ages.setInterval(1000);
    connect(&m_ages, &QTimer::timeout, m_model, &PrinterListModel::refreshAges);
    // A pane that follows the arrow keys asks the printer it stops at, not every one passed.
    m_detailsSoon.setSingleShot(true);
    m_detailsSoon.setInterval(250);
    connect(&m_detailsSoon, &QTimer::timeout, this, &Window::askCurrentDetails);
}

Window::~Window() = default;

void Window::createActions()
{
    actionOpen = action(this, "actionOpen", tr("&Open targets file…"), QKeySequence::Open);
    actionSave = action(this, "actionSave", tr("&Save"), QKeySequence::Save);
    actionSaveAs = action(this, "actionSaveAs", tr("Save &as…"), QKeySequence::SaveAs);
    actionQuit = action(this, "actionQuit", tr("&Quit"), QKeySequence::Quit);
    actionFind = action(this, "actionFind", tr("&Find printers…"), QKeySequence::Find);
    actionAdd = action(this, "actionAdd", tr("&Add…"), QKeySequence(Qt::CTRL | Qt::Key_N));
    actionRemove = action(this, "actionRemove", tr("&Remove"), QKeySequence::Delete);
    actionAskNow = action(this, "actionAskNow", tr("Ask &now"), QKeySequence::Refresh);
    actionSettings = action(this, "actionSettings", tr("Se&ttings…"), QKeySequence());
    actionTestPrint = action(this, "actionTestPrint", tr("&Test print…"), QKeySequence::Print);
    actionStoreLogo = action(
            this, "actionStoreLogo", tr("&Store a logo…"), QKeySequence(Qt::CTRL | Qt::Key_L));
    actionDeleteGraphics = action(this,
                                  "actionDeleteGraphics",
                                  tr("&Delete graphics…"),
                                  QKeySequence(Qt::CTRL | Qt::Key_D));
    actionDownload = action(this,
                            "actionDownload",
                            tr("Download &NV images…"),
                            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    actionStop = action(this, "actionStop", tr("Sto&p"), QKeySequence(Qt::Key_Escape));
    connect(actionOpen, &QAction::triggered, this, &Window::openFile);
    connect(actionSave, &QAction::triggered, this, &Window::save);
    connect(actionSaveAs, &QAction::triggered, this, &Window::saveAs);
    connect(actionQuit, &QAction::triggered, this, &QWidget::close);
    connect(actionFind, &QAction::triggered, this, &Window::findPrinters);
    connect(actionAdd, &QAction::triggered, this, &Window::addPrinter);
    connect(actionRemove, &QAction::triggered, this, &Window::removePrinters);
    connect(actionAskNow, &QAction::triggered, this, &Window::askNow);
    connect(actionSettings, &QAction::triggered, this, &Window::editSettings);
    connect(actionTestPrint, &QAction::triggered, this, &Window::testPrint);
    connect(actionStoreLogo, &QAction::triggered, this, &Window::storeLogo);
    connect(actionDeleteGraphics, &QAction::triggered, this, &Window::deleteGraphics);
    connect(actionDownload, &QAction::triggered, this, &Window::downloadImages);
    connect(actionStop, &QAction::triggered, this, &Window::stopAction);
}

void Window::createMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addActions({actionOpen, actionSave, actionSaveAs});
    file->addSeparator();
    file->addAction(actionQuit);
    QMenu *printers = menuBar()->addMenu(tr("&Printers"));
    printers->addActions({actionFind, actionAdd, actionRemove, actionAskNow});
    printers->addSeparator();
    printers->addAction(actionSettings);
    QMenu *actions = menuBar()->addMenu(tr("&Actions"));
    actions->addActions({actionTestPrint, actionStoreLogo, actionDeleteGraphics, actionDownload});
    actions->addSeparator();
    actions->addAction(actionStop);
    QToolBar *bar = addToolBar(tr("Actions"));
    bar->setObjectName(QStringLiteral("actionsBar"));
    bar->addActions({actionFind, actionAdd, actionAskNow});
    bar->addSeparator();
    bar->addActions({actionTestPrint, actionStoreLogo, actionDownload, actionStop});
}

void Window::createCentre()
{
    m_splitter = new QSplitter(this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_decorated = new StateDecoration(this);
    m_decorated->setSourceModel(m_model);
    m_table = new QTableView(m_splitter);
    m_table->setObjectName(QStringLiteral("printers"));
    m_table->setModel(m_decorated);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_table->addActions({actionTestPrint,
                         actionStoreLogo,
                         actionDeleteGraphics,
                         actionDownload,
                         actionAskNow,
                         actionRemove});
    const QList<int> widths = {150, 110, 170, 85};
    for (int column = 0; column < widths.size(); ++column)
        m_table->setColumnWidth(column, widths.at(column));
    m_details = new DetailsPane(m_splitter);
    m_splitter->setStretchFactor(0, 3);
    m_splitter->setStretchFactor(1, 1);
    setCentralWidget(m_splitter);
    connect(m_table->selectionModel(),
            &QItemSelectionModel::currentRowChanged,
            this,
            &Window::currentChanged);
    connect(m_table->selectionModel(),
            &QItemSelectionModel::selectionChanged,
            this,
            &Window::updateActions);
    connect(m_details, &DetailsPane::askAgainClicked, this, &Window::askNow);
    m_table->setFocus();
}

void Window::createStatusBar()
{
    m_progressText = new QLabel(this);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setMaximumWidth(200);
    m_stopButton = new QPushButton(tr("Stop"), this);
    m_stopButton->setToolTip(actionStop->shortcut().toString(QKeySequence::NativeText));
    statusBar()->addWidget(m_progressText, 1);
    statusBar()->addPermanentWidget(m_progressBar);
    statusBar()->addPermanentWidget(m_stopButton);
    m_progressBar->hide();
    m_stopButton->hide();
    connect(m_stopButton, &QPushButton::clicked, this, &Window::stopAction);
}

void Window::restoreSettings()
{
    const QSettings settings;
    resize(940, 460);
    restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
    restoreState(settings.value(QStringLiteral("window/state")).toByteArray());
    m_splitter->restoreState(settings.value(QStringLiteral("window/splitter")).toByteArray());
    m_table->horizontalHeader()->restoreState(
            settings.value(QStringLiteral("window/columns")).toByteArray());
    m_settings.pollSeconds = std::clamp(
            settings.value(QStringLiteral("poll/seconds"), m_settings.pollSeconds).toInt(),
            1,
            3600);
    m_settings.waitReadySeconds = std::clamp(
            settings.value(QStringLiteral("download/waitReadySeconds"), m_settings.waitReadySeconds)
                    .toInt(),
            1,
            600);
    m_nvImages = settings.value(QStringLiteral("printers/nvImages")).toMap();
}

void Window::saveSettings() const
{
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/state"), saveState());
    settings.setValue(QStringLiteral("window/splitter"), m_splitter->saveState());
    settings.setValue(QStringLiteral("window/columns"), m_table->horizontalHeader()->saveState());
    settings.setValue(QStringLiteral("poll/seconds"), m_settings.pollSeconds);
    settings.setValue(QStringLiteral("download/waitReadySeconds"), m_settings.waitReadySeconds);
    settings.setValue(QStringLiteral("printers/nvImages"), m_nvImages);
    if (!m_targetsFile.isEmpty())
        settings.setValue(QStringLiteral("targets/lastFile"), m_targetsFile);
}

void Window::applyPollSettings()
{
    Commands::PollSettings poll = m_model->poller().settings();
    poll.timing.interval = std::chrono::seconds(m_settings.pollSeconds);
    poll.timing.longest = std::max<milliseconds>(std::chrono::seconds(60), poll.timing.interval);
    poll.timeout = m_statusTimeout;
    m_model->poller().setSettings(poll);
}

void Window::setStatusTimeout(milliseconds timeout)
{
    m_statusTimeout = timeout;
    applyPollSettings();
}

void Window::startPolling()
{
    m_model->poller().start();
    m_ages.start();
}

Printer::Result<void> Window::openTargets(const QString &fileName)
{
    const Printer::Result<void> loaded = m_model->load(fileName);
    if (!loaded.ok())
        return loaded;
    m_targetsFile = QFileInfo(fileName).absoluteFilePath();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QVariant known = m_nvImages.value(m_model->entry(row).key);
        if (known.isValid())
            m_model->setNvImages(m_model->entry(row).key, known.toInt());
    }
    QSettings().setValue(QStringLiteral("targets/lastFile"), m_targetsFile);
    updateTitle();
    updateActions();
    // The first printer's details show; the rows keep their colours until the user chooses.
    if (m_model->rowCount() > 0)
        m_table->selectionModel()->setCurrentIndex(m_decorated->index(0, 0),
                                                   QItemSelectionModel::NoUpdate);
    return {};
}

bool Window::openLastTargets()
{
    const QString last = QSettings().value(QStringLiteral("targets/lastFile")).toString();
    if (last.isEmpty() || !QFileInfo::exists(last))
        return false;
    const Printer::Result<void> opened = openTargets(last);
    if (!opened.ok())
        m_progressText->setText(opened.failure().reason);
    return opened.ok();
}

void Window::updateTitle()
{
    const QString file
            = m_targetsFile.isEmpty() ? tr("Untitled") : QFileInfo(m_targetsFile).fileName();
    setWindowTitle(tr("%1[*] – Receipt printers").arg(file));
    setWindowModified(m_model->isModified());
}

void Window::updateActions()
{
    const bool idle = !m_runner.isRunning();
    const bool chosen = !chosenRows().isEmpty();
    for (QAction *a : {actionTestPrint, actionStoreLogo, actionDeleteGraphics, actionDownload})
        a->setEnabled(idle && chosen);
    for (QAction *a : {actionOpen, actionFind, actionAdd})
        a->setEnabled(idle);
    actionRemove->setEnabled(idle && chosen);
    actionAskNow->setEnabled(chosen);
    actionStop->setEnabled(!idle);
}

QList<int> Window::chosenRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty() && currentRow() >= 0)
        rows.append(currentRow());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int Window::currentRow() const
{
    const QModelIndex current = m_table->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void Window::currentChanged()
{
    const int row = currentRow();
    m_details->showEntry(row >= 0 ? &m_model->entry(row) : nullptr);
    updateActions();
    if (row >= 0)
        m_detailsSoon.start();
}

void Window::askCurrentDetails()
{
    const int row = currentRow();
    if (row >= 0)
        m_model->askDetails(row, ActionTimeout);
}

void Window::entryChanged(int row)
{
    if (row == currentRow())
        m_details->showEntry(&m_model->entry(row));
}

void Window::openFile()
{
    if (m_runner.isRunning())
        return;
    if (m_model->isModified()
        && !m_dialogs->confirm(tr("Open"),
                               tr("The list of printers has changes that are not saved. Open "
                                  "another file without saving them?")))
        return;
    const QString chosen = m_dialogs->openTargetsFile(QFileInfo(m_targetsFile).path());
    if (chosen.isEmpty())
        return;
    const Printer::Result<void> opened = openTargets(chosen);
    if (!opened.ok())
        m_dialogs->showMessage(MessageIcon::Warning,
                               tr("Open"),
                               tr("The targets file cannot be opened."),
                               opened.failure().reason);
}

bool Window::save()
{
    if (m_targetsFile.isEmpty())
        return saveAs();
    const Printer::Result<void> saved = m_model->save(m_targetsFile);
    if (!saved.ok()) {
        m_dialogs->showMessage(MessageIcon::Warning,
                               tr("Save"),
                               tr("The list of printers was not saved."),
                               saved.failure().reason);
        return false;
    }
    updateTitle();
    return true;
}

bool Window::saveAs()
{
    const QString chosen = m_dialogs->saveTargetsFile(m_targetsFile);
    if (chosen.isEmpty())
        return false;
    const QString previous = m_targetsFile;
    m_targetsFile = QFileInfo(chosen).absoluteFilePath();
    if (!save()) {
        m_targetsFile = previous;
        return false;
    }
    QSettings().setValue(QStringLiteral("targets/lastFile"), m_targetsFile);
    updateTitle();
    return true;
}

void Window::addPrinter()
{
    if (m_runner.isRunning())
        return;
    const std::optional<Printer::Target> target = m_dialogs->addPrinter();
    if (!target)
        return;
    const Printer::Result<void> added = m_model->addTarget(*target);
    if (!added.ok()) {
        m_dialogs->showMessage(MessageIcon::Warning,
                               tr("Add"),
                               tr("The printer was not added."),
                               added.failure().reason);
        return;
    }
    m_table->selectRow(m_model->rowCount() - 1);
    updateTitle();
}

void Window::findPrinters()
{
    if (m_runner.isRunning())
        return;
    const int first = m_model->rowCount();
    const AddedPrinters added = m_dialogs->findPrinters(m_library, *m_model);
    if (added.added.isEmpty())
        return;
    // The printers added come last in the list; they are chosen, and asked at the next poll.
    const QItemSelection rows(m_decorated->index(first, 0),
                              m_decorated->index(m_model->rowCount() - 1, 0));
    m_table->selectionModel()->setCurrentIndex(m_decorated->index(first, 0),
                                               QItemSelectionModel::NoUpdate);
    m_table->selectionModel()->select(
            rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    updateTitle();
    QString text = added.added.size() == 1 ? tr("1 printer added.")
                                           : tr("%1 printers added.").arg(added.added.size());
    if (!added.notAdded.isEmpty())
        text += QLatin1Char(' ') + added.notAdded.join(QLatin1Char(' '));
    m_progressText->setText(text);
}

void Window::removePrinters()
{
    if (m_runner.isRunning())
        return;
    m_model->removePrinters(chosenRows());
    updateTitle();
    currentChanged();
}

void Window::askNow()
{
    for (const int row : chosenRows())
        m_model->poller().askSoon(m_model->entry(row).key);
    askCurrentDetails();
}

void Window::editSettings()
{
    const std::optional<WindowSettings> changed = m_dialogs->editSettings(m_settings);
    if (!changed)
        return;
    m_settings = *changed;
    applyPollSettings();
    saveSettings();
}

void Window::closeEvent(QCloseEvent *event)
{
    if (m_runner.isRunning()) {
        event->ignore();
        if (m_closeWhenDone
            || !m_dialogs->confirm(tr("Close"),
                                   tr("An action is still talking to the printers. Stop it and "
                                      "close the window?")))
            return;
        // Closes once the action has ended, also when it ended while the question was up.
        m_closeWhenDone = true;
        if (!m_runner.isRunning()) {
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            return;
        }
        m_runner.requestStop();
        m_progressText->setText(tr("Stopping…"));
        return;
    }
    if (m_model->isModified() && m_model->rowCount() > 0
        && !m_dialogs->confirm(tr("Close"),
                               tr("The list of printers has changes that are not saved. Close "
                                  "without saving them?"))) {
        event->ignore();
        return;
    }
    saveSettings();
    event->accept();
}

} // namespace PrintersWindow

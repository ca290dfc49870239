#include "frmcuttest.h"

#include "dialogs.h"
#include "progresswindow.h"

#include <commands/downloadcommand.h>
#include <commands/filenames.h>
#include <commands/printoutcommand.h>
#include <commands/settings.h>
#include <printer/installedprinters.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <memory>

namespace App {

namespace {

QRect twips(int left, int top, int width, int height)
{
    const int p = FrmCutTest::TwipsPerPixel;
    return QRect(left / p, top / p, width / p, height / p);
}

template<typename W>
W *place(QWidget *parent, const char *name, const QRect &geometry)
{
    auto widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    QLabel *l = place<QLabel>(parent, name, geometry);
    l->setText(caption);
    return l;
}

QComboBox *dropDownList(QWidget *parent, const char *name, const QRect &geometry)
{
    QComboBox *combo = place<QComboBox>(parent, name, geometry);
    combo->setEditable(false);
    return combo;
}

QPushButton *
button(QWidget *parent, const char *name, const QString &caption, const QRect &geometry)
{
    QPushButton *b = place<QPushButton>(parent, name, geometry);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

} // namespace

FrmCutTest::FrmCutTest(Printer::PosLibrary &library, Dialogs *dialogs, QWidget *parent)
    : QWidget(parent)
    , m_library(library)
{
    if (!dialogs) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        dialogs = m_ownDialogs.get();
    }
    m_dialogs = dialogs;

    setObjectName(QStringLiteral("FrmCutTest"));
    setWindowTitle(QStringLiteral("Frm_Kelvane(17-3-31)"));
    setWindowIcon(QIcon(QStringLiteral(":/nvlogo/nvlogo.ico")));
    setFixedSize(5805 / TwipsPerPixel, 1935 / TwipsPerPixel);

    createControls();
    fitFontToLayout();
    m_progress = new ProgressWindow(this);
    connect(m_progress, &ProgressWindow::stopClicked, this, &FrmCutTest::stopClicked);
    connect(&m_runner, &CommandRunner::stageChanged, m_progress, &ProgressWindow::setStage);
    connect(&m_runner, &CommandRunner::bytesMoved, m_progress, &ProgressWindow::setBytesMoved);
    connect(&m_runner, &CommandRunner::finished, this, &FrmCutTest::commandEnded);
    Form_Load();
}

FrmCutTest::~FrmCutTest() = default;

void FrmCutTest::createControls()
{
    Label1 = label(this, "Label1", QStringLiteral("Port:"), twips(105, 150, 450, 255));
    Combo1 = place<QComboBox>(this, "Combo1", twips(645, 105, 1575, 315));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    // Completion would turn a typed "C" into "COM1" and switch the connection kind early.
    Combo1->setCompleter(nullptr);
    Combo1->setEditText(QStringLiteral("Combo1"));
    Label2 = label(this, "Label2", QStringLiteral("IP:"), twips(105, 570, 255, 255));
    Text1 = place<QLineEdit>(this, "Text1", twips(675, 540, 1575, 285));
    Text1->setText(Commands::defaultPrinterAddress());
    Label3 = label(this, "Label3", QStringLiteral("Driver:"), twips(105, 990, 495, 255));
    Combo2 = dropDownList(this, "Combo2", twips(735, 945, 2115, 315));
    Label4 = label(this, "Label4", QStringLiteral("Baundrate:"), twips(105, 1365, 840, 255));
    Combo3 = dropDownList(this, "Combo3", twips(975, 1350, 1095, 315));
    CmdDownload = button(
            this, "CmdDownload", QStringLiteral("Download Picture"), twips(3045, 210, 2325, 750));
    Combo4 = dropDownList(this, "Combo4", twips(3150, 1170, 645, 315));
    CmdPrintOut = button(
            this, "CmdPrintOut", QStringLiteral("Print Out"), twips(3915, 1170, 1635, 600));
    Label5 = label(this, "Label5", QStringLiteral("No:"), twips(2835, 1215, 285, 240));
    Combo5 = dropDownList(this, "Combo5", twips(2520, 1530, 1275, 315));

    // Keyboard focus order; the labels never take the focus.
    const QList<QWidget *> focusOrder
            = {Combo1, Combo2, Combo3, CmdDownload, Combo4, CmdPrintOut, Combo5, Text1};
    for (int i = 1; i < focusOrder.size(); ++i)
        QWidget::setTabOrder(focusOrder.at(i - 1), focusOrder.at(i));
    Combo1->setFocus();

    connect(Combo1, &QComboBox::currentIndexChanged, this, &FrmCutTest::Combo1_Click);
    connect(Combo1, &QComboBox::editTextChanged, this, &FrmCutTest::Combo1_Change);
    connect(CmdDownload, &QPushButton::clicked, this, &FrmCutTest::CmdDownload_Click);
    connect(CmdPrintOut, &QPushButton::clicked, this, &FrmCutTest::CmdPrintOut_Click);
}

void FrmCutTest::fitFontToLayout()
{
    // The layout is fixed in twips and was drawn for a small dialog font; a larger
    // desktop font would cut captions off, so the font shrinks until they all fit.
    const QList<QPair<QWidget *, QString>> captions = {{Label1, Label1->text()},
                                                       {Label2, Label2->text()},
                                                       {Label3, Label3->text()},
                                                       {Label4, Label4->text()},
                                                       {Label5, Label5->text()},
                                                       {CmdDownload, CmdDownload->text()},
                                                       {CmdPrintOut, CmdPrintOut->text()},
                                                       {Text1, Commands::defaultPrinterAddress()}};
    constexpr qreal SmallestPointSize = 6.0;
    constexpr int TextMargins = 8; // frame and padding of a text box
    QFont f = font();
    auto fits = [&] {
        const QFontMetrics metrics(f);
        for (const auto &[widget, text] : captions) {
            const int room = widget == Text1 ? widget->width() - TextMargins : widget->width();
            if (metrics.horizontalAdvance(text) > room)
                return false;
        }
        return true;
    };
    while (f.pointSizeF() > SmallestPointSize && !fits())
        f.setPointSizeF(f.pointSizeF() - 0.5);
    setFont(f);
}

void FrmCutTest::Form_Load()
{
    Combo1->addItems({QStringLiteral("ETHERNET"),
                      QStringLiteral("COM1"),
                      QStringLiteral("COM2"),
                      QStringLiteral("COM3"),
                      QStringLiteral("COM4"),
                      QStringLiteral("COM5"),
                      QStringLiteral("COM6"),
                      QStringLiteral("COM7"),
                      QStringLiteral("COM8"),
                      QStringLiteral("COM9"),
                      QStringLiteral("LPT1"),
                      QStringLiteral("LPT2"),
                      QStringLiteral("LPT3"),
                      QStringLiteral("DRIVER")});
    // The first item became current as it was added, which already applied its rule.
    Combo1->setCurrentIndex(0);

    Combo3->addItems({QStringLiteral("9600"),
                      QStringLiteral("19200"),
                      QStringLiteral("38400"),
                      QStringLiteral("115200")});
    Combo3->setCurrentIndex(1);

    Combo5->addItems({QStringLiteral("normal"),
                      QStringLiteral("double width"),
                      QStringLiteral("double height"),
                      QStringLiteral("double")});
    Combo5->setCurrentIndex(0);

    for (int i = 0; i <= 12; ++i)
        Combo4->addItem(QString::number(i + 1));
    Combo4->setCurrentIndex(0);

    listPrinters();

    // Transparent parts of a picture show the window's background, as on screen.
    Picture1.setBackground(palette().color(QPalette::Base));
}

Printer::PortSettings FrmCutTest::portSettings() const
{
    return {Combo1->currentText(), Text1->text(), Combo2->currentText(), Combo3->currentText()};
}

void FrmCutTest::applyConnectionKind()
{
    bool ip = false;
    bool printer = false;
    bool baud = false;
    switch (Printer::portKindOf(Combo1->currentText())) {
    case Printer::PortKind::Ethernet:
        ip = true;
        break;
    case Printer::PortKind::Serial:
        baud = true;
        break;
    case Printer::PortKind::Parallel:
        break;
    case Printer::PortKind::Driver:
        printer = true;
        break;
    case Printer::PortKind::Unknown:
        return; // a text of no known kind leaves the settings as they were
    }
    Text1->setEnabled(ip);
    Combo2->setEnabled(printer);
    Combo3->setEnabled(baud);
}

void FrmCutTest::Combo1_Click()
{
    applyConnectionKind();
}

void FrmCutTest::Combo1_Change()
{
    applyConnectionKind();
}

void FrmCutTest::listPrinters()
{
    // A print server that is slow to answer must not hold the window back; the list fills
    // in when the answer comes.
    auto names = std::make_shared<QStringList>();
    QThread *lister = QThread::create([names] { *names = Printer::installedPrinters(); });
    connect(lister, &QThread::finished, lister, &QObject::deleteLater);
    connect(lister, &QThread::finished, this, [this, names] {
        Combo2->addItems(*names);
        Combo2->setCurrentIndex(Combo2->count() > 0 ? 0 : -1);
        Q_EMIT printersListed();
    });
    lister->start();
}

void FrmCutTest::CmdDownload_Click()
{
    runGuarded(*m_dialogs, [this] {
        if (m_runner.isRunning())
            return;
        const Printer::PortSettings port = portSettings();
        const PictureChoice choice = m_dialogs->choosePictures(Commands::downloadNameFilters(),
                                                               {Commands::describeTarget(port),
                                                                Commands::serialBaudRate(port),
                                                                Picture1.background()});
        if (choice.paths.isEmpty())
            return;
        // The dialog shows a name that is not valid text as best it can; find its bytes.
        QStringList paths;
        for (const QString &path : choice.paths)
            paths.append(Commands::recoverLossyPath(path));
        setCommandsEnabled(false);
        setImageNumbers(int(paths.size()));
        Commands::DownloadRequest request;
        request.pictures = paths;
        request.options.nvCapacity = Commands::nvCapacitySetting();
        request.options.preparation = choice.preparation;
        startCommand(
                CmdDownload->text(), port, [this, port, request](Commands::Progress &progress) {
                    return Commands::downloadPictures(
                            m_library, port, request, Picture1, m_runState, &progress);
                });
    });
}

void FrmCutTest::CmdPrintOut_Click()
{
    runGuarded(*m_dialogs, [this] {
        if (m_runner.isRunning())
            return;
        setCommandsEnabled(false);
        const Printer::PortSettings port = portSettings();
        const QString imageNumber = Combo4->currentText();
        const int mode = Combo5->currentIndex();
        startCommand(CmdPrintOut->text(),
                     port,
                     [this, port, imageNumber, mode](Commands::Progress &progress) {
                         return Commands::PrintOut(
                                 m_library, port, imageNumber, mode, m_runState, &progress);
                     });
    });
}

void FrmCutTest::startCommand(const QString &title,
                              const Printer::PortSettings &port,
                              CommandRunner::Work work)
{
    m_runState = m_state;
    m_progress->begin(title, Commands::describeTarget(port), Commands::serialBaudRate(port));
    m_runner.start(std::move(work));
}

void FrmCutTest::stopClicked()
{
    runGuarded(*m_dialogs, [this] {
        if (!m_runner.isRunning() || m_runner.stopRequested())
            return;
        // Before the first byte a stop loses nothing; once bytes move it breaks the
        // definition the printer is receiving, so the user decides.
        if (m_runner.stage() == Commands::Progress::Stage::Sending
            && !confirm(tr("Stop"),
                        tr("The printer is receiving the data. If you stop now, it keeps a "
                           "partial definition and must be switched off and on before the "
                           "next download.\n\nStop sending?"))) {
            return;
        }
        stopCommand();
    });
}

void FrmCutTest::stopCommand()
{
    // The command may have ended while a question was up.
    if (!m_runner.isRunning())
        return;
    m_runner.requestStop();
    m_progress->setStopping();
}

bool FrmCutTest::confirm(const QString &caption, const QString &question)
{
    // The command may end while the question is up; its outcome waits for the answer.
    m_asking = true;
    const bool yes = m_dialogs->confirm(caption, question);
    m_asking = false;
    if (m_outcomeWaits) {
        m_outcomeWaits = false;
        QMetaObject::invokeMethod(this, &FrmCutTest::showOutcome, Qt::QueuedConnection);
    }
    return yes;
}

void FrmCutTest::endForSignal()
{
    m_quitWhenDone = true;
    if (!m_runner.isRunning())
        QCoreApplication::quit();
    stopCommand();
}

void FrmCutTest::commandEnded(const Commands::Outcome &outcome)
{
    m_state = m_runState;
    m_outcome = outcome;
    m_progress->end();
    setCommandsEnabled(true);
    if (m_quitWhenDone) {
        Q_EMIT commandFinished();
        QCoreApplication::quit();
        return;
    }
    if (m_asking) {
        m_outcomeWaits = true;
        return;
    }
    showOutcome();
}

void FrmCutTest::showOutcome()
{
    // The user reads the outcome in a window that is usable again.
    runGuarded(*m_dialogs, [this] {
        Commands::Outcome shown = m_outcome;
        shown.text = Commands::displayNames(shown.text);
        shown.details = Commands::displayNames(shown.details);
        m_dialogs->show(shown);
    });
    Q_EMIT commandFinished();
    if (m_closeWhenDone)
        close();
}

void FrmCutTest::closeEvent(QCloseEvent *event)
{
    if (!m_runner.isRunning()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_closeWhenDone)
        return;
    if (!confirm(tr("Close"),
                 tr("A command is still talking to the printer. Stop it and close the window?")))
        return;
    // Closes once the outcome has been shown, also when the command ended meanwhile.
    m_closeWhenDone = true;
    stopCommand();
}

void FrmCutTest::setCommandsEnabled(bool enabled)
{
    CmdDownload->setEnabled(enabled);
    CmdPrintOut->setEnabled(enabled);
}

void FrmCutTest::setImageNumbers(int count)
{
    Combo4->clear();
    for (int i = 1; i <= count; ++i)
        Combo4->addItem(QString::number(i));
    Combo4->setCurrentIndex(0);
}

} // namespace App

#include "printerdialogs.h"

#include <escpos/commands.h>
#include <printer/installedprinters.h>
#include <printer/portconnection.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

namespace PrintersWindow {

namespace {

QComboBox *comboOf(QWidget *parent, const QStringList &items)
{
    auto combo = new QComboBox(parent);
    combo->addItems(items);
    return combo;
}

QStringList keyTexts(const QList<QByteArray> &keys)
{
    QStringList texts;
    for (const QByteArray &key : keys)
        texts.append(QString::fromLatin1(key));
    return texts;
}

} // namespace

QLabel *finishForm(QDialog *dialog, QFormLayout *form)
{
    auto problem = new QLabel(dialog);
    problem->setObjectName(QStringLiteral("problem"));
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #b71c1c"));
    form->addRow(problem);
    auto buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    form->addRow(buttons);
    return problem;
}

QByteArray graphicsKeyOf(const QString &text)
{
    const QByteArray key = text.toLatin1();
    if (text.size() != 2 || QString::fromLatin1(key) != text || !EscPos::isGraphicsKey(key))
        return {};
    return key;
}

// --- Add a printer ------------------------------------------------------------------------

AddPrinterDialog::AddPrinterDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Add a printer"));
    auto form = new QFormLayout(this);
    QStringList ports{QStringLiteral("ETHERNET")};
    for (int i = 1; i <= 9; ++i)
        ports << QStringLiteral("COM%1").arg(i);
    ports << QStringLiteral("LPT1") << QStringLiteral("LPT2") << QStringLiteral("LPT3")
          << QStringLiteral("DRIVER");
    m_port = comboOf(this, ports);
    // As in the main window: a device path can be typed (COM:/dev/ttyUSB0, LPT:/dev/usb/lp1).
    m_port->setEditable(true);
    m_port->setInsertPolicy(QComboBox::NoInsert);
    m_port->setCompleter(nullptr);
    m_address = new QLineEdit(this);
    m_address->setPlaceholderText(tr("host or host:port"));
    m_queue = new QComboBox(this);
    m_baud = comboOf(this, Printer::baudRates());
    m_baud->setCurrentText(QString::number(Printer::DefaultBaud));
    form->addRow(tr("&Port:"), m_port);
    form->addRow(tr("&Address:"), m_address);
    form->addRow(tr("&Queue:"), m_queue);
    form->addRow(tr("&Speed:"), m_baud);
    m_problem = finishForm(this, form);
    connect(m_port, &QComboBox::currentTextChanged, this, &AddPrinterDialog::applyKind);
    applyKind();
    listQueues();
}

void AddPrinterDialog::applyKind()
{
    const Printer::PortKind kind = Printer::portKindOf(m_port->currentText());
    m_address->setEnabled(kind == Printer::PortKind::Ethernet);
    m_queue->setEnabled(kind == Printer::PortKind::Driver);
    m_baud->setEnabled(kind == Printer::PortKind::Serial);
}

void AddPrinterDialog::listQueues()
{
    // A print server that is slow to answer must not hold the dialog back.
    auto names = std::make_shared<QStringList>();
    QThread *lister = QThread::create([names] { *names = Printer::installedPrinters(); });
    connect(lister, &QThread::finished, lister, &QObject::deleteLater);
    connect(lister, &QThread::finished, this, [this, names] { m_queue->addItems(*names); });
    lister->start();
}

void AddPrinterDialog::accept()
{
    const Printer::PortSettings settings{m_port->currentText(),
                                         m_address->text(),
                                         m_queue->currentText(),
                                         m_baud->currentText()};
    Printer::Target target;
    try {
        target = Printer::Target::fromWindowSettings(settings);
    } catch (const Printer::ConversionError &) {
        target = Printer::Target();
    }
    // What a targets file cannot hold back is no printer to keep in the list.
    const auto again = Printer::Target::parse(target.line());
    if (target.kind() == Printer::PortKind::Unknown || target.name().isEmpty() || !again.ok()
        || again.value() != target) {
        m_problem->setText(
                target.kind() == Printer::PortKind::Unknown
                        ? tr("Choose a port: ETHERNET, COM1 to COM9, LPT1 to LPT3, DRIVER, or "
                             "type COM:/path or LPT:/path.")
                        : tr("That names no printer: %1")
                                  .arg(again.ok() ? tr("give an address or a queue")
                                                  : again.failure().reason));
        return;
    }
    m_target = target;
    QDialog::accept();
}

// --- Test print ---------------------------------------------------------------------------

TestPrintDialog::TestPrintDialog(QWidget *parent,
                                 const TestPrintRequest &last,
                                 const QList<QByteArray> &keys)
    : QDialog(parent)
{
    setWindowTitle(tr("Test print"));
    auto form = new QFormLayout(this);
    m_image = new QRadioButton(tr("An NV &image"), this);
    m_number = new QSpinBox(this);
    m_number->setRange(1, 255);
    m_number->setValue(last.image);
    m_mode = comboOf(this, {tr("normal"), tr("double width"), tr("double height"), tr("double")});
    m_mode->setCurrentIndex(last.mode);
    m_graphic = new QRadioButton(tr("An NV &graphic"), this);
    m_key = comboOf(this, keyTexts(keys));
    m_key->setEditable(true);
    if (!last.key.isEmpty())
        m_key->setCurrentText(QString::fromLatin1(last.key));
    m_scale = comboOf(this,
                      {QStringLiteral("1x1"),
                       QStringLiteral("1x2"),
                       QStringLiteral("2x1"),
                       QStringLiteral("2x2")});
    m_scale->setCurrentText(QStringLiteral("%1x%2").arg(last.scaleX).arg(last.scaleY));
    form->addRow(m_image);
    form->addRow(tr("&Number:"), m_number);
    form->addRow(tr("Si&ze:"), m_mode);
    form->addRow(m_graphic);
    form->addRow(tr("&Key:"), m_key);
    form->addRow(tr("S&cale:"), m_scale);
    auto note = new QLabel(tr("The printer is asked first; it prints only when it is ready, and "
                              "the row shows whether it confirmed the print-out."),
                           this);
    note->setWordWrap(true);
    form->addRow(note);
    m_problem = finishForm(this, form);
    (last.kind == TestPrintRequest::Kind::Graphic ? m_graphic : m_image)->setChecked(true);
    connect(m_image, &QRadioButton::toggled, this, &TestPrintDialog::applyKind);
    applyKind();
}

void TestPrintDialog::applyKind()
{
    const bool image = m_image->isChecked();
    m_number->setEnabled(image);
    m_mode->setEnabled(image);
    m_key->setEnabled(!image);
    m_scale->setEnabled(!image);
}

TestPrintRequest TestPrintDialog::request() const
{
    TestPrintRequest request;
    request.kind = m_image->isChecked() ? TestPrintRequest::Kind::NvImage
                                        : TestPrintRequest::Kind::Graphic;
    request.image = m_number->value();
    request.mode = m_mode->currentIndex();
    request.key = graphicsKeyOf(m_key->currentText());
    request.scaleX = m_scale->currentText().at(0).digitValue();
    request.scaleY = m_scale->currentText().at(2).digitValue();
    return request;
}

void TestPrintDialog::accept()
{
    if (m_graphic->isChecked() && request().key.isEmpty()) {
        m_problem->setText(tr("A key is two characters, each from space to '~'."));
        return;
    }
    QDialog::accept();
}

// --- Delete a graphic ---------------------------------------------------------------------

DeleteGraphicDialog::DeleteGraphicDialog(QWidget *parent, const QList<QByteArray> &keys)
    : QDialog(parent)
{
    setWindowTitle(tr("Delete NV graphics"));
    auto form = new QFormLayout(this);
    m_key = comboOf(this, keyTexts(keys));
    m_key->setEditable(true);
    m_all = new QCheckBox(tr("&Every graphic"), this);
    form->addRow(tr("&Key:"), m_key);
    form->addRow(m_all);
    m_problem = finishForm(this, form);
    connect(m_all, &QCheckBox::toggled, m_key, &QWidget::setDisabled);
}

QByteArray DeleteGraphicDialog::key() const
{
    return m_all->isChecked() ? QByteArray() : graphicsKeyOf(m_key->currentText());
}

void DeleteGraphicDialog::accept()
{
    if (!m_all->isChecked() && key().isEmpty()) {
        m_problem->setText(tr("A key is two characters, each from space to '~'."));
        return;
    }
    QDialog::accept();
}

// --- Settings -----------------------------------------------------------------------------

SettingsDialog::SettingsDialog(QWidget *parent, const WindowSettings &current)
    : QDialog(parent)
{
    setWindowTitle(tr("Settings"));
    auto form = new QFormLayout(this);
    m_poll = new QSpinBox(this);
    m_poll->setRange(1, 3600);
    m_poll->setSuffix(tr(" s"));
    m_poll->setValue(current.pollSeconds);
    m_waitReady = new QSpinBox(this);
    m_waitReady->setRange(1, 600);
    m_waitReady->setSuffix(tr(" s"));
    m_waitReady->setValue(current.waitReadySeconds);
    form->addRow(tr("&Ask each printer every:"), m_poll);
    form->addRow(tr("&Wait for a printer's reset after a download up to:"), m_waitReady);
    (void)finishForm(this, form);
}

WindowSettings SettingsDialog::settings() const
{
    return {m_poll->value(), m_waitReady->value()};
}

} // namespace PrintersWindow

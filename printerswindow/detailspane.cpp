#include "detailspane.h"

#include <commands/messages.h>
#include <commands/printerlistmodel.h>

#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace PrintersWindow {

namespace {

QLabel *valueLabel(QWidget *parent)
{
    auto label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

} // namespace

DetailsPane::DetailsPane(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("details"));
    auto layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    layout->addWidget(m_title);
    auto form = new QFormLayout;
    m_status = valueLabel(this);
    m_model = valueLabel(this);
    m_firmware = valueLabel(this);
    m_keys = new QListWidget(this);
    m_keys->setMaximumHeight(90);
    m_memory = valueLabel(this);
    m_nvImages = valueLabel(this);
    m_lastAction = new QPlainTextEdit(this);
    m_lastAction->setReadOnly(true);
    m_lastAction->setMaximumHeight(80);
    form->addRow(tr("Status:"), m_status);
    form->addRow(tr("Model:"), m_model);
    form->addRow(tr("Firmware:"), m_firmware);
    auto keysLabel = new QLabel(tr("NV &graphics:"), this);
    keysLabel->setBuddy(m_keys);
    form->addRow(keysLabel, m_keys);
    form->addRow(tr("Memory:"), m_memory);
    form->addRow(tr("NV bit images:"), m_nvImages);
    auto lastLabel = new QLabel(tr("&Last action:"), this);
    lastLabel->setBuddy(m_lastAction);
    form->addRow(lastLabel, m_lastAction);
    layout->addLayout(form);
    m_askAgain = new QPushButton(tr("Ask a&gain"), this);
    layout->addWidget(m_askAgain, 0, Qt::AlignLeft);
    layout->addStretch();
    connect(m_askAgain, &QPushButton::clicked, this, &DetailsPane::askAgainClicked);
    showEntry(nullptr);
}

void DetailsPane::showEntry(const Commands::PrinterEntry *entry)
{
    m_askAgain->setEnabled(entry != nullptr);
    if (!entry) {
        m_title->setText(tr("No printer chosen"));
        for (QLabel *label : {m_status, m_model, m_firmware, m_memory, m_nvImages})
            label->clear();
        m_keys->clear();
        m_lastAction->clear();
        return;
    }
    m_title->setText(entry->target.display());
    QString status = Commands::stateName(
            entry->state, entry->report ? entry->report->status : EscPos::PrinterStatus());
    if (!entry->stateReason.isEmpty())
        status += QStringLiteral("\n") + entry->stateReason;
    else if (entry->report)
        status = Commands::statusWords(*entry->report);
    m_status->setText(status);
    m_model->setText(entry->model.isEmpty() ? tr("unknown") : entry->model);
    m_firmware->setText(entry->firmware.isEmpty() ? tr("unknown") : entry->firmware);
    showGraphics(*entry);
    m_nvImages->setText(
            entry->nvImages
                    ? tr("%1 (from the last download or store made here)").arg(*entry->nvImages)
                    : tr("unknown (no download made here)"));
    if (m_lastAction->toPlainText() != entry->resultDetails)
        m_lastAction->setPlainText(entry->resultDetails);
}

void DetailsPane::showGraphics(const Commands::PrinterEntry &entry)
{
    m_keys->clear();
    if (entry.holdings) {
        for (const QByteArray &key : entry.holdings->keys)
            m_keys->addItem(QString::fromLatin1(key));
        const Commands::GraphicsMemory &memory = entry.holdings->memory;
        m_memory->setText(tr("%1 of %2 bytes free")
                                  .arg(Commands::bytesText(memory.remaining),
                                       Commands::bytesText(memory.capacity)));
        if (entry.holdings->keys.isEmpty())
            m_keys->addItem(tr("(none)"));
    } else {
        m_memory->setText(entry.detailsAsked ? tr("asking…") : entry.holdingsReason);
    }
}

} // namespace PrintersWindow

#include "preparationcontrols.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>

namespace Controls {

PreparationControls::PreparationControls(QWidget *parent)
    : QWidget(parent)
{
    auto grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    auto paperLabel = new QLabel(tr("&Paper:"), this);
    m_paper = new QComboBox(this);
    m_fit = new QCheckBox(tr("Fit to paper"), this);
    m_centre = new QCheckBox(tr("Centre"), this);
    m_brightness = new QCheckBox(tr("By brightness"), this);
    m_level = new QSpinBox(this);
    m_dither = new QCheckBox(tr("Dither (photos)"), this);

    m_paper->setObjectName(QStringLiteral("paper"));
    m_paper->addItem(tr("none"), 0);
    m_paper->addItem(tr("58 mm"), NvImage::Paper58mmDots);
    m_paper->addItem(tr("80 mm"), NvImage::Paper80mmDots);
    m_paper->setToolTip(tr("The paper the logo is for: the warnings judge by it, and Fit and "
                           "Centre work to its width."));
    paperLabel->setBuddy(m_paper);
    m_fit->setObjectName(QStringLiteral("fit"));
    m_fit->setToolTip(tr("Scale each picture, keeping its proportions, to the paper's width."));
    m_centre->setObjectName(QStringLiteral("centre"));
    m_centre->setToolTip(tr("White on both sides up to the paper's width: the logo prints "
                            "centred."));
    m_fit->setEnabled(false);
    m_centre->setEnabled(false);
    m_brightness->setObjectName(QStringLiteral("brightness"));
    m_brightness->setToolTip(tr("A dot is black when its pixel is darker than the level, "
                                "instead of black where blue is dark."));
    m_level->setObjectName(QStringLiteral("level"));
    m_level->setRange(0, 255);
    m_level->setValue(DefaultLevel);
    m_level->setEnabled(false);
    m_level->setAccessibleName(tr("Brightness level"));
    m_dither->setObjectName(QStringLiteral("dither"));
    m_dither->setToolTip(tr("Convert by brightness with error diffusion instead of printing "
                            "black where blue is dark. For photos and coloured logos."));
    grid->addWidget(paperLabel, 0, 0);
    grid->addWidget(m_paper, 0, 1);
    grid->addWidget(m_fit, 1, 0);
    grid->addWidget(m_centre, 1, 1);
    grid->addWidget(m_brightness, 2, 0);
    grid->addWidget(m_level, 2, 1);
    grid->addWidget(m_dither, 3, 0, 1, 2);

    connectControls();
}

void PreparationControls::connectControls()
{
    // Dither and a brightness level are two ways to convert: one at a time.
    connect(m_dither, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_brightness->setChecked(false);
        Q_EMIT changed();
    });
    connect(m_brightness, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_dither->setChecked(false);
        m_level->setEnabled(on);
        Q_EMIT changed();
    });
    connect(m_level, &QSpinBox::valueChanged, this, &PreparationControls::changed);
    connect(m_paper, &QComboBox::currentIndexChanged, this, [this] {
        const bool paper = paperDots().has_value();
        m_fit->setEnabled(paper);
        m_centre->setEnabled(paper);
        Q_EMIT changed();
    });
    connect(m_fit, &QCheckBox::toggled, this, &PreparationControls::changed);
    connect(m_centre, &QCheckBox::toggled, this, &PreparationControls::changed);
}

std::optional<int> PreparationControls::paperDots() const
{
    const int paper = m_paper->currentData().toInt();
    return paper > 0 ? std::optional<int>(paper) : std::nullopt;
}

bool PreparationControls::dither() const
{
    return m_dither->isChecked();
}

NvImage::Preparation PreparationControls::preparation() const
{
    NvImage::Preparation preparation;
    if (const std::optional<int> paper = paperDots()) {
        preparation.paperDots = *paper;
        preparation.fit = m_fit->isChecked();
        preparation.center = m_centre->isChecked();
    }
    if (m_dither->isChecked())
        preparation.conversion = NvImage::Conversion::Dither;
    else if (m_brightness->isChecked())
        preparation.threshold = m_level->value();
    return preparation;
}

} // namespace Controls

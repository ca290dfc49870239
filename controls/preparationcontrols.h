#pragma once

#include <nvimage/preparation.h>

#include <QWidget>

#include <optional>

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace Controls {

// How a picture is prepared for the printer, for any dialog that takes pictures: the paper
// (none, 58 mm, 80 mm), "Fit to paper" and "Centre" (with a paper only), "By brightness" with
// its level and "Dither (photos)", one of the two conversions at a time. Every control starts
// off, so that the dots are the printer tool's own until the user asks for more.
class PreparationControls : public QWidget
{
    Q_OBJECT

public:
    // Where "By brightness" starts: dark blue lettering prints, yellow does not.
    static constexpr int DefaultLevel = 160;

    explicit PreparationControls(QWidget *parent = nullptr);

    // The identity while no control is set.
    NvImage::Preparation preparation() const;
    // The paper chosen; none when it is "none".
    std::optional<int> paperDots() const;
    bool dither() const;

    QComboBox *paperBox() const { return m_paper; }
    QCheckBox *fitBox() const { return m_fit; }
    QCheckBox *centreBox() const { return m_centre; }
    QCheckBox *brightnessBox() const { return m_brightness; }
    QSpinBox *levelBox() const { return m_level; }
    QCheckBox *ditherBox() const { return m_dither; }

Q_SIGNALS:
    // A control changed what preparation() returns.
    void changed();

private:
    void connectControls();

    QComboBox *m_paper;
    QCheckBox *m_fit;
    QCheckBox *m_centre;
    QCheckBox *m_brightness;
    QSpinBox *m_level;
    QCheckBox *m_dither;
};

} // namespace Controls

#pragma once

// What may go wrong with a picture that can be seen before it is stored: judged the same way
// by the preview, the window's pane and every command that sends pictures.

#include "picturesurface.h"

#include <escpos/dotimage.h>

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <optional>

namespace NvImage {

enum class PreviewWarning {
    WiderThan80mmPaper, // no paper named: wider than 576 dots
    WiderThan58mmPaper, // no paper named: wider than 384 dots, up to 576
    WiderThanPaper,     // wider than the paper named
    NearlyAllWhite,     // more than 99.5 % of the picture's dots are white
    NearlyAllBlack,     // more than 99.5 % of the picture's dots are black
    ColoursMisprinted,  // blue rule: more than 5 % of the pixels are clearly dark but print
                        // white, or clearly light but print black
    ShadesLost,         // blue rule or threshold: more than 25 % of the pixels are mid tones
    LargerThanNvMemory, // the record alone needs more than the printer's NV memory
};

// What a warning is judged against.
struct WarningRules
{
    // The paper the picture is for; none: the two common papers.
    std::optional<int> paperDots;
    // The printer's NV memory; 0 leaves it unjudged.
    qint64 nvCapacity = 0;
};

// The pixels a rule converted, counted by what it does to them. The margins around 128 keep
// near-grey pixels, which either way is right for, from counting.
struct ColourCounts
{
    qint64 misprinted = 0; // clearly dark but white by the blue rule, or clearly light but black
    qint64 midTones = 0;   // neither dark nor light
};
ColourCounts countColours(const PictureSurface &surface);
ColourCounts countColours(const QImage &pixels); // opaque RGB32

// One picture's dots (padded, as stored), its own size inside them, and its colours when the
// conversion was a rule that they can fool: the blue rule (all warnings) or a threshold
// (only the shades; thresholdRule true). No colours: dithered, nothing to judge.
QList<PreviewWarning> judgePicture(const EscPos::DotImage &dots,
                                   const QSize &own,
                                   const std::optional<ColourCounts> &colours,
                                   bool thresholdRule,
                                   const WarningRules &rules);

// Black dots inside the picture's own size.
qint64 blackDots(const EscPos::DotImage &dots, const QSize &own);

// The warning as the window says it, one short sentence naming the window's controls.
QString previewWarningText(PreviewWarning warning, const WarningRules &rules);

} // namespace NvImage

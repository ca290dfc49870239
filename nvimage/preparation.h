#pragma once

#include "errors.h"
#include "pictureloader.h"
#include "picturesurface.h"
#include <escpos/dotimage.h>

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

namespace NvImage {

// Receipt printers print 8 dots a millimetre; the common papers' printable widths.
constexpr int DotsPerMm = 8;
constexpr int Paper80mmDots = 576;
constexpr int Paper58mmDots = 384;

// The paper's printable width in dots: at least one byte, at most the widest NV bit image.
constexpr int MinPaperDots = 8;
constexpr int MaxPaperDots = MaxWidthDots;

// How a decoded picture is made ready for the printer. The steps run in this order: rotate,
// trim, fit, centre, convert, invert. The default changes nothing: the dots are the ones the
// printer tool always made.
struct Preparation
{
    // The printable width in dots: 384 on 58 mm paper, 576 (Paper80mmDots) on 80 mm paper.
    // Fit and centre work to it; without them it only judges the warnings.
    int paperDots = Paper80mmDots;
    // Clockwise, in degrees: 0, 90, 180 or 270.
    int rotation = 0;
    // Removes the rows and columns at the edges whose dots would all be white under the
    // conversion below, judged on the rotated picture before it is scaled.
    bool trim = false;
    // Scales the picture, keeping its proportions, so that its width is the paper's.
    bool fit = false;
    // Adds white on both sides up to the paper's width; an odd dot goes to the right.
    // A picture wider than the paper is left as it is.
    bool center = false;
    // The blue rule or dither, as without preparation. Not Dither together with a threshold.
    Conversion conversion = Conversion::BlueRule;
    // 0 to 255: a dot is black when the pixel's brightness (299 R + 587 G + 114 B) / 1000 is
    // below it, instead of the blue rule. Unset leaves the choice to conversion.
    std::optional<int> threshold;
    // Swaps black and white after the conversion, the centring margins included; the
    // padding to multiples of 8 stays white.
    bool invert = false;

    // Whether the dots are exactly those without preparation: no rotation, trim, fit, centre,
    // threshold or inversion. The paper alone changes no dot, and dither is the old choice.
    bool isIdentity() const;
};

// Empty when the options can be applied, else one sentence that says what is wrong.
QString preparationError(const Preparation &preparation);

// The paper as a user names it: "58mm", "80mm" (a space before "mm" allowed) or a number of
// dots from MinPaperDots to MaxPaperDots. Returns 0, with a sentence in *error, otherwise.
int paperDotsFromText(const QString &text, QString *error = nullptr);

// Options that cannot be applied, or a picture with nothing left to print once trimmed.
class PreparationError : public Error
{
public:
    using Error::Error;
};

// How the caller stores the dots. The defaults are an NV bit image's (FS q): at most
// MaxWidthDots x MaxHeightDots, both sizes padded with white to multiples of 8. NV graphics
// take their own limits and no padding.
struct DotFormat
{
    int maxWidth = MaxWidthDots;
    int maxHeight = MaxHeightDots;
    bool padToMultipleOf8 = true;
};

// A prepared picture, and what the steps made of its size.
struct PreparedPicture
{
    EscPos::DotImage dots; // padded as the format asks: every dot beyond size is white
    QSize pictureSize;     // the decoded picture, in pixels
    QRect kept;            // the part of the rotated picture that trim kept (all without trim)
    QSize fittedSize;      // kept after fitting (kept's size without fit)
    QSize size;            // the dots' own size, before padding
    int left = 0;          // the white columns that centring put before the picture
    // What the conversion read, for judging colours: the picture rotated, trimmed, fitted and
    // centred, opaque, in QImage::Format_RGB32, of the size before padding. Null after
    // dither, which converts them in place.
    QImage pixels;
};

// The size of the prepared dots before padding, from the picture's size alone. With trim it
// is the most they can be. Assumes options that preparationError() accepts.
QSize preparedSize(const QSize &pictureSize, const Preparation &preparation);

// Empty when dots of this size (before padding) fit the format, else one sentence that says
// how large they are, what the format allows and what to do.
QString preparedSizeError(const QSize &size,
                          const Preparation &preparation,
                          const DotFormat &format = DotFormat());

// Rotates, trims, fits, centres, converts and inverts a decoded picture (any format;
// transparent parts show background) and pads the dots as the format asks. The identity
// preparation gives exactly the dots of the unprepared path: the picture drawn on a
// PictureSurface of that background, applyConversion() and rasterise(), padded as
// rasterisePicture() pads. The picture is checked against the format from its size before
// any pixel is touched, unless trim must look first.
// Throws PreparationError (options that preparationError() refuses, a null picture, nothing
// left after trimming), PictureTooLargeError without a file name (the prepared dots exceed
// the format, with preparedSizeError()'s sentence) or std::bad_alloc.
PreparedPicture preparePicture(const QImage &picture,
                               const Preparation &preparation,
                               const DotFormat &format = DotFormat(),
                               const QColor &background = Qt::white);

// The sizes before and after, for messages: "1200 x 400 pixels, trimmed to 1180 x 370,
// shrunk to 576 x 181 dots: stored as 576 x 184 dots".
QString describePreparation(const PreparedPicture &prepared, const Preparation &preparation);

} // namespace NvImage

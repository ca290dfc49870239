#pragma once

#include "nvimagefile.h"
#include "picturesurface.h"
#include "picturewarnings.h"
#include "preparation.h"

#include <escpos/dotimage.h>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace NvImage {

// What the window and the command line call each conversion, so that both say the same.
QString conversionLabel(Conversion conversion);

// One image record's dot bytes (column after column, each column's bands top to bottom,
// the top dot in bit 7) drawn back as widthDots x heightDots pixels, one a dot, in
// QImage::Format_Mono: index 1 (a set bit) black, index 0 white. Both sizes are the record's,
// multiples of 8. Throws std::invalid_argument when the bytes do not fit the size.
QImage storedImage(const QByteArray &dotBytes, int widthDots, int heightDots);

// A dot image drawn as pixels, one a dot, in QImage::Format_Mono: index 1 (a set bit)
// black, index 0 white. A null image for an empty one.
QImage monoImage(const EscPos::DotImage &dots);

// The picture as the printer will store it.
struct PicturePreview
{
    QImage dots;            // the stored dots, monoImage() of the rasterised picture
    QSize sizeDots;         // the record's size: the picture's rounded up to multiples of 8
    QSizeF sizeMm;          // sizeDots at 8 dots a millimetre
    QSize pictureSize;      // the picture's own size in dots, as prepared (the rest is padding)
    qint64 recordBytes = 0; // the record's bytes in the stream and in NV memory
    qint64 blackDots = 0;   // black dots inside the picture's own size
    QList<PreviewWarning> warningKinds;
    QStringList warnings; // previewWarningText() of warningKinds, in the same order
};

// Checks and rasterises the picture as the stream builder does, whatever the NV memory, draws
// its dots and works out the warnings. Throws what buildNvImageStream throws for a picture
// that cannot be read (PictureError with the reason, PictureTooLargeError, OverflowError).
// nvCapacity only decides LargerThanNvMemory.
PicturePreview previewPicture(const QString &path,
                              Conversion conversion,
                              const QColor &background = Qt::white,
                              qint64 nvCapacity = DefaultNvCapacity);
// The same for a prepared picture, judged against the rules (the paper, the NV memory),
// asking stop every few rows: StoppedError when it says so.
PicturePreview previewPicture(const QString &path,
                              const Preparation &preparation,
                              const QColor &background,
                              const WarningRules &rules,
                              const StopCheck &stop = StopCheck());

} // namespace NvImage

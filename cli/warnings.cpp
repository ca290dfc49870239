#include "warnings.h"

#include "exitcodes.h"

#include <nvimage/preparation.h>

namespace Cli {

QString warningText(NvImage::PreviewWarning warning, const NvImage::WarningRules &rules)
{
    using W = NvImage::PreviewWarning;
    switch (warning) {
    case W::WiderThan80mmPaper:
        return QStringLiteral("Wider than 80 mm paper (576 dots): the rest does not print; "
                              "--fit scales it to the paper.");
    case W::WiderThan58mmPaper:
        return QStringLiteral("Wider than 58 mm paper (384 dots); fits 80 mm paper "
                              "(--paper 58mm --fit scales it to 58 mm paper).");
    case W::WiderThanPaper:
        return QStringLiteral("Wider than the paper (%1 dots): the rest does not print; --fit "
                              "scales it to the paper.")
                .arg(rules.paperDots.value_or(NvImage::Paper80mmDots));
    case W::NearlyAllWhite:
        return QStringLiteral("Almost nothing prints: nearly every dot is white (a higher "
                              "--threshold, or --invert, may help).");
    case W::NearlyAllBlack:
        return QStringLiteral("Prints almost solid black: nearly every dot is black (a lower "
                              "--threshold, or --invert, may help).");
    case W::ColoursMisprinted:
        return QStringLiteral("Colours print wrongly here (dark blue as white, yellow as "
                              "black): try --threshold 160, or --dither for a photo.");
    case W::ShadesLost:
        return QStringLiteral("Greys and shades print as solid black or white: try --dither.");
    case W::LargerThanNvMemory:
        return QStringLiteral("Too large for the printer's NV memory (%1 bytes): --fit makes "
                              "it the paper's width.")
                .arg(rules.nvCapacity);
    }
    return QString();
}

bool printWarnings(const QStringList &pictures,
                   const QList<QList<NvImage::PreviewWarning>> &warnings,
                   const NvImage::WarningRules &rules,
                   const Context &c)
{
    bool said = false;
    for (qsizetype i = 0; i < warnings.size() && i < pictures.size(); ++i) {
        for (const NvImage::PreviewWarning warning : warnings.at(i)) {
            print(c.err,
                  QStringLiteral("nvlogo-cli: warning: %1: %2\n")
                          .arg(pictures.at(i), warningText(warning, rules)));
            said = true;
        }
    }
    return said;
}

int refusedForWarnings(const Context &c)
{
    print(c.err,
          QStringLiteral("nvlogo-cli: error: --strict: nothing was sent, because of the warnings "
                         "above.\n"));
    return ExitFailure;
}

} // namespace Cli

#pragma once

// What a picture deserves a warning for, in the command line's words: the options that help.

#include "options.h"

#include <nvimage/picturewarnings.h>

#include <QList>
#include <QStringList>

namespace Cli {

QString warningText(NvImage::PreviewWarning warning, const NvImage::WarningRules &rules);

// "nvlogo-cli: warning: logo.png: ..." for each picture's warnings, before anything is sent;
// with strict, then the refusal. Returns whether anything was said.
bool printWarnings(const QStringList &pictures,
                   const QList<QList<NvImage::PreviewWarning>> &warnings,
                   const NvImage::WarningRules &rules,
                   const Context &c);

// --strict after printWarnings said something: nothing is sent; returns ExitFailure.
int refusedForWarnings(const Context &c);

} // namespace Cli

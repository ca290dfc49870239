#pragma once

#include <QString>
#include <QStringList>

namespace Cli {

// The command line as text, with one exception: an argument whose bytes are not valid in the
// locale's encoding (a Latin-1 file name on a UTF-8 system) would lose them in the conversion
// and name no file. When such an argument names an existing regular file, the file is opened
// here and the argument becomes the path of that open descriptor (/proc/self/fd/N), which
// every later step opens like any other path. displayName() turns it back for messages.
QStringList argumentsKeepingFileNames(int argc, char *argv[]);

// text with each such descriptor path replaced by the name the user gave, as well as it can
// be shown.
QString displayNames(QString text);

} // namespace Cli

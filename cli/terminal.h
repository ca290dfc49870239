#pragma once

// What nvlogo-cli needs of the terminal and the process: one file per platform
// (terminal_<platform>.cpp), chosen by the build.

#include <cstdio>

namespace Cli {

// Whether the stream is a terminal, where a line can be redrawn in place.
bool isTerminal(std::FILE *stream);

// From now on SIGINT, SIGTERM and SIGHUP ask the running command to stop (a second one ends
// the program at once), so that it closes its connection and leaves no scratch file.
void stopOnTerminationSignals();
// Whether such a signal came.
bool terminationRequested();

} // namespace Cli

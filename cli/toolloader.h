#pragma once

// Loads the tool proper, the library beside the program, and runs a command line with it. One
// file per platform (toolloader_<platform>.cpp), chosen by the build.

namespace Cli {

// The exit status of the command, or a failure after telling why the library could not be
// loaded.
int runTool(int argc, char *argv[]);

} // namespace Cli

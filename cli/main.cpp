// nvlogo-cli: answers --help and --version itself and loads the tool proper, with Qt, the
// picture decoders and the print system's client, only for a command.
#include "generalhelp.h"
#include "toolloader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[])
{
    if (argc == 2) {
        const char *only = argv[1];
        if (!std::strcmp(only, "--help") || !std::strcmp(only, "-h")
            || !std::strcmp(only, "help")) {
            std::fputs(Cli::GeneralHelp, stdout);
            return EXIT_SUCCESS;
        }
        if (!std::strcmp(only, "--version")) {
            std::printf("nvlogo-cli %s\n", NVLOGO_VERSION);
            return EXIT_SUCCESS;
        }
    }
    return Cli::runTool(argc, argv);
}

// nvlogo-cli: answers --help and --version itself and loads the tool proper, with Qt, the
// picture decoders and the print system's client, only for a command.
#include "generalhelp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// The tool's library, relative to this program as in the installed and the build tree.
std::string libraryPath()
{
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = ".";
    if (length > 0) {
        const std::string path(self, std::size_t(length));
        folder = path.substr(0, path.rfind('/'));
    }
    return folder + "/" NVLOGO_LIBDIR_FROM_BINDIR "/libnvlogo-cli.so";
}

} // namespace

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
    const std::string path = libraryPath();
    void *library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "nvlogo-cli: cannot load %s: %s\n", path.c_str(), ::dlerror());
        return EXIT_FAILURE;
    }
    using Entry = int (*)(int, char *[]);
    const auto entry = reinterpret_cast<Entry>(::dlsym(library, "nvlogo_cli_main"));
    if (!entry) {
        std::fprintf(stderr, "nvlogo-cli: %s has no entry point: %s\n", path.c_str(), ::dlerror());
        return EXIT_FAILURE;
    }
    return entry(argc, argv);
}

#include "toolloader.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace Cli {

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
    return folder + "/" NVLOGO_LIBDIR_FROM_BINDIR "/" NVLOGO_TOOL_LIBRARY;
}

} // namespace

int runTool(int argc, char *argv[])
{
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

} // namespace Cli

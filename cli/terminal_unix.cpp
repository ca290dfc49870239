#include "terminal.h"

#include <csignal>
#include <initializer_list>

#include <unistd.h>

namespace Cli {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void onTerminationSignal(int signal)
{
    g_stopSignal = signal;
}

} // namespace

bool isTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

void stopOnTerminationSignals()
{
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends the program the usual way.
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool terminationRequested()
{
    return g_stopSignal != 0;
}

} // namespace Cli

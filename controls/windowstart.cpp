#include "windowstart.h"

#include <QByteArray>
#include <QFile>
#include <QtGlobal>

#include <cstdio>

namespace Controls {

bool checkDisplay(const char *program)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    std::fprintf(stderr,
                 "%s needs a graphical display, but neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                 "Start it from a desktop session, or with ssh -X, or under xvfb-run.\n",
                 program);
    return false;
}

void doWithoutAutostartedSessionBus()
{
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFile::exists(QFile::decodeName(runtime + "/bus")))
        return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
}

} // namespace Controls

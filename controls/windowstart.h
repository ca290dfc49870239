#pragma once

namespace Controls {

// What a window program does before it creates its QApplication.

// False, with a line on standard error that names the program and the cure, when there is no
// display to show a window on; without this the platform plugin aborts with a message that
// names neither.
bool checkDisplay(const char *program);

// Without a session bus, Qt's desktop integration would have one started for the display (a
// daemon that outlives the program) and wait for it. A program started outside a desktop
// session does without.
void doWithoutAutostartedSessionBus();

} // namespace Controls

// Ending the program from outside: a session that logs out, `kill` or
// Ctrl+C in the terminal send SIGTERM, SIGHUP or SIGINT. Each of them closes
// the main window as its close button would, so the settings and window
// geometry are stored as on any other exit. A second signal ends the
// program at once.
#pragma once

class QWidget;

namespace desktop {

// Installs the handlers; a signal then asks `window` to close, on the UI
// thread. Call once, after the window exists; UI thread.
void CloseOnTerminationSignals(QWidget* window);

} // namespace desktop

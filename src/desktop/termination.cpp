#include "desktop/termination.h"

#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace desktop {

namespace {
// The handler may only write to a descriptor; the UI thread reads the other
// end through its event loop.
int wakeFds[2] = {-1, -1};
volatile std::sig_atomic_t signalsSeen = 0;

// A second signal ends the program at once, for a UI that does not respond.
void OnTerminationSignal(int signal)
{
    if (signalsSeen != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    signalsSeen = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[0], &byte, 1);
}
} // namespace

void CloseOnTerminationSignals(QWidget* window)
{
    if (wakeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0)
        return;
    // Owned by the window: the connection ends with it.
    auto* notifier = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char drained[16];
        while (::read(wakeFds[1], drained, sizeof drained) > 0) {
        }
        window->close();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

} // namespace desktop

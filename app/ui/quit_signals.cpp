#include "app/ui/quit_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace corvane::app::ui {

namespace {

int gWakeFds[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the socket pair.
void onSignal(int) {
    int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gWakeFds[0], &byte, 1);
    errno = saved;
}

} // namespace

bool quitOnTerminationSignals() {
    if (gWakeFds[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gWakeFds) != 0)
        return false;
    auto* notifier =
        new QSocketNotifier(gWakeFds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(gWakeFds[1], buffer, sizeof buffer) > 0) {
        }
        // exit, not quit: quit first asks every window, and one may say no.
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGINT, &action, nullptr) == 0;
}

} // namespace corvane::app::ui
